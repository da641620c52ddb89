#include "song/AudioClip.h"
#include "song/Song.h"
#include "song/TrackEncoder.h"

#include <algorithm>
#include <vector>

namespace cantivo {

void Song::UpdateSongEnd(int which)
{
    // A group is encoded once, when its first member is met.
    std::vector<bool> encoded(tracks.size(), false);
    // Until the port table exists, a port number is its own device.
    const SameDeviceTest samePort = [](int32_t portA, int32_t portB) { return portA == portB; };
    const int32_t interval = int32_t{timebase} * 8;
    // The trailing empty track is never encoded.
    const int last = static_cast<int>(tracks.size()) - 1;
    // The song's snapshots together stay within their limit: a track gets what the others leave.
    size_t snapshotEntries = 0;
    for (const auto& track : tracks)
        snapshotEntries += track->snapshots.Entries();
    auto encode = [&](int number) {
        Track& track = *tracks[static_cast<size_t>(number)];
        encoded[static_cast<size_t>(number)] = true;
        const size_t others = snapshotEntries - track.snapshots.Entries();
        const size_t limit =
            std::min(MaxTrackSnapshotEntries, MaxSongSnapshotEntries - std::min(others, MaxSongSnapshotEntries));
        EncodeTrack(track, interval, InitialMarking::Marked, limit);
        snapshotEntries = others + track.snapshots.Entries();
    };

    for (int number = 0; number < last; ++number) {
        Track& track = *tracks[static_cast<size_t>(number)];
        if (track.IsAudio()) {
            // A clip's length is real time, so its duration in ticks follows the tempo map.
            for (SongEvent& event : track.events) {
                if (const AudioClip* clip = event.ClipData()) {
                    const double start = TicksToMicroseconds(event.time);
                    event.length = MicrosecondsToTicks(start + clip->lengthMs * 1000.0) - event.time;
                }
            }
            // Alone in its group: its initial volume and pan, which the audio mix follows, go at 0.
            ComputeReSendTimes(tracks, timebase, number, samePort);
            encode(number);
        } else if (!encoded[static_cast<size_t>(number)] && (which == AllTracks || which == number)) {
            for (int member : ComputeReSendTimes(tracks, timebase, number, samePort))
                encode(member);
        }
    }

    // Taken after all encoding: a group member before `number` may have been encoded again with it.
    songEnd = 0;
    for (int number = 0; number < last; ++number)
        songEnd = std::max(songEnd, tracks[static_cast<size_t>(number)]->end);
    for (const auto& cue : cues)
        songEnd = std::max({songEnd, cue->stopAt, cue->restartAt});
    songLength = TicksToMicroseconds(songEnd);
}

} // namespace cantivo
