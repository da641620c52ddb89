#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cantivo {

// The songs a set file lists, in set order, as it stored them (empty paths included).
struct SetFileContents {
    int32_t count = 0;              // what the file says it holds
    std::vector<std::string> paths; // UTF-8; the entries that could be read
    bool truncated = false;         // the file ended inside the entries
};

inline constexpr uint16_t SetFileVersion = 101;
// "Cantivo Set" files: the document string of the set document.
inline constexpr const char* SetDocumentString =
    "Cantivo\nUntitled\nCantivo Set\nCantivo Sets (*.set)\n.set\nCantivo.Set\nCantivo Set";

// Reads a set file's bytes. A file too short for its header is not a set file (false, with the
// reason); a file that ends inside its entries gives the entries before the cut. Paths that are not
// UTF-8 are read as Windows-1252, the UTF-16 form of a string is converted.
[[nodiscard]] bool ParseSetFile(std::span<const uint8_t> bytes, SetFileContents& contents, std::string& error);
// The file for these paths, one entry per position, the paths written as UTF-8.
std::vector<uint8_t> SetFileBytes(const std::vector<std::string>& paths);

// The file name of a stored path, which may come from Windows: split at the last "\" or "/".
std::string StoredPathName(const std::string& path);

} // namespace cantivo
