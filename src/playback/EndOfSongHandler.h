#pragma once

namespace cantivo {

class Sequencer;

// What happens when a song has played to its end: the set's auto-advance fills it in.
class EndOfSongHandler {
  public:
    virtual ~EndOfSongHandler() = default;
    virtual void EndOfSong(Sequencer& sequencer) = 0;
};

} // namespace cantivo
