#pragma once

#include <string>

namespace cantivo {

// The set document as the set's history sees it: an ordered list of songs, each read from a file.
// The set document implements it; positions count from 0.
class SongListDocument {
  public:
    virtual ~SongListDocument() = default;
    // False in the closed state (no set open).
    virtual bool IsOpen() const = 0;
    virtual int SongCount() const = 0;
    // Reads the song file at `path` and inserts it at `position`; false (the user already told why)
    // when it cannot be read.
    virtual bool InsertSong(const std::string& path, int position) = 0;
    // Removes the song at `position`: its use count drops, a song no position refers to any more is
    // closed, and the current song is cleared when it was that one.
    virtual void RemoveSong(int position) = 0;
    // Takes the song at `from` out and puts it back so that it stands at `to`.
    virtual void MoveSong(int from, int to) = 0;
    virtual void Beep() = 0;
    virtual void SetModifiedFlag(bool modified) = 0;
};

} // namespace cantivo
