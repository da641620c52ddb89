#pragma once

#include <cstdint>

namespace cantivo {

// What the engine tells the user-interface loop; the numbers are the message numbers the rest of the
// program knows them by.
enum class EngineMessage : uint16_t {
    MsgCueRegion = 1125,        // the play thread reached a cue region: the set view brings its cues up to date
    MsgPlaybackHalted = 1126,   // the stop tick was reached
    MsgSongSelect = 1128,       // MIDI input asks for song `value` of the set
    MsgControlAction = 1129,    // MIDI input runs control-map action `value`
    MsgTransportChanged = 1130, // the transport buttons follow the engine's state
    CmdRefreshPosition = 1131,  // the views redraw at the new position
};

struct EngineNotification {
    EngineMessage message = EngineMessage::CmdRefreshPosition;
    int32_t value = 0;  // the song number, the action, the cue index: what the message needs
    int32_t detail = 0; // a second value where a message needs one (the tick of a position)
    int64_t time = -1;  // when MIDI input heard what it reports (the engine clock), -1 unknown
};

} // namespace cantivo
