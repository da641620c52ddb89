#pragma once

#include "edit/EventRef.h"
#include "edit/StepEffects.h"
#include "song/SongEvent.h"

#include <functional>
#include <vector>

namespace cantivo {

class AudioClip;
class Song;

// Events a step takes out of the song and events it puts in. Applying it exchanges the two, so the
// next application puts everything back: applying is its own inverse.
//
// An explicit insert reference names the index the event will have once every insertion of the step
// into that track is made; a reference with the index PlaceByTime is placed by time and type.
class EventDelta {
  public:
    void Remove(EventRef ref) { removeRefs_.push_back(ref); }
    void Insert(EventRef ref, SongEvent event);
    void InsertByTime(int track, SongEvent event) { Insert(MakeEventRef(track, PlaceByTime), std::move(event)); }

    bool Empty() const { return removeRefs_.empty() && insertRefs_.empty(); }
    const std::vector<EventRef>& RemoveRefs() const { return removeRefs_; }
    const std::vector<EventRef>& InsertRefs() const { return insertRefs_; }
    const std::vector<SongEvent>& InsertEvents() const { return insertEvents_; }

    // Removes the listed events (last to first), places the new ones, then exchanges the lists.
    void Apply(Song& song, StepEffects& effects);
    // Calls `visit` for the audio clip of every event waiting to be inserted.
    void ForEachClip(const std::function<void(AudioClip&)>& visit) const;

    // Whether inserted channel events take the channel of their target track. Only the events the
    // editing code hands in do; once applied, the delta holds events taken from the song and puts them
    // back exactly as they were, so this is cleared by the first application.
    bool takeTrackChannel = true;

  private:
    std::vector<EventRef> removeRefs_;
    std::vector<EventRef> insertRefs_;
    std::vector<SongEvent> insertEvents_;
};

} // namespace cantivo
