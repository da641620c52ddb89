#pragma once

#include "playback/MicrosecondClock.h"
#include "playback/MidiInDevice.h"
#include "playback/MidiOutDevice.h"

#include <memory>
#include <string>

namespace cantivo {

// An output joined to an input, for tests of the input side: what the output sends arrives at once,
// on the sending thread, at the receiver of the input (while it is started), stamped with the clock.
// A short message arrives as its ShortMessageSize bytes. The two ends share their link, so either may
// be handed on (to a port table, say) and destroyed in any order.
struct LoopbackPair {
    static LoopbackPair Make(const std::string& name, const MicrosecondClock& clock);

    std::unique_ptr<MidiOutDevice> out;
    std::unique_ptr<MidiInDevice> in;
};

} // namespace cantivo
