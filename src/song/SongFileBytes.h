#pragma once

#include <cstdint>
#include <vector>

namespace cantivo {

class Song;

// The whole file as the song stands now: header, track 0 built from the song, the user tracks' images.
std::vector<uint8_t> SongFileBytes(const Song& song);
// The contents of track 0's chunk (without the "MTrk" header): texts, SMPTE offset, labels, meters,
// keys, tempos, cues and the track-0 events merged by time.
std::vector<uint8_t> ConductorTrackBytes(const Song& song);
// The save without files: lays the measures out, encodes every track and returns the file's bytes.
std::vector<uint8_t> WriteSongToBytes(Song& song);

} // namespace cantivo
