#pragma once

#include "song/Profile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo {

// Bits of AccelEntry::flags; the values are those of stored maps and map files.
enum AccelFlag : uint8_t {
    AccelVirtualKey = 0x01, // the key is a virtual-key code, otherwise a character code
    AccelShift = 0x04,
    AccelCtrl = 0x08,
    AccelAlt = 0x10,
};

// One key binding, kept as its 6-byte record: flags, a zero byte, key and command (little-endian).
struct AccelEntry {
    uint8_t flags = 0;
    uint16_t key = 0;
    uint16_t command = 0;

    friend bool operator==(const AccelEntry&, const AccelEntry&) = default;
};

struct AccelMap {
    std::string name;
    std::vector<AccelEntry> entries;

    friend bool operator==(const AccelMap&, const AccelMap&) = default;
};

inline constexpr size_t AccelEntrySize = 6;
inline constexpr size_t MaxAccelEntries = 100;
// Maps are read into a buffer of this size; a larger stored value reads as an empty map.
inline constexpr size_t MaxAccelMapBytes = MaxAccelEntries * AccelEntrySize;
// The editor lists at most this many maps.
inline constexpr size_t MaxAccelMaps = 100;
inline constexpr const char* AccelMapKey = "AccelMap";
inline constexpr const char* DefaultAccelMapName = "Default";

std::vector<uint8_t> EncodeAccelEntries(std::span<const AccelEntry> entries);
// A stored value as entries: over 600 bytes reads as none; a partial record at the end is dropped.
std::vector<AccelEntry> DecodeAccelEntries(std::span<const uint8_t> bytes);

// The built-in "Default" map's 62 entries, in their order.
std::span<const AccelEntry> DefaultAccelEntries();

// "Alt+Ctrl+Shift+" as the flags say, then the key ("Ctrl+F9", "Alt+Ctrl+S", "PgDn").
std::string ShortcutText(const AccelEntry& entry);
// The name of a virtual key as the keyboard labels it ("F7", "Enter", "/"); "Key 0x%02X" when unknown.
std::string VirtualKeyName(uint16_t virtualKey);

// Virtual-key codes and Qt::Key values (as plain integers, so this layer needs no Qt). Keys with no
// counterpart give nothing.
std::optional<int> QtKeyFromVirtualKey(uint16_t virtualKey);
std::optional<uint16_t> VirtualKeyFromQtKey(int qtKey);
// Qt::KeyboardModifiers bits (Shift 0x02000000, Control 0x04000000, Alt 0x08000000) and entry flags.
int QtModifiersFromAccelFlags(uint8_t flags);
uint8_t AccelFlagsFromQtModifiers(int qtModifiers);

// The command bound to a key in a table; the first matching entry wins, as in an accelerator table.
std::optional<uint16_t> FindAccelCommand(std::span<const AccelEntry> entries, uint8_t flags, uint16_t key);

// The table that drives the keys: none when "Enabled" is 0; 100 entries, the unused ones zero.
struct ActiveAccelTable {
    bool enabled = false;
    std::string name;
    std::vector<AccelEntry> entries;
};

// The maps in the configuration store (key "AccelMap", one binary value per map) and the section
// values "UseWhich" and "Enabled".
class AccelMapStore {
  public:
    explicit AccelMapStore(Profile& profile) : profile_(profile) {}

    bool Enabled() const;
    std::string UseWhich() const;
    // Every stored map in the store's order, at most 100 of them.
    std::vector<AccelMap> LoadAll() const;
    std::optional<AccelMap> Load(const std::string& name) const;

    // The start-up step: "Default" is taken from the built-in table and stored under its name, so
    // that the editor lists it; a map that is not stored gives a table that matches nothing.
    ActiveAccelTable Activate();

