#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo {

// One line of a render script: at this many virtual milliseconds after the render starts, issue the
// command.
struct ScriptLine {
    int64_t milliseconds;
    uint16_t command;
    int lineNumber; // 1-based, for messages about what the command did
};

// The `--script` file of `cantivo-cli render`, lines in file order (times never go backwards).
struct RenderScript {
    std::vector<ScriptLine> lines;
    std::string error; // empty when the whole script was read; then `lines` is complete

    bool ok() const { return error.empty(); }
};

// A day of virtual time; beyond it a time is far more likely a typing slip than a real render.
inline constexpr int64_t kMaxScriptMilliseconds = 24LL * 60 * 60 * 1000;

// Lines "MILLISECONDS COMMAND", COMMAND a command's short name; blank lines and lines starting with
// "#" are comments. Stops at the first bad line: the error names it and `lines` is empty.
[[nodiscard]] RenderScript ParseRenderScript(std::string_view text);
[[nodiscard]] RenderScript ReadRenderScript(const std::string& path);

} // namespace cantivo
