#pragma once

#include "song/SongEvent.h"

#include <cstdint>

namespace cantivo {

// A reference to an event: the track number in the top 8 bits, the index within the track's event
// list in the low 24 bits. The index PlaceByTime means "not yet placed: put it where its time and type
// give". Tempo and cue deltas use the same marker for their indexes.
using EventRef = uint32_t;
inline constexpr uint32_t PlaceByTime = 0xFFFFFF;

constexpr EventRef MakeEventRef(int track, uint32_t index)
{
    return (static_cast<uint32_t>(track) << 24) | (index & 0xFFFFFF);
}
constexpr int RefTrack(EventRef ref)
{
    return static_cast<int>(ref >> 24);
}
constexpr uint32_t RefIndex(EventRef ref)
{
    return ref & 0xFFFFFF;
}

// The order of events inserted at one tick: type rank × 65536 + first data byte × 256, with the ranks
// meta and system exclusive 0, polyphonic pressure 1, control change 2, program change 3, channel
// pressure 4, pitch bend 5, note off 6, note on 7. So at one tick meta events come first and note-ons
// last. Parameter events stand for controller sequences and rank with control changes.
uint32_t InsertOrderKey(const SongEvent& event);

} // namespace cantivo
