#include "song/MidiFileWriter.h"

#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "song/SongFileNames.h"
#include "song/TrackEncoder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

std::string Hex8(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The extension of the file name proper, lower-cased and without its dot.
std::string LowerExtension(const std::string& fileName)
{
    std::string extension = fs::path(fileName).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool IsInUndoFolder(const SongContext& context, const std::string& fileName)
{
    return (!context.undoFolder.empty() && fileName.rfind(context.undoFolder, 0) == 0) ||
           fileName.find("undoredo.wav") != std::string::npos;
}

// Opens the clip at its file again after a move. A clip that was open and will not open again stays
// silent, so the user is told which file it is; one that was closed already was reported when read.
void ReopenClip(const SongContext& context, AudioClip& clip, bool wasOpen)
{
    if (!context.audio)
        return;
    uint32_t code = 0;
    if (clip.Open(*context.audio, code) || !wasOpen)
        return;
    char text[600];
    std::snprintf(text, sizeof text, ReopenClipErrorFormat, clip.fileName.c_str(), code);
    context.prompter->Show(text, PromptIcon::Warning);
}

// Gives the clip's audio the file `target`: a rewritten clip is written out there and its old file
// deleted (unless `keepOld`), another clip's file is moved, or copied when `keepOld`. Returns the
// system error code; the clip keeps its file and is open again either way.
[[nodiscard]] std::error_code RelocateClip(const SongContext& context, SaveFiles& files, AudioClip& clip,
                                           const std::string& target, bool keepOld = false)
{
    const bool wasOpen = clip.IsOpen();
    if (clip.rewrite) {
        std::string error;
        if (!clip.WriteCopy(target, error))
            return std::make_error_code(std::errc::io_error);
        const std::string old = clip.fileName;
        clip.Close();
        // The audio now lives at the target; an old file that stays only takes space.
        if (!keepOld)
            (void)files.Remove(old);
        clip.fileName = target;
        clip.rewrite = false;
        ReopenClip(context, clip, wasOpen);
        return {};
    }
    clip.Close();
    const std::error_code error =
        keepOld ? files.CopyNoReplace(clip.fileName, target) : MoveFile(files, clip.fileName, target);
    if (!error)
        clip.fileName = target;
    ReopenClip(context, clip, wasOpen);
    return error;
}

bool SameFolder(const std::string& a, const std::string& b)
{
    std::error_code error;
    const auto normal = [&](const std::string& folder) {
        const fs::path path = folder.empty() ? fs::path(".") : fs::path(folder);
        fs::path canonical = fs::weakly_canonical(path, error);
        return (error ? path.lexically_normal() : canonical).lexically_normal() / "";
    };
    return normal(a) == normal(b);
}

// The folder of the song whose "WaveData" holds the clip: the clip is saved by its name from
// "WaveData" on, relative to the saved song's folder. None for a clip saved by its full name.
std::optional<std::string> OwningSongFolder(const AudioClip& clip)
{
    const size_t relative = clip.fileName.find("WaveData");
    if (relative == std::string::npos || relative == 0)
        return std::nullopt;
    return clip.fileName.substr(0, relative);
}

std::string UndoFolderClipName(const SongContext& context, const std::string& source)
{
    const std::string extension = LowerExtension(source);
    uint32_t number = context.clock->Milliseconds();
    for (int tries = 0; tries < 100000; ++tries, ++number) {
        std::string candidate = (fs::path(context.undoFolder) / Hex8(number)).string();
        if (!extension.empty())
            candidate += "." + extension;
        std::error_code error;
        if (fs::symlink_status(candidate, error).type() == fs::file_type::not_found)
            return candidate;
    }
    return {};
}

std::string SettingsFileLeftText(const std::string& settingsPath)
{
    return "The song was saved, but its old settings file " + settingsPath +
           " could not be deleted. Delete it by hand: it holds older track settings that would be applied "
           "when the song is opened again.";
}

void ReportMoveError(const SongContext& context, std::error_code code)
{
    char text[64];
    std::snprintf(text, sizeof text, MoveClipErrorFormat, static_cast<uint32_t>(code.value()));
    context.prompter->Show(text, PromptIcon::Error);
}

// Clips that only the undo history still holds leave the song folder for the undo folder; clips of
// the song's audio tracks that live in the undo folder (or must be rewritten) come into "WaveData" of
// the folder the song is saved to. A save under another name leaves the old file naming its clips, so
// their files stay where they are, and a clip kept in another song's folder is copied along. A step
// may share a clip's file with the song (applying offsets copies the events): the file stays with the
// song, and the step's copy follows it when it moves.
void MoveClipFiles(Song& song, SaveFiles& files, const std::string& path)
{
    const SongContext& context = song.Context();
    const std::string targetFolder = fs::path(path).parent_path().string();
    const bool saveAs = !song.pathName.empty() && song.pathName != path;
    std::set<std::string> played;
    for (const auto& track : song.tracks)
        for (const SongEvent& event : track->events)
            if (const AudioClip* clip = event.ClipData())
                played.insert(clip->fileName);
    std::multimap<std::string, AudioClip*> held;
    if (song.history) {
        song.history->ForEachHeldClip([&](AudioClip& clip) {
            if (played.contains(clip.fileName)) {
                held.emplace(clip.fileName, &clip);
                return;
            }
            if (context.undoFolder.empty() || saveAs ||
                (!clip.rewrite && clip.fileName.find("undoredo.wav") != std::string::npos))
                return;
            const std::string target = UndoFolderClipName(context, clip.fileName);
            if (target.empty())
                return;
            if (const std::error_code code = RelocateClip(context, files, clip, target))
                ReportMoveError(context, code);
        });
    }
    for (int number = song.UserTrackCount(); number >= 1; --number) {
        Track& track = *song.tracks[static_cast<size_t>(number)];
        if (!track.IsAudio())
            continue;
        for (SongEvent& event : track.events) {
            AudioClip* clip = event.ClipData();
            if (!clip)
                continue;
            const bool fromUndo = IsInUndoFolder(context, clip->fileName);
            const std::optional<std::string> owner = OwningSongFolder(*clip);
            const bool foreign = !fromUndo && owner && !SameFolder(*owner, targetFolder);
            if (!clip->rewrite && !fromUndo && !foreign)
                continue;
            const std::string target = song.NewClipFileName(clip->fileName, targetFolder);
            if (target.empty()) {
                ReportMoveError(context, std::make_error_code(std::errc::no_such_file_or_directory));
                continue;
            }
            const std::string old = clip->fileName;
            const auto [first, last] = held.equal_range(old);
            const bool moves = !clip->rewrite && !foreign;
            const bool keepOld = foreign || (clip->rewrite && first != last);
            if (const std::error_code code = RelocateClip(context, files, *clip, target, keepOld)) {
                ReportMoveError(context, code);
                continue;
            }
            for (auto it = first; moves && it != last; ++it) {
                AudioClip& copy = *it->second;
                const bool wasOpen = copy.IsOpen();
                copy.Close();
                copy.fileName = target;
                if (wasOpen)
                    ReopenClip(context, copy, wasOpen);
            }
        }
    }
}

bool AskOffsetQuestion(Song& song)
{
    const std::string question = OffsetQuestion(song);
    if (question.empty())
        return true;
    if (!song.Context().prompter->Ask(question, PromptButtons::OkCancel, PromptIcon::Question))
        return false;
    if (song.history)
        return song.history->ApplyOffsets(song);
    for (int number = 1; number <= song.UserTrackCount(); ++number)
        ApplyClippedOffsets(*song.tracks[static_cast<size_t>(number)]);
    song.SetModifiedFlag(true);
    return true;
}

// The song's clips and those its history holds name files by their full path: after the song's
// folder is renamed they must name them under the new folder, or the next save cannot find them.
void FollowFolderRename(Song& song, const std::string& oldFolder, const std::string& newFolder)
{
    const std::string from = (fs::path(oldFolder) / "").string();
    const auto follow = [&](AudioClip& clip) {
        if (clip.fileName.starts_with(from))
            clip.fileName = (fs::path(newFolder) / clip.fileName.substr(from.size())).string();
    };
    for (auto& track : song.tracks)
        for (SongEvent& event : track->events)
            if (AudioClip* clip = event.ClipData())
                follow(*clip);
    if (song.history)
        song.history->ForEachHeldClip(follow);
}

// The song's file takes the song's title as its name (and its folder too when the folder is named
// after the file). Nothing is ever renamed over an existing file.
void RenameAfterTitle(Song& song, SaveFiles& files, const WriteOptions& options)
{
    const std::string title = TitleFileName(song.title);
    if (title.empty() || song.pathName.empty())
        return;
    fs::path path = song.pathName;
    const fs::path oldBackupName = fs::path(BackupPath(song.pathName)).filename();
    const std::string base = path.stem().string();
    const fs::path extension = path.extension();
    fs::path folder = path.parent_path();
    bool renamed = false;
    std::string error;
    if (!folder.empty() && folder.filename() == base && base != title) {
        const fs::path newFolder = folder.parent_path() / title;
        if (files.RenameNoReplace(folder.string(), newFolder.string(), error)) {
            FollowFolderRename(song, folder.string(), newFolder.string());
            folder = newFolder;
            path = newFolder / path.filename();
            renamed = true;
        }
    }
    if (base != title) {
        const fs::path backup = folder / oldBackupName;
        const fs::path newPath = folder / (title + extension.string());
        if (files.RenameNoReplace(path.string(), newPath.string(), error)) {
            // The backup is a convenience: when it cannot follow it keeps its old name.
            if (files.Exists(backup.string()))
                (void)files.RenameNoReplace(backup.string(), BackupPath(newPath.string()), error);
            path = newPath;
            renamed = true;
        }
    }
    if (!renamed)
        return;
    song.SetPathName(path.string());
    if (options.renamed)
        options.renamed(path.string());
}

} // namespace

std::string OffsetQuestion(const Song& song)
{
    std::string lines;
    for (int number = song.UserTrackCount(); number >= 1; --number) {
        const uint8_t flags = song.tracks[static_cast<size_t>(number)]->clipFlags;
        if (flags == 0)
            continue;
        lines += "\nTrack " + std::to_string(number) + ":  ";
        if (flags & ClipKey)
            lines += "key; ";
        if (flags & ClipVelocity)
            lines += "velocity; ";
        if (flags & ClipTime)
            lines += "time; ";
    }
    if (lines.empty())
        return {};
    return "NOTE:\nTrack offsets will cause values to be clipped (set at limits):\n" + lines +
           "\n\nApply these offsets and save anyway?";
}

void ApplyClippedOffsets(Track& track)
{
    const bool keys = (track.clipFlags & ClipKey) && track.keyOffset != 0;
    const bool velocities = (track.clipFlags & ClipVelocity) && track.velocityOffset != 0;
    const bool times = (track.clipFlags & ClipTime) && track.timeOffset != 0;
    for (SongEvent& event : track.events)
        ApplyOffsetsToEvent(event, track, track.clipFlags);
    if (keys)
        track.keyOffset = 0;
    if (velocities)
        track.velocityOffset = 0;
    if (times)
        track.timeOffset = 0;
}

bool WriteSong(Song& song, const std::string& path, const WriteOptions& options)
{
    static DiskSaveFiles disk;
    SaveFiles& files = options.files ? *options.files : disk;
    const SongContext& context = song.Context();
    const bool autosave = path.ends_with("sav");

    song.RelayMeasures();
    if (!autosave) {
        if (!AskOffsetQuestion(song))
            return false;
        MoveClipFiles(song, files, path);
    }
    song.UpdateSongEnd(AllTracks);

    const bool keepBackup = !autosave && context.profile->GetInt("SaveOptions", "Backups", 0) != 0;
    const std::string backupPath = keepBackup ? BackupPath(path) : std::string();
    std::string error;
    if (!ReplaceFile(files, path, SongFileBytes(song), backupPath, error)) {
        context.prompter->Show("The song could not be saved as " + path + ": " + error +
                                   ".\nThe file on disk and its backup were left as they were. Check that the "
                                   "folder exists, is writable and has free space, then save again.",
                               PromptIcon::Error);
        return false;
    }
    if (autosave) {
        // An autosave's path is the song's name + ".sav", so its settings file is that name + ".cv.sav".
        // Nothing reads that file back, so one that stays is only clutter, and an autosave asks nothing.
        (void)files.Remove((path.ends_with(".sav") ? path.substr(0, path.size() - 4) : path) + ".cv.sav");
        return true;
    }
    // A settings file that stayed would be read over the saved track settings the next time.
    if (const std::string settings = StripKnownExtension(path) + ".cv"; !files.Remove(settings))
        context.prompter->Show(SettingsFileLeftText(settings), PromptIcon::Warning);

    // A save under a new name works on the new path from here on, so the new file is the one renamed.
    // A recovery file that cannot be removed only brings the recovery question up once more.
    if (song.pathName != path) {
        // The old path's recovery file held these very changes, which are now saved.
        if (song.autosaveFlag && !song.pathName.empty() && !options.exactPath)
            (void)files.Remove(RecoveryPath(song.pathName));
        song.SetPathName(path);
    }
    if (!options.exactPath) {
        (void)files.Remove(RecoveryPath(song.pathName));
        RenameAfterTitle(song, files, options);
    }
    song.autosaveFlag = false;

    if (song.history)
        song.history->MarkSaved();
    song.SetModifiedFlag(false);
    return true;
}

} // namespace cantivo
