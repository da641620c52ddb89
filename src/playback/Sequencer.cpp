#include "playback/Sequencer.h"

#include "playback/MidiOutPort.h"
#include "playback/NotificationQueue.h"
#include "playback/PortTable.h"
#include "playback/Scheduler.h"
#include "song/Profile.h"
#include "song/RawEventReader.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace cantivo {

namespace {

uint32_t Pack(int status, int data1, int data2)
{
    return static_cast<uint32_t>(status & 0xFF) | static_cast<uint32_t>(data1 & 0x7F) << 8 |
           static_cast<uint32_t>(data2 & 0x7F) << 16;
}

bool Known(uint8_t value)
{
    return value != UnknownByte;
}

} // namespace

Sequencer::Sequencer(PortTable& ports, const MicrosecondClock& clock, NotificationQueue& notifications)
    : ports_(ports), clock_(clock), notifications_(notifications)
{
}

Sequencer::~Sequencer()
{
    Shutdown();
}

void Sequencer::Start(const Profile& profile, int timerPeriodMilliseconds)
{
    SetOptions(static_cast<uint32_t>(profile.GetInt("Sequencer", "Options", 2)));
    advanceReset_ = static_cast<AdvanceReset>(std::clamp(profile.GetInt("PlaybackOptions", "AdvanceReset", 2), 0, 2));
    periodMilliseconds_ = std::clamp(timerPeriodMilliseconds, 1, 100);
    eventFilter_ = static_cast<uint32_t>(profile.GetInt("RecordOptions", "EventFilter", 0xDB00));
    SetSync(SyncSettings::Read(profile));
    SetFollowTap(FollowTapSettings::Read(profile));
    SetClick(ClickSettings::Read(profile));
    std::lock_guard lock(rolling_);
    StartBeatTimer(clock_.NowMicroseconds());
}

void Sequencer::SetFollowTap(const FollowTapSettings& settings)
{
    follow_ = FollowEffective::From(settings);
    if (follow_.returnRate == 0 && scheduler_ != nullptr)
        scheduler_->KillTimer(ReturnTimer);
}

ClickSettings Sequencer::CurrentClick() const
{
    std::lock_guard lock(rolling_);
    return click_;
}

void Sequencer::SetClick(const ClickSettings& click)
{
    std::lock_guard lock(rolling_);
    click_ = click;
    clickPort_ = nullptr;
    for (int i = 0; i < ports_.OutputCount(); ++i)
        if (ports_.Output(i).Name() == click_.portName)
            clickPort_ = &ports_.Output(i);
    SetupClickPatch();
}

void Sequencer::SetupClickPatch()
{
    if (clickPort_ != nullptr)
        clickPort_->AuditionPatch(click_.patch, click_.firstBeat);
}

void Sequencer::Shutdown()
{
    if (closing_.exchange(true))
        return;
    Stop();
    {
        std::lock_guard lock(rolling_);
        timerMode_.store(TimerMode::None, std::memory_order_release);
    }
    WakeDisplay();
    if (displayThread_.joinable())
        displayThread_.join();
}

void Sequencer::Post(EngineMessage message, int32_t value)
{
    notifications_.Post(EngineNotification{message, value, Position()});
}

void Sequencer::WakeDisplay()
{
    displayWake_.fetch_add(1, std::memory_order_release);
    displayWake_.notify_one();
}

void Sequencer::RefreshViews()
{
    viewsRefresh_.store(true, std::memory_order_release);
    WakeDisplay();
}

void Sequencer::StartDisplayThread()
{
    if (displayThread_.joinable())
        return;
    displayThread_ = std::thread([this] {
        uint32_t seen = displayWake_.load(std::memory_order_acquire);
        while (!closing_.load(std::memory_order_acquire)) {
            displayWake_.wait(seen, std::memory_order_acquire);
            seen = displayWake_.load(std::memory_order_acquire);
            DisplayStep();
        }
    });
}

void Sequencer::DisplayStep()
{
    if (viewsRefresh_.exchange(false, std::memory_order_acq_rel))
        Post(EngineMessage::CmdRefreshPosition, Position());
}

int32_t Sequencer::EndTick() const
{
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    return model ? model->endTick : 0;
}

// ---- Songs

void Sequencer::Activate(std::unique_ptr<PlaybackModel> model, int32_t startTick, int32_t songPosition)
{
    if (!model)
        return;
    Stop();
    std::unique_ptr<PlaybackModel> old;
    {
        std::lock_guard lock(rolling_);
        if (advanceReset_ == AdvanceReset::ResetControllers) {
            for (int i = ports_.OutputCount() - 1; i >= 0; --i) {
                ports_.Output(i).ResetControllers();
                ports_.Output(i).ClearState();
            }
        } else if (advanceReset_ == AdvanceReset::ResetPorts) {
            ports_.ResetMappedPorts(resets_);
        }
        old = std::move(owned_);
        owned_ = std::move(model);
        model_.store(owned_.get(), std::memory_order_release);
        PlaybackModel& current = *owned_;
        SendOpeningSysex(current);
        int32_t tick = startTick < 0 ? songPosition : startTick;
        // A song that starts on a skip starts where the skip goes.
        for (auto cue = current.cues.rbegin(); cue != current.cues.rend(); ++cue) {
            if (cue->kind == CueSkip && cue->stopAt == tick) {
                tick = cue->restartAt;
                break;
            }
        }
        ChaseLocked(current, tick, State());
    }
    RefreshViews();
    // The old model is freed here, on the UI thread, after the play thread has let go of it.
}

void Sequencer::Replace(std::unique_ptr<PlaybackModel> model)
{
    if (!model)
        return;
    std::unique_ptr<PlaybackModel> old;
    {
        std::lock_guard lock(rolling_);
        old = std::move(owned_);
        owned_ = std::move(model);
        model_.store(owned_.get(), std::memory_order_release);
        if (State() == SequencerState::Playing || State() == SequencerState::Starting)
            PlayFromLocked(Position(), true);
        else
            ChaseLocked(*owned_, Position(), State());
    }
    RefreshViews();
}

void Sequencer::SendOpeningSysex(PlaybackModel& model)
{
    for (size_t i = model.tracks.size(); i-- > 0;) {
        const PlaybackTrack& track = model.tracks[i];
        if (!track.midi || track.port == nullptr)
            continue;
        const RawEventReader reader(track.image);
        RawReadState cursor;
        reader.Start(cursor);
        RawEvent event;
        while (cursor.nextEventTime == 0 && reader.Next(cursor, event))
            if (event.status == 0xF0)
                track.port->SendLong({event.data, event.length});
    }
}

void Sequencer::SetTrackPlay(int track, bool play)
{
    PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model && track >= 0 && static_cast<size_t>(track) < model->tracks.size())
        model->play[static_cast<size_t>(track)].store(play ? 1 : 0, std::memory_order_relaxed);
}

