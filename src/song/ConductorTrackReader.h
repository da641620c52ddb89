#pragma once

#include <cstdint>

namespace cantivo {

class Song;

inline constexpr uint32_t DefaultTempo = 500000;

struct ConductorOptions {
    // Set for a file timed in SMPTE frames: its tempo is fixed and tempo events do not apply.
    bool fixedTempo = false;
    uint32_t tempo = DefaultTempo;
};

// Turns track 0's image into the tempo map, measures, cues, song texts and track 0's events. False when
// the song has no track 0 or the measure table it describes is beyond any real song (see
// MaxReadMeasures).
[[nodiscard]] bool ParseConductorTrack(Song& song, const ConductorOptions& options = {});

} // namespace cantivo
