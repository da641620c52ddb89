#pragma once

#include "song/Cue.h"

#include <array>
#include <cstdint>

namespace cantivo {

struct PlaybackModel;

// A vamp being repeated: its two times, as they were when it was entered, and the passes left.
struct VampEntry {
    int32_t stopAt = 0;
    int32_t restartAt = 0;
    int32_t remaining = 0; // 0: until "Last vamp"
    int32_t count = 0;     // the cue's count, for the pass shown to the performer
    int32_t passes = 1;    // how many times the section has started, this one included
};

// What the play tick does when it reaches the cue trigger.
enum class TriggerAction : uint8_t {
    None, // nothing here: the stop tick decides
    Jump, // play from the target
    Pass, // the cue is passed: the position moves to the tick and the next cue is looked up
};

// The engine's cue bookkeeping for the song being played: where playback must stop, which tick
// triggers a jump and to where, and the stack of vamps being repeated. Fixed storage and no
// allocation: the play thread runs it under the transport lock. Cue times that break their kind's
// order (only a damaged or hand-made file has them) are used as they stand.
class CueTracker {
  public:
    static constexpr int32_t NoTick = 0x7FFFFFFF;
    static constexpr int MaxVamps = 32;

    // Recomputes the stop tick, trigger, target and pending cue from the position.
    void NextCueStep(const PlaybackModel& model, int32_t position);
    // While recording nothing stops or jumps.
    void Suspend();
    // The current tick reached the trigger.
    TriggerAction Trigger(const PlaybackModel& model);
    // The current tick reached the next cue boundary: enters a vamp region and moves the boundary on.
    void Region(const PlaybackModel& model, int32_t tick);
    // At every start of playback: keeps the vamps whose section still contains the position, and asks
    // for the region bookkeeping on the first tick.
    void Restart(int32_t position);
    // Playback stopped: no vamp is being repeated any more.
    void ClearVamps() { depth_ = 0; }

    // "Last vamp": true when the pending vamp will end after this pass.
    bool LastVamp(const PlaybackModel& model, int32_t position);
    bool CanLastVamp(const PlaybackModel& model, int32_t position) const;
    // "Repeat measure" and "Skip next measure": a one-off jump at the end of the measure.
    void RepeatMeasure(const PlaybackModel& model, int32_t position);
    void SkipNextMeasure(const PlaybackModel& model, int32_t position);

    int32_t StopTick() const { return stopTick_; }
    int32_t TriggerTick() const { return triggerTick_; }
    int32_t TargetTick() const { return targetTick_; }
    int32_t Boundary() const { return boundary_; }
    // The pending cue, or null; valid while the model is.
    const Cue* Pending(const PlaybackModel& model) const;
    // The pass of the vamp now repeating (1 for the first time through), 0 when none is.
    int32_t VampPass(int32_t position) const;
    int Depth() const { return depth_; }
    const VampEntry* Top() const { return depth_ > 0 ? &vamps_[static_cast<size_t>(depth_ - 1)] : nullptr; }

  private:
    void Push(const Cue& cue, int32_t remaining);
    void Pop() { --depth_; }

    int32_t stopTick_ = NoTick;
    int32_t triggerTick_ = NoTick;
    int32_t targetTick_ = 0;
    int32_t boundary_ = NoTick;
    int pending_ = -1;
    std::array<VampEntry, MaxVamps> vamps_{};
    int depth_ = 0;
};

// The first cue whose anchor time is at or after `tick` (the count when there is none).
int FindCue(const PlaybackModel& model, int32_t tick);
// The beat interval, in ticks, of the measure at `measure` (a quarter when the song has no measures).
int32_t BeatInterval(const PlaybackModel& model, int measure);

} // namespace cantivo
