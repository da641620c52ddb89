#pragma once

#include <cstdint>

namespace cantivo {

class Song;

// Opens a gap of `length` ticks at `at`: tempo changes (not the one at tick 0), cues and events at or
// after it move later; a cue that spans the point grows at its end; an event that starts before it
// keeps its duration. Tempo times are recomputed; the song end and measures are the caller's.
void OpenTimeGap(Song& song, int32_t at, int32_t length);

// Closes [at, at + length): what lies at or after its end moves earlier, a cue that spans the end
// loses `length` at its end. What lies inside is not removed; the step's deltas take it out first.
void CloseTimeGap(Song& song, int32_t at, int32_t length);

} // namespace cantivo
