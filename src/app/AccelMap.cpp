#include "app/AccelMap.h"

#include "app/CommandTable.h"
#include "song/ArchiveBytes.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace cantivo {
namespace {

using C = CommandId;

constexpr uint8_t V = AccelVirtualKey;
constexpr uint8_t VC = AccelVirtualKey | AccelCtrl;
constexpr uint8_t VA = AccelVirtualKey | AccelAlt;

constexpr AccelEntry E(uint8_t flags, uint16_t key, CommandId command)
{
    return {flags, key, ToNumber(command)};
}

// Virtual-key codes of the keys the built-in map uses.
constexpr uint16_t VkEnter = 0x0D, VkEscape = 0x1B, VkSpace = 0x20, VkPageUp = 0x21, VkPageDown = 0x22, VkEnd = 0x23,
                   VkHome = 0x24, VkLeft = 0x25, VkUp = 0x26, VkRight = 0x27, VkDown = 0x28, VkDelete = 0x2E,
                   VkF1 = 0x70, VkSlash = 0xBF, VkBracketLeft = 0xDB, VkBackslash = 0xDC, VkBracketRight = 0xDD;
constexpr uint16_t VkF(int n)
{
    return static_cast<uint16_t>(VkF1 + n - 1);
}

constexpr std::array<AccelEntry, 62> DefaultEntries = {
    E(VC, 'N', C::NewSongOrSet),
    E(VC, 'O', C::Open),
    E(VC, 'S', C::Save),
    E(VC | AccelAlt, 'S', C::SaveAll),
    E(VC, 'P', C::Print),
    E(VC, VkF(6), C::RevertToPreviousSong),
    E(VC, 'Z', C::Undo),
    E(VC, 'Y', C::Redo),
    E(VC, 'C', C::Copy),
    E(VC, 'X', C::Cut),
    E(VC, 'V', C::Paste),
    E(V, VkDelete, C::Delete),
    E(VC, 'A', C::SelectAll),
    E(VC, 'Q', C::Quantize),
    E(VA, VkEnter, C::Properties),
    E(VC, '1', C::ViewClipsAndCues),
    E(VC, '2', C::ViewEvents),
    E(VC, '3', C::ViewStaff),
    E(VC, '4', C::ViewPianoRoll),
    E(VC, '5', C::ViewLyrics),
    E(VC, '6', C::ViewAudio),
    E(VA, '1', C::ViewTempos),
    E(VA, '2', C::ViewRealtimeSliders),
    E(VA, '3', C::ViewExpression),
    E(VA, '4', C::ViewPitch),
    E(VC, VkEnter, C::Play),
    E(V, VkSpace, C::PauseUnpause),
    E(VC, 'R', C::Record),
    E(V, VkEscape, C::Stop),
    E(V, VkSlash, C::Solo),
    E(V, VkBackslash, C::UnSolo),
    E(V, VkF(7), C::RepeatMeasure),
    E(V, VkF(8), C::SkipNextMeasure),
    E(V, VkF(11), C::LastVamp),
    E(VC, VkHome, C::GotoBeginning),
    E(VC, VkEnd, C::GotoEnd),
    E(VC, VkPageDown, C::GotoNextCue),
    E(VC, VkPageUp, C::GotoPreviousCue),
    E(VC, VkLeft, C::PreviousMeasure),
    E(VC, VkRight, C::NextMeasure),
    E(VC, 'G', C::GotoPosition),
    E(VC, VkUp, C::PreviousNote),
    E(VC, VkDown, C::NextNote),
    E(VC, VkBracketRight, C::TempoFaster),
    E(VC, VkBracketLeft, C::TempoSlower),
    E(VC, '0', C::TempoNormal),
    E(VA, VkBracketLeft, C::VolumeDown),
    E(VA, '0', C::VolumeFull),
    E(VA, VkBracketRight, C::VolumeUp),
    E(V, VkF(10), C::ResetMidi),
    E(V, VkF(12), C::FreeStuckNotes),
    E(VA, 'A', C::MenuAdjust),
    E(VA, 'E', C::MenuEdit),
    E(VA, 'F', C::MenuFile),
    E(VA, 'H', C::MenuHelp),
    E(VA, 'I', C::MenuInsert),
    E(VA, 'S', C::MenuSequencer),
    E(VA, 'U', C::MenuSetup),
    E(VA, 'V', C::MenuView),
    E(V, VkF1, C::Help),
    E(V | AccelShift, VkF1, C::ContextHelp),
    E(V, VkEnter, C::Go),
};

struct KeyName {
    uint16_t virtualKey;
    const char* name;
    int qtKey; // 0: no Qt key
};

// Names as a keyboard labels the keys; the Qt keys the desktop sees for them.
constexpr std::array<KeyName, 40> KeyNames = {{
    {0x08, "Backspace", 0x01000003},
    {0x09, "Tab", 0x01000001},
    {0x0D, "Enter", 0x01000004},
    {0x13, "Pause", 0x01000008},
    {0x14, "Caps Lock", 0x01000024},
    {0x1B, "Esc", 0x01000000},
    {0x20, "Space", 0x20},
    {0x21, "PgUp", 0x01000016},
    {0x22, "PgDn", 0x01000017},
    {0x23, "End", 0x01000011},
    {0x24, "Home", 0x01000010},
    {0x25, "Left", 0x01000012},
    {0x26, "Up", 0x01000013},
    {0x27, "Right", 0x01000014},
    {0x28, "Down", 0x01000015},
    {0x2C, "Print Screen", 0x01000009},
    {0x2D, "Insert", 0x01000006},
    {0x2E, "Delete", 0x01000007},
    {0x6A, "Num *", 0},
    {0x6B, "Num +", 0},
    {0x6D, "Num -", 0},
    {0x6E, "Num Del", 0},
    {0x6F, "Num /", 0},
    {0x90, "Num Lock", 0x01000025},
    {0x91, "Scroll Lock", 0x01000026},
    {0xBA, ";", 0x3B},
    {0xBB, "=", 0x3D},
    {0xBC, ",", 0x2C},
    {0xBD, "-", 0x2D},
    {0xBE, ".", 0x2E},
    {0xBF, "/", 0x2F},
    {0xC0, "`", 0x60},
    {0xDB, "[", 0x5B},
    {0xDC, "\\", 0x5C},
    {0xDD, "]", 0x5D},
    {0xDE, "'", 0x27},
    {0x5B, "Left Windows", 0},
    {0x5C, "Right Windows", 0},
    {0x5D, "Application", 0x01000055},
    {0x03, "Break", 0},
}};

constexpr int QtKeyF1 = 0x01000030;
constexpr int QtShift = 0x02000000, QtControl = 0x04000000, QtAlt = 0x08000000;

const KeyName* FindKeyName(uint16_t virtualKey)
{
    for (const KeyName& key : KeyNames)
        if (key.virtualKey == virtualKey)
            return &key;
    return nullptr;
}

std::string FileError(const std::string& what)
{
    return "The accelerator map file is damaged: " + what + ".";
}

int FindMap(const std::vector<AccelMap>& maps, const std::string& name)
{
    for (size_t i = 0; i < maps.size(); ++i)
        if (maps[i].name == name)
            return static_cast<int>(i);
    return -1;
}

} // namespace

