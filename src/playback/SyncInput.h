#pragma once

#include <cstdint>
#include <span>

namespace cantivo {

// Where system messages go: MIDI synchronisation listens here.
class SyncInput {
  public:
    virtual ~SyncInput() = default;
    // A system common or real-time message (status F1 to FF), from an input thread.
    virtual void OnSystemMessage(int port, int64_t microseconds, uint32_t message) = 0;
    // A complete system-exclusive message (a time code full frame, say), from an input thread.
    virtual void OnSysex(int port, int64_t microseconds, std::span<const uint8_t> bytes) = 0;
};

} // namespace cantivo
