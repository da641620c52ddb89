#include "set/SetViewModel.h"

#include "playback/Scheduler.h"
#include "playback/Sequencer.h"
#include "set/SetFile.h"
#include "set/SongReadAhead.h"
#include "song/Profile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/TimeCode.h"

#include <algorithm>

namespace cantivo {

namespace {

constexpr const char* Playback = "PlaybackOptions";

// A marker is always listed; the other kinds only with a name.
bool Listed(const Cue& cue)
{
    return cue.kind == CueMarker || !cue.label.empty();
}

} // namespace

SetViewModel::SetViewModel(CLiveDoc& set, Sequencer& sequencer, SongActivator& activator, Scheduler& scheduler,
                           Profile& profile)
    : set_(set), sequencer_(sequencer), activator_(activator), scheduler_(scheduler), profile_(profile)
{
    set_.Observe(this);
    current_ = set_.SongCount();
    expanded_.assign(static_cast<size_t>(set_.SongCount()), 0);
    RecomputeTimes();
}

SetViewModel::~SetViewModel()
{
    scheduler_.KillTimer(AdvanceTimer);
    set_.Observe(nullptr);
}

std::vector<SetItem> SetViewModel::Items() const
{
    std::vector<SetItem> items;
    for (int position = 0; position < set_.SongCount(); ++position) {
        const Song& song = set_.SongAt(position);
        SetItem item;
        item.kind = SetItem::Kind::Song;
        item.position = position;
        item.text = StripKnownExtension(StoredPathName(song.pathName)) + (song.IsModified() ? " *" : "");
        item.image = 1;
        const bool marker = position == current_ && markerCue_ < 0;
        item.stateImage = !set_.IsRead(song) ? 3 : marker ? 2 : 1;
        item.expanded = IsExpanded(position);
        items.push_back(item);
        for (size_t i = 0; i < song.cues.size(); ++i) {
            const Cue& cue = *song.cues[i];
            if (!Listed(cue))
                continue;
            SetItem row;
            row.kind = SetItem::Kind::Cue;
            row.position = position;
            row.cue = static_cast<int>(i);
            row.text = cue.DisplayLabel();
            row.image = cue.kind + 2;
            row.stateImage = position == current_ && markerCue_ == static_cast<int>(i) ? 2 : 1;
            items.push_back(row);
        }
    }
    SetItem end;
    end.text = set_.IsClosed() ? "No open set." : "End of set.";
    end.position = set_.SongCount();
    end.stateImage = 2;
    items.push_back(end);
    return items;
}

Song* SetViewModel::Select(int position, int32_t start)
{
    position = std::clamp(position, 0, set_.SongCount());
    Changed(); // a song may have been read
    if (position != current_)
        MakeCurrent(position);
    Song* result = nullptr;
    if (!AtEnd()) {
        std::unique_ptr<PlaybackModel> prepared;
        if (readAhead_ != nullptr && !set_.IsRead(set_.SongAt(position))) {
            if (std::optional<ReadAheadSong> ahead = readAhead_->Take(set_.SongAt(position).pathName))
                if (set_.AdoptRead(position, ahead->song, ahead->notices))
                    prepared = std::move(ahead->model);
        }
        if (set_.EnsureRead(position)) {
            result = &set_.SongAt(position);
            activator_.Activate(*result, start, std::move(prepared));
            set_.SetCurrentSong(result);
        }
    } else {
        set_.ClearCurrentSong();
    }
    UpdatePlayingMarker();
    RecomputeTimes();
    ReadNextAhead();
    return result;
}

void SetViewModel::UseReadAhead(SongReadAhead* readAhead)
{
    readAhead_ = readAhead;
    ReadNextAhead();
}

void SetViewModel::ReadNextAhead()
{
    // The song auto-advance and "Next song" go to; a read song costs nothing to change to.
    const int next = current_ + 1;
    if (readAhead_ != nullptr && !set_.IsClosed() && next < set_.SongCount() && !set_.IsRead(set_.SongAt(next)))
        readAhead_->Request(set_.SongAt(next).pathName);
}

void SetViewModel::NextSong()
{
    if (set_.IsClosed())
        return;
    sequencer_.Stop();
    for (int position = current_ + 1; position <= set_.SongCount(); ++position)
        if (Select(position, 0) != nullptr || AtEnd())
            return; // a song that cannot be read is passed over
}

void SetViewModel::PreviousSong()
{
    if (set_.IsClosed())
        return;
    sequencer_.Stop();
    for (int position = current_ - 1; position >= 0; --position)
        if (Select(position, 0) != nullptr)
            return;
}

void SetViewModel::RevertToPreviousSong()
{
    if (CanRevert())
        (void)Select(previous_, -1);
}

Song* SetViewModel::Go(int position, int cue)
{
    if (position < 0 || position >= set_.SongCount())
        return nullptr;
    int32_t start = AutoAdvance() == 0 ? -1 : 0;
    if (cue >= 0 && set_.IsRead(set_.SongAt(position))) {
        const Song& song = set_.SongAt(position);
        if (static_cast<size_t>(cue) < song.cues.size())
            start = song.cues[static_cast<size_t>(cue)]->AnchorTime();
    }
    return Select(position, start);
}

void SetViewModel::SongSelect(int number)
{
    (void)Select(std::min(number, set_.SongCount()), 0);
}

void SetViewModel::UpdatePlayingMarker()
{
    const int before = markerCue_;
    UpdateMarkerCue();
    if (markerCue_ != before)
        SetExpanded(current_, true); // the marker is made visible
}

void SetViewModel::UpdateMarkerCue()
{
    int marker = -1;
    if (!AtEnd() && set_.IsRead(set_.SongAt(current_))) {
        const Song& song = set_.SongAt(current_);
        const int32_t position = sequencer_.Position();
        for (size_t i = 0; i < song.cues.size(); ++i) {
            const Cue& cue = *song.cues[i];
            if (!Listed(cue))
                continue;
            if (cue.AnchorTime() > position)
                break;
            marker = static_cast<int>(i);
        }
    }
    if (marker != markerCue_) {
        markerCue_ = marker;
        Changed();
    }
}

int SetViewModel::AutoAdvance() const
{
    if (advanceOverride_ >= 0)
        return advanceOverride_;
    return std::clamp(profile_.GetInt(Playback, "AutoAdvance", 1), 0, 2);
}

void SetViewModel::SetAutoAdvance(int mode)
{
    profile_.WriteInt(Playback, "AutoAdvance", std::clamp(mode, 0, 2));
}

bool SetViewModel::ViewSetTimes() const
{
    return profile_.GetInt("DisplayOptions", "ViewSetTime", 0) == 1;
}

void SetViewModel::SetViewSetTimes(bool on)
{
    profile_.WriteInt("DisplayOptions", "ViewSetTime", on ? 1 : 0);
}

bool SetViewModel::Advancing() const
{
    return scheduler_.IsRunning(AdvanceTimer);
}

void SetViewModel::EndOfSong(Sequencer& sequencer)
{
    if (AutoAdvance() == 0 || set_.IsClosed())
        return;
    // The wait passes on the loop's clock (real time on stage, virtual time in a render) and counts
    // from the song's end, not from when the loop heard of it.
    const int64_t wait = int64_t{std::max(profile_.GetInt(Playback, "AdvanceWait", 1000), 0)} * 1000 -
                         std::max<int64_t>(sequencer.SinceHalt(), 0);
    if (wait <= 0) {
        Advance();
        return;
    }
    scheduler_.StartTimer(AdvanceTimer, wait, [this] {
        scheduler_.KillTimer(AdvanceTimer);
        Advance();
    });
}

void SetViewModel::Advance()
{
    NextSong();
    if (profile_.GetInt(Playback, "AdvanceResetTempo", 1) == 1)
        sequencer_.TempoNormal();
    if (AutoAdvance() == 2 && !AtEnd())
        sequencer_.PlayTap();
}

void SetViewModel::RecomputeTimes()
{
    total_ = 0;
    before_ = 0;
    for (int position = 0; position < set_.SongCount(); ++position) {
        if (position == current_)
            before_ = total_;
        total_ += set_.SongAt(position).songLength / 1e6;
    }
    if (AtEnd())
        before_ = total_;
}

std::string SetViewModel::SetTimesText(double currentSongSeconds) const
{
    const int format = profile_.GetInt("SyncOptions", "SMPTE", Frames30); // the sync options' default
    const double elapsed = before_ + currentSongSeconds;
    return TransportTimeText(elapsed * 1e6, format) + " / " +
           TransportTimeText(std::max(total_ - elapsed, 0.0) * 1e6, format);
}

void SetViewModel::SetRebuilt()
{
    current_ = set_.SongCount();
    previous_ = -1;
    markerCue_ = -1;
    expanded_.assign(static_cast<size_t>(set_.SongCount()), 0);
    RecomputeTimes();
    Changed();
}

void SetViewModel::MakeCurrent(int position)
{
    SetExpanded(current_, false);
    previous_ = current_;
    current_ = position;
    SetExpanded(current_, true);
}

bool SetViewModel::IsExpanded(int position) const
{
    return position >= 0 && position < static_cast<int>(expanded_.size()) && expanded_[static_cast<size_t>(position)];
}

void SetViewModel::SetExpanded(int position, bool expanded)
{
    if (position >= 0 && position < static_cast<int>(expanded_.size()) &&
        (expanded_[static_cast<size_t>(position)] != 0) != expanded) {
        expanded_[static_cast<size_t>(position)] = expanded ? 1 : 0;
        Changed();
    }
}

void SetViewModel::SongInserted(int position, bool select)
{
    // The rows after it move down one.
    if (current_ >= position)
        ++current_;
    if (previous_ >= position)
        ++previous_;
    expanded_.insert(expanded_.begin() + std::clamp<int>(position, 0, static_cast<int>(expanded_.size())), 0);
    if (select && set_.IsRead(set_.SongAt(position))) {
        MakeCurrent(position);
        UpdatePlayingMarker();
    }
    RecomputeTimes();
    Changed();
}

void SetViewModel::SongRemoved(int position)
{
    if (position >= 0 && position < static_cast<int>(expanded_.size()))
        expanded_.erase(expanded_.begin() + position);
    if (previous_ == position)
        previous_ = -1;
    else if (previous_ > position)
        --previous_;
    if (current_ == position) {
        current_ = set_.SongCount();
        markerCue_ = -1;
    } else if (current_ > position) {
        --current_;
    }
    RecomputeTimes();
    Changed();
}

void SetViewModel::CurrentSongCleared()
{
    current_ = set_.SongCount();
    markerCue_ = -1;
    Changed();
}

} // namespace cantivo