int32_t Sequencer::ChaseLocked(PlaybackModel& model, int32_t target, SequencerState state)
{
    const int32_t position = chaser_.Chase(model, target, state);
    position_.store(position, std::memory_order_release);
    NextCueStep(model, position);
    syncMaster_.Located(ports_, model, position, state);
    hooks_->SyncLocated(*this, position);
    return position;
}

void Sequencer::NextCueStep(const PlaybackModel& model, int32_t position)
{
    if (hooks_->Recording())
        cues_.Suspend();
    else
        cues_.NextCueStep(model, position);
}

void Sequencer::Locate(int32_t tick)
{
    {
        std::lock_guard lock(rolling_);
        PlaybackModel* model = model_.load(std::memory_order_acquire);
        if (!model)
            return;
        ChaseLocked(*model, tick, State());
    }
    RefreshViews();
}

void Sequencer::Relocate(int32_t tick)
{
    const SequencerState state = State();
    if (state == SequencerState::Playing || state == SequencerState::Starting)
        PlayFrom(tick, true);
    else
        Locate(tick);
}

// ---- Transport

void Sequencer::StartBeatTimer(int64_t now)
{
    beatTimerStart_ = now;
    beatLastTime_ = now;
    timerMode_.store(TimerMode::Beat, std::memory_order_release);
}

void Sequencer::PlayFrom(int32_t tick, bool forced)
{
    {
        std::lock_guard lock(rolling_);
        PlayFromLocked(tick, forced);
    }
    Post(EngineMessage::MsgTransportChanged);
}

void Sequencer::PlayFromLocked(int32_t tick, bool forced)
{
    switch (State()) {
    case SequencerState::Stopped:
    case SequencerState::Holding:
        lastClickBeat_ = -1;
        startTick_ = tick;
        state_.store(SequencerState::Starting, std::memory_order_release);
        nextDeadline_ = clock_.NowMicroseconds();
        timerMode_.store(TimerMode::Play, std::memory_order_release);
        break;
    case SequencerState::Playing:
        startTick_ = tick;
        state_.store(SequencerState::Starting, std::memory_order_release);
        break;
    case SequencerState::Starting:
        if (forced)
            startTick_ = tick;
        break;
    }
}

void Sequencer::Pause()
{
    if (HasSong()) {
        std::lock_guard lock(rolling_);
        PauseLocked();
    }
    Post(EngineMessage::MsgTransportChanged);
}

void Sequencer::PauseLocked()
{
    if (State() == SequencerState::Holding)
        return;
    StartBeatTimer(clock_.NowMicroseconds());
    if (State() == SequencerState::Stopped) {
        // Paused from a stop: the notes that sound at the position are struck and held.
        state_.store(SequencerState::Starting, std::memory_order_release);
        if (PlaybackModel* model = model_.load(std::memory_order_acquire))
            ChaseLocked(*model, Position(), SequencerState::Starting);
    }
    state_.store(SequencerState::Holding, std::memory_order_release);
    viewsRefresh_.store(true, std::memory_order_release);
}

void Sequencer::Stop()
{
    const SequencerState state = State();
    if (state == SequencerState::Playing || state == SequencerState::Starting) {
        std::lock_guard lock(rolling_);
        PauseLocked();
    }
    if (State() == SequencerState::Stopped)
        return;
    {
        std::lock_guard lock(rolling_);
        syncMaster_.Stopped(ports_);
        hooks_->SyncStopped(*this);
        for (int i = 0; i < ports_.OutputCount(); ++i)
            ports_.Output(i).ReleaseHeldNotes();
        state_.store(SequencerState::Stopped, std::memory_order_release);
        cues_.ClearVamps();
    }
    if (!closing_.load(std::memory_order_acquire))
        Post(EngineMessage::MsgTransportChanged);
}

void Sequencer::PlayTap(int64_t tapTime)
{
    PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model == nullptr) {
        Post(EngineMessage::MsgTransportChanged);
        return;
    }
    switch (State()) {
    case SequencerState::Stopped:
        if ((Options() & 1) != 0) {
            // "Re-assert patches and other controllers": forget what the ports hold so the chase sends it all.
            std::lock_guard lock(rolling_);
            for (int i = 0; i < ports_.OutputCount(); ++i)
                ports_.Output(i).ClearState();
        }
        PlayFrom(Position(), true);
        return;
    case SequencerState::Holding: {
        int32_t trigger = NoTick, target = 0;
        {
            std::lock_guard lock(rolling_);
            trigger = cues_.TriggerTick();
            target = cues_.TargetTick();
        }
        if (Position() == trigger) {
            // Held at a hold-and-cut: the tap cuts, and the song waits at the restart.
            Stop();
            Locate(target);
        } else {
            PlayFrom(Position(), true);
        }
        Post(EngineMessage::MsgTransportChanged);
        return;
    }
    case SequencerState::Playing:
    case SequencerState::Starting:
        break;
    }
    // The cue check: a tap inside a vamp-family section acts on it instead of conducting.
    int32_t kind = -1, trigger = NoTick;
    {
        std::lock_guard lock(rolling_);
        if (const Cue* cue = cues_.Pending(*model); cue != nullptr && Position() >= cue->restartAt) {
            kind = cue->kind;
            trigger = cues_.TriggerTick();
        }
    }
    if (kind == CueVamp && (Options() & 2) != 0) {
        LastVamp();
        return;
    }
    if (kind == CueAdvanceAndCut) {
        Stop();
        Locate(trigger);
        Post(EngineMessage::MsgTransportChanged);
        return;
    }
    if (kind == CueAdvance) {
        PlayFrom(trigger, true);
        return;
    }
    FollowTap(tapTime);
    Post(EngineMessage::MsgTransportChanged);
}

