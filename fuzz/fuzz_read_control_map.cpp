// Any bytes as a control map file, read and imported into a settings store holding one map. What is
// read writes out and reads back the same; a damaged file leaves the store as it was; what the store
// lists it finds again under the same name.
#include "app/ControlMapStore.h"
#include "playback/ControlMap.h"
#include "song/Profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <utility>

namespace {

using namespace cantivo;

// The settings store in memory.
class MemoryProfile final : public Profile {
  public:
    int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const override
    {
        const auto found = texts_.find({section, value});
        return found == texts_.end() ? fallback : std::atoi(found->second.c_str());
    }
    std::string GetString(const std::string& section, const std::string& value,
                          const std::string& fallback) const override
    {
        const auto found = texts_.find({section, value});
        return found == texts_.end() ? fallback : found->second;
    }
    bool WriteInt(const std::string& section, const std::string& value, int32_t number) override
    {
        texts_[{section, value}] = std::to_string(number);
        return true;
    }
    bool WriteString(const std::string& section, const std::string& value, const std::string& text) override
    {
        texts_[{section, value}] = text;
        return true;
    }
    std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const override
    {
        const auto found = binaries_.find({key, value});
        if (found == binaries_.end())
            return std::nullopt;
        return found->second;
    }
    bool WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes) override
    {
        binaries_[{key, value}] = bytes;
        return true;
    }
    std::vector<std::string> EnumValues(const std::string& key) const override
    {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : binaries_)
            if (name.first == key)
                names.push_back(name.second);
        return names;
    }
    bool DeleteValue(const std::string& key, const std::string& value) override
    {
        return binaries_.erase({key, value}) > 0;
    }
    bool Same(const MemoryProfile& other) const { return texts_ == other.texts_ && binaries_ == other.binaries_; }

  private:
    std::map<std::pair<std::string, std::string>, std::string> texts_;
    std::map<std::pair<std::string, std::string>, std::vector<uint8_t>> binaries_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    std::vector<ControlMap> read = ReadControlMapFile({data, size}, error);
    for (const ControlMap& map : read)
        if (map.entries.size() > ControlMap::MaxEntries)
            std::abort();
    if (error.empty()) {
        // Export writes the last map first, so reading the export gives the maps reversed.
        std::string again;
        std::vector<ControlMap> back = ReadControlMapFile(ControlMapFileBytes(read), again);
        std::reverse(back.begin(), back.end());
        if (!again.empty() || back != read)
            std::abort();
    }

    MemoryProfile profile;
    ControlMapStore store(profile);
    std::string stored;
    if (!store.Write({"MIDI", {ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap)}}, stored))
        std::abort();
    const MemoryProfile before = profile;
    const bool overwrite = size > 0 && (data[size - 1] & 1) != 0;
    std::string importError;
    const std::vector<std::string> imported = store.Import(
        {data, size}, [overwrite](const std::string&) { return overwrite; }, importError);
    if (importError != error)
        std::abort(); // the store refuses exactly what the reader does
    if (!importError.empty() && (!imported.empty() || !profile.Same(before)))
        std::abort(); // a damaged file changes nothing
    for (const ControlMap& map : store.Maps()) {
        const std::optional<ControlMap> found = store.Find(map.name);
        if (!found || *found != map || map.name.size() > ControlMapStore::MaxNameBytes)
            std::abort();
    }
    return 0;
}
