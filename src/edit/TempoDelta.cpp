#include "edit/TempoDelta.h"

#include "edit/ListMerge.h"
#include "song/Song.h"

#include <algorithm>

namespace cantivo {

void TempoDelta::Insert(uint32_t index, TempoChange tempo)
{
    insertIndexes_.push_back(index);
    insertTempos_.push_back(tempo);
}

void TempoDelta::InsertByTick(int32_t tick, uint32_t microsecondsPerQuarter)
{
    TempoChange tempo;
    tempo.tick = tick;
    tempo.microsecondsPerQuarter = microsecondsPerQuarter;
    Insert(PlaceByTime, tempo);
}

void TempoDelta::Apply(Song& song, StepEffects& effects)
{
    std::vector<TempoChange>& entries = song.tempoMap.entries;
    listmerge::SortUnique(removeIndexes_);
    std::vector<TempoChange> taken;
    std::vector<uint32_t> takenIndexes = listmerge::TakeAt(entries, removeIndexes_, taken);

    const bool byTime = std::find(insertIndexes_.begin(), insertIndexes_.end(), PlaceByTime) != insertIndexes_.end();
    std::vector<std::pair<uint32_t, TempoChange>> pending;
    pending.reserve(insertIndexes_.size() + 1);
    const bool tookFirst = !takenIndexes.empty() && takenIndexes.front() == 0;
    const bool newAtZero = std::any_of(insertTempos_.begin(), insertTempos_.end(),
                                       [](const TempoChange& tempo) { return tempo.tick <= 0; });
    if (tookFirst && !newAtZero && (entries.empty() || entries.front().tick != 0))
        pending.emplace_back(0, TempoChange{}); // 500000 µs per quarter at tick 0
    const uint32_t shift = static_cast<uint32_t>(pending.size());
    for (size_t i = 0; i < insertTempos_.size(); ++i) {
        uint32_t position = insertIndexes_[i] + shift;
        if (byTime) {
            const int32_t tick = insertTempos_[i].tick;
            position = static_cast<uint32_t>(
                std::upper_bound(entries.begin(), entries.end(), tick,
                                 [](int32_t value, const TempoChange& entry) { return value < entry.tick; }) -
                entries.begin());
        }
        pending.emplace_back(position, insertTempos_[i]);
    }
    std::stable_sort(pending.begin(), pending.end(), [byTime](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return byTime && a.second.tick < b.second.tick;
    });
    if (byTime)
        listmerge::ToFinalIndexes(pending);

    for (const auto& [index, tempo] : pending)
        effects.lastInsertedTempoTick = std::max(effects.lastInsertedTempoTick, tempo.tick);
    std::vector<uint32_t> placed = listmerge::PlaceAt(entries, pending);
    effects.insertedTempos.assign(placed.begin(), placed.end());
    song.RecomputeTempoTimes();

    removeIndexes_ = std::move(placed);
    insertIndexes_ = std::move(takenIndexes);
    insertTempos_ = std::move(taken);
}

} // namespace cantivo
