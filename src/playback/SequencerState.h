#pragma once

#include <cstdint>

namespace cantivo {

// The engine's states; the numbers are the codes the user interface compares against.
enum class SequencerState : uint16_t {
    Stopped = 0,  // nothing sounds; the position can be moved
    Playing = 4,  // the clock advances and events are sent
    Holding = 5,  // paused with the sounding notes left on
    Starting = 6, // a locate is pending: the next tick chases the start tick and plays
};

} // namespace cantivo
