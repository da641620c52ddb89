#pragma once

#include "song/ConductorTrackReader.h"
#include "song/Prompter.h"
#include "song/RawEventReader.h"
#include "song/TrackReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cantivo {

class Song;

inline constexpr const char* DamagedSongMessage = "Sorry, the song can not be opened--it may be damaged.";

// A message the read leaves for the user, shown by the caller on the user-interface thread.
struct ReadNotice {
    PromptIcon icon = PromptIcon::Information;
    std::string text;
};

struct [[nodiscard]] ReadResult {
    bool ok = false;
    // In the order they arose; also filled on failure.
    std::vector<ReadNotice> notices;
    explicit operator bool() const { return ok; }
};

// Reads the file at `path` into the song (whatever it held is dropped). Asks nothing, so it may run
// off the user-interface thread; an autosaved copy beside the song is left alone (see OpenSong.h). On
// failure the song is emptied and the caller shows DamagedSongMessage.
ReadResult ReadSong(Song& song, const std::string& path);
// The same from bytes already in memory, with no settings file unless the legacy settings archive is
// passed as `settings`. The song's path (for audio clips and messages) stays as it was.
ReadResult ReadSongFromBytes(Song& song, const uint8_t* bytes, size_t size, const uint8_t* settings = nullptr,
                             size_t settingsSize = 0);

// The whole file at `path`; false when it cannot be read.
[[nodiscard]] bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

} // namespace cantivo
