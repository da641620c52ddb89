#include "song/OpenSong.h"

#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <vector>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

// The autosaved copy read into the song under the song's own path, without the legacy settings file
// (which belongs to the song as saved). An empty or unreadable copy counts as damaged: autosave always
// writes a whole file, so nothing in it means the write was cut short.
ReadResult ReadRecoveredCopy(Song& song, const std::string& path, const std::string& recovery,
                             std::vector<uint8_t>& bytes)
{
    std::error_code error;
    try {
        if (!fs::is_regular_file(recovery, error) || !ReadFileBytes(recovery, bytes) || bytes.empty())
            return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    song.Clear();
    song.SetPathName(path);
    return ReadSongFromBytes(song, bytes.data(), bytes.size());
}

} // namespace

std::optional<std::string> RecoveryQuestion(const std::string& path)
{
    std::error_code error;
    if (!fs::exists(RecoveryPath(path), error))
        return std::nullopt;
    char text[600];
    std::snprintf(text, sizeof text, "AutoRecover files were found for %s--do you want to open them instead?",
                  path.c_str());
    return std::string(text);
}

ReadResult ReadSongRecovering(Song& song, const std::string& path, PromptAnswer answer, SaveFiles& files)
{
    const std::string recovery = RecoveryPath(path);
    if (answer == PromptAnswer::No) {
        ReadResult result = ReadSong(song, path);
        if (!files.Remove(recovery))
            result.notices.insert(result.notices.begin(),
                                  {PromptIcon::Warning, "The recovered copy " + recovery + " could not be deleted."});
        return result;
    }
    if (answer != PromptAnswer::Yes)
        return ReadSong(song, path);

    std::vector<uint8_t> bytes;
    ReadResult recovered = ReadRecoveredCopy(song, path, recovery, bytes);
    if (!recovered) {
        ReadResult result = ReadSong(song, path);
        result.notices.insert(result.notices.begin(),
                              {PromptIcon::Warning, "The recovered copy " + recovery +
                                                        " is damaged, so the saved song is opened instead; " +
                                                        recovery + " is kept."});
        return result;
    }
    // The song file is at every moment either the old song or the whole recovered one, and the old one
    // survives as the backup.
    std::string error;
    if (!ReplaceFile(files, path, bytes, BackupPath(path), error)) {
        recovered.notices.insert(recovered.notices.begin(),
                                 {PromptIcon::Warning, "The recovered copy is opened, but it could not replace " +
                                                           path + " (" + error + "); " + recovery + " is kept."});
        return recovered;
    }
    std::vector<ReadNotice> cleanup;
    if (!files.Remove(recovery))
        cleanup.push_back({PromptIcon::Warning, "The recovered copy " + recovery + " could not be deleted."});
    // The legacy settings file described the song as it was and would spoil the recovered one.
    const std::string settings = SongSettingsPath(path);
    if (!files.Remove(settings))
        cleanup.push_back({PromptIcon::Warning, "The old settings file " + settings + " could not be deleted."});
    recovered.notices.insert(recovered.notices.begin(), cleanup.begin(), cleanup.end());
    return recovered;
}

ReadResult ReadSongRecovering(Song& song, const std::string& path, PromptAnswer answer)
{
    DiskSaveFiles files;
    return ReadSongRecovering(song, path, answer, files);
}

bool OpenSong(Song& song, const std::string& path, Prompter& prompter)
{
    PromptAnswer answer = PromptAnswer::NotAsked;
    if (const std::optional<std::string> question = RecoveryQuestion(path))
        answer = prompter.AskOrDecline(*question, PromptButtons::OkCancel, PromptIcon::Question);
    const ReadResult result = ReadSongRecovering(song, path, answer);
    for (const ReadNotice& notice : result.notices)
        prompter.Show(notice.text, notice.icon);
    return result.ok;
}

} // namespace cantivo
