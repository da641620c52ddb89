#include "edit/UndoHistory.h"

#include "edit/OffsetStep.h"
#include "edit/TimeGap.h"
#include "playback/Transport.h"
#include "song/AudioClip.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>

namespace cantivo {

namespace {

// The audio working folder's name: clip files under it belong to the history alone.
constexpr const char* WorkingFolderName = "undoredo.wav";

void CollectSongClips(const Song& song, std::set<std::string>& names)
{
    for (const auto& track : song.tracks)
        for (const SongEvent& event : track->events)
            if (const AudioClip* clip = event.ClipData())
                names.insert(clip->fileName);
}

// Releases what the step holds. Its clip files in the working folder are deleted unless the step
// shares them with the song (StepKeepClipFiles) or something still in use names the same file.
void DestroyStep(std::unique_ptr<UndoStep> step, const std::set<std::string>& inUse)
{
    const bool keepFiles = step->Has(StepKeepClipFiles);
    step->ForEachHeldClip([&](AudioClip& clip) {
        clip.Close();
        if (keepFiles || clip.fileName.find(WorkingFolderName) == std::string::npos || inUse.count(clip.fileName))
            return;
        std::error_code error;
        std::filesystem::remove(clip.fileName, error); // already gone is fine
    });
}

} // namespace

UndoHistory::UndoHistory(Transport* transport) : transport_(transport) {}

UndoHistory::~UndoHistory()
{
    DiscardFrom(0, nullptr);
}

UndoHistory& UndoHistory::Install(Song& song, Transport* transport)
{
    auto history = std::make_unique<UndoHistory>(transport);
    UndoHistory& installed = *history;
    song.history = std::move(history);
    return installed;
}

UndoHistory* UndoHistory::Of(Song& song)
{
    return dynamic_cast<UndoHistory*>(song.history.get());
}

UndoHistory& HistoryOf(Song& song)
{
    if (!song.history)
        return UndoHistory::Install(song);
    if (UndoHistory* history = UndoHistory::Of(song))
        return *history;
    throw std::logic_error("the song's history is not an UndoHistory");
}

bool SubmitStep(Song& song, std::unique_ptr<UndoStep> step)
{
    return HistoryOf(song).SubmitStep(song, std::move(step));
}

bool UndoHistory::Stopped() const
{
    return transport_ == nullptr || transport_->IsStopped();
}

void UndoHistory::DiscardFrom(size_t first, const Song* song)
{
    if (first >= steps_.size())
        return;
    std::set<std::string> inUse;
    if (song)
        CollectSongClips(*song, inUse);
    for (size_t i = 0; i < first; ++i)
        steps_[i]->ForEachHeldClip([&](AudioClip& clip) { inUse.insert(clip.fileName); });
    for (size_t i = first; i < steps_.size(); ++i) {
        if (steps_[i].get() == saved_)
            savedGone_ = true;
        DestroyStep(std::move(steps_[i]), inUse);
    }
    steps_.resize(first);
    position_ = std::min(position_, first);
}

bool UndoHistory::SubmitStep(Song& song, std::unique_ptr<UndoStep> step)
{
    if (!step)
        return false;
    const auto refuse = [&](const char* message) {
        if (message)
            song.Context().prompter->Show(message, PromptIcon::Warning);
        std::set<std::string> inUse;
        CollectSongClips(song, inUse);
        for (const auto& kept : steps_)
            kept->ForEachHeldClip([&](AudioClip& clip) { inUse.insert(clip.fileName); });
        DestroyStep(std::move(step), inUse);
        return false;
    };
    if (!Stopped())
        return refuse(nullptr);
    if (step->Has(StepTracks)) {
        const int after = song.UserTrackCount() - step->tracks.ValidRemovals(song) +
                          static_cast<int>(step->tracks.InsertTracks().size());
        if (after > MaxUserTracks)
            return refuse(TooManyTracksMessage);
    }
    if (step->Has(StepEvents) && !step->Has(StepTracks)) {
        const auto& refs = step->events.InsertRefs();
        const auto& events = step->events.InsertEvents();
        const int trailing = static_cast<int>(song.tracks.size()) - 1;
        for (size_t i = refs.size(); i-- > 0;) {
            const int number = RefTrack(refs[i]);
            if (number >= trailing)
                return refuse(MissingTargetTrackMessage);
            if (events[i].IsAudioClip() != song.tracks[static_cast<size_t>(number)]->IsAudio())
                return refuse(AudioMidiMismatchMessage);
        }
    }
    DiscardFrom(position_, &song);
    steps_.push_back(std::move(step));
    position_ = steps_.size() - 1;
    return Redo(song);
}

void UndoHistory::OpenGap(Song& song, const UndoStep& step)
{
    OpenTimeGap(song, step.start, step.length);
    effects_.allTracks = true;
}

void UndoHistory::CloseGap(Song& song, const UndoStep& step)
{
    CloseTimeGap(song, step.start, step.length);
    effects_.allTracks = true;
    song.currentPosition = step.start;
}

// After time comes back, it is selected and the cursor stands at its start.
void UndoHistory::SelectGap(Song& song, const UndoStep& step)
{
    song.selectionStart = step.start;
    song.selectionEnd = step.start + step.length;
    ++song.selectionGeneration;
    song.currentPosition = step.start;
}

void UndoHistory::Begin(Song& song)
{
    effects_ = StepEffects{};
    ++song.selectionGeneration;
    song.selectionStart = -1;
    song.selectionEnd = -1;
}

bool UndoHistory::Redo(Song& song)
{
    if (!CanRedo() || !Stopped())
        return false;
    UndoStep& step = *steps_[position_];
    Begin(song);
    if (step.Has(StepInsertTime))
        OpenGap(song, step);
    if (step.Has(StepTrackProperties))
        step.trackProperties.Apply(song, effects_);
    if (step.Has(StepSongProperties))
        step.songProperties.Apply(song);
    if (step.Has(StepCues))
        step.cues.Apply(song, effects_);
    if (step.Has(StepTempos))
        step.tempos.Apply(song, effects_);
    if (step.Has(StepTracks))
        step.tracks.Apply(song, effects_);
    if (step.Has(StepEvents))
        step.events.Apply(song, effects_);
    if (step.Has(StepDeleteTime))
        CloseGap(song, step);
    if (step.Has(StepMeasures))
        step.measures.Exchange(song);
    if (step.Has(StepInsertTime))
        SelectGap(song, step);
    ++position_;
    Finish(song, step, true);
    return true;
}

bool UndoHistory::Undo(Song& song)
{
    if (!CanUndo() || !Stopped())
        return false;
    --position_;
    UndoStep& step = *steps_[position_];
    Begin(song);
    if (step.Has(StepDeleteTime))
        OpenGap(song, step);
    if (step.Has(StepSongProperties))
        step.songProperties.Apply(song);
    if (step.Has(StepEvents))
        step.events.Apply(song, effects_);
    if (step.Has(StepTracks))
        step.tracks.Apply(song, effects_);
    if (step.Has(StepTempos))
        step.tempos.Apply(song, effects_);
    if (step.Has(StepCues))
        step.cues.Apply(song, effects_);
    if (step.Has(StepTrackProperties))
        step.trackProperties.Apply(song, effects_);
    if (step.Has(StepInsertTime))
        CloseGap(song, step);
    if (step.Has(StepMeasures))
        step.measures.Exchange(song);
    if (step.Has(StepDeleteTime))
        SelectGap(song, step);
    Finish(song, step, false);
    return true;
}

void UndoHistory::Finish(Song& song, const UndoStep& step, bool forward)
{
    auto& touched = effects_.eventTracks;
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    // Only the tracks whose events changed need encoding again; with none, name the trailing track,
    // which is never encoded, so that only audio tracks and the song end are brought up to date.
    int which = AllTracks;
    if (!effects_.allTracks && touched.size() <= 1)
        which = touched.empty() ? static_cast<int>(song.tracks.size()) - 1 : touched.front();
    song.UpdateSongEnd(which);
    if (effects_.lastInsertedTempoTick > song.songEnd) {
        song.songEnd = effects_.lastInsertedTempoTick;
        song.songLength = song.TicksToMicroseconds(song.songEnd);
    }

    // Laid out before extending, so that the appended measures continue the table as it now stands.
    if (forward)
        song.RelayMeasures();
    if (forward || !song.measures.empty())
        song.ExtendMeasures();

    if (!song.measures.empty())
        song.currentPosition = std::min(song.currentPosition, song.measures.back().start);
    if (transport_)
        transport_->Relocate(song.currentPosition);

    if (step.Has(StepOneController))
        focus_ = StepFocus::ControllerLane;
    else if (step.Has(StepTracks) || step.Has(StepTrackProperties))
        focus_ = StepFocus::TrackView;
    else if ((step.kinds & ~static_cast<uint32_t>(StepTempos)) == 0)
        focus_ = StepFocus::None;
    else
        focus_ = StepFocus::LastEditingView;
    song.RefreshViews();
    song.SetModifiedFlag(IsModified());
}

std::string UndoHistory::UndoMenuText() const
{
    const UndoStep* last = LastApplied();
    return "&Undo " + (last ? last->label : std::string()) + "\tCtrl+Z";
}

std::string UndoHistory::RedoMenuText() const
{
    return "&Redo " + (CanRedo() ? steps_[position_]->label : std::string()) + "\tCtrl+Y";
}

bool UndoHistory::ApplyOffsets(Song& song)
{
    std::unique_ptr<UndoStep> step = BuildApplyOffsetsStep(song);
    if (!step)
        return true; // nothing to apply
    return SubmitStep(song, std::move(step));
}

void UndoHistory::ForEachHeldClip(const std::function<void(AudioClip&)>& visit)
{
    for (const auto& step : steps_)
        if (!step->Has(StepKeepClipFiles))
            step->ForEachHeldClip(visit);
}

void UndoHistory::MarkSaved()
{
    saved_ = LastApplied();
    savedGone_ = false;
}

bool UndoHistory::IsModified() const
{
    return savedGone_ || LastApplied() != saved_;
}

} // namespace cantivo
