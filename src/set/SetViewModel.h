#pragma once

#include "playback/EndOfSongHandler.h"
#include "playback/PlaybackModel.h"
#include "set/CLiveDoc.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

class Profile;
class Scheduler;
class Sequencer;
class Song;
class SongReadAhead;

// Makes a read song the engine's current song at `start` (-1: the song's own position): builds its
// playback model (or attaches the ports to `prepared`, built ahead from the same song) and activates
// it, which stops playback and applies "AdvanceReset" first.
class SongActivator {
  public:
    virtual ~SongActivator() = default;
    virtual void Activate(Song& song, int32_t start, std::unique_ptr<PlaybackModel> prepared) = 0;
};

// One row of the set view: a song, one of its cues, or the end-of-set item.
struct SetItem {
    enum class Kind : uint8_t { Song, Cue, End };
    Kind kind = Kind::End;
    int position = -1; // the set position (the song's, for a cue)
    int cue = -1;      // the cue's index in its song
    std::string text;
    int image = 0;
    int stateImage = 1;    // 2 marks where playback stands, 3 a song not read
    bool expanded = false; // a song row whose cue rows show
};

// The set view's logic without widgets: the rows, the current and previous song, the playing marker,
// song changes and auto-advance, and the set times. The desktop's tree and cantivo-cli draw it.
class SetViewModel final : public SetObserver, public EndOfSongHandler {
  public:
    static constexpr int AdvanceTimer = 200;

    SetViewModel(CLiveDoc& set, Sequencer& sequencer, SongActivator& activator, Scheduler& scheduler, Profile& profile);
    ~SetViewModel() override;
    SetViewModel(const SetViewModel&) = delete;
    SetViewModel& operator=(const SetViewModel&) = delete;

    std::vector<SetItem> Items() const;
    // Counts the model's own changes to the rows (selection, marker, expansion, songs in and out), so
    // a view polls it cheaply; edits inside a song (its cues, its modified mark) are not counted.
    uint64_t Revision() const { return revision_; }
    // The current position; SongCount() when the end-of-set item is current.
    int Current() const { return current_; }
    int Previous() const { return previous_; }
    bool AtEnd() const { return current_ >= set_.SongCount(); }
    // The cue the playing marker is on (-1: the song item itself).
    int MarkerCue() const { return markerCue_; }

    // Selects the song at `position` (SongCount(): the end of the set) and cues it up at `start`
    // (-1: its own position). Null when it is the end or the song cannot be read.
    Song* Select(int position, int32_t start);
    void NextSong();
    void PreviousSong();
    void RevertToPreviousSong();
    bool CanRevert() const { return !set_.IsClosed() && previous_ >= 0 && previous_ <= set_.SongCount(); }
    // "Go" on a song row (cue -1) or a cue row.
    Song* Go(int position, int cue);
    // MIDI song select: song n of the set, from its start.
    void SongSelect(int number);
    // `MsgCueRegion` and after every selection.
    void UpdatePlayingMarker();
    // Whether a song row shows its cues: the current song opens and the one left closes; the user may
    // open or close any row.
    bool IsExpanded(int position) const;
    void SetExpanded(int position, bool expanded);

    // While a song is current, the next unread song of the set is read ahead through `readAhead`
    // (null: none), so that moving on reads no file.
    void UseReadAhead(SongReadAhead* readAhead);

    // "Advance: no / wait / play" and "View meter/key / View set times", stored at once.
    int AutoAdvance() const;
    void SetAutoAdvance(int mode);
    bool ViewSetTimes() const;
    void SetViewSetTimes(bool on);
    // An override for this run only (`cantivo-cli play --advance`), never stored; -1 clears it.
    void OverrideAutoAdvance(int mode) { advanceOverride_ = mode; }
    // True while an advance waits out "AdvanceWait".
    bool Advancing() const;

    // Seconds: the whole set, and the songs before the current one.
    double TotalSeconds() const { return total_; }
    double SecondsBefore() const { return before_; }
    // "elapsed / remaining" in the time display's format ("SyncOptions"/"SMPTE").
    std::string SetTimesText(double currentSongSeconds) const;

    // The end of a song was reached and the engine stopped: auto-advance.
    void EndOfSong(Sequencer& sequencer) override;

    // The document's events.
    void SetRebuilt() override;
    void SongInserted(int position, bool select) override;
    void SongRemoved(int position) override;
    void CurrentSongCleared() override;

  private:
    void Advance();
    void RecomputeTimes();
    void ReadNextAhead();
    void MakeCurrent(int position);
    void UpdateMarkerCue();
    void Changed() { ++revision_; }

    CLiveDoc& set_;
    Sequencer& sequencer_;
    SongActivator& activator_;
    Scheduler& scheduler_;
    Profile& profile_;
    int current_ = 0;
    int previous_ = -1;
    int markerCue_ = -1;
    std::vector<char> expanded_; // one per position
    int advanceOverride_ = -1;
    SongReadAhead* readAhead_ = nullptr;
    double total_ = 0;
    double before_ = 0;
    uint64_t revision_ = 0;
};

} // namespace cantivo
