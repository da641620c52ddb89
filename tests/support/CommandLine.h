#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace cantivo::test {

// A word for the shell, quoted so that nothing in it is interpreted.
inline std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace cantivo::test
