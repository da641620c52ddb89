#pragma once

#include "edit/EventRef.h"
#include "edit/StepEffects.h"
#include "song/Cue.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cantivo {

class Song;

// Cues a step takes out and puts in; applying exchanges them (its own inverse). An insert index is the
// cue's final index, or PlaceByTime: before the first cue whose anchor time is the same or later.
class CueDelta {
  public:
    void Remove(uint32_t index) { removeIndexes_.push_back(index); }
    void Insert(uint32_t index, Cue cue);
    void InsertByTime(Cue cue) { Insert(PlaceByTime, std::move(cue)); }

    bool Empty() const { return removeIndexes_.empty() && insertIndexes_.empty(); }
    const std::vector<uint32_t>& RemoveIndexes() const { return removeIndexes_; }
    const std::vector<uint32_t>& InsertIndexes() const { return insertIndexes_; }
    const std::vector<std::unique_ptr<Cue>>& InsertCues() const { return insertCues_; }

    // Inserted cues are selected (stamped with the song's selection generation).
    void Apply(Song& song, StepEffects& effects);

  private:
    std::vector<uint32_t> removeIndexes_;
    std::vector<uint32_t> insertIndexes_;
    std::vector<std::unique_ptr<Cue>> insertCues_;
};

} // namespace cantivo
