#include "set/Trash.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

fs::path TrashFolder()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return fs::path(data) / "Trash";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/tmp") / ".local" / "share" / "Trash";
}

// The path as the info file wants it: absolute, with bytes outside the unreserved set %-escaped.
std::string Escaped(const std::string& path)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

} // namespace

bool MoveToTrash(const std::string& path, std::string& error)
{
    std::error_code code;
    const fs::path item = fs::absolute(path, code);
    if (code || !fs::exists(item, code)) {
        error = path + ": there is no such file";
        return false;
    }
    const fs::path trash = TrashFolder();
    fs::create_directories(trash / "files", code);
    fs::create_directories(trash / "info", code);
    if (code) {
        error = (trash / "files").string() + ": " + code.message();
        return false;
    }
    // A free name in the trash: the item's own, else with a number before its extension.
    const std::string stem = item.stem().string(), extension = item.extension().string();
    std::string name = item.filename().string();
    for (int n = 2;
         fs::exists(trash / "files" / name, code) || fs::exists(trash / "info" / (name + ".trashinfo"), code); ++n)
        name = stem + "." + std::to_string(n) + extension;
    // The info file first, made exclusively, so two programs never take the same name.
    const fs::path info = trash / "info" / (name + ".trashinfo");
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    {
        std::ofstream out(info, std::ios::out | std::ios::trunc);
        out << "[Trash Info]\nPath=" << Escaped(item.string()) << "\nDeletionDate=" << date << "\n";
        if (!out) {
            error = info.string() + ": the trash information cannot be written";
            return false;
        }
    }
    fs::rename(item, trash / "files" / name, code);
    if (code == std::errc::cross_device_link) {
        // Another file system: the trash of the home folder takes a copy.
        code.clear();
        fs::copy(item, trash / "files" / name, fs::copy_options::recursive, code);
        if (!code)
            fs::remove_all(item, code);
    }
    if (code) {
        error = path + ": cannot be moved to the trash (" + code.message() + ")";
        fs::remove(info, code);
        return false;
    }
    return true;
}

} // namespace cantivo
