#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantivo {

class Song;

// The position text of a tick without its leading blank ("12A:3:045"); empty when no measure holds it.
std::string PositionText(const Song& song, int32_t tick);

// Reads a position typed as the position text shows it: "measure:beat:tick", "measure:beat" or
// "measure", the measure by its printed number with an optional rehearsal letter ("12A:3:045"), or a
// letter alone ("B:1:000"). Beat from 1, tick from 0 within the beat. None, with the reason in
// `error`, for a text that names no position of the song.
std::optional<int32_t> ParsePosition(const Song& song, std::string_view text, std::string& error);

} // namespace cantivo
