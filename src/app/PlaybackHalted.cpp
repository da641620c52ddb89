#include "app/PlaybackHalted.h"

namespace cantivo {

HaltOutcome HandlePlaybackHalted(Sequencer& sequencer, EndOfSongHandler* endOfSong)
{
    const HaltOutcome outcome = sequencer.SettleHalt();
    if (outcome == HaltOutcome::EndOfSong && endOfSong != nullptr)
        endOfSong->EndOfSong(sequencer);
    return outcome;
}

} // namespace cantivo
