#pragma once

#include "song/TempoChange.h"

#include <cstdint>
#include <vector>

namespace cantivo {

// The song's tempo changes in ascending tick order; never empty, entry 0 at tick 0. Built on the UI
// thread; the play thread only reads it.
class TempoMap {
  public:
    TempoMap() { entries.push_back(TempoChange{}); }

    // Index of the entry in force at the tick: the last one at or before it.
    int FindTempo(int32_t tick) const;
    int FindTempoAtTime(double microseconds) const;
    double TicksToMicroseconds(int32_t tick, int timebase) const;
    int32_t MicrosecondsToTicks(double microseconds, int timebase) const;
    void RecomputeTempoTimes(int timebase);

    std::vector<TempoChange> entries;
};

} // namespace cantivo
