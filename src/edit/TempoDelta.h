#pragma once

#include "edit/EventRef.h"
#include "edit/StepEffects.h"
#include "song/TempoChange.h"

#include <cstdint>
#include <vector>

namespace cantivo {

class Song;

// Tempo entries a step takes out and puts in; applying exchanges them (its own inverse). An insert
// index is the entry's final index, or PlaceByTime: after the entries already at its tick.
class TempoDelta {
  public:
    void Remove(uint32_t index) { removeIndexes_.push_back(index); }
    void Insert(uint32_t index, TempoChange tempo);
    void InsertByTick(int32_t tick, uint32_t microsecondsPerQuarter);

    bool Empty() const { return removeIndexes_.empty() && insertIndexes_.empty(); }
    const std::vector<uint32_t>& RemoveIndexes() const { return removeIndexes_; }
    const std::vector<uint32_t>& InsertIndexes() const { return insertIndexes_; }
    const std::vector<TempoChange>& InsertTempos() const { return insertTempos_; }

    // The tempo list always starts at tick 0: when entry 0 goes and nothing new stands at tick 0, a
    // tempo of 120 beats per minute is put there, and the next application takes it out again.
    void Apply(Song& song, StepEffects& effects);

  private:
    std::vector<uint32_t> removeIndexes_;
    std::vector<uint32_t> insertIndexes_;
    std::vector<TempoChange> insertTempos_;
};

} // namespace cantivo
