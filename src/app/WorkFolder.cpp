#include "app/WorkFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace cantivo {

WorkFolder::WorkFolder()
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path base = fs::temp_directory_path(error); // $TMPDIR, else /tmp
    if (error)
        base = "/tmp";
    std::string pattern = (base / "cantivo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = "The working folder can not be made in " + base.string() + ": " + std::strerror(errno) + ".";
        return;
    }
    root_ = pattern;
    const std::string folder = root_ + "/undoredo.wav";
    if (::mkdir(folder.c_str(), 0700) != 0) {
        error_ = "The working folder " + folder + " can not be made: " + std::strerror(errno) + ".";
        fs::remove_all(root_, error);
        root_.clear();
        return;
    }
    path_ = folder;
}

WorkFolder::~WorkFolder()
{
    if (root_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

} // namespace cantivo
