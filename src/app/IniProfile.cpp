#include "app/IniProfile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantivo {

namespace {

// A settings file is a few kilobytes; anything far larger is not one of ours.
constexpr off_t MaxFileSize = 16 * 1024 * 1024;

enum class Field { SectionName, ValueName, Value };

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

void AppendHexByte(std::string& out, unsigned char byte)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    out += Digits[byte >> 4];
    out += Digits[byte & 15];
}

std::string Escape(const std::string& text, Field field)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool atEdge = i == 0 || i + 1 == text.size();
        bool hex = false;
        if (c == '\\') {
            out += "\\\\";
            continue;
        }
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        if (c == '\t') {
            out += "\\t";
            continue;
        }
        if (c < 0x20 || c == 0x7F)
            hex = true;
        else if (c == ' ' && atEdge)
            hex = true; // blanks at the ends are trimmed when the file is read
        else if (field == Field::ValueName && c == '=')
            hex = true;
        else if (field == Field::SectionName && c == ']')
            hex = true;
        else if (field != Field::Value && i == 0 && (c == ';' || c == '#' || c == '['))
            hex = true; // would read as a comment or a section
        if (hex) {
            out += "\\x";
            AppendHexByte(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// An unknown escape keeps its backslash, so a hand-typed Windows path survives as far as it can.
std::string Unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[i + 1];
        if (next == '\\') {
            out += '\\';
            ++i;
        } else if (next == 'n') {
            out += '\n';
            ++i;
        } else if (next == 'r') {
            out += '\r';
            ++i;
        } else if (next == 't') {
            out += '\t';
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 && HexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            out += '\\';
        }
    }
    return out;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string HexText(const std::vector<uint8_t>& bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes)
        AppendHexByte(out, byte);
    return out;
}

std::optional<std::vector<uint8_t>> HexBytes(const std::string& text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

} // namespace

IniProfile::IniProfile(std::string path) : path_(std::move(path))
{
    Reload();
}

std::string IniProfile::ResolvePath(const std::string& configOption)
{
    if (!configOption.empty())
        return configOption;
    if (const char* config = std::getenv("CANTIVO_CONFIG"); config && *config)
        return config;
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/Cantivo/Cantivo.ini";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        home = entry->pw_dir;
    if (home.empty())
        home = ".";
    return home + "/.config/Cantivo/Cantivo.ini";
}

std::optional<std::string> IniProfile::TakeWarning()
{
    std::optional<std::string> warning;
    warning.swap(warning_);
    return warning;
}

void IniProfile::Reload()
{
    std::vector<Section> sections;
    std::string problem;
    switch (Load(sections, problem)) {
    case LoadResult::Loaded:
        sections_ = std::move(sections);
        damaged_ = false;
        break;
    case LoadResult::Missing:
        sections_.clear();
        damaged_ = false;
        break;
    case LoadResult::Failed:
        if (!damaged_)
            warning_ = "The settings file " + path_ + " " + problem +
                       "; the default settings are used, and the file is kept as " + path_ +
                       ".bad when a setting is changed.";
        // Keep what was read before: at start that is nothing, later it is the last good state.
        damaged_ = true;
        break;
    }
}

IniProfile::LoadResult IniProfile::Load(std::vector<Section>& sections, std::string& problem) const
{
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return LoadResult::Missing;
        problem = "can not be read (" + ErrnoText(errno) + ")";
        return LoadResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxFileSize) {
        ::close(fd);
        problem = "is not a settings file";
        return LoadResult::Failed;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = "can not be read (" + ErrnoText(errno) + ")";
            ::close(fd);
            return LoadResult::Failed;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(MaxFileSize)) {
            ::close(fd);
            problem = "is not a settings file";
            return LoadResult::Failed;
        }
    }
    ::close(fd);

    if (text.find('\0') != std::string::npos) {
        problem = "is not a text file";
        return LoadResult::Failed;
    }
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);

    Section* current = nullptr;
    int lineNumber = 0;
    while (!rest.empty()) {
        const size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        ++lineNumber;
        line = Trim(line);
        if (!line.empty() && line.back() == '\r')
            line = Trim(line.substr(0, line.size() - 1));
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        const std::string where = "is damaged (line " + std::to_string(lineNumber) + ")";
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 2) {
                problem = where;
                return LoadResult::Failed;
            }
            const std::string name = Unescape(Trim(line.substr(1, line.size() - 2)));
            auto found = std::find_if(sections.begin(), sections.end(),
                                      [&](const Section& section) { return SameName(section.name, name); });
            if (found == sections.end()) {
                sections.push_back(Section{name, {}});
                current = &sections.back();
            } else {
                current = &*found;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || current == nullptr) {
            problem = where;
            return LoadResult::Failed;
        }
        std::string name = Unescape(Trim(line.substr(0, equals)));
        std::string value = Unescape(Trim(line.substr(equals + 1)));
        auto found = std::find_if(current->values.begin(), current->values.end(),
                                  [&](const auto& entry) { return SameName(entry.first, name); });
        if (found == current->values.end())
            current->values.emplace_back(std::move(name), std::move(value));
        else
            found->second = std::move(value); // the last of duplicates counts
    }
    return LoadResult::Loaded;
}

