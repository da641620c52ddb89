#pragma once

#include "edit/SetHistory.h"
#include "edit/SongListDocument.h"
#include "song/Cue.h"
#include "song/MidiFileReader.h"
#include "song/SongContext.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class SaveFiles;
class Song;

// The set's own clipboard, apart from the system's: empty, the path of a copied song, or a copied cue.
struct SetClipboard {
    std::string songPath;
    std::optional<Cue> cue;
    bool Empty() const { return songPath.empty() && !cue; }
};

// The two answers of "Delete song...".
enum class DeleteChoice { RemoveFromSet = 0, RemoveAndTrash = 1 };

// The three answers of the question asked before a modified song or set is closed or replaced.
enum class SaveAnswer { Save, Discard, Cancel };
// Asks whether to save the song or set titled `title` (its file name, without the extension).
using SaveQuestion = std::function<SaveAnswer(const std::string& title)>;

// What "New..." was asked for: the choice of its list, the name and the location typed.
struct NewRequest {
    std::string choice; // "Empty Set", "Empty Song", "Copy of clipboard" or a template's title
    std::string name;
    std::string location;
    bool addToSet = true; // "Add new song to current set"
    int position = -1;    // where a new song goes in the set (-1: the end)
};

// What the program's one open entry made of a file.
enum class OpenOutcome { Set, Song, Cancelled, Failed };

// What the set view, the transport and the main window hear from the set document.
class SetObserver {
  public:
    virtual ~SetObserver() = default;
    // The whole list changed: rebuild the set view.
    virtual void SetRebuilt() {}
    virtual void SongInserted(int /*position*/, bool /*select*/) {}
    virtual void SongRemoved(int /*position*/) {}
    // Make the song current and ready to play from its own position.
    virtual void CueUp(Song& /*song*/) {}
    // The current song is gone (removed, or the set closed).
    virtual void CurrentSongCleared() {}
    virtual void TitleChanged() {}
    // The status bar's two panes while a set is read; both empty afterwards.
    virtual void Status(const std::string& /*first*/, const std::string& /*second*/) {}
};

// The program's one document: the set that is open (or none), its songs and their use counts, the
// set file and the set's own history of song-list edits. A song opened on its own is held as the only
// song of a set that stays closed.
class CLiveDoc final : public SongListDocument {
  public:
    // Above this many songs a set is opened without reading them; each is read when first selected.
    static constexpr int LargeSetSongs = 50;

    CLiveDoc(const SongContext& context, SaveFiles& files);
    ~CLiveDoc() override;
    CLiveDoc(const CLiveDoc&) = delete;
    CLiveDoc& operator=(const CLiveDoc&) = delete;

    void Observe(SetObserver* observer) { observer_ = observer; }

    // Opens the set file at `path`: the songs are found beside it first, then (with `offerUnlisted`)
    // the folder is scanned for songs the set does not list, each offered with a question. False with
    // the reason in `error`; the document is then closed.
    [[nodiscard]] bool OpenSet(const std::string& path, std::string& error, bool offerUnlisted = true);
    // Writes the set file atomically; on success the history takes its saved marker.
    [[nodiscard]] bool SaveSet(const std::string& path, std::string& error);
    // A new empty set at `path`, its file written at once. False (and closed) when it cannot be.
    [[nodiscard]] bool NewSet(const std::string& path, std::string& error);
    // Every song and every step goes; the document is closed.
    void ClearContents();

    // Inserts the song at `path` before `position` (-1 appends). A song the set already holds is used
    // again; otherwise it is read, unless the set is large. A song that cannot be read stays unread.
    Song* AddSong(const std::string& path, int position, bool select);
    void RemoveSongAt(int position);
    void MoveSongPosition(int from, int to);
    // Reads a song of a large set when it is first selected; false when it cannot be read.
    bool EnsureRead(int position);
    // Takes `song`, read ahead from the same file, as the unread song at `position` (at every position
    // it stands) and shows what its reader noted. False, and `song` untouched, when that song is read.
    bool AdoptRead(int position, std::unique_ptr<Song>& song, const std::vector<ReadNotice>& notices);

    // "Import songs...": copies each file into the set's folder under a safe name (with its ".cv"
    // companion and the "WaveData" beside it) and inserts it at `position` (-1: the end). A name the
    // set's folder already holds is skipped with its message; a failed copy stops the import. The
    // number of songs imported.
    int ImportSongs(const std::vector<std::string>& files, int position);
    // "Delete" on a song: removes the position (through the history); with RemoveAndTrash, and when
    // the song stands only once, its files go to the trash first. A modified song that stands once is
    // first offered to `ask` (none: its changes go); Cancel, or a save that fails, deletes nothing.
    // The choice is stored as the next one to offer.
    [[nodiscard]] bool DeleteSong(int position, DeleteChoice choice, const SaveQuestion& ask = {});
    // The choice "Delete song..." starts at ("MiscOptions"/"RecycleSong").
    DeleteChoice StoredDeleteChoice() const;
    // Copy, cut and paste of songs: paste inserts another reference to the copied song ("Paste Song").
    void CopySong(int position);
    [[nodiscard]] bool CutSong(int position, const SaveQuestion& ask = {});
    [[nodiscard]] bool PasteSong(int position);
    const SetClipboard& Clipboard() const { return clipboard_; }
    // The same for a cue of a song: each change goes through the song's own history ("Delete Cue",
    // "Paste Cue"), the cue placed by its time.
    void CopyCue(int position, int cue);
    [[nodiscard]] bool DeleteCue(int position, int cue);
    [[nodiscard]] bool CutCue(int position, int cue);
    [[nodiscard]] bool PasteCue(int position);

