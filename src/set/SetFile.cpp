#include "set/SetFile.h"

#include "song/ArchiveBytes.h"

namespace cantivo {

bool ParseSetFile(std::span<const uint8_t> bytes, SetFileContents& contents, std::string& error)
{
    contents = {};
    ArchiveReader reader(bytes);
    if (!reader.Left(6)) {
        error = "the file is too short to be a set file (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    contents.count = static_cast<int32_t>(reader.Take(4));
    (void)reader.Take(2); // the format version: every version reads the same
    // The count is a promise the bytes must keep: each entry takes at least five.
    for (int32_t i = 0; i < contents.count; ++i) {
        std::string path;
        if (!reader.Left(4)) {
            contents.truncated = true;
            break;
        }
        (void)reader.Take(4);
        if (!reader.CountedString(path)) {
            contents.truncated = true;
            break;
        }
        contents.paths.push_back(std::move(path));
    }
    return true;
}

std::vector<uint8_t> SetFileBytes(const std::vector<std::string>& paths)
{
    std::vector<uint8_t> out;
    PutArchiveNumber(out, static_cast<uint32_t>(paths.size()), 4);
    PutArchiveNumber(out, SetFileVersion, 2);
    for (const std::string& path : paths) {
        PutArchiveNumber(out, 0, 4);
        PutCountedString(out, path);
    }
    PutArchiveNumber(out, 0, 4);
    return out;
}

std::string StoredPathName(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace cantivo
