#pragma once

#include <filesystem>
#include <string>

namespace cantivo {

// The names of a song's companion files. Each takes the song's path as it stands (a name without a
// known extension keeps its whole name) and works on the file name only, never on a folder's dots.

// Removes ".mid", ".midi", ".kar", ".set", ".smf" or ".rss" (any case) from the end of a name.
std::string StripKnownExtension(const std::string& name);
// The text with its ASCII letters in lower case, for comparing names as the file systems of other
// systems do.
std::string AsciiLower(std::string text);
// The legacy settings file: the path up to the last '.' of the file name, then ".cv".
std::string SongSettingsPath(const std::string& songPath);
// The autosave and recovery file: the song's name without its known extension, then ".sav".
std::string RecoveryPath(const std::string& songPath);
// The backup a save keeps: the song's name without its known extension, then ".bak".
std::string BackupPath(const std::string& songPath);
// The file name a song title gives: characters that cannot stand in a file name are replaced.
std::string TitleFileName(const std::string& title);
// True when the extension of `path` is `extension` (with its dot), in any case.
bool HasExtension(const std::filesystem::path& path, const std::string& extension);

} // namespace cantivo
