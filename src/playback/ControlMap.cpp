#include "playback/ControlMap.h"

#include "song/ArchiveBytes.h"

#include <cctype>

namespace cantivo {

namespace {

constexpr const char* ActionNames[ControlActionCount] = {"<None>",
                                                         "Play/Tap (Cue)",
                                                         "Stop",
                                                         "Pause",
                                                         "Play/Stop",
                                                         "Play/Pause",
                                                         "Record",
                                                         "Previous song",
                                                         "Previous cue",
                                                         "Previous measure",
                                                         "Next measure",
                                                         "Next cue",
                                                         "Next song",
                                                         "Repeat current measure",
                                                         "Skip next measure",
                                                         "Last vamp",
                                                         "Tempo 100%",
                                                         "Tempo down 1%",
                                                         "Tempo up 1%",
                                                         "Tempo slider",
                                                         "Volume full",
                                                         "Volume down 1%",
                                                         "Volume up 1%",
                                                         "Volume slider",
                                                         "Beginning of Song",
                                                         "End of Song",
                                                         "MIDI Reset"};

constexpr size_t StoredBytes = 512; // what a stored map is read back into

} // namespace

const char* ControlActionName(int code)
{
    return code >= 0 && code < ControlActionCount ? ActionNames[code] : ActionNames[0];
}

bool ControlActionRepeats(ControlAction action)
{
    switch (action) {
    case ControlAction::PreviousSong:
    case ControlAction::PreviousCue:
    case ControlAction::PreviousMeasure:
    case ControlAction::NextMeasure:
    case ControlAction::NextCue:
    case ControlAction::NextSong:
    case ControlAction::TempoDown:
    case ControlAction::TempoUp:
    case ControlAction::VolumeDown:
    case ControlAction::VolumeUp:
        return true;
    default:
        return false;
    }
}

ControlEntry ControlEntry::Make(int port, int channel, int controller, int key, ControlAction action)
{
    return {static_cast<uint32_t>(port & 0x0F) << 28 | static_cast<uint32_t>(channel & 0x0F) << 24 |
            static_cast<uint32_t>(controller & 0xFF) << 16 | static_cast<uint32_t>(key & 0xFF) << 8 |
            static_cast<uint32_t>(action)};
}

std::vector<ControlEntry> ControlEntriesFromBytes(std::span<const uint8_t> bytes)
{
    std::vector<ControlEntry> entries;
    if (bytes.size() > StoredBytes)
        return entries;
    ArchiveReader reader(bytes);
    while (reader.Left(4))
        entries.push_back({reader.Take(4)});
    return entries;
}

std::vector<uint8_t> ControlEntriesToBytes(const std::vector<ControlEntry>& entries)
{
    std::vector<uint8_t> bytes;
    for (const ControlEntry& entry : entries)
        PutArchiveNumber(bytes, entry.bits, 4);
    return bytes;
}

std::vector<uint8_t> ControlMapFileBytes(const std::vector<ControlMap>& maps)
{
    std::vector<uint8_t> bytes;
    PutArchiveNumber(bytes, 1, 4);
    PutArchiveNumber(bytes, static_cast<uint32_t>(maps.size()), 4);
    for (auto map = maps.rbegin(); map != maps.rend(); ++map) {
        PutCountedString(bytes, map->name);
        PutArchiveNumber(bytes, static_cast<uint32_t>(map->entries.size()), 4);
        for (const ControlEntry& entry : map->entries)
            PutArchiveNumber(bytes, entry.bits, 4);
    }
    return bytes;
}

std::vector<ControlMap> ReadControlMapFile(std::span<const uint8_t> bytes, std::string& error)
{
    std::vector<ControlMap> maps;
    error.clear();
    ArchiveReader reader(bytes);
    if (!reader.Left(8)) {
        error = "The file is too short to be a control map file.";
        return maps;
    }
    (void)reader.Take(4); // the format number, written as 1
    const uint32_t count = reader.Take(4);
    for (uint32_t i = 0; i < count; ++i) {
        ControlMap map;
        if (!reader.CountedString(map.name) || !reader.Left(4)) {
            error = "The file ends inside map " + std::to_string(i + 1) + " of " + std::to_string(count) + ".";
            return maps;
        }
        const uint32_t entries = reader.Take(4);
        if (entries > ControlMap::MaxEntries) {
            error = "Map \"" + map.name + "\" has " + std::to_string(entries) +
                    " entries; a control map holds at most 128.";
            return maps;
        }
        // Never trust a count: it must fit in what is left.
        if (!reader.Left(size_t{entries} * 4)) {
            error = "The file ends inside the entries of map \"" + map.name + "\".";
            return maps;
        }
        for (uint32_t e = 0; e < entries; ++e)
            map.entries.push_back({reader.Take(4)});
        maps.push_back(std::move(map));
    }
    return maps;
}

std::optional<int> ParseKeyText(std::string_view text, bool& none)
{
    none = false;
    size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    if (at == text.size()) {
        none = true;
        return std::nullopt;
    }
    const auto digit = [&](size_t i) { return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); };
    if (digit(at)) {
        int number = 0;
        while (digit(at) && number <= 127)
            number = number * 10 + (text[at++] - '0');
        if (number > 127)
            return std::nullopt;
        return number;
    }
    static constexpr int Letters[] = {9, 11, 0, 2, 4, 5, 7}; // A to G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[at])));
    if (letter < 'A' || letter > 'G')
        return std::nullopt;
    int note = Letters[letter - 'A'];
    ++at;
    while (at < text.size() && text[at] == ' ')
        ++at;
    // An accidental, which may be doubled.
    for (int i = 0; i < 2 && at < text.size(); ++i) {
        const char sign = text[at];
        if (sign == '#')
            note += 1;
        else if (sign == 'b')
            note -= 1;
        else if (sign == 'x')
            note += 2;
        else if (sign == '\'')
            note -= 2;
        else
            break;
        ++at;
    }
    bool negative = false;
    if (at < text.size() && text[at] == '-') {
        negative = true;
        ++at;
    }
    if (!digit(at))
        return std::nullopt;
    int octave = 0;
    while (digit(at) && octave < 100)
        octave = octave * 10 + (text[at++] - '0');
    // Any negative octave counts as octave -1.
    const int key = note + 12 * ((negative ? -1 : octave) + 1);
    if (key < 0 || key > 127)
        return std::nullopt;
    return key;
}

} // namespace cantivo
