#include "edit/OffsetStep.h"

#include "song/Song.h"

#include <algorithm>

namespace cantivo {

int OffsetKey(int key, int offset)
{
    int moved = key + offset;
    while (moved < 0)
        moved += 12;
    while (moved > 127)
        moved -= 12;
    return moved;
}

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
        const bool keys = (track.clipFlags & ClipKey) && track.keyOffset != 0;
        const bool velocities = (track.clipFlags & ClipVelocity) && track.velocityOffset != 0;
        const bool times = (track.clipFlags & ClipTime) && track.timeOffset != 0;
        for (size_t index = 0; index < track.events.size(); ++index) {
            const SongEvent& event = track.events[index];
            SongEvent copy = event;
            if (keys && (event.IsNote() || event.Type() == 0xA0))
                copy.SetData1(static_cast<uint8_t>(OffsetKey(event.Data1(), track.keyOffset)));
            if (velocities && event.IsNote())
                copy.SetData2(static_cast<uint8_t>(std::clamp(event.Data2() + track.velocityOffset, 1, 127)));
            if (times) {
                const int64_t moved = int64_t{event.time} + track.timeOffset;
                if (moved < 0) {
                    // The part before the song start is lost; a note keeps at least one tick to sound.
                    if (event.IsNote())
                        copy.length = static_cast<int32_t>(std::max<int64_t>(1, event.length + moved));
                    copy.time = 0;
                } else {
                    copy.time = static_cast<int32_t>(std::min<int64_t>(moved, INT32_MAX));
                }
            }
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
