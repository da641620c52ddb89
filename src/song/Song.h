#pragma once

#include "song/Cue.h"
#include "song/Measure.h"
#include "song/SongContext.h"
#include "song/TempoMap.h"
#include "song/Track.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

class Song;

// A view of the song (or the set list, or the main frame) that redraws when told to.
class SongObserver {
  public:
    virtual ~SongObserver() = default;
    virtual void OnSongRefresh(Song& song) = 0;
    // The modified flag was set: the main frame redraws its title, the set list the song's row.
    virtual void OnSongModifiedFlag(Song& /*song*/) {}
};

// The edit history as the song layer sees it; the undo layer implements it. The writer uses it to
// submit the "Apply offsets" step, to reach the audio clips the steps hold, and to mark the save.
class SongHistory {
  public:
    virtual ~SongHistory() = default;
    // Submits the offset-applying step for the tracks whose clip flags are set; false if refused.
    [[nodiscard]] virtual bool ApplyOffsets(Song& song) = 0;
    // Calls `visit` for every audio clip held by a step that is not marked to keep its clip files.
    virtual void ForEachHeldClip(const std::function<void(AudioClip&)>& visit) = 0;
    // Sets the saved marker to the last applied step.
    virtual void MarkSaved() = 0;
    // True when the last applied step differs from the saved marker.
    virtual bool IsModified() const = 0;
};

inline constexpr int MaxUserTracks = 250;
inline constexpr int AllTracks = -1;

// One piece of music: a Standard MIDI File plus the program's own additions. Changed only on the UI
// thread; the play thread reads tracks, events and the tempo map while edits are locked out.
class Song {
  public:
    explicit Song(const SongContext& context);
    ~Song();
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;

    const SongContext& Context() const { return context_; }

    // Fills an empty song as a new song: one 4/4 measure, 120 bpm, track 0 and the trailing track.
    void NewSongDefaults();
    // Deletes the contents (tracks, events, measures, tempos, cues, texts); the song is not loaded.
    void Clear();

    // Index of the last measure starting at or before the tick; −1 for an empty table, 0 for tick 0.
    int FindMeasure(int32_t tick) const;
    int CurrentMeasure() const { return FindMeasure(currentPosition); }
    // " measure:beat:tick" of a position; returns the text's length, or −1 (and no text) without a measure.
    int FormatPosition(int32_t tick, std::string& text) const;
    // Sets the resolution class and returns timebase ÷ 120, ÷ 96 or ÷ 72 (1 for the other class).
    int UpdateResolutionClass();
    // The note-resolution grid in ticks for the main frame's index 0-8.
    int32_t GridTicks(int noteResolution) const;
    // Index of the first cue whose anchor is at or after the tick (the cue count when none is).
    int FindCue(int32_t tick) const;

    void RefreshViews();
    void AddObserver(SongObserver* observer);
    void RemoveObserver(SongObserver* observer);
    void SetPathName(const std::string& path);
    void SetModifiedFlag(bool flag);
    bool IsModified() const { return modified_; }
    // A new, unused file name in the song's "WaveData" folder for an audio clip from `sourceName`.
    std::string NewClipFileName(const std::string& sourceName) const { return NewClipFileName(sourceName, folder); }
    // The same in the "WaveData" folder under `songFolder`, for a save to another folder.
    std::string NewClipFileName(const std::string& sourceName, const std::string& songFolder) const;

    double TicksToMicroseconds(int32_t tick) const { return tempoMap.TicksToMicroseconds(tick, timebase); }
    int32_t MicrosecondsToTicks(double microseconds) const
    {
        return tempoMap.MicrosecondsToTicks(microseconds, timebase);
    }
    void RecomputeTempoTimes() { tempoMap.RecomputeTempoTimes(timebase); }
    void RelayMeasures();
    void ExtendMeasures();
    // Re-encodes `which` (a track number or AllTracks) and recomputes the song end and length.
    void UpdateSongEnd(int which = AllTracks);
    void SetTimebase(uint16_t newTimebase);

    // Tracks besides track 0 and the trailing empty one.
    int UserTrackCount() const { return static_cast<int>(tracks.size()) - 2; }
    Track& TrailingTrack() { return *tracks.back(); }

    uint32_t lastCommand = 0;
    bool loaded = false;
    int32_t songEnd = 0;
    int32_t measureTableEnd = 0;
    double songLength = 0.0; // microseconds
    uint16_t timebase = 120;
    uint16_t fileFormat = 1;
    int32_t resolutionClass = 0;
    std::vector<Measure> measures;
    TempoMap tempoMap;
    std::vector<std::unique_ptr<Track>> tracks;
    std::vector<std::unique_ptr<Cue>> cues;
    int32_t currentPosition = 0;
    int32_t selectionStart = -1;
    int32_t selectionEnd = -1;
    uint32_t selectionGeneration = 0;
    std::unique_ptr<SongHistory> history;
    std::string title;
    std::string subtitle;
    std::string author;
    std::string copyright;
    std::string memo;
    std::string folder;   // with its trailing separator
    std::string pathName; // the document path
    bool soloActive = false;
    bool autosaveFlag = false;
    struct SmpteOffset {
        int32_t hours = 0, minutes = 0, seconds = 0, frames = 0, subframes = 0, rateCode = 0;
    } smpteOffset;

  private:
    bool IsObserving(const SongObserver* observer) const;

    SongContext context_;
    bool modified_ = false;
    std::vector<SongObserver*> observers_;
};

} // namespace cantivo
