#pragma once

#include "song/SongContext.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cantivo::test {

// A profile held in memory: what tests write is what they read back.
class MemoryProfile final : public Profile {
  public:
    int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const override;
    std::string GetString(const std::string& section, const std::string& value,
                          const std::string& fallback) const override;
    bool WriteInt(const std::string& section, const std::string& value, int32_t number) override;
    bool WriteString(const std::string& section, const std::string& value, const std::string& text) override;
    std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const override;
    bool WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes) override;
    std::vector<std::string> EnumValues(const std::string& key) const override;
    bool DeleteValue(const std::string& key, const std::string& value) override;

  private:
    std::map<std::pair<std::string, std::string>, std::string> strings_;
    std::map<std::pair<std::string, std::string>, std::vector<uint8_t>> binaries_;
};

// Answers questions from a script (then with the default answer) and records every text it was given.
class ScriptedPrompter final : public Prompter {
  public:
    bool Ask(const std::string& text, PromptButtons buttons, PromptIcon icon) override;
    void Show(const std::string& text, PromptIcon icon) override;

    std::vector<bool> answers; // consumed front to back
    bool defaultAnswer = false;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
};

class FixedClock final : public Clock {
  public:
    uint32_t Milliseconds() const override { return now; }
    uint32_t now = 0x1000;
};

// Everything a song needs, private to one test.
struct TestContext {
    MemoryProfile profile;
    ScriptedPrompter prompter;
    FixedClock clock;
    NoAudioFiles audio;
    SongContext Context() { return SongContext{&profile, &prompter, &clock, &audio, {}}; }
};

} // namespace cantivo::test
