#pragma once

#include "song/Profile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cantivo {

// A stored value that the options sheet shows differently from how it is stored: out of its range, or
// rounded to what the control can show. The store keeps the old value until OK.
struct AdjustedValue {
    std::string section;
    std::string value;
    std::string stored;
    std::string shown;
    bool operator==(const AdjustedValue&) const = default;
};

struct SettingKey {
    std::string section;
    std::string value;
    bool operator==(const SettingKey&) const = default;
};

// Reads the values of one options page and notes every value it had to bring into range.
class OptionsReader {
  public:
    OptionsReader(const Profile& profile, std::vector<AdjustedValue>& adjusted) : profile_(profile), adjusted_(adjusted)
    {
    }

    // A check box: 0 or 1; any other number counts as the nearer of them.
    bool Check(const std::string& section, const std::string& value, bool fallback);
    int32_t Range(const std::string& section, const std::string& value, int32_t fallback, int32_t low, int32_t high);
    int32_t Int(const std::string& section, const std::string& value, int32_t fallback) const
    {
        return profile_.GetInt(section, value, fallback);
    }
    std::string Text(const std::string& section, const std::string& value, const std::string& fallback) const
    {
        return profile_.GetString(section, value, fallback);
    }
    // Notes a value the page changed on its own, for the report.
    void Adjusted(const std::string& section, const std::string& value, const std::string& stored,
                  const std::string& shown);

    const Profile& Store() const { return profile_; }

  private:
    const Profile& profile_;
    std::vector<AdjustedValue>& adjusted_;
};

// The store as the pages write it on OK: every write goes through to `target`, and the keys whose
// stored value changed (or that were absent) and the writes that failed are remembered.
class OptionsWriter final : public Profile {
  public:
    explicit OptionsWriter(Profile& target) : target_(target) {}

    int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const override
    {
        return target_.GetInt(section, value, fallback);
    }
    std::string GetString(const std::string& section, const std::string& value,
                          const std::string& fallback) const override
    {
        return target_.GetString(section, value, fallback);
    }
    bool WriteInt(const std::string& section, const std::string& value, int32_t number) override;
    bool WriteString(const std::string& section, const std::string& value, const std::string& text) override;
    std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const override
    {
        return target_.GetBinary(key, value);
    }
    bool WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes) override
    {
        return target_.WriteBinary(key, value, bytes);
    }
    std::vector<std::string> EnumValues(const std::string& key) const override { return target_.EnumValues(key); }
    bool DeleteValue(const std::string& key, const std::string& value) override
    {
        return target_.DeleteValue(key, value);
    }

    const std::vector<SettingKey>& Changed() const { return changed_; }
    const std::vector<SettingKey>& Failed() const { return failed_; }

  private:
    void Note(const std::string& section, const std::string& value, bool changed, bool written);

    Profile& target_;
    std::vector<SettingKey> changed_;
    std::vector<SettingKey> failed_;
};

// The number of characters (not bytes) of UTF-8 text, and its first `count` characters.
size_t CharacterCount(const std::string& text);
std::string FirstCharacters(const std::string& text, size_t count);

} // namespace cantivo
