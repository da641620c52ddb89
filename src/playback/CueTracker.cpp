#include "playback/CueTracker.h"

#include "playback/PlaybackModel.h"

#include <algorithm>

namespace cantivo {

int FindCue(const PlaybackModel& model, int32_t tick)
{
    const int count = static_cast<int>(model.cues.size());
    for (int index = 0; index < count; ++index)
        if (model.cues[static_cast<size_t>(index)].AnchorTime() >= tick)
            return index;
    return count;
}

namespace {

// A breath goes back exactly once, whatever count a file gives it.
int32_t CueCount(const Cue& cue)
{
    return cue.kind == CueBreath ? 2 : cue.count;
}

} // namespace

int32_t BeatInterval(const PlaybackModel& model, int measure)
{
    if (measure < 0 || model.measures.empty())
        return std::max<int32_t>(model.timebase, 1);
    const int clocks = model.measures[static_cast<size_t>(measure)].clocksPerClick;
    return std::max(1, (clocks == 0 ? 24 : clocks) * model.timebase / 24);
}

void CueTracker::NextCueStep(const PlaybackModel& model, int32_t position)
{
    // Past the end by one tick, so the events at the end tick itself are still sent.
    stopTick_ = model.endTick + 1;
    triggerTick_ = NoTick;
    pending_ = -1;
    const int count = static_cast<int>(model.cues.size());
    for (int index = FindCue(model, position); index < count; ++index) {
        const Cue& cue = model.cues[static_cast<size_t>(index)];
        if (stopTick_ <= cue.stopAt)
            break;
        switch (cue.kind) {
        case CueCaesura:
        case CueFermata:
            if (position < cue.stopAt)
                stopTick_ = cue.stopAt;
            continue;
        case CueVamp:
        case CueSkip:
        case CueBreath:
        case CueAdvance:
            if (position < cue.stopAt) {
                pending_ = index;
                triggerTick_ = cue.stopAt;
                targetTick_ = cue.restartAt;
                return;
            }
            continue;
        case CueAdLib:
            if (position < cue.restartAt) {
                // Two thirds of a beat past the first beat at or after the later of the position and stop-at.
                const int32_t t = std::max(position, cue.stopAt);
                const int measure = std::max(model.FindMeasure(t), 0);
                const int32_t start = model.measures.empty() ? 0 : model.measures[static_cast<size_t>(measure)].start;
                const int32_t c = BeatInterval(model, measure);
                const int64_t beat = start + (static_cast<int64_t>(t) - start + c - 1) / c * c;
                stopTick_ = static_cast<int32_t>(std::min<int64_t>(beat + 2 * c / 3, NoTick - 1));
                return;
            }
            continue;
        case CueHoldAndCut:
        case CueAdvanceAndCut:
            if (position < cue.stopAt) {
                stopTick_ = cue.stopAt;
                pending_ = index;
                triggerTick_ = cue.stopAt;
                targetTick_ = cue.restartAt;
                return;
            }
            continue;
        default:
            continue; // markers and kinds this version does not know
        }
    }
}

void CueTracker::Suspend()
{
    stopTick_ = NoTick;
    triggerTick_ = NoTick;
    pending_ = -1;
}

TriggerAction CueTracker::Trigger(const PlaybackModel& model)
{
    const Cue* cue = Pending(model);
    if (cue == nullptr)
        return TriggerAction::Jump; // a measure command's one-off jump; the jump's chase replaces it
    if (IsVampFamily(cue->kind)) {
        VampEntry* top = depth_ > 0 ? &vamps_[static_cast<size_t>(depth_ - 1)] : nullptr;
        bool passing = false;
        if (top != nullptr && top->stopAt == triggerTick_) {
            if (top->remaining == 1) {
                Pop();
                passing = true;
            } else {
                if (top->remaining > 1)
                    --top->remaining;
                ++top->passes;
            }
        } else if (CueCount(*cue) != 1) {
            Push(*cue, CueCount(*cue) > 0 ? CueCount(*cue) - 1 : 0);
            vamps_[static_cast<size_t>(depth_ - 1)].passes = 2;
        } else {
            passing = true;
        }
        if (!passing)
            return TriggerAction::Jump;
        return cue->kind == CueAdvanceAndCut ? TriggerAction::None : TriggerAction::Pass;
    }
    if (cue->kind == CueSkip)
        return TriggerAction::Jump;
    // A hold-and-cut: the stop tick does the work, and the trigger stays for the tap that cuts.
    return TriggerAction::None;
}

void CueTracker::Region(const PlaybackModel& model, int32_t tick)
{
    const int count = static_cast<int>(model.cues.size());
    const int first = FindCue(model, tick);
    if (first < count) {
        const Cue& cue = model.cues[static_cast<size_t>(first)];
        const VampEntry* top = Top();
        if (IsVampFamily(cue.kind) && tick < cue.stopAt && (top == nullptr || top->stopAt != cue.stopAt))
            Push(cue, CueCount(cue));
    }
    boundary_ = NoTick;
    for (int index = first; index < count; ++index) {
        const Cue& cue = model.cues[static_cast<size_t>(index)];
        if (cue.restartAt >= tick && cue.stopAt >= tick) {
            boundary_ = std::min(cue.restartAt, cue.stopAt);
            // A boundary at this very tick would run the bookkeeping again on every tick.
            if (boundary_ <= tick)
                boundary_ = tick + 1;
            break;
        }
    }
}

void CueTracker::Restart(int32_t position)
{
    int kept = 0;
    for (int i = 0; i < depth_; ++i) {
        const VampEntry& entry = vamps_[static_cast<size_t>(i)];
        if (entry.restartAt <= position && entry.stopAt > position)
            vamps_[static_cast<size_t>(kept++)] = entry;
    }
    depth_ = kept;
    boundary_ = 0;
}

void CueTracker::Push(const Cue& cue, int32_t remaining)
{
    if (depth_ == MaxVamps) {
        // Deeper than any song nests its vamps: the oldest entry goes.
        std::move(vamps_.begin() + 1, vamps_.end(), vamps_.begin());
        --depth_;
    }
    vamps_[static_cast<size_t>(depth_++)] = {cue.stopAt, cue.restartAt, remaining, CueCount(cue), 1};
}

bool CueTracker::CanLastVamp(const PlaybackModel& model, int32_t position) const
{
    const Cue* cue = Pending(model);
    return cue != nullptr && cue->kind == CueVamp && position >= cue->restartAt;
}

bool CueTracker::LastVamp(const PlaybackModel& model, int32_t position)
{
    if (!CanLastVamp(model, position))
        return false;
    const Cue& cue = *Pending(model);
    if (depth_ > 0 && vamps_[static_cast<size_t>(depth_ - 1)].stopAt == cue.stopAt)
        vamps_[static_cast<size_t>(depth_ - 1)].remaining = 1;
    else
        Push(cue, 1);
    return true;
}

void CueTracker::RepeatMeasure(const PlaybackModel& model, int32_t position)
{
    const int index = model.FindMeasure(position);
    if (index < 0)
        return;
    const Measure& m = model.measures[static_cast<size_t>(index)];
    // A tenth of a beat early, so the downbeat's own notes are heard from the start of the repeat.
    pending_ = -1;
    triggerTick_ = m.start + m.length - model.timebase / 10;
    targetTick_ = std::max(m.start - model.timebase / 10, 0);
}

void CueTracker::SkipNextMeasure(const PlaybackModel& model, int32_t position)
{
    const int index = model.FindMeasure(position);
    if (index < 0 || static_cast<size_t>(index) + 1 >= model.measures.size())
        return;
    const Measure& n = model.measures[static_cast<size_t>(index) + 1];
    // The last measure entry marks the song's end: in the last measure there is nothing to skip.
    if (n.start >= model.endTick)
        return;
    pending_ = -1;
    triggerTick_ = std::max(n.start - model.timebase / 10, 0);
    targetTick_ = n.start + n.length - model.timebase / 10;
}

const Cue* CueTracker::Pending(const PlaybackModel& model) const
{
    if (pending_ < 0 || static_cast<size_t>(pending_) >= model.cues.size())
        return nullptr;
    return &model.cues[static_cast<size_t>(pending_)];
}

int32_t CueTracker::VampPass(int32_t position) const
{
    const VampEntry* top = Top();
    if (top == nullptr || position < top->restartAt || position > top->stopAt)
        return 0;
    return top->passes;
}

} // namespace cantivo
