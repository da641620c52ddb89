#include "edit/OffsetStep.h"

#include "song/Song.h"

#include <algorithm>

namespace cantivo {

std::unique_ptr<UndoStep> BuildApplyOffsetsStep(const Song& song)
{
    auto step = std::make_unique<UndoStep>(StepEvents | StepTrackProperties, "Apply offsets");
    // The copies keep their own channels: only the offsets change.
    step->events.takeTrackChannel = false;
    bool any = false;
    const int lastUser = static_cast<int>(song.tracks.size()) - 2;
    for (int number = 1; number <= lastUser; ++number) {
        const Track& track = *song.tracks[static_cast<size_t>(number)];
        if (track.clipFlags == 0)
            continue;
        any = true;
        for (size_t index = 0; index < track.events.size(); ++index) {
            const SongEvent& event = track.events[index];
            SongEvent copy = event;
            ApplyOffsetsToEvent(copy, track, track.clipFlags);
            if (copy.kind == event.kind && copy.time == event.time && copy.length == event.length)
                continue;
            // A constant shift clamped at 0 keeps the order, so each copy takes its original's place.
            step->events.Remove(MakeEventRef(number, static_cast<uint32_t>(index)));
            step->events.Insert(MakeEventRef(number, static_cast<uint32_t>(index)), std::move(copy));
        }
        TrackSettings settings = TrackSettings::Of(track);
        if (track.clipFlags & ClipKey)
            settings.keyOffset = 0;
        if (track.clipFlags & ClipVelocity)
            settings.velocityOffset = 0;
        if (track.clipFlags & ClipTime)
            settings.timeOffset = 0;
        step->trackProperties.Set(number, settings);
    }
    if (!any)
        return nullptr;
    return step;
}

} // namespace cantivo