    // Stores one map, replacing one of the same name.
    [[nodiscard]] bool Store(const AccelMap& map);
    // Makes `name` the map in use ("UseWhich") from the next activation on.
    [[nodiscard]] bool Use(const std::string& name);
    // The editor's OK: replaces every stored map by `maps` (written from the last to the first), then
    // stores "UseWhich" and "Enabled". False when the store refused a write.
    [[nodiscard]] bool SaveAll(const std::vector<AccelMap>& maps, const std::string& useWhich, bool enabled);

  private:
    Profile& profile_;
};

// The editor's list of maps and what its buttons do, without the dialog. Nothing reaches the store
// before Save (the dialog's OK).
class AccelMapEditorModel {
  public:
    explicit AccelMapEditorModel(AccelMapStore& store);

    const std::vector<AccelMap>& Maps() const { return maps_; }
    int Selected() const { return selected_; }
    const AccelMap* SelectedMap() const;
    bool EnableAccelerators() const { return enabled_; }
    void SetEnableAccelerators(bool on) { enabled_ = on; }
    bool Select(const std::string& name);

    // "Save new map": a copy of the selected map under a new name, then selected.
    bool CanSaveNewMap(const std::string& name) const;
    [[nodiscard]] bool SaveNewMap(const std::string& name);
    // A rename keeps the entries; refused for "Default", an empty name or one that is taken.
    [[nodiscard]] bool Rename(const std::string& newName);
    // "Delete" (after "Are you sure?"): any map but "Default"; the first map is selected afterwards.
    bool CanDelete() const;
    [[nodiscard]] bool DeleteSelected();

    // "Add", "Edit..." and "Remove": never on "Default", the built-in map is only copied.
    bool CanChangeEntries() const;
    // Adding or replacing with an entry whose shortcut is already bound elsewhere in the map fails
    // with a message that names the function it is bound to.
    [[nodiscard]] bool AddEntry(const AccelEntry& entry, std::string& message);
    [[nodiscard]] bool ReplaceEntry(size_t row, const AccelEntry& entry, std::string& message);
    [[nodiscard]] bool RemoveEntries(std::vector<size_t> rows);

    // Adds or replaces maps from a map file's contents (see ImportAccelMaps).
    [[nodiscard]] bool Import(std::span<const uint8_t> bytes, const std::function<bool(const std::string&)>& overwrite,
                              std::string& error);
    std::vector<uint8_t> Export() const;

    [[nodiscard]] bool Save();

  private:
    AccelMap* SelectedMutable();

    AccelMapStore& store_;
    std::vector<AccelMap> maps_;
    int selected_ = -1;
    bool enabled_ = true;
};

// The question "Delete" asks before it removes a map.
inline constexpr const char* AccelDeleteQuestion = "Are you sure?";
// The question asked for a map whose name is already in the list.
std::string AccelOverwriteQuestion(const std::string& name);

// The ".dat" map file: version 1, the number of maps, then per map a counted-string name, the number
// of entries and the entries. Maps are written in the order given.
std::vector<uint8_t> WriteAccelMapFile(std::span<const AccelMap> maps);
// Export writes the editor's list from its last map to its first.
std::vector<uint8_t> ExportAccelMaps(std::span<const AccelMap> maps);

struct AccelMapFileRead {
    std::vector<AccelMap> maps; // the maps read before any problem
    bool complete = false;
    std::string error; // why the file stopped being readable
};
// Reads every map of a file, in file order; stops at the first count that runs past the end.
[[nodiscard]] AccelMapFileRead ReadAccelMapFile(std::span<const uint8_t> bytes);

// Merges a file's maps into `list` in file order: a new name is appended, an existing one is replaced
// when `overwrite(name)` says so and skipped otherwise. On a damaged file the maps read before the
// damage stay in `list` and the result is false with `error` set.
[[nodiscard]] bool ImportAccelMaps(std::span<const uint8_t> bytes, std::vector<AccelMap>& list,
                                   const std::function<bool(const std::string&)>& overwrite, std::string& error);

} // namespace cantivo
