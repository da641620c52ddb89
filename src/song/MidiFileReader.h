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

// Reads the file at `path` into the song (whatever it held is dropped): true when usable. Asks first
// whether an autosaved copy should be opened instead. On false the song is emptied and the caller
// shows DamagedSongMessage.
[[nodiscard]] bool ReadSong(Song& song, const std::string& path);
// The same from bytes already in memory: no recovery question and no settings file, unless the legacy
// settings archive is passed as `settings`. Audio clips are looked up in the song's folder.
[[nodiscard]] bool ReadSongFromBytes(Song& song, const uint8_t* bytes, size_t size, const uint8_t* settings = nullptr,
                                     size_t settingsSize = 0);

// Reads a variable-length number at the track's cursor: the count of bytes used, 0 when the chunk ends
// inside the number or the number runs past four bytes (the cursor then stays where it was).
int ReadVarLen(Track& track, uint32_t& value);
// Sets the track's cursor to the start of its image and reads the first delta.
void StartReading(Track& track);
// Decodes the next event of the track's raw chunk; false when none is left.
bool NextRawEvent(Track& track, RawEvent& event);
// Turns track 0's image into the tempo map, measures, cues, song texts and track 0's events. False when
// the measure table it describes is beyond any real song (see MaxReadMeasures).
[[nodiscard]] bool ParseConductorTrack(Song& song);
// Turns a user track's image into its settings and events.
void ParseTrack(Song& song, Track& track);

} // namespace cantivo
