#include "song/Track.h"

#include "song/Cue.h"

#include <algorithm>
#include <climits>

namespace cantivo {

Track::Track()
{
    initial.fill(-1);
    initialParameters.fill(-1);
    destinations.fill(-1);
    DeriveTextColour();
}

void Track::DeriveTextColour()
{
    textColour = TextColourFor(colour);
}

int OffsetKey(int key, int offset)
{
    int moved = key + offset;
    while (moved < 0)
        moved += 12;
    while (moved > 127)
        moved -= 12;
    return moved;
}

void ApplyOffsetsToEvent(SongEvent& event, const Track& track, uint8_t kinds)
{
    if ((kinds & ClipKey) && track.keyOffset != 0 && (event.IsNote() || event.Type() == 0xA0))
        event.SetData1(static_cast<uint8_t>(OffsetKey(event.Data1(), track.keyOffset)));
    if ((kinds & ClipVelocity) && track.velocityOffset != 0 && event.IsNote())
        event.SetData2(static_cast<uint8_t>(std::clamp(event.Data2() + track.velocityOffset, 1, 127)));
    if ((kinds & ClipTime) && track.timeOffset != 0) {
        const int64_t moved = int64_t{event.time} + track.timeOffset;
        if (moved < 0) {
            if (event.IsNote())
                event.length = static_cast<int32_t>(std::max<int64_t>(1, event.length + moved));
            event.time = 0;
        } else {
            event.time = static_cast<int32_t>(std::min<int64_t>(moved, INT32_MAX));
        }
    }
}

} // namespace cantivo