const std::string* IniProfile::Find(const std::string& section, const std::string& value) const
{
    for (const Section& candidate : sections_) {
        if (!SameName(candidate.name, section))
            continue;
        for (const auto& entry : candidate.values)
            if (SameName(entry.first, value))
                return &entry.second;
    }
    return nullptr;
}

int32_t IniProfile::GetInt(const std::string& section, const std::string& value, int32_t fallback) const
{
    const std::string* text = Find(section, value);
    if (!text)
        return fallback;
    // Accept the range of a registry DWORD too, so a hand-typed 4294967295 reads as −1.
    int64_t number = 0;
    const char* end = text->data() + text->size();
    const bool plus = text->starts_with('+') && !text->starts_with("+-");
    const auto [stop, error] = std::from_chars(text->data() + (plus ? 1 : 0), end, number);
    if (error != std::errc() || stop != end || number < INT32_MIN || number > UINT32_MAX)
        return fallback;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

std::string IniProfile::GetString(const std::string& section, const std::string& value,
                                  const std::string& fallback) const
{
    const std::string* text = Find(section, value);
    return text ? *text : fallback;
}

bool IniProfile::WriteInt(const std::string& section, const std::string& value, int32_t number)
{
    return Change(section, value, std::to_string(number));
}

bool IniProfile::WriteString(const std::string& section, const std::string& value, const std::string& text)
{
    return Change(section, value, text);
}

std::optional<std::vector<uint8_t>> IniProfile::GetBinary(const std::string& key, const std::string& value) const
{
    const std::string* text = Find(MapSection(key), value);
    if (!text)
        return std::nullopt;
    return HexBytes(*text);
}

bool IniProfile::WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes)
{
    return Change(MapSection(key), value, HexText(bytes));
}

std::vector<std::string> IniProfile::EnumValues(const std::string& key) const
{
    std::vector<std::string> names;
    const std::string section = MapSection(key);
    for (const Section& candidate : sections_)
        if (SameName(candidate.name, section))
            for (const auto& entry : candidate.values)
                names.push_back(entry.first);
    return names;
}

bool IniProfile::DeleteValue(const std::string& key, const std::string& value)
{
    return Change(MapSection(key), value, std::nullopt);
}

bool IniProfile::Change(const std::string& section, const std::string& value, const std::optional<std::string>& text)
{
    lastError_.clear();
    // Start from the file as it is now, so settings another process wrote meanwhile are kept.
    Reload();
    std::vector<Section> changed = sections_;
    auto owner = std::find_if(changed.begin(), changed.end(),
                              [&](const Section& candidate) { return SameName(candidate.name, section); });
    if (owner == changed.end()) {
        if (!text) {
            lastError_ = "There is no value " + value + " under " + section + ".";
            return false;
        }
        changed.push_back(Section{section, {}});
        owner = changed.end() - 1;
    }
    auto entry = std::find_if(owner->values.begin(), owner->values.end(),
                              [&](const auto& candidate) { return SameName(candidate.first, value); });
    if (!text) {
        if (entry == owner->values.end()) {
            lastError_ = "There is no value " + value + " under " + section + ".";
            return false;
        }
        owner->values.erase(entry);
        if (owner->values.empty())
            changed.erase(owner);
    } else if (entry == owner->values.end()) {
        owner->values.emplace_back(value, *text);
    } else if (entry->second == *text) {
        return true; // nothing to write
    } else {
        entry->second = *text;
    }
    if (!Save(changed))
        return false;
    sections_ = std::move(changed);
    return true;
}

bool IniProfile::Save(const std::vector<Section>& sections)
{
    namespace fs = std::filesystem;
    std::string text = "; Cantivo settings\n";
    for (const Section& section : sections) {
        text += "\n[" + Escape(section.name, Field::SectionName) + "]\n";
        for (const auto& [name, value] : section.values)
            text += Escape(name, Field::ValueName) + "=" + Escape(value, Field::Value) + "\n";
    }

    const fs::path target(path_);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        lastError_ = "The folder " + folder.string() + " can not be made: " + error.message() + ".";
        return false;
    }

    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        lastError_ = "The settings can not be written to " + folder.string() + ": " + ErrnoText(errno) + ".";
        return false;
    }
    struct stat existing {};
    if (::stat(path_.c_str(), &existing) == 0)
        (void)::fchmod(fd, existing.st_mode & 07777); // keep the permissions the user gave the file
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        lastError_ =
            "The settings can not be written to " + temporary + ": " + ErrnoText(written ? errno : writeError) + ".";
        ::unlink(temporary.c_str());
        return false;
    }
    if (damaged_ && ::access(path_.c_str(), F_OK) == 0) {
        // Keep the unreadable file for the user instead of replacing it unseen.
        if (::rename(path_.c_str(), (path_ + ".bad").c_str()) != 0) {
            lastError_ = "The damaged settings file " + path_ + " can not be kept aside: " + ErrnoText(errno) + ".";
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), path_.c_str()) != 0) {
        lastError_ = "The settings file " + path_ + " can not be replaced: " + ErrnoText(errno) + ".";
        ::unlink(temporary.c_str());
        return false;
    }
    damaged_ = false;
    // Make the rename itself durable.
    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
        (void)::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

} // namespace cantivo
