#include "set/CLiveDoc.h"

#include "edit/UndoHistory.h"
#include "edit/UndoStep.h"
#include "set/RecentList.h"
#include "set/SetFile.h"
#include "set/Trash.h"
#include "song/AtomicFile.h"
#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/OpenSong.h"
#include "song/Song.h"
#include "song/SongFileNames.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace cantivo {

namespace fs = std::filesystem;

namespace {

std::string Lower(const std::string& text)
{
    return AsciiLower(text);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The set folder of a set file: its folder with the trailing separator.
std::string FolderOf(const std::string& path)
{
    const size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code code(errno, std::generic_category());
        error = path + ": " + code.message();
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": the file could not be read to its end";
        return false;
    }
    return true;
}

// Moves a file or folder into `folder` under its own name; false when something of that name is there.
bool MoveInto(const fs::path& from, const fs::path& folder)
{
    std::error_code code;
    const fs::path to = folder / from.filename();
    if (fs::exists(to, code))
        return false;
    fs::rename(from, to, code);
    return !code;
}

} // namespace

CLiveDoc::CLiveDoc(const SongContext& context, SaveFiles& files) : context_(context), files_(files) {}

CLiveDoc::~CLiveDoc()
{
    observer_ = nullptr;
    ClearContents();
}

void CLiveDoc::Notify(void (SetObserver::*event)())
{
    if (observer_ != nullptr)
        (observer_->*event)();
}

// ---- The set file

bool CLiveDoc::OpenSet(const std::string& path, std::string& error, bool offerUnlisted)
{
    ClearContents();
    pathName_ = path;
    ClearCurrentSong();
    closed_ = false;
    setFolder_ = FolderOf(path);
    Notify(&SetObserver::SetRebuilt);
    std::vector<uint8_t> bytes;
    SetFileContents contents;
    if (!ReadWhole(path, bytes, error) || !ParseSetFile(bytes, contents, error)) {
        closed_ = true;
        Notify(&SetObserver::SetRebuilt);
        return false;
    }
    largeSet_ = contents.count > LargeSetSongs;
    for (const std::string& stored : contents.paths) {
        if (stored.empty())
            continue; // takes no position
        if (observer_ != nullptr)
            observer_->Status("Loading set...", StoredPathName(stored));
        (void)AddSong(FindSongFile(stored), -1, false);
    }
    if (observer_ != nullptr)
        observer_->Status("", "");
    if (contents.truncated && context_.prompter != nullptr)
        context_.prompter->Show("The set file " + path + " ends early: the songs it lists up to the cut are opened.",
                                PromptIcon::Warning);
    if (offerUnlisted)
        OfferUnlistedSongs();
    Notify(&SetObserver::TitleChanged);
    return true;
}

// Beside the set file first, then in a folder named after the song beside it, then where it was.
std::string CLiveDoc::FindSongFile(const std::string& stored) const
{
    const std::string name = StoredPathName(stored);
    std::error_code code;
    const std::string beside = setFolder_ + name;
    if (fs::exists(beside, code))
        return beside;
    if (EndsWith(Lower(name), ".mid")) {
        const std::string own = setFolder_ + name.substr(0, name.size() - 4) + "/" + name;
        if (fs::exists(own, code))
            return own;
    }
    return stored;
}