std::vector<uint8_t> EncodeAccelEntries(std::span<const AccelEntry> entries)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(entries.size() * AccelEntrySize);
    for (const AccelEntry& entry : entries) {
        PutArchiveNumber(bytes, entry.flags, 1);
        PutArchiveNumber(bytes, 0, 1);
        PutArchiveNumber(bytes, entry.key, 2);
        PutArchiveNumber(bytes, entry.command, 2);
    }
    return bytes;
}

std::vector<AccelEntry> DecodeAccelEntries(std::span<const uint8_t> bytes)
{
    std::vector<AccelEntry> entries;
    if (bytes.size() > MaxAccelMapBytes)
        return entries;
    for (size_t at = 0; at + AccelEntrySize <= bytes.size(); at += AccelEntrySize)
        entries.push_back({bytes[at], static_cast<uint16_t>(bytes[at + 2] | bytes[at + 3] << 8),
                           static_cast<uint16_t>(bytes[at + 4] | bytes[at + 5] << 8)});
    return entries;
}

std::span<const AccelEntry> DefaultAccelEntries()
{
    return DefaultEntries;
}

std::string VirtualKeyName(uint16_t virtualKey)
{
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z'))
        return std::string(1, static_cast<char>(virtualKey));
    if (virtualKey >= 0x70 && virtualKey <= 0x87)
        return "F" + std::to_string(virtualKey - 0x70 + 1);
    if (virtualKey >= 0x60 && virtualKey <= 0x69)
        return "Num " + std::to_string(virtualKey - 0x60);
    if (const KeyName* key = FindKeyName(virtualKey))
        return key->name;
    char text[16];
    std::snprintf(text, sizeof text, "Key 0x%02X", static_cast<unsigned>(virtualKey));
    return text;
}

