#pragma once

#include "playback/Scheduler.h"
#include "playback/Sequencer.h"
#include "set/Autosave.h"
#include "set/CLiveDoc.h"
#include "set/SetViewModel.h"
#include "set/SongReadAhead.h"
#include "song/AtomicFile.h"
#include "song/Song.h"

#include <memory>
#include <optional>
#include <string>

namespace cantivo {

class Session;
class EngineRig;

// What `play` and `render` perform: one song, or a set with its song changes and auto-advance.
class Show {
  public:
    explicit Show(Session& session);
    ~Show();
    Show(const Show&) = delete;
    Show& operator=(const Show&) = delete;

    // Reads FILE (a set when it ends in ".set", else a song) and the --start position, which counts
    // in the first song. False with the exit code after telling the user why, each line of the
    // reason beginning with `prefix` ("cantivo-cli play: ").
    [[nodiscard]] bool Open(const std::string& prefix, const std::string& path, const std::string& startText,
                            int& exitCode);
    // The desktop opens a set with no song yet (one just made, to be filled); the player refuses it.
    void AllowEmptySet(bool allow) { allowEmptySet_ = allow; }
    // The desktop asks, song by song, about songs found in the set's folder that the set does not list;
    // the player runs unattended on a stage and does not.
    void OfferUnlistedSongs(bool offer) { offerUnlisted_ = offer; }
    // Instead of a file named on the command line: the player's delayed start-up opens the set or song
    // opened last ("AutoOpenPath") 1.5 s after the engine started, when "AutoOpen" is 1, and plays it.
    // False, with the reason in `error`, when there is nothing to open again.
    [[nodiscard]] bool OpenLast(std::string& error);
    // Stores FILE as the one to open again at the next start and puts it on its recent list.
    void Remember() const;
    // With the engine's devices open: the UI loop's timers on `clock` are made (the show owns them, so
    // they outlive what uses them), the first song becomes current at the start position, and the
    // autosave timer starts as the settings say.
    ClockScheduler& Begin(EngineRig& rig, const MicrosecondClock& clock);
    static constexpr int DelayedStartupTimer = 150;
    static constexpr int64_t DelayedStartupMicroseconds = 1'500'000;

    bool IsSet() const { return view_ != nullptr; }
    // The UI loop's timers, made by Begin.
    ClockScheduler& Scheduler() { return *scheduler_; }
    // The song now current; null once a set has reached its end.
    Song* Current() const;
    SetViewModel* View() const { return view_.get(); }
    // The set document (closed for a song on its own); null before Begin for a song.
    CLiveDoc* Document() const { return set_.get(); }
    // The UI loop's turn at the engine's notifications: halts are settled, the end of a song advances
    // through the set. The outcome of the last halt, if there was one.
    std::optional<HaltOutcome> HandleNotifications();
    // The "Save" options page was accepted: the autosave timer starts again as the settings say, or
    // (`on` false: backups or autosave unchecked) stops until the next start.
    void RestartAutosave(bool on);
    const Autosave* AutosaveTimer() const { return autosave_.get(); }
    // The modified songs to their recovery files now (see Autosave::WriteNow).
    void WriteRecoveryFiles()
    {
        if (autosave_)
            autosave_->WriteNow();
    }
    // True when nothing more will happen by itself: the song (or the set) is over, or waits for a tap.
    bool Finished() const;
    // The set's own commands (next, previous, revert to previous song); false for any other command
    // or without a set.
    bool RunSetCommand(uint16_t command);
    static bool IsSetCommand(uint16_t command);
    // "3/12 Title" for a set, "" for a song.
    std::string PlaceText() const;

  private:
    void ActivateFirst();
    void DelayedStartup();

    Session& session_;
    std::string path_;     // FILE, absolute
    std::string openLast_; // what the delayed start-up opens
    EngineRig* rig_ = nullptr;
    DiskSaveFiles files_;
    std::unique_ptr<ClockScheduler> scheduler_;
    std::unique_ptr<Song> song_;
    std::unique_ptr<CLiveDoc> set_;
    std::unique_ptr<SetViewModel> view_;
    std::unique_ptr<SongReadAhead> readAhead_;
    std::unique_ptr<Autosave> autosave_;
    int32_t start_ = 0;
    bool ended_ = false;
    bool allowEmptySet_ = false;
    bool offerUnlisted_ = false;
};

// True for a path the set document opens (".set", in any case).
bool IsSetPath(const std::string& path);
// True for a path opened as a song (".mid", ".midi", ".kar", ".smf", ".rss", in any case).
bool IsSongPath(const std::string& path);

} // namespace cantivo
