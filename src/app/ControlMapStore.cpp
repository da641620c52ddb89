#include "app/ControlMapStore.h"

#include "song/Profile.h"

#include <algorithm>

namespace cantivo {

namespace {

constexpr const char* Section = "KeyMap";
constexpr const char* MapsKey = "Keymap";

} // namespace

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
        maps.push_back({name.substr(0, 99), bytes ? ControlEntriesFromBytes(*bytes) : std::vector<ControlEntry>{}});
    }
    return maps;
}

std::optional<ControlMap> ControlMapStore::Find(const std::string& name) const
{
    const auto bytes = profile_.GetBinary(MapsKey, name);
    if (!bytes)
        return std::nullopt;
    return ControlMap{name, ControlEntriesFromBytes(*bytes)};
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
    if (!profile_.WriteBinary(MapsKey, map.name, ControlEntriesToBytes(map.entries))) {
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

std::vector<std::string> ControlMapStore::Import(std::span<const uint8_t> file,
                                                 const std::function<bool(const std::string&)>& overwrite,
                                                 std::string& error)
{
    std::vector<std::string> imported;
    std::string readError;
    const std::vector<ControlMap> maps = ReadControlMapFile(file, readError);
    for (const ControlMap& map : maps) {
        if (Find(map.name) && !overwrite(map.name))
            continue;
        if (!Write(map, error))
            return imported;
        imported.push_back(map.name);
    }
    error = readError;
    return imported;
}

} // namespace cantivo