void Sequencer::FollowTap(int64_t tapTime)
{
    if (follow_.window == 0 && follow_.averageStrength == 0)
        return;
    std::lock_guard lock(rolling_);
    PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model == nullptr || State() != SequencerState::Playing)
        return;
    const int64_t now = clock_.NowMicroseconds();
    // A tap heard a loop turn ago counts from when it came (a stale stamp no further back than 100 ms).
    const int64_t wall = tapTime < 0 ? now : std::clamp(tapTime, now - 100000, now);
    const int32_t ratio = TempoRatio();
    TapOutcome outcome;
    if (follow_.window != 0) {
        // The song clock as of now, not of the last tick: a tap between ticks is placed where it fell.
        TapContext c;
        const int64_t sinceTick = tapTime < 0 ? std::max<int64_t>(wall - lastTickTime_, 0) : wall - lastTickTime_;
        c.now = std::max(songClock_ + static_cast<double>(sinceTick) * ratio / NormalTempo, 0.0);
        c.tick = model->tempoMap.MicrosecondsToTicks(c.now, model->timebase);
        if (tapTime < 0)
            c.tick = std::max(Position(), c.tick);
        const int measure = std::max(model->FindMeasure(c.tick), 0);
        const int32_t start = model->measures.empty() ? 0 : model->measures[static_cast<size_t>(measure)].start;
        const int32_t interval = BeatInterval(*model, measure);
        c.beatStart = start + (c.tick - start) / interval * interval;
        c.nextBeat = c.beatStart + interval;
        c.t0 = model->TickTime(c.beatStart);
        c.t1 = model->TickTime(c.nextBeat);
        c.ratio = ratio;
        c.wallNow = static_cast<double>(wall);
        outcome = follower_.Follow(follow_, c);
    } else {
        // The millisecond clock, as a tap on a key is stamped.
        const double now = static_cast<double>(wall / 1000 * 1000);
        const int32_t tick = Position();
        const int measure = std::max(model->FindMeasure(tick), 0);
        const int clocks = model->measures.empty() ? 24 : model->measures[static_cast<size_t>(measure)].clocksPerClick;
        const auto& tempo = model->tempoMap.entries[static_cast<size_t>(model->tempoMap.FindTempo(tick))];
        const double expected = (clocks == 0 ? 24 : clocks) * static_cast<double>(tempo.microsecondsPerQuarter) / 24;
        outcome = follower_.Average(follow_, now, expected, ratio);
    }
    if (outcome.jumpTo >= 0 && wall < now) {
        // The jump puts the song where it should have been at the tap; it has gone on since.
        const double since =
            static_cast<double>(now - wall) * (outcome.ratio != 0 ? outcome.ratio : ratio) / NormalTempo;
        outcome.jumpTo = model->tempoMap.MicrosecondsToTicks(model->TickTime(outcome.jumpTo) + since, model->timebase);
    }
    if (outcome.jumpTo >= 0)
        PlayFromLocked(outcome.jumpTo, true);
    if (outcome.ratio != 0)
        SetTempoRatio(outcome.ratio);
    if (outcome.startReturn && scheduler_ != nullptr)
        scheduler_->StartTimer(ReturnTimer, 100'000, [this] { ReturnStep(); });
}

void Sequencer::ReturnStep()
{
    const int32_t ratio = TempoRatio();
    if (follow_.returnRate == 0 || ratio == NormalTempo) {
        if (scheduler_ != nullptr)
            scheduler_->KillTimer(ReturnTimer);
        return;
    }
    SetTempoRatio(TapFollower::ReturnStep(follow_.returnRate, ratio));
}

void Sequencer::PlayPause()
{
    switch (State()) {
    case SequencerState::Stopped:
    case SequencerState::Holding:
        PlayTap();
        break;
    case SequencerState::Playing:
        Pause();
        break;
    case SequencerState::Starting:
        break;
    }
}

void Sequencer::TempoSlower()
{
    const int32_t ratio = TempoRatio();
    if (ratio >= 51000)
        SetTempoRatio(ratio / 1000 * 1000 - 1000);
}

void Sequencer::TempoFaster()
{
    const int32_t ratio = TempoRatio();
    if (ratio < 200000)
        SetTempoRatio(ratio / 1000 * 1000 + 1000);
}

void Sequencer::TempoNormal()
{
    SetTempoRatio(NormalTempo);
}

void Sequencer::SetTempoRatio(int32_t ratio)
{
    // A ratio of 0 would stop the clock for good; a negative one would run it backwards.
    tempoRatio_.store(std::max(ratio, 1), std::memory_order_relaxed);
}

void Sequencer::SetSync(const SyncSettings& settings)
{
    std::lock_guard lock(rolling_);
    syncMaster_.Configure(settings);
    slave_.store(settings.masterSlave == 2, std::memory_order_release);
}

void Sequencer::HaltSlaveLocked()
{
    for (int i = 0; i < ports_.OutputCount(); ++i)
        ports_.Output(i).ReleaseHeldNotes();
    state_.store(SequencerState::Stopped, std::memory_order_release);
    StartBeatTimer(clock_.NowMicroseconds());
}

void Sequencer::SlaveBeginPlaying(PlaybackModel& model, int32_t tick, int64_t time)
{
    // The song clock a time code or tick message set is finer than the tick it chases to.
    const double clock = songClock_;
    startTick_ = tick;
    BeginPlaying(model, time);
    songClock_ = clock;
    // The play tick runs for a slave too: it moves a smoothed clock's song on and watches for loss.
    nextDeadline_ = time;
    timerMode_.store(TimerMode::Play, std::memory_order_release);
}

void Sequencer::SlaveMessage(int port, uint32_t message, int64_t time)
{
    if (!IsSlave())
        return;
    const auto status = static_cast<uint8_t>(message & 0xFF);
    bool refresh = false;
    {
        std::lock_guard lock(rolling_);
        // The settings under the lock: SetSync may change them from the UI thread meanwhile.
        const SyncSettings& sync = syncMaster_.Settings();
        if (hooks_->Recording() || (sync.port != 0 && sync.port - 1 != port))
            return;
        if (status == 0xF3) {
            // Song select asks the set for a song, and only while nothing plays.
            if (State() == SequencerState::Stopped)
                notifications_.Post({EngineMessage::MsgSongSelect, static_cast<int32_t>(message >> 8 & 0x7F), 0});
            return;
        }
        PlaybackModel* model = Model();
        if (model == nullptr)
            return;
        if (status == 0xF1) {
            if (sync.protocol == 1)
                refresh = QuarterFrameLocked(*model, static_cast<uint8_t>(message >> 8), time);
        } else if (sync.protocol == 0) {
            refresh = ClockMessageLocked(*model, status, message, time);
        }
    }
    if (refresh)
        RefreshViews();
}

bool Sequencer::ClockMessageLocked(PlaybackModel& model, uint8_t status, uint32_t message, int64_t time)
{
    const SyncSettings& sync = syncMaster_.Settings();
    const int timebase = std::max<int>(model.timebase, 1);
    const SequencerState state = State();
    const bool moving = state == SequencerState::Playing || state == SequencerState::Starting;
    // The song's own clock interval at `tick`: the follower's guess until the master's is measured.
    const auto restart = [&](int32_t tick) {
        clockFollower_.Restart((model.TickTime(tick + timebase) - model.TickTime(tick)) / 24);
    };
    const auto enterPlaying = [&](int32_t tick) {
        if (State() == SequencerState::Starting)
            SlaveBeginPlaying(model, tick, time);
    };
    switch (status) {
    case 0xF2: { // song position pointer, in sixteenths
        if (state != SequencerState::Stopped)
            HaltSlaveLocked();
        const int64_t sixteenths = (message >> 8 & 0x7F) | (message >> 16 & 0x7F) << 7;
        const auto tick = static_cast<int32_t>(sixteenths * timebase / 4);
        songClock_ = model.TickTime(tick);
        restart(ChaseLocked(model, tick, SequencerState::Stopped));
        return true;
    }
    case 0xF8: { // clock
        if (!moving)
            return false;
        const int32_t tick = SlaveClockTick(timebase);
        enterPlaying(tick);
        clockFollower_.Clock(time, static_cast<double>(slaveClock_) * timebase / 24, timebase / 24.0);
        SyncHeard(time);
        // Smoothed, the clock only steers; the song moves on between clocks in the play tick.
        const int32_t reached = sync.smoothing ? std::max(clockFollower_.TickAt(time), Position()) : tick;
        position_.store(reached, std::memory_order_release);
        SendDueEvents(model, reached);
        WakeDisplay();
        ++slaveClock_;
        return false;
    }
    case 0xF9: { // tick: ten milliseconds of song time
        if (!moving)
            return false;
        const int32_t tick = model.tempoMap.MicrosecondsToTicks(songClock_, model.timebase);
        enterPlaying(tick);
        SyncHeard(time);
        position_.store(tick, std::memory_order_release);
        SendDueEvents(model, tick);
        WakeDisplay();
        songClock_ += 10000;
        return false;
    }
    case 0xFA: // start
        if (state == SequencerState::Playing)
            return false;
        songClock_ = 0;
        slaveClock_ = 0;
        startTick_ = 0;
        restart(0);
        state_.store(SequencerState::Starting, std::memory_order_release);
        return true;
    case 0xFB: // continue
        if (state == SequencerState::Playing)
            return false;
        slaveClock_ = int64_t{Position()} * 24 / timebase;
        startTick_ = SlaveClockTick(timebase);
        songClock_ = model.TickTime(startTick_);
        restart(startTick_);
        state_.store(SequencerState::Starting, std::memory_order_release);
        return true;
    case 0xFC: // stop
        if (state == SequencerState::Stopped)
            return false;
        HaltSlaveLocked();
        return true;
    default:
        return false;
    }
}

