#pragma once

#include <cstdint>

namespace cantivo {

// What the undo mechanism needs from the sequencer: edits are accepted only while it is stopped, and
// after every applied step it is relocated to the play cursor. The engine implements this.
class Transport {
  public:
    virtual ~Transport() = default;
    virtual bool IsStopped() const = 0;
    // Moves the sequencer to `tick`; while playing, the chase restarts there.
    virtual void Relocate(int32_t tick) = 0;
};

} // namespace cantivo
