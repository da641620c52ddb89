#include "set/DataFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace cantivo {

namespace fs = std::filesystem;

std::string FindDataFolder(const std::string& executable)
{
    std::error_code code;
    if (const char* set = std::getenv("CANTIVO_DATA_DIR"); set != nullptr && *set != 0)
        return fs::is_directory(set, code) ? std::string(set) : std::string();
    const fs::path installed = fs::path(executable).parent_path().parent_path() / "share" / "cantivo";
    if (!executable.empty() && fs::is_directory(installed, code))
        return installed.string();
#ifdef CANTIVO_SOURCE_DATA
    if (fs::is_directory(CANTIVO_SOURCE_DATA, code))
        return CANTIVO_SOURCE_DATA;
#endif
    return "";
}

std::string FindDataFolder()
{
    std::error_code code;
    const fs::path self = fs::read_symlink("/proc/self/exe", code);
    return FindDataFolder(code ? std::string() : self.string());
}

} // namespace cantivo
