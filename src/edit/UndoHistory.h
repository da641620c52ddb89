#pragma once

#include "edit/StepEffects.h"
#include "edit/UndoStep.h"
#include "song/Song.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

class Transport;

inline constexpr const char* TooManyTracksMessage = "Sorry, you have reached the maximum of 250 tracks.";
inline constexpr const char* MissingTargetTrackMessage = "Sorry, target track(s) do not exist.";
inline constexpr const char* AudioMidiMismatchMessage =
    "Please paste audio clips to audio tracks, and MIDI to MIDI tracks.";
inline constexpr const char* UndoPrompt = "Undo the last action";
inline constexpr const char* RedoPrompt = "Redo the previously undone action";

// Which view the main frame brings to the front after a step.
enum class StepFocus {
    None,           // a tempo-only step: the views' own refresh decides
    ControllerLane, // a one-controller step: the controller views show LastEffects().firstEventKind
    TrackView,      // after track and track-property steps
    LastEditingView // after every other step
};

// A song's edit history: every change to the song goes through SubmitStep, and undo and redo apply
// the same steps again in one direction or the other. The song is modified exactly when the last
// applied step differs from the one applied when it was last saved. UI thread only.
class UndoHistory final : public SongHistory {
  public:
    // Without a transport the sequencer counts as stopped (tools and tests that have no engine).
    explicit UndoHistory(Transport* transport = nullptr);
    ~UndoHistory() override;
    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    // Gives the song a new, empty history and returns it.
    static UndoHistory& Install(Song& song, Transport* transport = nullptr);
    // The song's history, or null when it has none (or another kind).
    static UndoHistory* Of(Song& song);

    // Takes the step; records and performs it, or refuses it (sequencer running: silently; too many
    // tracks, a missing target track, audio and MIDI mixed up: with a message). True when performed.
    [[nodiscard]] bool SubmitStep(Song& song, std::unique_ptr<UndoStep> step);
    // Each does nothing (false) when there is no step to apply or the sequencer is not stopped.
    [[nodiscard]] bool Undo(Song& song);
    [[nodiscard]] bool Redo(Song& song);

    bool CanUndo() const { return position_ > 0; }
    bool CanRedo() const { return position_ < steps_.size(); }
    bool UndoEnabled() const { return CanUndo() && Stopped(); }
    bool RedoEnabled() const { return CanRedo() && Stopped(); }
    // "&Undo <label>\tCtrl+Z" and "&Redo <label>\tCtrl+Y"; the label is empty when there is no step.
    std::string UndoMenuText() const;
    std::string RedoMenuText() const;

    size_t StepCount() const { return steps_.size(); }
    // The index of the step redo would apply; StepCount() when every step is applied.
    size_t Position() const { return position_; }
    const UndoStep& StepAt(size_t index) const { return *steps_[index]; }
    // What the last undo or redo did, and which view should come to the front.
    const StepEffects& LastEffects() const { return effects_; }
    StepFocus LastFocus() const { return focus_; }

    // SongHistory, for the writer.
    [[nodiscard]] bool ApplyOffsets(Song& song) override;
    void ForEachHeldClip(const std::function<void(AudioClip&)>& visit) override;
    void MarkSaved() override;
    bool IsModified() const override;

  private:
    bool Stopped() const;
    const UndoStep* LastApplied() const { return position_ > 0 ? steps_[position_ - 1].get() : nullptr; }
    void Begin(Song& song);
    void OpenGap(Song& song, const UndoStep& step);
    void CloseGap(Song& song, const UndoStep& step);
    void SelectGap(Song& song, const UndoStep& step);
    void Finish(Song& song, const UndoStep& step, bool forward);
    // Drops the steps from `first` on, deleting the clip files only they hold.
    void DiscardFrom(size_t first, const Song* song);

    Transport* transport_;
    std::vector<std::unique_ptr<UndoStep>> steps_;
    size_t position_ = 0;
    // The last applied step when the song was saved (null: none was); when that step is discarded the
    // marker can never match again until the next save.
    const UndoStep* saved_ = nullptr;
    bool savedGone_ = false;
    StepEffects effects_;
    StepFocus focus_ = StepFocus::None;
};

// The song's history, installing an empty one (without a transport) when the song has none.
UndoHistory& HistoryOf(Song& song);
// Submits through the song's history.
[[nodiscard]] bool SubmitStep(Song& song, std::unique_ptr<UndoStep> step);

} // namespace cantivo
