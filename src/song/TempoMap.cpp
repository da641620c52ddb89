#include "song/TempoMap.h"

#include <algorithm>
#include <cmath>

namespace cantivo {

// Of several entries at one tick the last is in force: the entry before the first one that starts
// after the argument (entry 0 for anything before entry 1). Binary search, since playback asks often.
int TempoMap::FindTempo(int32_t tick) const
{
    if (entries.size() < 2)
        return 0;
    auto after = std::upper_bound(entries.begin() + 1, entries.end(), tick,
                                  [](int32_t value, const TempoChange& entry) { return value < entry.tick; });
    return static_cast<int>(after - entries.begin()) - 1;
}

int TempoMap::FindTempoAtTime(double microseconds) const
{
    if (entries.size() < 2)
        return 0;
    auto after = std::upper_bound(entries.begin() + 1, entries.end(), microseconds,
                                  [](double value, const TempoChange& entry) { return value < entry.absolute; });
    return static_cast<int>(after - entries.begin()) - 1;
}

double TempoMap::TicksToMicroseconds(int32_t tick, int timebase) const
{
    const TempoChange& entry = entries[FindTempo(tick)];
    return static_cast<double>(tick - entry.tick) * entry.microsecondsPerQuarter / timebase + entry.absolute;
}

int32_t TempoMap::MicrosecondsToTicks(double microseconds, int timebase) const
{
    const TempoChange& entry = entries[FindTempoAtTime(microseconds)];
    const double ticks = std::trunc((microseconds - entry.absolute) * timebase / entry.microsecondsPerQuarter);
    return entry.tick + static_cast<int32_t>(ticks);
}

void TempoMap::RecomputeTempoTimes(int timebase)
{
    if (entries.empty())
        return;
    entries[0].absolute = 0.0;
    for (size_t i = 1; i < entries.size(); ++i) {
        const TempoChange& previous = entries[i - 1];
        entries[i].absolute = previous.absolute + static_cast<double>(entries[i].tick - previous.tick) *
                                                      (static_cast<double>(previous.microsecondsPerQuarter) / timebase);
    }
}

} // namespace cantivo