    // The one entry for the command line, "Open..." and the recent lists: a song (".mid", ".midi",
    // ".kar", ".smf", ".rss") stands alone after "Close all"; a ".set" opens as the set. Stores
    // "AutoOpenPath" and the recent lists; tells the user what went wrong.
    OpenOutcome OpenFile(const std::string& path);
    // An entry of the recent sets or songs: opened when it exists, otherwise taken off its list with
    // "Sorry, the set has been moved or deleted--..." (or the song's message).
    OpenOutcome OpenRecent(const std::string& path, bool set);
    // The first half of OpenRecent for a program that opens the file its own way: true (after the
    // message, with the entry taken off its list) when the file is gone.
    static bool ForgetMissingRecent(const SongContext& context, const std::string& path, bool set);
    // "Close all": the document returns to its closed state and "AutoOpenPath" is emptied.
    void CloseAll();
    // "New...": the list "Choose one of:" (the templates are the songs in `templates`).
    std::vector<std::string> NewChoices(const std::string& templates) const;
    // Makes the new set (its folder named after it, its file written at once) or the new song (written,
    // then added to the set or standing alone). False with the dialog's message in `error`, nothing made.
    [[nodiscard]] bool NewSongOrSet(const NewRequest& request, const std::string& templates, std::string& error);
    // "Save ALL": every modified song of the set (each its own save), then the set when modified.
    [[nodiscard]] bool SaveAll(std::string& error);
    // Before the set is closed or replaced ("Close all", opening another): every modified song is
    // offered to `ask` in set order, then the set. False when an answer was Cancel or a save failed
    // (the set's own failure in `error`; a song's writer tells its own); this closes nothing.
    [[nodiscard]] bool SaveModified(const SaveQuestion& ask, std::string& error);
    // "Export song": writes the current song to `path` (a template when it is in the templates folder)
    // and leaves the song as it was: its own path, its modified flag, its history's saved state.
    [[nodiscard]] bool ExportSong(const std::string& path, std::string& error);
    // Where the export's dialog opens: the templates folder and the song's file name.
    std::string ExportPath(const std::string& templates) const;

    // The set's history: inserts, deletes and moves go through it.
    [[nodiscard]] bool Submit(std::unique_ptr<UndoStep> step);
    SetHistory& History() { return history_; }

    bool IsClosed() const { return closed_; }
    bool IsLargeSet() const { return largeSet_; }
    bool IsModified() const { return modified_; }
    const std::string& PathName() const { return pathName_; }
    // The set file's name without its extension ("Saturday"); empty when no set is open.
    std::string Title() const;
    const std::string& SetFolder() const { return setFolder_; }
    Song& SongAt(int position) const { return *positions_[static_cast<size_t>(position)]; }
    int UseCount(const Song& song) const;
    bool IsRead(const Song& song) const;
    // The paths as the set file would store them, one per position.
    std::vector<std::string> Paths() const;

    Song* CurrentSong() const { return current_; }
    void SetCurrentSong(Song* song);
    void ClearCurrentSong();

    // "Cantivo - Saturday* - [Song*]".
    std::string WindowTitle(const std::string& application) const;
    // A typed or derived name made safe as a file name.
    static std::string SafeName(std::string name);

    // The set history's view of the document.
    bool IsOpen() const override { return !closed_; }
    int SongCount() const override { return static_cast<int>(positions_.size()); }
    bool InsertSong(const std::string& path, int position) override;
    void RemoveSong(int position) override { RemoveSongAt(position); }
    void MoveSong(int from, int to) override { MoveSongPosition(from, to); }
    void Beep() override {}
    void SetModifiedFlag(bool modified) override;

  private:
    struct Entry {
        std::unique_ptr<Song> song;
        int useCount = 0;
        bool read = false;
    };
    Entry* Find(const std::string& path);
    Entry* EntryOf(const Song& song) const;
    bool ReadSongFile(Entry& entry);
    std::string FindSongFile(const std::string& stored) const;
    // True to go on: the song is not modified, its changes were saved, or let go.
    bool OfferSave(Song& song, const SaveQuestion& ask);
    bool RemovePosition(int position, DeleteChoice choice);
    void OfferUnlistedSongs();
    void Notify(void (SetObserver::*event)());

    SongContext context_;
    SaveFiles& files_;
    SetObserver* observer_ = nullptr;
    bool closed_ = true;
    bool largeSet_ = false;
    bool modified_ = false;
    std::string pathName_;
    std::string setFolder_; // with its trailing separator
    std::vector<Song*> positions_;
    std::vector<std::unique_ptr<Entry>> registry_;
    SetHistory history_;
    Song* current_ = nullptr;
    SetClipboard clipboard_;
};

} // namespace cantivo
