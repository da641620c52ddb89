#include "edit/MeasureSnapshot.h"

#include "song/Song.h"

#include <algorithm>

namespace cantivo {

bool SameMeasure(const Measure& a, const Measure& b)
{
    return a.start == b.start && a.length == b.length && a.reserved[0] == b.reserved[0] &&
           a.reserved[1] == b.reserved[1] && a.number == b.number && a.letter == b.letter && a.key == b.key &&
           a.mode == b.mode && a.numerator == b.numerator && a.denominator == b.denominator &&
           a.clocksPerClick == b.clocksPerClick && a.thirtySecondsPerQuarter == b.thirtySecondsPerQuarter;
}

namespace {

Measure Following(const Measure& previous)
{
    Measure next = previous;
    next.start = previous.start + previous.length;
    next.number = static_cast<uint16_t>(previous.number + 1);
    next.letter = 0;
    return next;
}

} // namespace

MeasureSnapshot MeasureSnapshot::Of(const std::vector<Measure>& measures)
{
    MeasureSnapshot snapshot;
    snapshot.count_ = static_cast<uint32_t>(measures.size());
    Measure implied; // what the first measure would be without an entry
    for (size_t i = 0; i < measures.size(); ++i) {
        if (!SameMeasure(measures[i], implied))
            snapshot.entries_.emplace_back(static_cast<uint32_t>(i), measures[i]);
        implied = Following(measures[i]);
    }
    return snapshot;
}

MeasureSnapshot MeasureSnapshot::Of(const Song& song)
{
    return Of(song.measures);
}

std::vector<Measure> MeasureSnapshot::Measures() const
{
    std::vector<Measure> measures;
    measures.reserve(count_);
    size_t entry = 0;
    Measure implied;
    for (uint32_t i = 0; i < count_; ++i) {
        if (entry < entries_.size() && entries_[entry].first == i)
            measures.push_back(entries_[entry++].second);
        else
            measures.push_back(implied);
        implied = Following(measures.back());
    }
    return measures;
}

void MeasureSnapshot::Restore(Song& song) const
{
    song.measures = Measures();
    song.measureTableEnd = song.measures.empty() ? 0 : song.measures.back().End();
}

void MeasureSnapshot::Exchange(Song& song)
{
    MeasureSnapshot current = Of(song);
    Restore(song);
    *this = std::move(current);
}

} // namespace cantivo
