#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cantivo {

// Receives what an input device hears. Called on the backend's own thread: it never allocates, never
// blocks and never calls the user interface. `microseconds` is the backend's time stamp of the message
// on the engine's monotonic clock where the backend knows it, else the time it was received.
class MidiInReceiver {
  public:
    virtual ~MidiInReceiver() = default;
    virtual void OnMidiIn(int64_t microseconds, std::span<const uint8_t> bytes) = 0;
};

// One MIDI input device as the engine sees it; the backends live in platform/.
class MidiInDevice {
  public:
    virtual ~MidiInDevice() = default;
    virtual std::string Name() const = 0;
    // Starts delivering messages to `receiver` (which outlives the delivery); false when the device
    // cannot be opened.
    [[nodiscard]] virtual bool Start(MidiInReceiver& receiver) = 0;
    // Stops delivery; when it returns no callback runs any more.
    virtual void Stop() = 0;
};

} // namespace cantivo