bool Sequencer::QuarterFrameLocked(PlaybackModel& model, uint8_t data, int64_t time)
{
    bool refresh = false;
    if (timeCode_.Piece(data)) {
        // Eight pieces take two frames to arrive: the value is two frames old.
        timeCodeFormat_ = timeCode_.Format();
        const double frame = 4 * QuarterFrameLength(timeCodeFormat_);
        const double clock =
            std::max(TimeCodeToMicroseconds(timeCode_.Fields(), timeCodeFormat_) + 2 * frame - model.smpteOffset, 0.0);
        // Locking on, or a jump of the time code (a tape wound on): the song goes there by a chase,
        // not by playing everything in between at once.
        if (!timeCodeLocked_ || std::abs(clock - songClock_) > frame) {
            if (State() == SequencerState::Playing)
                ChaseLocked(model, model.tempoMap.MicrosecondsToTicks(clock, model.timebase), SequencerState::Playing);
            timeCodeLocked_ = true;
            refresh = true;
        }
        songClock_ = clock;
    }
    // Until a whole value has been heard the song does not know where the time code is.
    if (!timeCodeLocked_)
        return refresh;
    const int32_t tick = model.tempoMap.MicrosecondsToTicks(songClock_, model.timebase);
    if (State() != SequencerState::Playing)
        SlaveBeginPlaying(model, tick, time);
    SyncHeard(time);
    position_.store(tick, std::memory_order_release);
    SendDueEvents(model, tick);
    WakeDisplay();
    songClock_ += QuarterFrameLength(timeCodeFormat_);
    return refresh;
}

void Sequencer::OnSysex(int /*port*/, int64_t /*microseconds*/, std::span<const uint8_t> bytes)
{
    TimeCodeFields fields;
    int format = 0;
    if (!IsSlave() || !ReadFullFrame(bytes.data(), bytes.size(), fields, format))
        return;
    {
        std::lock_guard lock(rolling_);
        PlaybackModel* model = Model();
        if (model == nullptr || (eventFilter_ >> 15 & 1) == 0)
            return;
        if (State() != SequencerState::Stopped)
            HaltSlaveLocked();
        songClock_ = std::max(TimeCodeToMicroseconds(fields, format) - model->smpteOffset, 0.0);
        const int32_t tick = model->tempoMap.MicrosecondsToTicks(songClock_, model->timebase);
        ChaseLocked(*model, tick, SequencerState::Stopped);
        timeCodeLocked_ = false;
        timeCode_.Reset();
    }
    viewsRefresh_.store(true, std::memory_order_release);
    WakeDisplay();
}

void Sequencer::SyncHeard(int64_t time)
{
    lastSyncHeard_ = time;
    syncLost_ = false;
}

int64_t Sequencer::SlaveWake(PlaybackModel& model, int64_t now)
{
    const SyncSettings& sync = syncMaster_.Settings();
    if (sync.protocol != 0 || !sync.smoothing || !clockFollower_.Heard() || syncLost_)
        return nextDeadline_;
    // A smoothed clock's next event is due at a time known in advance: wake for it, not a period late.
    int32_t due = NoTick;
    for (size_t i = 0; i < model.tracks.size(); ++i)
        if (model.tracks[i].port != nullptr && model.Plays(i))
            due = std::min(due, model.cursors[i].nextEventTime);
    // Beyond the next clock's tick only that clock moves the song: its input callback sends the event,
    // and the play tick has only the loss of the clock to watch for, at its usual period.
    if (due == NoTick || due > clockFollower_.Horizon())
        return nextDeadline_;
    const double wait = std::ceil(clockFollower_.TimeOf(due)) - static_cast<double>(now);
    if (!(wait < static_cast<double>(nextDeadline_ - now)))
        return nextDeadline_;
    return now + std::max<int64_t>(1, static_cast<int64_t>(wait));
}

void Sequencer::SlaveTick(PlaybackModel& model, int64_t now)
{
    if (State() != SequencerState::Playing)
        return;
    const SyncSettings& sync = syncMaster_.Settings();
    // A master that pauses just stops sending: the notes it left sounding are let go, and the song
    // waits where it is for the clock or the time code to come back.
    const double quiet = sync.protocol == 0 ? std::max(4 * clockFollower_.Period(), 150000.0) : 150000.0;
    if (syncLost_ || static_cast<double>(now - lastSyncHeard_) > quiet) {
        if (!syncLost_) {
            syncLost_ = true;
            if (sync.protocol == 1) {
                // Time code that stops is a tape that stopped; it locks on again when it returns.
                timeCodeLocked_ = false;
                timeCode_.Reset();
                HaltSlaveLocked();
            } else {
                for (int i = 0; i < ports_.OutputCount(); ++i)
                    ports_.Output(i).ReleaseHeldNotes();
            }
            viewsRefresh_.store(true, std::memory_order_release);
            WakeDisplay();
        }
        return;
    }
    if (sync.protocol != 0 || !sync.smoothing || !clockFollower_.Heard())
        return;
    const int32_t tick = clockFollower_.TickAt(now);
    if (tick <= Position())
        return;
    SendDueEvents(model, tick);
    position_.store(tick, std::memory_order_release);
    UpdateBeatPhase(model, tick);
    const int32_t step = tick / model.gridTicks;
    if (step != displayStep_) {
        displayStep_ = step;
        viewsRefresh_.store(true, std::memory_order_release);
        WakeDisplay();
    }
}

void Sequencer::SetMasterVolume(int32_t volume)
{
    volumeControl_.store(std::clamp(volume, 0, FullVolume), std::memory_order_relaxed);
}

