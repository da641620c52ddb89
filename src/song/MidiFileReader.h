#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cantivo {

class Song;
class Track;

inline constexpr const char* DamagedSongMessage = "Sorry, the song can not be opened--it may be damaged.";

// One event as it stands in a raw chunk. `data` points into the chunk.
struct RawEvent {
    int32_t time = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
};

// Reads the file at `path` into the empty song: true when usable. On false the song is emptied again and
// the caller shows DamagedSongMessage.
[[nodiscard]] bool ReadSong(Song& song, const std::string& path);
// The same from bytes already in memory (no recovery question, no settings file, no clips' folder).
[[nodiscard]] bool ReadSongFromBytes(Song& song, const uint8_t* bytes, size_t size);

// Reads a variable-length number at the track's cursor: the count of bytes used, 0 when the chunk ends.
int ReadVarLen(Track& track, uint32_t& value);
// Decodes the next event of the track's raw chunk; false when none is left.
bool NextRawEvent(Track& track, RawEvent& event);
void ParseConductorTrack(Song& song);
void ParseTrack(Song& song, Track& track);
// Removes ".mid", ".midi", ".kar", ".set", ".smf" or ".rss" (any case) from the end of a name.
std::string StripKnownExtension(const std::string& name);

} // namespace cantivo
