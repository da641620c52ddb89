#include "edit/CueDelta.h"

#include "edit/ListMerge.h"
#include "song/Song.h"

#include <algorithm>

namespace cantivo {

void CueDelta::Insert(uint32_t index, Cue cue)
{
    insertIndexes_.push_back(index);
    insertCues_.push_back(std::make_unique<Cue>(std::move(cue)));
}

void CueDelta::Apply(Song& song, StepEffects&)
{
    auto& cues = song.cues;
    listmerge::SortUnique(removeIndexes_);
    std::vector<std::unique_ptr<Cue>> taken;
    std::vector<uint32_t> takenIndexes = listmerge::TakeAt(cues, removeIndexes_, taken);

    const bool byTime = std::find(insertIndexes_.begin(), insertIndexes_.end(), PlaceByTime) != insertIndexes_.end();
    std::vector<std::pair<uint32_t, std::unique_ptr<Cue>>> pending;
    pending.reserve(insertCues_.size());
    for (size_t i = 0; i < insertCues_.size(); ++i) {
        uint32_t position = insertIndexes_[i];
        if (byTime) {
            const int32_t anchor = insertCues_[i]->AnchorTime();
            position = static_cast<uint32_t>(std::lower_bound(cues.begin(), cues.end(), anchor,
                                                              [](const std::unique_ptr<Cue>& cue, int32_t value) {
                                                                  return cue->AnchorTime() < value;
                                                              }) -
                                             cues.begin());
        }
        insertCues_[i]->selectionMark = song.selectionGeneration;
        pending.emplace_back(position, std::move(insertCues_[i]));
    }
    std::stable_sort(pending.begin(), pending.end(), [byTime](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return byTime && a.second->AnchorTime() < b.second->AnchorTime();
    });
    if (byTime)
        listmerge::ToFinalIndexes(pending);
    std::vector<uint32_t> placed = listmerge::PlaceAt(cues, pending);

    removeIndexes_ = std::move(placed);
    insertIndexes_ = std::move(takenIndexes);
    insertCues_ = std::move(taken);
}

} // namespace cantivo
