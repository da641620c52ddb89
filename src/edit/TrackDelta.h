#pragma once

#include "edit/StepEffects.h"
#include "song/Track.h"

#include <functional>
#include <memory>
#include <vector>

namespace cantivo {

class AudioClip;
class Song;

// Whole tracks (with their events) a step takes out and puts in; applying exchanges them. Removing a
// track moves the later numbers down; an insert number is the number the track will have once all the
// step's tracks are in. Track 0 and the trailing empty track are never taken out, and nothing goes
// before track 0 or after the trailing track.
class TrackDelta {
  public:
    void Remove(int number) { removeNumbers_.push_back(static_cast<uint32_t>(number)); }
    void Insert(int number, std::unique_ptr<Track> track);

    bool Empty() const { return removeNumbers_.empty() && insertNumbers_.empty(); }
    const std::vector<uint32_t>& RemoveNumbers() const { return removeNumbers_; }
    const std::vector<uint32_t>& InsertNumbers() const { return insertNumbers_; }
    const std::vector<std::unique_ptr<Track>>& InsertTracks() const { return insertTracks_; }
    // How many of the listed removals name a track the song has.
    int ValidRemovals(const Song& song) const;

    void Apply(Song& song, StepEffects& effects);
    void ForEachClip(const std::function<void(AudioClip&)>& visit) const;

  private:
    std::vector<uint32_t> removeNumbers_;
    std::vector<uint32_t> insertNumbers_;
    std::vector<std::unique_ptr<Track>> insertTracks_;
};

} // namespace cantivo
