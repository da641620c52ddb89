#include "app/ControlMapStore.h"

#include "song/Profile.h"

#include <algorithm>

namespace cantivo {

namespace {

constexpr const char* Section = "KeyMap";
constexpr const char* MapsKey = "Keymap";

} // namespace

std::string StoredControlMapName(const std::string& name)
{
    if (name.size() <= ControlMapStore::MaxNameBytes)
        return name;
    size_t end = ControlMapStore::MaxNameBytes;
    // Never split a UTF-8 sequence: back off over its continuation bytes.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

std::string OverwriteQuestion(const std::string& name)
{
    return "Map '" + name + "' already exists.  Overwrite?";
}

bool ControlMapStore::Enabled() const
{
    return profile_.GetInt(Section, "Enabled", 1) != 0;
}

std::string ControlMapStore::UseWhich() const
{
    return profile_.GetString(Section, "UseWhich", "MIDI");
}

std::vector<ControlMap> ControlMapStore::Maps() const
{
    std::vector<ControlMap> maps;
    std::vector<std::string> names = profile_.EnumValues(MapsKey);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (maps.size() == MaxMaps)
            break;
        const auto bytes = profile_.GetBinary(MapsKey, name);
        maps.push_back(
            {StoredControlMapName(name), bytes ? ControlEntriesFromBytes(*bytes) : std::vector<ControlEntry>{}});
    }
    return maps;
}

std::optional<ControlMap> ControlMapStore::Find(const std::string& name) const
{
    const std::string stored = StoredControlMapName(name);
    const auto bytes = profile_.GetBinary(MapsKey, stored);
    if (!bytes)
        return std::nullopt;
    return ControlMap{stored, ControlEntriesFromBytes(*bytes)};
}

bool ControlMapStore::Use(const std::string& name)
{
    return profile_.WriteString(Section, "UseWhich", StoredControlMapName(name));
}

ControlMap ControlMapStore::ActiveMap() const
{
    const std::string name = UseWhich();
    return Find(name).value_or(ControlMap{name, {}});
}

bool ControlMapStore::Write(const ControlMap& map, std::string& error)
{
    if (map.entries.size() > ControlMap::MaxEntries) {
        error = "The map \"" + map.name + "\" has more than 128 entries; it is not stored.";
        return false;
    }
    if (!profile_.WriteBinary(MapsKey, StoredControlMapName(map.name), ControlEntriesToBytes(map.entries))) {
        error = "The control map \"" + map.name + "\" could not be stored.";
        return false;
    }
    return true;
}

bool ControlMapStore::Save(const std::vector<ControlMap>& maps, const std::string& useWhich, bool enabled,
                           std::string& error)
{
    for (const ControlMap& map : maps)
        if (map.entries.size() > ControlMap::MaxEntries) {
            error = "The map \"" + map.name + "\" has more than 128 entries; nothing was stored.";
            return false;
        }
    for (const std::string& name : profile_.EnumValues(MapsKey))
        (void)profile_.DeleteValue(MapsKey, name);
    for (auto map = maps.rbegin(); map != maps.rend(); ++map)
        if (!Write(*map, error))
            return false;
    if (!profile_.WriteString(Section, "UseWhich", useWhich) ||
        !profile_.WriteInt(Section, "Enabled", enabled ? 1 : 0)) {
        error = "The control map settings could not be stored.";
        return false;
    }
    return true;
}

std::optional<ControlEntry> ControlMapStore::Learn(const ControlLearner::Heard& heard, ControlAction action,
                                                   std::string& error)
{
    if (heard.port < 0 || heard.port > 15) {
        error = "MIDI input " + std::to_string(heard.port + 1) +
                " can not be bound: a control map names only the first 16 inputs.";
        return std::nullopt;
    }
    if (heard.key == 0) {
        error = "Note 0 (C-1) can not be bound: an entry with key 0 is a controller trigger. Use another key.";
        return std::nullopt;
    }
    const ControlEntry entry =
        ControlEntry::Make(heard.port, heard.channel, std::max(heard.controller, 0), std::max(heard.key, 0), action);
    ControlMap map = ActiveMap();
    // The same trigger does one thing: a new binding replaces an old one.
    std::erase_if(map.entries,
                  [&entry](const ControlEntry& old) { return (old.bits & ~0xFFu) == (entry.bits & ~0xFFu); });
    if (map.entries.size() == ControlMap::MaxEntries) {
        error = "The map \"" + map.name + "\" already holds 128 entries; nothing was stored.";
        return std::nullopt;
    }
    map.entries.push_back(entry);
    if (!Write(map, error))
        return std::nullopt;
    return entry;
}

std::vector<std::string> ControlMapStore::Import(std::span<const uint8_t> file,
                                                 const std::function<bool(const std::string&)>& overwrite,
                                                 std::string& error)
{
    std::vector<std::string> imported;
    // The whole file is read and checked before anything is stored: a damaged file changes nothing.
    const std::vector<ControlMap> maps = ReadControlMapFile(file, error);
    if (!error.empty())
        return imported;
    for (const ControlMap& map : maps) {
        if (Find(map.name) && !overwrite(StoredControlMapName(map.name)))
            continue;
        if (!Write(map, error))
            return imported;
        imported.push_back(StoredControlMapName(map.name));
    }
    return imported;
}

} // namespace cantivo
