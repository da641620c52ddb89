#pragma once

#include "playback/Sequencer.h"

namespace cantivo {

// What happens when a song has played to its end: the set's auto-advance fills it in.
class EndOfSongHandler {
  public:
    virtual ~EndOfSongHandler() = default;
    virtual void EndOfSong(Sequencer& sequencer) = 0;
};

// The user-interface loop's answer to `MsgPlaybackHalted`, the same in the desktop program and the
// command-line tool: a cue holds or cuts and waits for the tap; the end of the song stops and hands
// over to `endOfSong` (none: the song just stays stopped at its end).
HaltOutcome HandlePlaybackHalted(Sequencer& sequencer, EndOfSongHandler* endOfSong);

} // namespace cantivo
