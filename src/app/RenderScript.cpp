#include "app/RenderScript.h"

#include "app/CommandTable.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace cantivo {
namespace {

// A script is a few hundred lines; anything this large is the wrong file.
constexpr size_t kMaxScriptBytes = 16 * 1024 * 1024;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

RenderScript Failure(int lineNumber, const std::string& message)
{
    return {{}, "script line " + std::to_string(lineNumber) + ": " + message};
}

} // namespace

RenderScript ParseRenderScript(std::string_view text)
{
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    RenderScript script;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = TrimBlanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }

        size_t timeEnd = 0;
        while (timeEnd < line.size() && !IsBlank(line[timeEnd])) {
            ++timeEnd;
        }
        const std::string_view time = line.substr(0, timeEnd);
        const std::string_view name = TrimBlanks(line.substr(timeEnd));
        if (name.empty()) {
            return Failure(lineNumber, "expected \"MILLISECONDS COMMAND\"");
        }
        if (time.starts_with('-') && AllDigits(time.substr(1))) {
            return Failure(lineNumber, "the time " + std::string(time) + " is negative; times count from 0");
        }
        if (!AllDigits(time)) {
            return Failure(lineNumber, "the time \"" + std::string(time) + "\" is not a whole number of milliseconds");
        }
        int64_t milliseconds = 0;
        const auto [rest, status] = std::from_chars(time.data(), time.data() + time.size(), milliseconds);
        if (status != std::errc() || milliseconds > kMaxScriptMilliseconds) {
            return Failure(lineNumber, "the time " + std::string(time) + " is too large; the most is " +
                                           std::to_string(kMaxScriptMilliseconds) + " (24 hours)");
        }
        const CommandInfo* command = FindCommandByShortName(name);
        if (!command) {
            return Failure(lineNumber, "unknown command \"" + std::string(name) + "\"");
        }
        if (!script.lines.empty() && milliseconds < script.lines.back().milliseconds) {
            return Failure(lineNumber, "the time " + std::to_string(milliseconds) + " is before the previous line's " +
                                           std::to_string(script.lines.back().milliseconds) +
                                           "; times must not go backwards");
        }
        script.lines.push_back({milliseconds, command->id, lineNumber});
    }
    return script;
}

RenderScript ReadRenderScript(const std::string& path)
{
    auto cannotRead = [&path](const std::string& why) {
        return RenderScript{{}, "cannot read the script \"" + path + "\": " + why};
    };
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return cannotRead(std::strerror(errno));
    }
    std::string text;
    char buffer[8192];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (text.size() + got > kMaxScriptBytes) {
            return cannotRead("it is larger than 16 MiB, too large for a script");
        }
        text.append(buffer, got);
    }
    if (std::ferror(file.get())) {
        return cannotRead(std::strerror(errno));
    }
    return ParseRenderScript(text);
}

} // namespace cantivo
