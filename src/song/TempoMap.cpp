#include "song/TempoMap.h"

#include <algorithm>
#include <climits>
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
    if (entries.empty() || timebase <= 0)
        return 0.0;
    const TempoChange& entry = entries[FindTempo(tick)];
    return (static_cast<double>(tick) - entry.tick) * entry.microsecondsPerQuarter / timebase + entry.absolute;
}

int32_t TempoMap::MicrosecondsToTicks(double microseconds, int timebase) const
{
    if (entries.empty() || std::isnan(microseconds))
        return 0;
    const TempoChange& entry = entries[FindTempoAtTime(microseconds)];
    if (entry.microsecondsPerQuarter == 0)
        return entry.tick;
    const double exact = (microseconds - entry.absolute) * timebase / entry.microsecondsPerQuarter;
    // Truncation toward zero, except that a value a rounding error short of a whole tick is that tick:
    // the time of a tick must convert back to the same tick, not the one before.
    const double nearest = std::round(exact);
    const bool wholeTick = std::fabs(exact - nearest) <= 1e-9 + 1e-12 * std::fabs(exact);
    const double ticks = entry.tick + (wholeTick ? nearest : std::trunc(exact));
    // A time beyond the tick range, or a NaN from a damaged map, must not become an undefined cast.
    if (std::isnan(ticks))
        return 0;
    if (ticks <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    if (ticks >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(ticks);
}

void TempoMap::RecomputeTempoTimes(int timebase)
{
    if (entries.empty() || timebase <= 0)
        return;
    entries[0].absolute = 0.0;
    for (size_t i = 1; i < entries.size(); ++i) {
        const TempoChange& previous = entries[i - 1];
        // Multiplied before dividing, as the conversions do, so that a change lands exactly on whole
        // microseconds where it can and a lookup by that time finds it.
        const double ticks = static_cast<double>(entries[i].tick) - previous.tick;
        entries[i].absolute = previous.absolute + ticks * previous.microsecondsPerQuarter / timebase;
    }
}

} // namespace cantivo
