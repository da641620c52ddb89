#include "support/TestContext.h"

#include <cstdlib>

namespace cantivo::test {

int32_t MemoryProfile::GetInt(const std::string& section, const std::string& value, int32_t fallback) const
{
    auto found = strings_.find({section, value});
    return found == strings_.end() ? fallback : static_cast<int32_t>(std::strtol(found->second.c_str(), nullptr, 10));
}

std::string MemoryProfile::GetString(const std::string& section, const std::string& value,
                                     const std::string& fallback) const
{
    auto found = strings_.find({section, value});
    return found == strings_.end() ? fallback : found->second;
}

bool MemoryProfile::WriteInt(const std::string& section, const std::string& value, int32_t number)
{
    strings_[{section, value}] = std::to_string(number);
    return true;
}

bool MemoryProfile::WriteString(const std::string& section, const std::string& value, const std::string& text)
{
    strings_[{section, value}] = text;
    return true;
}

std::optional<std::vector<uint8_t>> MemoryProfile::GetBinary(const std::string& key, const std::string& value) const
{
    auto found = binaries_.find({key, value});
    if (found == binaries_.end())
        return std::nullopt;
    return found->second;
}

bool MemoryProfile::WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes)
{
    binaries_[{key, value}] = bytes;
    return true;
}

std::vector<std::string> MemoryProfile::EnumValues(const std::string& key) const
{
    std::vector<std::string> names;
    for (const auto& [name, bytes] : binaries_)
        if (name.first == key)
            names.push_back(name.second);
    return names;
}

bool MemoryProfile::DeleteValue(const std::string& key, const std::string& value)
{
    return binaries_.erase({key, value}) > 0 || strings_.erase({key, value}) > 0;
}

bool ScriptedPrompter::Ask(const std::string& text, PromptButtons, PromptIcon)
{
    questions.push_back(text);
    if (answers.empty())
        return defaultAnswer;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

void ScriptedPrompter::Show(const std::string& text, PromptIcon)
{
    messages.push_back(text);
}

} // namespace cantivo::test
