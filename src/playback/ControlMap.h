#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo {

// What a control-map entry does when its trigger is pressed. The codes are stored in maps and files.
enum class ControlAction : uint8_t {
    None = 0, // also the release signal
    PlayTap,
    Stop,
    Pause,
    PlayStop,
    PlayPause,
    Record,
    PreviousSong,
    PreviousCue,
    PreviousMeasure,
    NextMeasure,
    NextCue,
    NextSong,
    RepeatMeasure,
    SkipNextMeasure,
    LastVamp,
    TempoNormal,
    TempoDown,
    TempoUp,
    TempoSlider,
    VolumeFull,
    VolumeDown,
    VolumeUp,
    VolumeSlider,
    BeginningOfSong,
    EndOfSong,
    MidiReset,
};
inline constexpr int ControlActionCount = 27;

// The name the dialogs list; "<None>" for 0 and for a code beyond the table.
const char* ControlActionName(int code);
// Actions that repeat while their trigger is held.
bool ControlActionRepeats(ControlAction action);

// One 32-bit entry: port (bits 28-31), channel (24-27), controller (16-23), key (8-15; 0 for a controller
// trigger), action (0-7).
struct ControlEntry {
    uint32_t bits = 0;

    static ControlEntry Make(int port, int channel, int controller, int key, ControlAction action);
    int Port() const { return static_cast<int>(bits >> 28); }
    int Channel() const { return static_cast<int>(bits >> 24 & 0x0F); }
    int Controller() const { return static_cast<int>(bits >> 16 & 0xFF); }
    int Key() const { return static_cast<int>(bits >> 8 & 0xFF); }
    ControlAction Action() const { return static_cast<ControlAction>(bits & 0xFF); }
    bool operator==(const ControlEntry&) const = default;
};

// A named list of entries. A stored map holds at most 128 (512 bytes).
struct ControlMap {
    static constexpr size_t MaxEntries = 128;
    std::string name;
    std::vector<ControlEntry> entries;
    bool operator==(const ControlMap&) const = default;
};

// A stored map's value: the entries as little-endian words. A value over 512 bytes reads as empty, as
// does a length that is not whole words' worth (the partial word is dropped).
std::vector<ControlEntry> ControlEntriesFromBytes(std::span<const uint8_t> bytes);
std::vector<uint8_t> ControlEntriesToBytes(const std::vector<ControlEntry>& entries);

// The exchange file: format 1, the map count, then each map (a counted name, the entry count, the
// entries). Export writes the maps from the last to the first.
std::vector<uint8_t> ControlMapFileBytes(const std::vector<ControlMap>& maps);
// Reads the maps in file order; a bad or truncated file (or a map over 128 entries) ends the reading
// there, keeping what came before, and says so in `error` (empty when the whole file was read).
std::vector<ControlMap> ReadControlMapFile(std::span<const uint8_t> bytes, std::string& error);

// The key field of the entry dialog: empty is no key (nullopt with `none` set); a number 0-127; or a
// note name such as "C4" (60), "Bb3", "F#-1". Nullopt with `none` clear when the text is not a key in
// 0-127, and the dialog keeps the previous key.
std::optional<int> ParseKeyText(std::string_view text, bool& none);

} // namespace cantivo