void Sequencer::SetSelectedTracks(std::span<const int> tracks)
{
    std::lock_guard lock(rolling_);
    selectedCount_ = std::min(tracks.size(), MaxSelectedTracks);
    for (size_t i = 0; i < selectedCount_; ++i)
        selected_[i] = static_cast<int16_t>(tracks[i]);
    thruTracks_.store(selectedCount_, std::memory_order_release);
}

void Sequencer::SetInputMapping(std::vector<int32_t> mapping)
{
    std::lock_guard lock(rolling_);
    inputMapping_ = std::move(mapping);
}

void Sequencer::Thru(int inputPort, uint32_t message, int64_t microseconds)
{
    const uint32_t status = message & 0xFF;
    if (status < 0x80 || status >= 0xF0 || (eventFilter_ >> (status >> 4) & 1) == 0)
        return;
    if (thruTracks_.load(std::memory_order_acquire) == 0)
        return;
    const int channel = static_cast<int>(status & 0x0F);
    // The input callback never blocks: it outwaits a play tick's hold of the lock (tens of
    // microseconds), but behind a chase or a song change the message is dropped and counted.
    std::unique_lock lock(rolling_, std::try_to_lock);
    const int64_t start = clock_.NowMicroseconds();
    for (int tries = 0; !lock.owns_lock() && tries < 10'000 && clock_.NowMicroseconds() - start < 1'000; ++tries) {
        std::this_thread::yield();
        (void)lock.try_lock();
    }
    if (!lock.owns_lock()) {
        thruDropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    PlaybackModel* model = Model();
    if (model == nullptr)
        return;
    for (size_t i = selectedCount_; i-- > 0;) {
        const int number = selected_[i];
        if (number <= 0 || static_cast<size_t>(number) >= model->tracks.size())
            continue;
        const PlaybackTrack& track = model->tracks[static_cast<size_t>(number)];
        const int logical = track.inputPort;
        const bool listens = logical >= 0 && static_cast<size_t>(logical) < inputMapping_.size() &&
                             inputMapping_[static_cast<size_t>(logical)] == inputPort;
        if (!track.midi || !listens || (track.inputChannel >= 0 && track.inputChannel != channel))
            continue;
        if (track.port == nullptr) {
            hooks_->RecordInput(*this, number, message, microseconds);
            continue;
        }
        MidiOutPort& port = *track.port;
        const int out = track.channel;
        // The track's own sounds, where the port holds others (each sends only what differs).
        const int32_t bank = std::max(track.initial[InitBank], 0);
        const int32_t patch = track.initial[InitPatch];
        if (patch >= 0 && (port.Program(out) != patch || port.Bank(out) != bank))
            port.SetBankAndProgram(out, bank, patch);
        for (int slot = InitPan; slot < InitialSlotCount; ++slot) {
            const int32_t value = track.initial[static_cast<size_t>(slot)];
            const int number = InitialSlotController[static_cast<size_t>(slot)];
            if (value >= 0 && port.Controller(out, number) != value)
                port.SetController(out, number, value);
        }
        uint32_t sent = (message & 0xFFFFF0) | static_cast<uint32_t>(out);
        const uint32_t type = status & 0xF0;
        if ((type == 0x80 || type == 0x90 || type == 0xA0) && track.keyOffset != 0) {
            const int key = OffsetKey(static_cast<int>(message >> 8 & 0x7F), track.keyOffset);
            sent = (sent & 0xFF00FF) | static_cast<uint32_t>(key) << 8;
        }
        port.SendShort(sent);
        hooks_->RecordInput(*this, number, message, microseconds);
    }
}

void Sequencer::VolumeUp()
{
    volumeControl_.store(std::min((MasterVolume() & ~0x7F) + 128, FullVolume), std::memory_order_relaxed);
}

void Sequencer::VolumeDown()
{
    volumeControl_.store(std::max((MasterVolume() & ~0x7F) - 128, 0), std::memory_order_relaxed);
}

void Sequencer::VolumeFull()
{
    volumeControl_.store(FullVolume, std::memory_order_relaxed);
}

// ---- Navigation

int32_t Sequencer::NextMeasureTick(const PlaybackModel& model, int32_t position) const
{
    const int index = model.FindMeasure(position);
    if (index < 0)
        return position;
    const Measure& measure = model.measures[static_cast<size_t>(index)];
    return std::min(measure.start + measure.length, model.measures.back().start);
}

int32_t Sequencer::PreviousMeasureTick(const PlaybackModel& model, int32_t position) const
{
    int index = model.FindMeasure(position);
    if (index < 0)
        return position;
    if (index > 0 && model.measures[static_cast<size_t>(index)].start == position)
        --index;
    return model.measures[static_cast<size_t>(index)].start;
}

int32_t Sequencer::NoteTime(const PlaybackModel& model, int32_t position, bool after) const
{
    int32_t found = after ? model.endTick : 0;
    for (size_t i = 1; i < model.tracks.size(); ++i) {
        const RawEventReader reader(model.tracks[i].image);
        RawReadState cursor;
        reader.Start(cursor);
        RawEvent event;
        while (reader.Next(cursor, event)) {
            if ((event.status & 0xF0) != 0x90 || event.data2 == 0)
                continue;
            if (after && event.time > position) {
                found = std::min(found, event.time);
                break;
            }
            if (!after && event.time < position)
                found = std::max(found, event.time);
            if (!after && event.time >= position)
                break;
        }
    }
    return found;
}

void Sequencer::GotoBeginning()
{
    switch (State()) {
    case SequencerState::Stopped:
        Locate(0);
        break;
    case SequencerState::Holding:
        Locate(0);
        PlayTap();
        break;
    case SequencerState::Playing:
    case SequencerState::Starting:
        PlayFrom(0, true);
        break;
    }
}

void Sequencer::GotoEnd()
{
    Stop();
    Locate(EndTick());
}

void Sequencer::NextMeasure()
{
    MoveByMeasure(true);
}

void Sequencer::PreviousMeasure()
{
    MoveByMeasure(false);
}

void Sequencer::MoveByMeasure(bool forward)
{
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (!model)
        return;
    const int32_t position = Position();
    const int32_t target = forward ? NextMeasureTick(*model, position) : PreviousMeasureTick(*model, position);
    switch (State()) {
    case SequencerState::Stopped:
        Locate(target);
        break;
    case SequencerState::Holding:
        Locate(target);
        PlayTap();
        break;
    case SequencerState::Playing: {
        // While playing the move is by the length of the measure at the position, wherever in it.
        const int index = model->FindMeasure(position);
        const int32_t length = index < 0 ? 0 : model->measures[static_cast<size_t>(index)].length;
        PlayFrom(forward ? position + length : std::max(0, position - length), true);
        break;
    }
    case SequencerState::Starting:
        break;
    }
}

bool Sequencer::CanGotoNextNote() const
{
    return HasSong() && Position() < EndTick() && State() != SequencerState::Playing;
}

bool Sequencer::CanGotoPreviousNote() const
{
    return HasSong() && Position() > 0 && State() != SequencerState::Playing;
}

void Sequencer::NextNote()
{
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model && CanGotoNextNote())
        Locate(NoteTime(*model, Position(), true));
}

