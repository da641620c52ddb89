#include "song/SongFileNames.h"

#include <algorithm>
#include <cctype>

namespace cantivo {

namespace fs = std::filesystem;

std::string AsciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

namespace {

std::string Lower(const std::string& text)
{
    return AsciiLower(text);
}

// The position of the file name's last dot, or npos when the name has none. A '\' counts as a
// separator too: names read from older files may carry one.
size_t ExtensionDot(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return std::string::npos;
    return dot;
}

} // namespace

std::string StripKnownExtension(const std::string& name)
{
    const size_t dot = ExtensionDot(name);
    if (dot == std::string::npos)
        return name;
    static constexpr const char* Known[] = {"mid", "midi", "kar", "set", "smf", "rss"};
    const std::string extension = Lower(name.substr(dot + 1));
    for (const char* known : Known)
        if (extension == known)
            return name.substr(0, dot);
    return name;
}

std::string SongSettingsPath(const std::string& songPath)
{
    const size_t dot = ExtensionDot(songPath);
    return (dot == std::string::npos ? songPath : songPath.substr(0, dot)) + ".cv";
}

std::string RecoveryPath(const std::string& songPath)
{
    return StripKnownExtension(songPath) + ".sav";
}

std::string BackupPath(const std::string& songPath)
{
    return StripKnownExtension(songPath) + ".bak";
}

std::string TitleFileName(const std::string& title)
{
    std::string name = title;
    for (char& c : name) {
        switch (c) {
        case '"':
            c = '\'';
            break;
        case '=':
            c = '-';
            break;
        case '[':
            c = '{';
            break;
        case ']':
            c = '}';
            break;
        case '?':
        case '*':
        case '.':
        case '/':
        case '\\':
        case ':':
        case ';':
        case ',':
            c = '_';
            break;
        default:
            break;
        }
    }
    return name;
}

bool HasExtension(const fs::path& path, const std::string& extension)
{
    return Lower(path.extension().string()) == Lower(extension);
}

} // namespace cantivo
