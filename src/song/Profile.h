#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

// The configuration store as the core sees it: integers, strings and whole binary values by section
// and value name. A value that is absent reads as the caller's default; defaults are never written.
class Profile {
  public:
    virtual ~Profile() = default;

    virtual int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const = 0;
    virtual std::string GetString(const std::string& section, const std::string& value,
                                  const std::string& fallback) const = 0;
    virtual bool WriteInt(const std::string& section, const std::string& value, int32_t number) = 0;
    virtual bool WriteString(const std::string& section, const std::string& value, const std::string& text) = 0;

    // Binary values of the map keys ("AccelMap", "Keymap"), stored and read whole.
    virtual std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const = 0;
    virtual bool WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes) = 0;
    virtual std::vector<std::string> EnumValues(const std::string& key) const = 0;
    virtual bool DeleteValue(const std::string& key, const std::string& value) = 0;
};

// A store with nothing in it that forgets every write: for tools that must not touch the user's settings.
class EmptyProfile final : public Profile {
  public:
    int32_t GetInt(const std::string&, const std::string&, int32_t fallback) const override { return fallback; }
    std::string GetString(const std::string&, const std::string&, const std::string& fallback) const override
    {
        return fallback;
    }
    bool WriteInt(const std::string&, const std::string&, int32_t) override { return true; }
    bool WriteString(const std::string&, const std::string&, const std::string&) override { return true; }
    std::optional<std::vector<uint8_t>> GetBinary(const std::string&, const std::string&) const override
    {
        return std::nullopt;
    }
    bool WriteBinary(const std::string&, const std::string&, const std::vector<uint8_t>&) override { return true; }
    std::vector<std::string> EnumValues(const std::string&) const override { return {}; }
    bool DeleteValue(const std::string&, const std::string&) override { return true; }
};

} // namespace cantivo
