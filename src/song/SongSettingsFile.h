#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cantivo {

class Song;

// Applies the settings archive that older versions kept beside a song (title, cues, track settings,
// measure labels) to a song whose conductor track has been read and whose other tracks have not.
// `trackChunks` is the number of track chunks of the MIDI file. A part cut short is not applied and
// ends the read; false tells that the archive was damaged.
[[nodiscard]] bool ReadSongSettings(Song& song, const uint8_t* bytes, size_t size, int trackChunks);

} // namespace cantivo