void Sequencer::PreviousNote()
{
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model && CanGotoPreviousNote())
        Locate(NoteTime(*model, Position(), false));
}

void Sequencer::ResetMidi()
{
    {
        std::lock_guard lock(rolling_);
        ports_.ResetMappedPorts(resets_);
        // The ports were reset to full volume: the control shows it and nothing more is sent.
        masterVolume_ = FullVolume;
        volumeControl_.store(FullVolume, std::memory_order_relaxed);
        SetupClickPatch();
        if (PlaybackModel* model = model_.load(std::memory_order_acquire)) {
            const SequencerState state = State();
            if (state == SequencerState::Playing || state == SequencerState::Starting)
                PlayFromLocked(Position(), true);
            else
                ChaseLocked(*model, Position(), state);
        }
    }
    RefreshViews();
}

void Sequencer::FreeStuckNotes()
{
    std::lock_guard lock(rolling_);
    ports_.FreeStuckNotes();
}

// ---- Cues

bool Sequencer::CanLastVamp() const
{
    std::lock_guard lock(rolling_);
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    return model != nullptr && State() != SequencerState::Stopped && cues_.CanLastVamp(*model, Position());
}

void Sequencer::LastVamp()
{
    {
        std::lock_guard lock(rolling_);
        const PlaybackModel* model = model_.load(std::memory_order_acquire);
        if (model != nullptr && State() != SequencerState::Stopped)
            (void)cues_.LastVamp(*model, Position()); // not inside a vamp: nothing to end
    }
    Post(EngineMessage::MsgTransportChanged);
}

void Sequencer::RepeatMeasure()
{
    std::lock_guard lock(rolling_);
    if (const PlaybackModel* model = model_.load(std::memory_order_acquire);
        model && State() == SequencerState::Playing)
        cues_.RepeatMeasure(*model, Position());
}

void Sequencer::SkipNextMeasure()
{
    std::lock_guard lock(rolling_);
    if (const PlaybackModel* model = model_.load(std::memory_order_acquire);
        model && State() == SequencerState::Playing)
        cues_.SkipNextMeasure(*model, Position());
}

int32_t Sequencer::CueTarget(const PlaybackModel& model, bool forward, bool& stopFirst, bool& pauseFirst) const
{
    const int32_t position = Position();
    const int count = static_cast<int>(model.cues.size());
    const int first = FindCue(model, position);
    // Backward from the first cue at or after the position; with none there, from the last cue, so
    // "previous cue" at the end of a song reaches the song's last cue.
    const int start = forward ? first : std::min(first, count - 1);
    for (int index = start; index >= 0 && index < count; index += forward ? 1 : -1) {
        const Cue& cue = model.cues[static_cast<size_t>(index)];
        int32_t target = -1;
        switch (cue.kind) {
        case CueMarker:
        case CueVamp:
        case CueBreath:
            target = forward ? cue.stopAt : cue.restartAt;
            break;
        case CueCaesura:
        case CueHoldAndCut:
        case CueFermata:
            target = cue.restartAt;
            break;
        default:
            continue;
        }
        if (forward ? target <= position : target >= position)
            continue;
        stopFirst = cue.kind == CueCaesura || cue.kind == CueHoldAndCut;
        pauseFirst = cue.kind == CueFermata;
        return target;
    }
    return -1;
}

void Sequencer::GotoNextCue()
{
    GotoCue(true);
}

void Sequencer::GotoPreviousCue()
{
    GotoCue(false);
}

void Sequencer::GotoCue(bool forward)
{
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    bool stopFirst = false, pauseFirst = false;
    const int32_t target = model ? CueTarget(*model, forward, stopFirst, pauseFirst) : -1;
    if (target < 0)
        return;
    if (stopFirst)
        Stop();
    else if (pauseFirst && State() != SequencerState::Stopped)
        Pause();
    const SequencerState state = State();
    if (state == SequencerState::Stopped || state == SequencerState::Holding)
        Locate(target);
    else
        PlayFrom(target, true);
}

HaltOutcome Sequencer::SettleHalt()
{
    PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model == nullptr)
        return HaltOutcome::None;
    if (State() != SequencerState::Holding)
        return HaltOutcome::None; // moved on (a tap or a stop) before the halt was handled
    const int32_t position = Position();
    if (!hooks_->Recording() && position >= model->endTick) {
        Stop();
        return HaltOutcome::EndOfSong;
    }
    HaltOutcome outcome = HaltOutcome::None;
    bool stop = false;
    bool lookAhead = true;
    {
        std::lock_guard lock(rolling_);
        if (hooks_->Recording()) {
            NextCueStep(*model, position);
            outcome = HaltOutcome::Cue;
        }
        const int count = static_cast<int>(model->cues.size());
        for (int index = FindCue(*model, position); outcome == HaltOutcome::None && index < count; ++index) {
            const Cue& cue = model->cues[static_cast<size_t>(index)];
            int32_t moveTo = -1;
            switch (cue.kind) {
            case CueCaesura:
                if (position <= cue.restartAt) {
                    stop = true;
                    moveTo = cue.restartAt;
                }
                break;
            case CueFermata:
                if (position <= cue.restartAt)
                    moveTo = cue.restartAt; // held: the notes keep sounding until the tap
                break;
            case CueAdLib:
                if (position >= cue.stopAt && position <= cue.restartAt) {
                    const int measure = std::max(model->FindMeasure(position), 0);
                    const int32_t start =
                        model->measures.empty() ? 0 : model->measures[static_cast<size_t>(measure)].start;
                    const int32_t c = BeatInterval(*model, measure);
                    moveTo = position + c - (position - start) % c;
                }
                break;
            case CueHoldAndCut:
                if (position == cue.stopAt) {
                    outcome = HaltOutcome::Cue; // holding at the trigger: the next tap cuts
                    lookAhead = false;
                }
                break;
            case CueAdvanceAndCut:
                if (position <= cue.stopAt) {
                    stop = true;
                    moveTo = cue.stopAt;
                }
                break;
            default:
                break;
            }
            if (moveTo >= 0) {
                position_.store(moveTo, std::memory_order_release);
                outcome = HaltOutcome::Cue;
            }
        }
    }
    if (stop)
        Stop();
    if (outcome == HaltOutcome::Cue && lookAhead) {
        std::lock_guard lock(rolling_);
        NextCueStep(*model, Position());
    }
    RefreshViews();
    Post(EngineMessage::MsgTransportChanged);
    return outcome;
}

CueStatus Sequencer::Cues() const
{
    CueStatus status;
    std::lock_guard lock(rolling_);
    const PlaybackModel* model = model_.load(std::memory_order_acquire);
    if (model == nullptr)
        return status;
    if (const Cue* cue = cues_.Pending(*model)) {
        status.kind = cue->kind;
        status.stopAt = cue->stopAt;
        status.count = cue->count;
    }
    status.vampPass = cues_.VampPass(Position());
    if (const VampEntry* top = cues_.Top(); top != nullptr && status.vampPass > 0)
        status.lastPass = top->remaining == 1;
    return status;
}

