#include "song/PositionText.h"

#include "song/Song.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace cantivo {

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool Number(std::string_view text, int64_t& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && value >= 0;
}

} // namespace

std::string PositionText(const Song& song, int32_t tick)
{
    std::string text;
    if (song.FormatPosition(tick, text) < 0)
        return {};
    if (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

std::optional<int32_t> ParsePosition(const Song& song, std::string_view text, std::string& error)
{
    const std::string shown(Trim(text));
    std::vector<std::string_view> parts;
    std::string_view rest = shown;
    for (;;) {
        const size_t colon = rest.find_first_of(":.");
        parts.push_back(Trim(rest.substr(0, colon)));
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    if (parts.size() > 3 || parts[0].empty()) {
        error = "\"" + shown + "\" is not a position; write it as measure:beat:tick, for example 5:1:000";
        return std::nullopt;
    }
    std::string_view measureText = parts[0];
    char letter = 0;
    if (std::isalpha(static_cast<unsigned char>(measureText.back()))) {
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(measureText.back())));
        measureText.remove_suffix(1);
    }
    int64_t number = 0;
    if (!measureText.empty() && !Number(measureText, number)) {
        error = "\"" + shown + "\" is not a position: \"" + std::string(parts[0]) + "\" is not a measure";
        return std::nullopt;
    }
    const Measure* measure = nullptr;
    // Printed numbers may repeat (a numbering restarts after a section); the first match wins.
    for (const Measure& candidate : song.measures) {
        const bool letterMatches = letter == 0 || (candidate.letter & ~0x20) == letter;
        const bool numberMatches = measureText.empty() || candidate.number == number;
        if (letterMatches && numberMatches) {
            measure = &candidate;
            break;
        }
    }
    if (measure == nullptr) {
        error = "the song has no measure " + std::string(parts[0]);
        return std::nullopt;
    }
    int64_t beat = 1;
    int64_t tick = 0;
    if (parts.size() > 1 && (!Number(parts[1], beat) || beat < 1)) {
        error = "\"" + shown + "\" is not a position: beats count from 1";
        return std::nullopt;
    }
    if (parts.size() > 2 && !Number(parts[2], tick)) {
        error = "\"" + shown + "\" is not a position: \"" + std::string(parts[2]) + "\" is not a tick";
        return std::nullopt;
    }
    const int64_t beatLength = measure->denominator == 0 ? song.timebase : song.timebase * 4 / measure->denominator;
    const int64_t offset = (beat - 1) * beatLength + tick;
    if (offset >= measure->length && measure->length > 0) {
        error = "\"" + shown + "\" lies past the end of measure " + std::string(parts[0]);
        return std::nullopt;
    }
    return static_cast<int32_t>(measure->start + offset);
}

} // namespace cantivo
