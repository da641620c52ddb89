#include "edit/TrackDelta.h"

#include "edit/ListMerge.h"
#include "song/AudioClip.h"
#include "song/Song.h"

#include <algorithm>

namespace cantivo {

void TrackDelta::Insert(int number, std::unique_ptr<Track> track)
{
    insertNumbers_.push_back(static_cast<uint32_t>(std::max(number, 1)));
    insertTracks_.push_back(std::move(track));
}

int TrackDelta::ValidRemovals(const Song& song) const
{
    std::vector<uint32_t> numbers = removeNumbers_;
    listmerge::SortUnique(numbers);
    const auto lastUser = static_cast<uint32_t>(song.tracks.size()) - 1; // the trailing track's number
    return static_cast<int>(
        std::count_if(numbers.begin(), numbers.end(), [&](uint32_t n) { return n >= 1 && n < lastUser; }));
}

void TrackDelta::ForEachClip(const std::function<void(AudioClip&)>& visit) const
{
    for (const auto& track : insertTracks_)
        for (const SongEvent& event : track->events)
            if (AudioClip* clip = event.ClipData())
                visit(*clip);
}

void TrackDelta::Apply(Song& song, StepEffects& effects)
{
    auto& tracks = song.tracks;
    if (tracks.size() < 2)
        return;
    effects.allTracks = true;
    // Work on the list without the trailing track, so that nothing is taken from or put after it.
    std::unique_ptr<Track> trailing = std::move(tracks.back());
    tracks.pop_back();

    listmerge::SortUnique(removeNumbers_);
    std::erase_if(removeNumbers_, [&](uint32_t n) { return n == 0 || n >= tracks.size(); });
    std::vector<std::unique_ptr<Track>> taken;
    std::vector<uint32_t> takenNumbers = listmerge::TakeAt(tracks, removeNumbers_, taken);

    std::vector<std::pair<uint32_t, std::unique_ptr<Track>>> pending;
    for (size_t i = 0; i < insertTracks_.size(); ++i)
        pending.emplace_back(std::max<uint32_t>(insertNumbers_[i], 1), std::move(insertTracks_[i]));
    std::stable_sort(pending.begin(), pending.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint32_t> placed = listmerge::PlaceAt(tracks, pending);
    tracks.push_back(std::move(trailing));

    // An inserted audio track plays its clips again.
    for (uint32_t number : placed) {
        Track& track = *tracks[number];
        if (!track.IsAudio())
            continue;
        for (SongEvent& event : track.events) {
            AudioClip* clip = event.ClipData();
            uint32_t errorCode = 0;
            if (clip && !clip->IsOpen())
                (void)clip->Open(*song.Context().audio, errorCode); // a missing file leaves the clip silent
        }
    }

    removeNumbers_ = std::move(placed);
    insertNumbers_ = std::move(takenNumbers);
    insertTracks_ = std::move(taken);
}

} // namespace cantivo
