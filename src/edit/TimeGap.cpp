#include "edit/TimeGap.h"

#include "song/Song.h"

#include <algorithm>

namespace cantivo {

namespace {

// A cue's extent: the earlier and the later of its two times (a vamp restarts before it stops).
int32_t& CueEnd(Cue& cue)
{
    return cue.restartAt >= cue.stopAt ? cue.restartAt : cue.stopAt;
}
int32_t CueStart(const Cue& cue)
{
    return std::min(cue.stopAt, cue.restartAt);
}

void ShiftEvents(Song& song, int32_t from, int32_t by)
{
    for (auto& track : song.tracks) {
        auto& events = track->events;
        auto first = std::lower_bound(events.begin(), events.end(), from,
                                      [](const SongEvent& event, int32_t tick) { return event.time < tick; });
        for (; first != events.end(); ++first)
            first->time += by;
    }
}

} // namespace

void OpenTimeGap(Song& song, int32_t at, int32_t length)
{
    if (length <= 0)
        return;
    for (TempoChange& tempo : song.tempoMap.entries)
        if (tempo.tick != 0 && tempo.tick >= at)
            tempo.tick += length;
    for (auto& cue : song.cues) {
        if (CueStart(*cue) >= at) {
            cue->stopAt += length;
            cue->restartAt += length;
        } else if (CueEnd(*cue) > at) {
            CueEnd(*cue) += length;
        }
    }
    ShiftEvents(song, at, length);
    song.RecomputeTempoTimes();
}

void CloseTimeGap(Song& song, int32_t at, int32_t length)
{
    if (length <= 0)
        return;
    const int32_t end = at + length;
    for (TempoChange& tempo : song.tempoMap.entries)
        if (tempo.tick >= end)
            tempo.tick -= length;
    for (auto& cue : song.cues) {
        if (CueStart(*cue) >= end) {
            cue->stopAt -= length;
            cue->restartAt -= length;
        } else if (CueEnd(*cue) > end) {
            CueEnd(*cue) -= length;
        }
    }
    ShiftEvents(song, end, -length);
    song.RecomputeTempoTimes();
}

} // namespace cantivo