// ---- The play thread

int64_t Sequencer::Service(int64_t now)
{
    std::unique_lock lock(rolling_, std::try_to_lock);
    if (!lock.owns_lock())
        return now + 500; // a transport operation is running; it takes microseconds
    PlaybackModel* model = model_.load(std::memory_order_acquire);
    switch (timerMode_.load(std::memory_order_acquire)) {
    case TimerMode::Play:
        if (model == nullptr) {
            StartBeatTimer(now);
            return now + BeatTimerPeriod;
        }
        PlayTick(*model, now);
        if (timerMode_.load(std::memory_order_acquire) == TimerMode::Play)
            return NextWake(*model, now);
        return now + BeatTimerPeriod;
    case TimerMode::Beat:
        if (model != nullptr)
            BeatTick(*model, now);
        return now + BeatTimerPeriod;
    case TimerMode::None:
        break;
    }
    return now + BeatTimerPeriod;
}

void Sequencer::BeginPlaying(PlaybackModel& model, int64_t now)
{
    const int32_t position = ChaseLocked(model, startTick_, SequencerState::Starting);
    measureIndex_ = std::max(model.FindMeasure(position), 0);
    songClock_ = model.TickTime(position);
    lastTickTime_ = now;
    nextDeadline_ = now;
    cues_.Restart(position);
    lastClickBeat_ = -1;
    lastClickMeasure_ = -1;
    displayStep_ = position / model.gridTicks;
    syncMaster_.Started(position, songClock_);
    state_.store(SequencerState::Playing, std::memory_order_release);
}

void Sequencer::PlayTick(PlaybackModel& model, int64_t now)
{
    if (IsSlave()) {
        SlaveTick(model, now); // the external clock moves the song
        return;
    }
    if (State() == SequencerState::Starting)
        BeginPlaying(model, now);
    if (State() != SequencerState::Playing)
        return;
    hooks_->SyncOutput(*this, Position());

    // Song time follows the measured time, so a late wake-up catches up instead of drifting.
    const int64_t elapsed = std::max<int64_t>(now - lastTickTime_, 0);
    lastTickTime_ = now;
    songClock_ += static_cast<double>(elapsed) * TempoRatio() / NormalTempo;
    int32_t tick = model.tempoMap.MicrosecondsToTicks(songClock_, model.timebase);
    syncMaster_.Tick(ports_, model, songClock_);

    while (static_cast<size_t>(measureIndex_) + 1 < model.measures.size() &&
           model.measures[static_cast<size_t>(measureIndex_) + 1].start <= tick)
        ++measureIndex_;
    if (tick >= cues_.Boundary()) {
        cues_.Region(model, tick);
        Post(EngineMessage::MsgCueRegion);
    }
    if (tick >= cues_.TriggerTick() && CueTriggered(model, tick, now))
        return;
    const int32_t stopTick = cues_.StopTick();
    if (tick >= stopTick) {
        SendDueEvents(model, std::max(stopTick - 1, 0));
        position_.store(stopTick, std::memory_order_release);
        StartBeatTimer(now);
        state_.store(SequencerState::Holding, std::memory_order_release);
        viewsRefresh_.store(true, std::memory_order_release);
        haltedAt_.store(now, std::memory_order_release);
        Post(EngineMessage::MsgPlaybackHalted);
        WakeDisplay();
        return;
    }
    SendDueEvents(model, tick);
    position_.store(tick, std::memory_order_release);
    UpdateBeatPhase(model, tick);
    Click(model);
    const int32_t step = tick / model.gridTicks;
    if (step != displayStep_) {
        displayStep_ = step;
        viewsRefresh_.store(true, std::memory_order_release);
        WakeDisplay();
    }
}

bool Sequencer::CueTriggered(PlaybackModel& model, int32_t tick, int64_t now)
{
    const int32_t trigger = cues_.TriggerTick();
    switch (cues_.Trigger(model)) {
    case TriggerAction::Jump:
        // What comes before the trigger is heard; the jump is made at once, so a vamp loops without a gap.
        SendDueEvents(model, std::max(trigger - 1, 0));
        position_.store(trigger, std::memory_order_release);
        PlayFromLocked(cues_.TargetTick(), true);
        BeginPlaying(model, now);
        return true;
    case TriggerAction::Pass:
        position_.store(tick, std::memory_order_release);
        NextCueStep(model, tick);
        return false;
    case TriggerAction::None:
        return false;
    }
    return false;
}

void Sequencer::SendMasterVolume(PlaybackModel& /*model*/)
{
    const int32_t volume = MasterVolume();
    if (volume == masterVolume_)
        return;
    masterVolume_ = volume;
    const auto& mapping = ports_.OutputMapping();
    // Each device once, however many logical ports lead to it.
    for (size_t i = 0; i < mapping.size(); ++i) {
        const int32_t device = mapping[i];
        if (device < 0 || device >= ports_.OutputCount())
            continue;
        if (std::find(mapping.begin(), mapping.begin() + static_cast<std::ptrdiff_t>(i), device) !=
            mapping.begin() + static_cast<std::ptrdiff_t>(i))
            continue;
        ports_.Output(device).SetMasterVolume(volume);
    }
}

void Sequencer::SendDueEvents(PlaybackModel& model, int32_t position)
{
    SendMasterVolume(model);
    for (size_t i = 0; i < model.tracks.size(); ++i) {
        RawReadState& cursor = model.cursors[i];
        if (cursor.nextEventTime > position)
            continue;
        const PlaybackTrack& track = model.tracks[i];
        const bool sends = track.midi && track.port != nullptr && model.Plays(i);
        const RawEventReader reader(track.image);
        RawEvent event;
        while (cursor.nextEventTime <= position && reader.Next(cursor, event))
            if (sends)
                SendEvent(track, event);
    }
}

