#include "app/OptionsStore.h"

#include <algorithm>
#include <limits>

namespace cantivo {

namespace {

constexpr int32_t Lowest = std::numeric_limits<int32_t>::min();
constexpr int32_t Highest = std::numeric_limits<int32_t>::max();

// A value is absent when it reads as whichever default it is given.
bool Absent(const Profile& profile, const std::string& section, const std::string& value)
{
    return profile.GetInt(section, value, Lowest) == Lowest && profile.GetInt(section, value, Highest) == Highest;
}

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

bool OptionsReader::Check(const std::string& section, const std::string& value, bool fallback)
{
    return Range(section, value, fallback ? 1 : 0, 0, 1) == 1;
}

int32_t OptionsReader::Range(const std::string& section, const std::string& value, int32_t fallback, int32_t low,
                             int32_t high)
{
    const int32_t stored = profile_.GetInt(section, value, fallback);
    const int32_t shown = std::clamp(stored, low, high);
    if (shown != stored)
        Adjusted(section, value, std::to_string(stored), std::to_string(shown));
    return shown;
}

void OptionsReader::Adjusted(const std::string& section, const std::string& value, const std::string& stored,
                             const std::string& shown)
{
    adjusted_.push_back({section, value, stored, shown});
}

bool OptionsWriter::WriteInt(const std::string& section, const std::string& value, int32_t number)
{
    const bool changed = Absent(target_, section, value) || target_.GetInt(section, value, number) != number;
    const bool written = target_.WriteInt(section, value, number);
    Note(section, value, changed, written);
    return written;
}

bool OptionsWriter::WriteString(const std::string& section, const std::string& value, const std::string& text)
{
    // Two different defaults tell an absent string from one stored empty.
    const bool absent = target_.GetString(section, value, "a") == "a" && target_.GetString(section, value, "b") == "b";
    const bool changed = absent || target_.GetString(section, value, text) != text;
    const bool written = target_.WriteString(section, value, text);
    Note(section, value, changed, written);
    return written;
}

void OptionsWriter::Note(const std::string& section, const std::string& value, bool changed, bool written)
{
    if (!written)
        failed_.push_back({section, value});
    else if (changed)
        changed_.push_back({section, value});
}

size_t CharacterCount(const std::string& text)
{
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

std::string FirstCharacters(const std::string& text, size_t count)
{
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsContinuation(text[i]))
            continue;
        if (seen == count)
            return text.substr(0, i);
        ++seen;
    }
    return text;
}

} // namespace cantivo