std::string ShortcutText(const AccelEntry& entry)
{
    std::string text;
    if (entry.flags & AccelAlt)
        text += "Alt+";
    if (entry.flags & AccelCtrl)
        text += "Ctrl+";
    if (entry.flags & AccelShift)
        text += "Shift+";
    if (entry.flags & AccelVirtualKey)
        return text + VirtualKeyName(entry.key);
    // A character code; a control character reads as Ctrl and its letter.
    const uint32_t code = entry.key >= 32 ? entry.key : entry.key + 64u;
    if (entry.key < 32)
        text += "Ctrl+";
    std::string utf8;
    if (code < 0x80) {
        utf8 = std::string(1, static_cast<char>(code));
    } else if (code < 0x800) {
        utf8 = {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
    } else {
        utf8 = {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                static_cast<char>(0x80 | (code & 0x3F))};
    }
    return text + utf8;
}

std::optional<int> QtKeyFromVirtualKey(uint16_t virtualKey)
{
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z'))
        return virtualKey;
    if (virtualKey >= 0x70 && virtualKey <= 0x87)
        return QtKeyF1 + (virtualKey - 0x70);
    if (const KeyName* key = FindKeyName(virtualKey); key && key->qtKey != 0)
        return key->qtKey;
    return std::nullopt;
}

std::optional<uint16_t> VirtualKeyFromQtKey(int qtKey)
{
    if ((qtKey >= '0' && qtKey <= '9') || (qtKey >= 'A' && qtKey <= 'Z'))
        return static_cast<uint16_t>(qtKey);
    if (qtKey >= QtKeyF1 && qtKey <= QtKeyF1 + 23)
        return static_cast<uint16_t>(0x70 + (qtKey - QtKeyF1));
    if (qtKey == 0x01000005) // Key_Enter, the keypad's: the same virtual key as Return
        return uint16_t{0x0D};
    for (const KeyName& key : KeyNames)
        if (key.qtKey != 0 && key.qtKey == qtKey)
            return key.virtualKey;
    return std::nullopt;
}

int QtModifiersFromAccelFlags(uint8_t flags)
{
    return ((flags & AccelShift) ? QtShift : 0) | ((flags & AccelCtrl) ? QtControl : 0) |
           ((flags & AccelAlt) ? QtAlt : 0);
}

uint8_t AccelFlagsFromQtModifiers(int qtModifiers)
{
    return static_cast<uint8_t>(((qtModifiers & QtShift) ? AccelShift : 0) |
                                ((qtModifiers & QtControl) ? AccelCtrl : 0) | ((qtModifiers & QtAlt) ? AccelAlt : 0));
}

std::optional<uint16_t> FindAccelCommand(std::span<const AccelEntry> entries, uint8_t flags, uint16_t key)
{
    for (const AccelEntry& entry : entries)
        if (entry.command != 0 && entry.flags == flags && entry.key == key)
            return entry.command;
    return std::nullopt;
}

bool AccelMapStore::Enabled() const
{
    return profile_.GetInt(AccelMapKey, "Enabled", 1) != 0;
}

std::string AccelMapStore::UseWhich() const
{
    return profile_.GetString(AccelMapKey, "UseWhich", DefaultAccelMapName);
}

bool AccelMapStore::Use(const std::string& name)
{
    return profile_.WriteString(AccelMapKey, "UseWhich", name);
}

std::optional<AccelMap> AccelMapStore::Load(const std::string& name) const
{
    const std::optional<std::vector<uint8_t>> bytes = profile_.GetBinary(AccelMapKey, name);
    if (!bytes)
        return std::nullopt;
    return AccelMap{name, DecodeAccelEntries(*bytes)};
}

std::vector<AccelMap> AccelMapStore::LoadAll() const
{
    std::vector<AccelMap> maps;
    for (const std::string& name : profile_.EnumValues(AccelMapKey)) {
        if (maps.size() == MaxAccelMaps)
            break;
        if (std::optional<AccelMap> map = Load(name))
            maps.push_back(std::move(*map));
    }
    return maps;
}

ActiveAccelTable AccelMapStore::Activate()
{
    ActiveAccelTable table;
    if (!Enabled())
        return table;
    table.enabled = true;
    table.name = UseWhich();
    if (table.name == DefaultAccelMapName) {
        table.entries.assign(DefaultEntries.begin(), DefaultEntries.end());
        // A store that refuses the write still gets the keys; the editor then just lacks the entry.
        (void)profile_.WriteBinary(AccelMapKey, DefaultAccelMapName, EncodeAccelEntries(DefaultEntries));
    } else if (std::optional<AccelMap> map = Load(table.name)) {
        table.entries = std::move(map->entries);
    }
    table.entries.resize(MaxAccelEntries);
    return table;
}

bool AccelMapStore::Store(const AccelMap& map)
{
    return profile_.WriteBinary(AccelMapKey, map.name, EncodeAccelEntries(map.entries));
}

bool AccelMapStore::SaveAll(const std::vector<AccelMap>& maps, const std::string& useWhich, bool enabled)
{
    bool ok = true;
    for (const std::string& name : profile_.EnumValues(AccelMapKey))
        ok = profile_.DeleteValue(AccelMapKey, name) && ok;
    for (auto map = maps.rbegin(); map != maps.rend(); ++map)
        ok = profile_.WriteBinary(AccelMapKey, map->name, EncodeAccelEntries(map->entries)) && ok;
    ok = profile_.WriteString(AccelMapKey, "UseWhich", useWhich) && ok;
    ok = profile_.WriteInt(AccelMapKey, "Enabled", enabled ? 1 : 0) && ok;
    return ok;
}

std::string AccelOverwriteQuestion(const std::string& name)
{
    return "Map '" + name + "' already exists.  Overwrite?";
}

std::vector<uint8_t> WriteAccelMapFile(std::span<const AccelMap> maps)
{
    std::vector<uint8_t> bytes;
    PutArchiveNumber(bytes, 1, 4);
    PutArchiveNumber(bytes, static_cast<uint32_t>(maps.size()), 4);
    for (const AccelMap& map : maps) {
        PutCountedString(bytes, map.name);
        PutArchiveNumber(bytes, static_cast<uint32_t>(map.entries.size()), 4);
        const std::vector<uint8_t> entries = EncodeAccelEntries(map.entries);
        bytes.insert(bytes.end(), entries.begin(), entries.end());
    }
    return bytes;
}

std::vector<uint8_t> ExportAccelMaps(std::span<const AccelMap> maps)
{
    std::vector<AccelMap> reversed(maps.rbegin(), maps.rend());
    return WriteAccelMapFile(reversed);
}

AccelMapFileRead ReadAccelMapFile(std::span<const uint8_t> bytes)
{
    AccelMapFileRead read;
    ArchiveReader reader(bytes);
    if (!reader.Left(8)) {
        read.error = FileError("it ends inside its header");
        return read;
    }
    (void)reader.Take(4); // the version, written as 1
    const uint32_t count = reader.Take(4);
    for (uint32_t i = 0; i < count; ++i) {
        AccelMap map;
        if (!reader.CountedString(map.name) || !reader.Left(4)) {
            read.error = FileError("it ends inside map " + std::to_string(i + 1) + " of " + std::to_string(count));
            return read;
        }
        const uint32_t entries = reader.Take(4);
        if (entries > MaxAccelEntries) {
            read.error = FileError("map '" + map.name + "' has " + std::to_string(entries) + " entries, at most " +
                                   std::to_string(MaxAccelEntries) + " fit");
            return read;
        }
        if (!reader.Left(size_t{entries} * AccelEntrySize)) {
            read.error = FileError("it ends inside the entries of map '" + map.name + "'");
            return read;
        }
        map.entries = DecodeAccelEntries(reader.Bytes(entries * AccelEntrySize));
        read.maps.push_back(std::move(map));
    }
    read.complete = true;
    return read;
}

bool ImportAccelMaps(std::span<const uint8_t> bytes, std::vector<AccelMap>& list,
                     const std::function<bool(const std::string&)>& overwrite, std::string& error)
{
    AccelMapFileRead read = ReadAccelMapFile(bytes);
    for (AccelMap& map : read.maps) {
        const int existing = FindMap(list, map.name);
        if (existing < 0)
            list.push_back(std::move(map));
        else if (overwrite(map.name))
            list[static_cast<size_t>(existing)] = std::move(map);
    }
    error = read.error;
    return read.complete;
}

AccelMapEditorModel::AccelMapEditorModel(AccelMapStore& store)
    : store_(store), maps_(store.LoadAll()), enabled_(store.Enabled())
{
    if (!Select(store.UseWhich()) && !maps_.empty())
        selected_ = 0;
}

const AccelMap* AccelMapEditorModel::SelectedMap() const
{
    return selected_ >= 0 ? &maps_[static_cast<size_t>(selected_)] : nullptr;
}

AccelMap* AccelMapEditorModel::SelectedMutable()
{
    return selected_ >= 0 ? &maps_[static_cast<size_t>(selected_)] : nullptr;
}

bool AccelMapEditorModel::Select(const std::string& name)
{
    const int at = FindMap(maps_, name);
    if (at < 0)
        return false;
    selected_ = at;
    return true;
}

bool AccelMapEditorModel::CanSaveNewMap(const std::string& name) const
{
    return !name.empty() && FindMap(maps_, name) < 0 && maps_.size() < MaxAccelMaps;
}

bool AccelMapEditorModel::SaveNewMap(const std::string& name)
{
    if (!CanSaveNewMap(name))
        return false;
    AccelMap copy{name, SelectedMap() ? SelectedMap()->entries : std::vector<AccelEntry>{}};
    maps_.push_back(std::move(copy));
    selected_ = static_cast<int>(maps_.size()) - 1;
    return true;
}

bool AccelMapEditorModel::Rename(const std::string& newName)
{
    if (!CanDelete() || newName.empty() || FindMap(maps_, newName) >= 0 || newName == DefaultAccelMapName)
        return false;
    SelectedMutable()->name = newName;
    return true;
}

bool AccelMapEditorModel::CanDelete() const
{
    return SelectedMap() && SelectedMap()->name != DefaultAccelMapName;
}

bool AccelMapEditorModel::DeleteSelected()
{
    if (!CanDelete())
        return false;
    maps_.erase(maps_.begin() + selected_);
    selected_ = maps_.empty() ? -1 : 0;
    return true;
}

bool AccelMapEditorModel::CanChangeEntries() const
{
    return CanDelete();
}

namespace {

// The message for a shortcut already bound in `map` (other than at row `except`); empty when free.
std::string Conflict(const AccelMap& map, const AccelEntry& entry, size_t except)
{
    for (size_t row = 0; row < map.entries.size(); ++row) {
        const AccelEntry& other = map.entries[row];
        if (row != except && other.flags == entry.flags && other.key == entry.key)
            return ShortcutText(entry) + " is already assigned to '" + FunctionName(other.command) + "'.";
    }
    return {};
}

} // namespace

bool AccelMapEditorModel::AddEntry(const AccelEntry& entry, std::string& message)
{
    AccelMap* map = SelectedMutable();
    if (!CanChangeEntries() || entry.key == 0 || entry.command == 0)
        return false;
    if (map->entries.size() >= MaxAccelEntries) {
        message = "A map holds at most " + std::to_string(MaxAccelEntries) + " shortcuts.";
        return false;
    }
    message = Conflict(*map, entry, map->entries.size());
    if (!message.empty())
        return false;
    map->entries.push_back(entry);
    return true;
}

bool AccelMapEditorModel::ReplaceEntry(size_t row, const AccelEntry& entry, std::string& message)
{
    AccelMap* map = SelectedMutable();
    if (!CanChangeEntries() || row >= map->entries.size() || entry.key == 0 || entry.command == 0)
        return false;
    message = Conflict(*map, entry, row);
    if (!message.empty())
        return false;
    map->entries[row] = entry;
    return true;
}

bool AccelMapEditorModel::RemoveEntries(std::vector<size_t> rows)
{
    AccelMap* map = SelectedMutable();
    if (!CanChangeEntries() || rows.empty())
        return false;
    std::sort(rows.rbegin(), rows.rend());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.front() >= map->entries.size())
        return false;
    for (size_t row : rows)
        map->entries.erase(map->entries.begin() + static_cast<std::ptrdiff_t>(row));
    return true;
}

bool AccelMapEditorModel::Import(std::span<const uint8_t> bytes,
                                 const std::function<bool(const std::string&)>& overwrite, std::string& error)
{
    const std::string selectedName = SelectedMap() ? SelectedMap()->name : std::string();
    const bool ok = ImportAccelMaps(bytes, maps_, overwrite, error);
    if (!Select(selectedName) && !maps_.empty())
        selected_ = 0;
    return ok;
}

std::vector<uint8_t> AccelMapEditorModel::Export() const
{
    return ExportAccelMaps(maps_);
}

bool AccelMapEditorModel::Save()
{
    return store_.SaveAll(maps_, SelectedMap() ? SelectedMap()->name : std::string(DefaultAccelMapName), enabled_);
}

} // namespace cantivo
