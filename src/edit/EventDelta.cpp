#include "edit/EventDelta.h"

#include "edit/ListMerge.h"
#include "song/AudioClip.h"
#include "song/Song.h"

#include <algorithm>

namespace cantivo {

uint32_t InsertOrderKey(const SongEvent& event)
{
    uint32_t rank = 0;
    switch (event.Type()) {
    case 0xA0:
        rank = 1;
        break;
    case 0xB0:
    case StatusRpn:
    case StatusNrpn:
        rank = 2;
        break;
    case 0xC0:
        rank = 3;
        break;
    case 0xD0:
        rank = 4;
        break;
    case 0xE0:
        rank = 5;
        break;
    case 0x80:
        rank = 6;
        break;
    case 0x90:
        rank = 7;
        break;
    default: // meta, system exclusive, audio clips
        rank = 0;
        break;
    }
    return rank * 65536 + uint32_t{event.Data1()} * 256;
}

void EventDelta::Insert(EventRef ref, SongEvent event)
{
    insertRefs_.push_back(ref);
    insertEvents_.push_back(std::move(event));
}

void EventDelta::ForEachClip(const std::function<void(AudioClip&)>& visit) const
{
    for (const SongEvent& event : insertEvents_)
        if (AudioClip* clip = event.ClipData())
            visit(*clip);
}

namespace {

// The index before which an event goes: before the first event with a later time, or with the same
// time and an order key at least its own.
uint32_t ResolveByTime(const std::vector<SongEvent>& events, const SongEvent& event)
{
    auto at = std::lower_bound(events.begin(), events.end(), event.time,
                               [](const SongEvent& existing, int32_t time) { return existing.time < time; });
    const uint32_t key = InsertOrderKey(event);
    while (at != events.end() && at->time == event.time && InsertOrderKey(*at) < key)
        ++at;
    return static_cast<uint32_t>(at - events.begin());
}

int32_t Duration(const SongEvent& event)
{
    return (event.IsNote() || event.IsAudioClip()) ? std::max(0, event.length) : 0;
}

struct Pending {
    int track;
    uint32_t position;
    size_t source; // index into the insert arrays
};

} // namespace

void EventDelta::Apply(Song& song, StepEffects& effects)
{
    using listmerge::PlaceAt;
    using listmerge::TakeAt;
    auto& tracks = song.tracks;
    // The trailing empty track takes no events.
    const int targetLimit = static_cast<int>(tracks.size()) - 1;

    // 1. Take out the listed events, a track at a time, in one pass over each track.
    if (!std::is_sorted(removeRefs_.begin(), removeRefs_.end()))
        std::sort(removeRefs_.begin(), removeRefs_.end());
    removeRefs_.erase(std::unique(removeRefs_.begin(), removeRefs_.end()), removeRefs_.end());
    std::vector<EventRef> takenRefs;
    std::vector<SongEvent> takenEvents;
    takenEvents.reserve(removeRefs_.size());
    for (size_t first = 0; first < removeRefs_.size();) {
        const int track = RefTrack(removeRefs_[first]);
        size_t last = first;
        std::vector<uint32_t> indexes;
        while (last < removeRefs_.size() && RefTrack(removeRefs_[last]) == track)
            indexes.push_back(RefIndex(removeRefs_[last++]));
        if (track < targetLimit) {
            for (uint32_t index : TakeAt(tracks[static_cast<size_t>(track)]->events, indexes, takenEvents))
                takenRefs.push_back(MakeEventRef(track, index));
            effects.TouchTrack(track);
        }
        first = last;
    }

    // 2. Resolve where each new event goes. One unplaced reference makes the whole list placed by
    // time, so that explicit and resolved positions never mix within a track.
    const bool byTime =
        std::any_of(insertRefs_.begin(), insertRefs_.end(), [](EventRef ref) { return RefIndex(ref) == PlaceByTime; });
    std::vector<Pending> pending;
    pending.reserve(insertRefs_.size());
    for (size_t i = 0; i < insertRefs_.size(); ++i) {
        const int track = RefTrack(insertRefs_[i]);
        if (track >= targetLimit)
            continue; // refused on submission; a malformed step loses nothing else
        const uint32_t position = byTime ? ResolveByTime(tracks[static_cast<size_t>(track)]->events, insertEvents_[i])
                                         : RefIndex(insertRefs_[i]);
        pending.push_back({track, position, i});
    }
    std::stable_sort(pending.begin(), pending.end(), [&](const Pending& a, const Pending& b) {
        if (a.track != b.track)
            return a.track < b.track;
        if (a.position != b.position)
            return a.position < b.position;
        if (!byTime)
            return false;
        const SongEvent& ea = insertEvents_[a.source];
        const SongEvent& eb = insertEvents_[b.source];
        if (ea.time != eb.time)
            return ea.time < eb.time;
        return InsertOrderKey(ea) < InsertOrderKey(eb);
    });

    // 3. Insert, a track at a time, rebuilding each touched list once.
    std::vector<EventRef> placedRefs;
    placedRefs.reserve(pending.size());
    for (size_t first = 0; first < pending.size();) {
        const int track = pending[first].track;
        Track& target = *tracks[static_cast<size_t>(track)];
        std::vector<std::pair<uint32_t, SongEvent>> items;
        size_t last = first;
        for (; last < pending.size() && pending[last].track == track; ++last) {
            SongEvent& event = insertEvents_[pending[last].source];
            event.selectionMark = song.selectionGeneration;
            if (takeTrackChannel && event.IsChannelMessage())
                event.SetChannel(static_cast<uint8_t>(target.outputChannel));
            const int32_t end = event.time + Duration(event);
            song.selectionStart = song.selectionStart < 0 ? event.time : std::min(song.selectionStart, event.time);
            song.selectionEnd = std::max(song.selectionEnd, end);
            items.emplace_back(pending[last].position, std::move(event));
        }
        if (byTime)
            listmerge::ToFinalIndexes(items);
        if (effects.firstEventKind == 0 && !items.empty())
            effects.firstEventKind = items.front().second.kind;
        for (uint32_t index : PlaceAt(target.events, items))
            placedRefs.push_back(MakeEventRef(track, index));
        effects.TouchTrack(track);
        first = last;
    }
    if (effects.firstEventKind == 0 && !takenEvents.empty())
        effects.firstEventKind = takenEvents.front().kind;

    // 4. Exchange: what was taken out is what the next application puts back, at the same indexes.
    removeRefs_ = std::move(placedRefs);
    insertRefs_ = std::move(takenRefs);
    insertEvents_ = std::move(takenEvents);
    takeTrackChannel = false;
}

} // namespace cantivo
