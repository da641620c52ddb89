#pragma once

#include "song/Song.h"

#include <cstdint>
#include <string>

namespace cantivo {

// The song's own properties as the song properties edit exchanges them: six texts (title, subtitle,
// author, copyright, memo and the song's folder) and the numeric song settings (the SMPTE offset).
// Like the track settings, only what the first application really changed is exchanged afterwards.
struct SongPropertyBlock {
    std::string title;
    std::string subtitle;
    std::string author;
    std::string copyright;
    std::string memo;
    std::string folder;
    Song::SmpteOffset smpteOffset;

    static SongPropertyBlock Of(const Song& song);
    // Exchanges the values with the song's.
    void Apply(Song& song);

  private:
    uint32_t fields_ = ~0u;
    bool applied_ = false;
};

} // namespace cantivo