void CLiveDoc::OfferUnlistedSongs()
{
    std::vector<fs::path> found;
    std::error_code code;
    for (fs::recursive_directory_iterator it(setFolder_, fs::directory_options::skip_permission_denied, code), end;
         !code && it != end; it.increment(code)) {
        if (!it->is_regular_file(code))
            continue;
        const std::string lower = Lower(it->path().string());
        if (!EndsWith(lower, ".mid") && !EndsWith(lower, ".kar"))
            continue;
        const bool listed = std::any_of(registry_.begin(), registry_.end(),
                                        [&](const auto& entry) { return Lower(entry->song->pathName) == lower; });
        if (!listed)
            found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    if (context_.prompter == nullptr)
        return;
    for (auto file = found.rbegin(); file != found.rend(); ++file) {
        const std::string title = StripKnownExtension(file->filename().string());
        if (!context_.prompter->Ask(title + " was found in the set's folder--add it to the set?", PromptButtons::YesNo,
                                    PromptIcon::Question))
            continue;
        fs::path song = *file;
        const fs::path folder = fs::path(setFolder_);
        if (fs::path(file->parent_path().string() + "/") != folder) {
            // Into the set's folder, with its companion file and its audio.
            const fs::path companion = fs::path(SongSettingsPath(file->string()));
            const fs::path wave = file->parent_path() / "WaveData";
            if (MoveInto(*file, folder))
                song = folder / file->filename();
            if (fs::exists(companion, code))
                (void)MoveInto(companion, folder);
            if (fs::is_directory(wave, code))
                (void)MoveInto(wave, folder);
        }
        (void)AddSong(song.string(), 0, false);
        SetModifiedFlag(true);
    }
}

bool CLiveDoc::SaveSet(const std::string& path, std::string& error)
{
    if (!ReplaceFile(files_, path, SetFileBytes(Paths()), "", error))
        return false;
    if (path != pathName_) {
        pathName_ = path;
        setFolder_ = FolderOf(path);
    }
    history_.MarkSaved();
    SetModifiedFlag(false);
    Notify(&SetObserver::TitleChanged);
    return true;
}

bool CLiveDoc::NewSet(const std::string& path, std::string& error)
{
    ClearContents();
    ClearCurrentSong();
    pathName_ = path;
    setFolder_ = FolderOf(path);
    closed_ = false;
    if (!ReplaceFile(files_, path, SetFileBytes({}), "", error)) {
        closed_ = true;
        return false;
    }
    history_.MarkSaved();
    Notify(&SetObserver::SetRebuilt);
    Notify(&SetObserver::TitleChanged);
    return true;
}

void CLiveDoc::ClearContents()
{
    ClearCurrentSong();
    positions_.clear();
    registry_.clear();
    history_ = SetHistory();
    largeSet_ = false;
    closed_ = true;
    modified_ = false;
    Notify(&SetObserver::SetRebuilt);
}

std::vector<std::string> CLiveDoc::Paths() const
{
    std::vector<std::string> paths;
    paths.reserve(positions_.size());
    for (const Song* song : positions_)
        paths.push_back(song->pathName);
    return paths;
}

// ---- Songs

CLiveDoc::Entry* CLiveDoc::Find(const std::string& path)
{
    for (const auto& entry : registry_)
        if (entry->song->pathName == path)
            return entry.get();
    return nullptr;
}

CLiveDoc::Entry* CLiveDoc::EntryOf(const Song& song) const
{
    for (const auto& entry : registry_)
        if (entry->song.get() == &song)
            return entry.get();
    return nullptr;
}

int CLiveDoc::UseCount(const Song& song) const
{
    const Entry* entry = EntryOf(song);
    return entry ? entry->useCount : 0;
}

bool CLiveDoc::IsRead(const Song& song) const
{
    const Entry* entry = EntryOf(song);
    return entry != nullptr && entry->read;
}

bool CLiveDoc::ReadSongFile(Entry& entry)
{
    Prompter& prompter = context_.prompter != nullptr ? *context_.prompter : *DefaultSongContext().prompter;
    const std::string path = entry.song->pathName;
    entry.read = OpenSong(*entry.song, path, prompter);
    entry.song->SetPathName(path);
    return entry.read;
}

Song* CLiveDoc::AddSong(const std::string& path, int position, bool select)
{
    Entry* entry = Find(path);
    if (entry == nullptr) {
        auto created = std::make_unique<Entry>();
        created->song = std::make_unique<Song>(context_);
        created->song->SetPathName(path);
        if (largeSet_ || !ReadSongFile(*created))
            select = false;
        registry_.push_back(std::move(created));
        entry = registry_.back().get();
    } else if (!entry->read) {
        select = false;
    }
    const int count = SongCount();
    const int at = position < 0 || position > count ? count : position;
    positions_.insert(positions_.begin() + at, entry->song.get());
    ++entry->useCount;
    if (select && observer_ != nullptr)
        observer_->CueUp(*entry->song);
    if (observer_ != nullptr)
        observer_->SongInserted(at, select);
    return entry->song.get();
}

bool CLiveDoc::EnsureRead(int position)
{
    if (position < 0 || position >= SongCount())
        return false;
    Entry* entry = EntryOf(SongAt(position));
    return entry != nullptr && (entry->read || ReadSongFile(*entry));
}

bool CLiveDoc::AdoptRead(int position, std::unique_ptr<Song>& song, const std::vector<ReadNotice>& notices)
{
    if (position < 0 || position >= SongCount() || !song)
        return false;
    Entry* entry = EntryOf(SongAt(position));
    if (entry == nullptr || entry->read || entry->song->pathName != song->pathName)
        return false;
    std::replace(positions_.begin(), positions_.end(), entry->song.get(), song.get());
    entry->song.swap(song);
    entry->read = true;
    song.reset();
    Prompter& prompter = context_.prompter != nullptr ? *context_.prompter : *DefaultSongContext().prompter;
    for (const ReadNotice& notice : notices)
        prompter.Show(notice.text, notice.icon);
    return true;
}

void CLiveDoc::RemoveSongAt(int position)
{
    if (position < 0 || position >= SongCount())
        return;
    Song* song = positions_[static_cast<size_t>(position)];
    positions_.erase(positions_.begin() + position);
    if (observer_ != nullptr)
        observer_->SongRemoved(position);
    Entry* entry = EntryOf(*song);
    if (song == current_ && std::find(positions_.begin(), positions_.end(), song) == positions_.end())
        ClearCurrentSong();
    if (entry != nullptr && --entry->useCount <= 0) {
        if (song == current_)
            ClearCurrentSong();
        std::erase_if(registry_, [entry](const auto& held) { return held.get() == entry; });
    }
}

void CLiveDoc::MoveSongPosition(int from, int to)
{
    const int count = SongCount();
    if (from < 0 || from >= count || to < 0 || to >= count || from == to)
        return;
    Song* song = positions_[static_cast<size_t>(from)];
    positions_.erase(positions_.begin() + from);
    positions_.insert(positions_.begin() + to, song);
    Notify(&SetObserver::SetRebuilt);
    if (observer_ != nullptr && IsRead(*song))
        observer_->CueUp(*song);
}

bool CLiveDoc::InsertSong(const std::string& path, int position)
{
    return AddSong(path, position, false) != nullptr;
}

bool CLiveDoc::Submit(std::unique_ptr<UndoStep> step)
{
    return history_.SubmitStep(*this, std::move(step));
}

void CLiveDoc::SetModifiedFlag(bool modified)
{
    if (modified_ == modified)
        return;
    modified_ = modified;
    Notify(&SetObserver::TitleChanged);
}

void CLiveDoc::SetCurrentSong(Song* song)
{
    current_ = song;
    Notify(&SetObserver::TitleChanged);
}

void CLiveDoc::ClearCurrentSong()
{
    if (current_ == nullptr)
        return;
    current_ = nullptr;
    Notify(&SetObserver::CurrentSongCleared);
    Notify(&SetObserver::TitleChanged);
}

// ---- Importing, deleting, the clipboard

int CLiveDoc::ImportSongs(const std::vector<std::string>& chosen, int position)
{
    if (closed_)
        return 0;
    Prompter& prompter = *context_.prompter;
    int imported = 0;
    for (const std::string& file : chosen) {
        const fs::path source(file);
        const std::string base = SafeName(StripKnownExtension(source.filename().string()));
        const std::string destination = setFolder_ + base + ".mid";
        std::error_code code;
        if (Lower(fs::absolute(source, code).lexically_normal().string()) !=
            Lower(fs::path(destination).lexically_normal().string())) {
            if (fs::exists(destination, code)) {
                prompter.Show("Sorry, '" + base + "' already exists in this set--rename or delete and try again.",
                              PromptIcon::Error);
                continue;
            }
            if (files_.CopyNoReplace(file, destination)) {
                prompter.Show("Sorry, the file copy operation failed.  Do you have enough disk space?",
                              PromptIcon::Error);
                break;
            }
            const std::string companion = SongSettingsPath(file);
            if (fs::exists(companion, code))
                (void)files_.CopyNoReplace(companion, SongSettingsPath(destination));
            // The song lies directly in the set's folder, so its clips are looked up in the set's own
            // "WaveData": the source's clips join it there (files of the same name are kept as they are).
            const fs::path wave = source.parent_path() / "WaveData";
            if (fs::is_directory(wave, code) && fs::path(setFolder_) / "WaveData" != wave)
                fs::copy(wave, fs::path(setFolder_) / "WaveData",
                         fs::copy_options::recursive | fs::copy_options::skip_existing, code);
        }
        const int at = position < 0 || position > SongCount() ? SongCount() : position;
        if (Submit(SetHistory::InsertSongStep("Import song into set", destination, at))) {
            ++imported;
            if (position >= 0)
                ++position;
        }
    }
    return imported;
}

DeleteChoice CLiveDoc::StoredDeleteChoice() const
{
    return context_.profile->GetInt("MiscOptions", "RecycleSong", 0) == 1 ? DeleteChoice::RemoveAndTrash
                                                                          : DeleteChoice::RemoveFromSet;
}

bool CLiveDoc::DeleteSong(int position, DeleteChoice choice, const SaveQuestion& ask)
{
    if (position < 0 || position >= SongCount())
        return false;
    Song& song = SongAt(position);
    const std::string path = song.pathName;
    if (UseCount(song) == 1 && IsRead(song)) {
        if (!OfferSave(song, ask))
            return false;
        // The dialog was shown: its choice is the one it offers next time.
        context_.profile->WriteInt("MiscOptions", "RecycleSong", static_cast<int>(choice));
    }
    return RemovePosition(position, choice);
}

bool CLiveDoc::OfferSave(Song& song, const SaveQuestion& ask)
{
    if (!song.IsModified() || !ask)
        return true;
    const SaveAnswer answer = ask(StripKnownExtension(StoredPathName(song.pathName)));
    return answer == SaveAnswer::Discard || (answer == SaveAnswer::Save && WriteSong(song, song.pathName));
}

bool CLiveDoc::RemovePosition(int position, DeleteChoice choice)
{
    Song& song = SongAt(position);
    const std::string path = song.pathName;
    if (choice == DeleteChoice::RemoveAndTrash && UseCount(song) == 1 && IsRead(song)) {
        song.SetModifiedFlag(false);
        const std::string name = StripKnownExtension(StoredPathName(path));
        const std::string own = setFolder_ + name + "/" + name + ".mid";
        std::string error;
        bool trashed = true;
        if (path == own) {
            trashed = MoveToTrash(setFolder_ + name, error); // the song's own folder, whole
        } else {
            trashed = MoveToTrash(path, error);
            std::string ignored;
            std::error_code code;
            for (const std::string& other : {SongSettingsPath(path), BackupPath(path)})
                if (fs::exists(other, code))
                    (void)MoveToTrash(other, ignored);
        }
        if (!trashed && context_.prompter != nullptr)
            context_.prompter->Show(error, PromptIcon::Error);
        if (clipboard_.songPath == path)
            clipboard_ = {};
    }
    return Submit(SetHistory::DeleteSongStep(path, position));
}

void CLiveDoc::CopySong(int position)
{
    if (position >= 0 && position < SongCount()) {
        clipboard_.cue.reset();
        clipboard_.songPath = SongAt(position).pathName;
    }
}

bool CLiveDoc::CutSong(int position, const SaveQuestion& ask)
{
    if (position < 0 || position >= SongCount())
        return false;
    // The last position of a song lets go of it: its changes are offered first, as a delete does.
    Song& song = SongAt(position);
    if (UseCount(song) == 1 && IsRead(song) && !OfferSave(song, ask))
        return false;
    CopySong(position);
    return RemovePosition(position, DeleteChoice::RemoveFromSet);
}

bool CLiveDoc::PasteSong(int position)
{
    if (clipboard_.songPath.empty() || closed_)
        return false;
    const int at = position < 0 || position > SongCount() ? SongCount() : position;
    return Submit(SetHistory::InsertSongStep("Paste Song", clipboard_.songPath, at));
}

void CLiveDoc::CopyCue(int position, int cue)
{
    if (position < 0 || position >= SongCount())
        return;
    const Song& song = SongAt(position);
    if (cue >= 0 && static_cast<size_t>(cue) < song.cues.size()) {
        clipboard_.songPath.clear();
        clipboard_.cue = *song.cues[static_cast<size_t>(cue)];
    }
}

bool CLiveDoc::DeleteCue(int position, int cue)
{
    if (position < 0 || position >= SongCount())
        return false;
    Song& song = SongAt(position);
    if (cue < 0 || static_cast<size_t>(cue) >= song.cues.size())
        return false;
    auto step = std::make_unique<UndoStep>(StepCues, "Delete Cue");
    step->cues.Remove(static_cast<uint32_t>(cue));
    return SubmitStep(song, std::move(step));
}

bool CLiveDoc::CutCue(int position, int cue)
{
    CopyCue(position, cue);
    return DeleteCue(position, cue);
}

bool CLiveDoc::PasteCue(int position)
{
    if (!clipboard_.cue || position < 0 || position >= SongCount() || !IsRead(SongAt(position)))
        return false;
    auto step = std::make_unique<UndoStep>(StepCues, "Paste Cue");
    step->cues.InsertByTime(*clipboard_.cue);
    return SubmitStep(SongAt(position), std::move(step));
}

// ---- Opening and closing

OpenOutcome CLiveDoc::OpenFile(const std::string& path)
{
    Profile& profile = *context_.profile;
    Prompter& prompter = *context_.prompter;
    const std::string lower = Lower(path);
    const std::string last = lower.size() >= 4 ? lower.substr(lower.size() - 4) : lower;
    if (last == ".mid" || last == "midi" || last == ".kar" || last == ".smf" || last == ".rss") {
        CloseAll();
        Song* song = AddSong(path, 0, true);
        if (song == nullptr || !IsRead(*song)) {
            if (song != nullptr)
                RemoveSongAt(0);
            prompter.Show(DamagedSongMessage, PromptIcon::Error);
            return OpenOutcome::Failed;
        }
        SetCurrentSong(song);
        profile.WriteString("StartupOptions", "AutoOpenPath", path);
        RecentSongs(profile).Add(path);
        return OpenOutcome::Song;
    }
    if (last != ".set") {
        prompter.Show("Cantivo does not recognize that file type.", PromptIcon::Error);
        return OpenOutcome::Failed;
    }
    std::string error;
    if (!OpenSet(path, error)) {
        prompter.Show(error + "\nSorry, the set can not be opened--it may be damaged.", PromptIcon::Error);
        return OpenOutcome::Failed;
    }
    profile.WriteString("StartupOptions", "AutoOpenPath", path);
    RecentSets(profile).Add(path);
    return OpenOutcome::Set;
}

OpenOutcome CLiveDoc::OpenRecent(const std::string& path, bool set)
{
    return ForgetMissingRecent(context_, path, set) ? OpenOutcome::Failed : OpenFile(path);
}

bool CLiveDoc::ForgetMissingRecent(const SongContext& context, const std::string& path, bool set)
{
    std::error_code code;
    if (fs::exists(path, code))
        return false;
    context.prompter->Show(std::string("Sorry, the ") + (set ? "set" : "song") +
                               " has been moved or deleted--please use the File/Open command to browse your system.",
                           PromptIcon::Error);
    if (set)
        RecentSets(*context.profile).Remove(path);
    else
        RecentSongs(*context.profile).Remove(path);
    return true;
}

void CLiveDoc::CloseAll()
{
    ClearCurrentSong();
    ClearContents();
    pathName_ = "Closed";
    setFolder_.clear();
    SetModifiedFlag(false);
    context_.profile->WriteString("StartupOptions", "AutoOpenPath", "");
    ClearCurrentSong();
}

std::vector<std::string> CLiveDoc::NewChoices(const std::string& templates) const
{
    std::vector<std::string> choices = {"Empty Set", "Empty Song"};
    if (!clipboard_.Empty())
        choices.emplace_back("Copy of clipboard");
    std::vector<std::string> titles;
    std::error_code code;
    for (fs::directory_iterator it(templates, code), end; !code && it != end; it.increment(code))
        if (EndsWith(Lower(it->path().filename().string()), ".mid"))
            titles.push_back(StripKnownExtension(it->path().filename().string()));
    std::sort(titles.begin(), titles.end());
    choices.insert(choices.end(), titles.begin(), titles.end());
    return choices;
}

bool CLiveDoc::NewSongOrSet(const NewRequest& request, const std::string& templates, std::string& error)
{
    const std::string name = SafeName(request.name);
    std::string location = request.location;
    while (location.size() > 1 && location.back() == '/')
        location.pop_back();
    std::error_code code;
    if (name.empty() || location.empty() || !fs::is_directory(location, code)) {
        error = "The specified location is invalid or does not exist.";
        return false;
    }
    const bool newSet = request.choice == "Empty Set";
    if (newSet) {
        location += "/" + name;
        if (!fs::is_directory(location, code) && !fs::create_directory(location, code)) {
            error = "Sorry, unable to create a new folder at that location.";
            return false;
        }
    }
    const std::string target = location + "/" + name + (newSet ? ".set" : ".mid");
    if (fs::exists(target, code)) {
        error = "A file with that name already exists at that location!\nPlease choose another name or location.\n";
        return false;
    }
    if (newSet)
        return NewSet(target, error);

    // The song: empty, or read from its template or the copied song.
    Song song(context_);
    if (request.choice == "Empty Song") {
        song.NewSongDefaults();
    } else {
        const std::string source =
            request.choice == "Copy of clipboard" ? clipboard_.songPath : templates + "/" + request.choice + ".mid";
        Prompter& prompter = *context_.prompter;
        if (source.empty() || !OpenSong(song, source, prompter)) {
            error = DamagedSongMessage;
            return false;
        }
    }
    song.SetPathName(target);
    WriteOptions options;
    options.exactPath = true;
    options.files = &files_;
    if (!WriteSong(song, target, options)) {
        error = target + ": the new song could not be written";
        return false;
    }
    if (!closed_ && request.addToSet)
        return Submit(
            SetHistory::InsertSongStep("Add new song", target, request.position < 0 ? SongCount() : request.position));
    CloseAll();
    Song* added = AddSong(target, 0, true);
    if (added == nullptr || !IsRead(*added))
        return false;
    SetCurrentSong(added);
    context_.profile->WriteString("StartupOptions", "AutoOpenPath", target);
    RecentSongs(*context_.profile).Add(target);
    return true;
}

bool CLiveDoc::SaveAll(std::string& error)
{
    for (const auto& entry : registry_) {
        if (!entry->read || !entry->song->IsModified())
            continue;
        if (!WriteSong(*entry->song, entry->song->pathName)) {
            error = entry->song->pathName + ": the song could not be saved";
            return false;
        }
    }
    if (!closed_ && modified_)
        return SaveSet(pathName_, error);
    return true;
}

bool CLiveDoc::SaveModified(const SaveQuestion& ask, std::string& error)
{
    if (!ask)
        return false; // nobody to ask: nothing may be let go
    std::vector<Song*> asked;
    for (Song* song : positions_) {
        if (!song->IsModified() || !IsRead(*song) || std::find(asked.begin(), asked.end(), song) != asked.end())
            continue;
        asked.push_back(song); // a song at two positions is asked about once
        if (!OfferSave(*song, ask))
            return false; // cancelled, or the song's save failed and its writer said why
    }
    if (closed_ || !modified_)
        return true;
    const SaveAnswer answer = ask(Title());
    if (answer == SaveAnswer::Cancel)
        return false;
    return answer == SaveAnswer::Discard || SaveSet(pathName_, error);
}

bool CLiveDoc::ExportSong(const std::string& path, std::string& error)
{
    if (current_ == nullptr) {
        error = "There is no current song to export.";
        return false;
    }
    Song& song = *current_;
    const std::string own = song.pathName;
    const bool modified = song.IsModified();
    const bool autosaved = song.autosaveFlag;
    // The history keeps its own saved state: the export is not a save of the song.
    std::unique_ptr<SongHistory> history = std::move(song.history);
    WriteOptions options;
    options.exactPath = true;
    const bool written = WriteSong(song, path, options);
    song.history = std::move(history);
    song.SetPathName(own);
    song.autosaveFlag = autosaved;
    song.SetModifiedFlag(modified);
    if (!written)
        error = path + ": the song could not be exported";
    return written;
}

std::string CLiveDoc::ExportPath(const std::string& templates) const
{
    const std::string name = current_ != nullptr ? StoredPathName(current_->pathName) : "Untitled.mid";
    return (fs::path(templates) / name).string();
}

// ---- Texts

std::string CLiveDoc::Title() const
{
    if (closed_ || pathName_.empty())
        return "";
    return StripKnownExtension(StoredPathName(pathName_));
}

std::string CLiveDoc::WindowTitle(const std::string& application) const
{
    std::string text = application;
    if (!closed_)
        text += " - " + Title() + (modified_ ? "*" : "");
    if (current_ != nullptr)
        text += " - [" + StripKnownExtension(StoredPathName(current_->pathName)) + (current_->IsModified() ? "*" : "") +
                "]";
    return text;
}

std::string CLiveDoc::SafeName(std::string name)
{
    return TitleFileName(name); // the same rule as a song renamed after its title
}

} // namespace cantivo