void Sequencer::SendEvent(const PlaybackTrack& track, const RawEvent& event)
{
    MidiOutPort& port = *track.port;
    const int channel = event.status & 0x0F;
    const uint32_t message = Pack(event.status, event.data1, event.data2);
    switch (event.status & 0xF0) {
    case 0x90:
        if (event.data2 > 0)
            port.SendAndHold(message, track.patchTag);
        else {
            port.NotePlayed(channel, event.data1);
            port.SendAndRelease(message);
        }
        break;
    case 0xA0:
        port.StorePolyPressure(channel, event.data1, event.data2);
        port.SendShort(message);
        break;
    case 0xB0: {
        const int number = event.data1 & 0x7F;
        port.StoreController(channel, number, event.data2 & 0x7F);
        if (number == 0 || number == 6 || number == 32 || (number >= 98 && number <= 101))
            break; // kept until the message that uses them
        if (number == 38) {
            const uint8_t coarse = port.Controller(channel, 6);
            const int32_t value = (Known(coarse) ? coarse : 0) * 128 + (event.data2 & 0x7F);
            const uint8_t rpnHigh = port.Controller(channel, 101);
            const uint8_t nrpnHigh = port.Controller(channel, 99);
            if (Known(rpnHigh) && rpnHigh < 127) {
                const uint8_t low = port.Controller(channel, 100);
                port.SetRegisteredParameter(channel, rpnHigh * 128 + (Known(low) ? low : 0), value);
            } else if (Known(nrpnHigh) && nrpnHigh < 127) {
                const uint8_t low = port.Controller(channel, 98);
                port.SetNonRegisteredParameter(channel, nrpnHigh * 128 + (Known(low) ? low : 0), value);
            }
            for (int forgotten : {6, 38, 98, 99, 100, 101})
                port.StoreController(channel, forgotten, UnknownByte);
            break;
        }
        if (number == 96 || number == 97) {
            const uint8_t high = port.Controller(channel, 99);
            if (Known(high) && high < 127) {
                port.SendShort(Pack(0xB0 | channel, 99, high));
                const uint8_t low = port.Controller(channel, 98);
                if (Known(low))
                    port.SendShort(Pack(0xB0 | channel, 98, low));
            }
        }
        port.SendShort(message);
        break;
    }
    case 0xC0:
        port.StoreProgram(channel, event.data1 & 0x7F);
        for (int number : {0, 32})
            if (const uint8_t value = port.Controller(channel, number); Known(value))
                port.SendShort(Pack(0xB0 | channel, number, value));
        port.SendShort(message);
        break;
    case 0xD0:
        port.StorePressure(channel, event.data1 & 0x7F);
        port.SendShort(message);
        break;
    case 0xE0:
        port.StorePitchBend(channel, static_cast<uint16_t>((message >> 8) & 0x7F7F));
        port.SendShort(message);
        break;
    case 0xF0:
        if (event.status == 0xF0 && event.data != nullptr)
            port.SendLong({event.data, event.length});
        break;
    default:
        break; // note-offs as 0x8n are not in the images; other messages are not sent
    }
}

void Sequencer::UpdateBeatPhase(PlaybackModel& model, int32_t tick)
{
    if (model.measures.empty())
        return;
    const int32_t interval = BeatInterval(model, measureIndex_);
    const int32_t into = tick - model.measures[static_cast<size_t>(measureIndex_)].start;
    const double phase = 0.5 - static_cast<double>(((into % interval) + interval) % interval) / interval;
    const int step = static_cast<int>(phase * 60);
    if (step != phaseStep_) {
        phaseStep_ = step;
        beatPhase_.store(phase, std::memory_order_relaxed);
        WakeDisplay();
    }
}

void Sequencer::Click(PlaybackModel& model)
{
    if (clickPort_ == nullptr || !click_.enabled || model.measures.empty())
        return;
    const double lead = click_.leadMilliseconds * static_cast<double>(TempoRatio()) * 0.01;
    const int32_t clickTick = model.tempoMap.MicrosecondsToTicks(songClock_ + lead, model.timebase);
    const int measure = std::max(model.FindMeasure(clickTick), 0);
    const Measure& bar = model.measures[static_cast<size_t>(measure)];
    const int32_t interval = BeatInterval(model, measure);
    const int32_t beats = std::max(1, bar.length / interval);
    const int32_t into = std::max(clickTick - bar.start, 0);
    const int32_t beat = (into / interval) % beats;
    if (beat == lastClickBeat_ && measure == lastClickMeasure_)
        return;
    const bool late = into - (into / interval) * interval > 10;
    const bool skip = lastClickBeat_ == -1 && (click_.leadMilliseconds >= 50 || late);
    lastClickBeat_ = beat;
    lastClickMeasure_ = measure;
    if (skip)
        return;
    const uint32_t note = (beat == 0 ? click_.firstBeat : click_.otherBeats) & 0xFFFFFF;
    clickPort_->SendShort(note);
    clickPort_->SendShort(note & 0xFFFF);
}

int64_t Sequencer::NextWake(PlaybackModel& model, int64_t now)
{
    const int64_t period = int64_t{periodMilliseconds_} * 1000;
    while (nextDeadline_ <= now)
        nextDeadline_ += period;
    if (State() != SequencerState::Playing)
        return nextDeadline_;
    if (IsSlave())
        return SlaveWake(model, now);
    // The earliest of the next event that will sound, the stop, the next beat's click and the next
    // sync message.
    int32_t due = std::min(cues_.StopTick(), cues_.TriggerTick());
    for (size_t i = 0; i < model.tracks.size(); ++i)
        if (model.tracks[i].port != nullptr && model.Plays(i))
            due = std::min(due, model.cursors[i].nextEventTime);
    double dueTime = due == NoTick ? 1e300 : model.TickTime(due);
    // The next MIDI clock or quarter frame goes out at its own time, not a period late.
    dueTime = std::min(dueTime, syncMaster_.NextDue(model));
    if (clickPort_ != nullptr && click_.enabled && !model.measures.empty()) {
        const Measure& bar = model.measures[static_cast<size_t>(measureIndex_)];
        const int32_t interval = BeatInterval(model, measureIndex_);
        const int32_t position = Position();
        const int32_t nextBeat = bar.start + ((position - bar.start) / interval + 1) * interval;
        const double lead = click_.leadMilliseconds * static_cast<double>(TempoRatio()) * 0.01;
        dueTime = std::min(dueTime, model.TickTime(nextBeat) - lead);
    }
    const double wait = (dueTime - songClock_) * NormalTempo / TempoRatio();
    if (!(wait < static_cast<double>(nextDeadline_ - now)))
        return nextDeadline_;
    return now + std::max<int64_t>(1, static_cast<int64_t>(std::ceil(wait)));
}

void Sequencer::BeatTick(PlaybackModel& model, int64_t now)
{
    const int32_t position = Position();
    if (&model != beatModel_ || position != beatPosition_ || beatTimerStart_ != beatStartSeen_) {
        beatModel_ = &model;
        beatPosition_ = position;
        beatStartSeen_ = beatTimerStart_;
        const int measure = std::max(model.FindMeasure(position), 0);
        const int32_t interval = BeatInterval(model, measure);
        const int32_t start = model.measures.empty() ? 0 : model.measures[static_cast<size_t>(measure)].start;
        beatPositionBeats_ = static_cast<double>(position - start) / interval;
        // Of several tempo entries at one tick the last is in force.
        const auto& entry = model.tempoMap.entries[static_cast<size_t>(model.tempoMap.FindTempo(position))];
        const double ticksPerMicrosecond = entry.microsecondsPerQuarter == 0
                                               ? 0.0
                                               : static_cast<double>(model.timebase) / entry.microsecondsPerQuarter;
        beatStep_ = ticksPerMicrosecond / interval;
    }
    const int64_t elapsed = std::max<int64_t>(now - beatLastTime_, 0);
    beatLastTime_ = now;
    beatPositionBeats_ += static_cast<double>(elapsed) * TempoRatio() / NormalTempo * beatStep_;
    beatPhase_.store(0.5 - (beatPositionBeats_ - std::floor(beatPositionBeats_)), std::memory_order_relaxed);
    WakeDisplay();
}

} // namespace cantivo
