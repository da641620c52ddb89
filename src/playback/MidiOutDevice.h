#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cantivo {

// The count of bytes a packed short message (status in the low byte, data bytes above) has on the wire:
// 2 for program change, channel pressure, time-code quarter frame and song select, 3 for the other
// channel messages and the song position pointer, 1 for the rest.
constexpr size_t ShortMessageSize(uint32_t message)
{
    const auto status = static_cast<uint8_t>(message & 0xFF);
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    if (status == 0xF1 || status == 0xF3)
        return 2;
    return status == 0xF2 ? 3 : 1;
}

// One MIDI output device as the engine sees it; the backends (the built-in synth, ALSA and JACK ports,
// the capture log, the test loopback) live in platform/. Sends are called from the play thread: a
// backend never blocks for long and never allocates there.
class MidiOutDevice {
  public:
    virtual ~MidiOutDevice() = default;
    // The device's name as the system gives it (made unique by the port table).
    virtual std::string Name() const = 0;
    virtual void SendShort(uint32_t message) = 0;
    // A system-exclusive message from its F0 to its F7.
    virtual void SendLong(std::span<const uint8_t> bytes) = 0;
};

} // namespace cantivo
