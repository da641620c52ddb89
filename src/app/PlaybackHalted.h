#pragma once

#include "playback/EndOfSongHandler.h"
#include "playback/Sequencer.h"

namespace cantivo {

// The user-interface loop's answer to `MsgPlaybackHalted`, the same in the desktop program and the
// command-line tool: a cue holds or cuts and waits for the tap; the end of the song stops and hands
// over to `endOfSong` (none: the song just stays stopped at its end).
HaltOutcome HandlePlaybackHalted(Sequencer& sequencer, EndOfSongHandler* endOfSong);

} // namespace cantivo
