#pragma once

#include "playback/Chase.h"
#include "playback/Click.h"
#include "playback/CueTracker.h"
#include "playback/EngineNotification.h"
#include "playback/MicrosecondClock.h"
#include "playback/PlaybackModel.h"
#include "playback/SequencerState.h"
#include "playback/SyncInput.h"
#include "playback/SyncMaster.h"
#include "playback/SyncSlave.h"
#include "playback/TapFollower.h"
#include "playback/Transport.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace cantivo {

class MidiOutPort;
class NotificationQueue;
class PortTable;
class Profile;
class Scheduler;
class Sequencer;
class SynthResetLookup;

// The steps of the play tick that belong to the recording and sync parts of the engine. Each runs on
// the thread that holds the transport lock (the play thread in the tick); none may block.
class SequencerHooks {
  public:
    virtual ~SequencerHooks() = default;
    // While recording no cue stops or jumps; step recording stops at its next step instead.
    virtual bool Recording() const { return false; }
    // As sync master: clock or time code up to the tick, and where a chase left the song.
    virtual void SyncOutput(Sequencer& /*sequencer*/, int32_t /*tick*/) {}
    virtual void SyncLocated(Sequencer& /*sequencer*/, int32_t /*position*/) {}
    virtual void SyncStopped(Sequencer& /*sequencer*/) {}
    // From an input's callback thread, after thru: a channel message heard at `microseconds` for
    // selected track `track`, which listens to that input and channel and lets its kind through.
    virtual void RecordInput(Sequencer& /*sequencer*/, int /*track*/, uint32_t /*message*/, int64_t /*microseconds*/) {}
};

// What the halt handling found (the play thread halted at a stop tick).
enum class HaltOutcome : uint8_t {
    EndOfSong, // stopped at the song's end: the set decides what comes next
    Cue,       // a cue holds or cut the music; the next tap goes on
    None,      // nothing to do (already moved on, or a hold with nothing to settle)
};

// What the transport shows of the cues while playing.
struct CueStatus {
    int32_t kind = -1; // the pending cue's kind, -1 when none is pending
    int32_t stopAt = 0;
    int32_t count = 0;
    int32_t vampPass = 0;  // the pass of the vamp now repeating, 0 outside one
    bool lastPass = false; // "Last vamp" was given, or the count ends with this pass
};

// What the engine does with the ports between songs ("AdvanceReset").
enum class AdvanceReset : int32_t { None = 0, ResetControllers = 1, ResetPorts = 2 };

// The one sequencer: plays the current song's playback model through the port table. The UI thread
// calls the transport operations; the play thread (or a test, or a render, in virtual time) calls
// Service; the display thread turns the engine's flags into notifications. The transport lock
// serialises everything that sends or moves the cursors; the play thread only tries it, so it never
// waits for the UI.
class Sequencer final : public Transport, public SyncInput {
  public:
    static constexpr int32_t NormalTempo = 100000;
    static constexpr int32_t FullVolume = 16383;
    static constexpr int32_t NoTick = 0x7FFFFFFF;
    static constexpr int64_t BeatTimerPeriod = 4000; // microseconds

    Sequencer(PortTable& ports, const MicrosecondClock& clock, NotificationQueue& notifications);
    ~Sequencer() override;
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // Start-up: the options, the timer period, the click; then the click patch is set up. Stopped with
    // the beat timer running.
    void Start(const Profile& profile, int timerPeriodMilliseconds);
    // Null puts back the hooks that do nothing.
    void SetHooks(SequencerHooks* hooks) { hooks_ = hooks != nullptr ? hooks : &defaultHooks_; }
    // The UI loop's timers, for the conductor's return step; without one the ratio stays where taps leave it.
    void SetScheduler(Scheduler* scheduler) { scheduler_ = scheduler; }
    // The "FollowTap" settings, at start-up and whenever the options page is saved.
    void SetFollowTap(const FollowTapSettings& settings);
    const FollowEffective& Follow() const { return follow_; }
    void SetSynthResets(const SynthResetLookup* lookup) { resets_ = lookup; }
    void SetClick(const ClickSettings& click);
    ClickSettings CurrentClick() const;
    // "Sequencer" "Options" (re-assert, last vamp) while running: read on a tap from any thread.
    void SetOptions(uint32_t options) { options_.store(options, std::memory_order_relaxed); }
    // Closing: stops (releasing everything), ends the display thread and the timers.
    void Shutdown();

    // Song activation: stops, resets the ports as "AdvanceReset" says, takes the model, sends each
    // track's opening system-exclusive messages and chases to `startTick` (negative: the song's own
    // position, given as `songPosition`).
    void Activate(std::unique_ptr<PlaybackModel> model, int32_t startTick, int32_t songPosition = 0);
    // A new model for the current song after an edit; the old one is freed here, on the UI thread.
    void Replace(std::unique_ptr<PlaybackModel> model);
    bool HasSong() const { return model_.load(std::memory_order_acquire) != nullptr; }
    // A mute or solo while playing.
    void SetTrackPlay(int track, bool play);

    // Transport.
    void PlayFrom(int32_t tick, bool forced);
    void Pause();
    void Stop();
    // "Play/Tap (Cue)": starts playback, releases holds, acts on the cue being played and, while
    // playing, is the conductor's beat.
    // `tapTime` is when the tap happened on the engine clock (a MIDI message's time stamp), -1 now.
    void PlayTap(int64_t tapTime = -1);
    void PlayPause();
    void TempoSlower();
    void TempoFaster();
    void TempoNormal();
    void SetTempoRatio(int32_t ratio);
    void VolumeUp();
    void VolumeDown();
    void VolumeFull();
    void GotoBeginning();
    void GotoEnd();
    void NextMeasure();
    void PreviousMeasure();
    void NextNote();
    void PreviousNote();
    bool CanGotoNextNote() const;
    bool CanGotoPreviousNote() const;
    void ResetMidi();
    void FreeStuckNotes();
    // The "Volume slider" of a control map: 0 to 16383.
    void SetMasterVolume(int32_t volume);
    // "SyncOptions" for this run (Start reads them from the settings).
    void SetSync(const SyncSettings& settings);
    // As a slave ("MasterSlave" 2), from an input's callback thread: a system message heard on
    // physical input `port`, which moves playback when it is the sync port. The play timer then
    // leaves the song where the external clock puts it.
    void SlaveMessage(int port, uint32_t message, int64_t time);
    void OnSystemMessage(int port, int64_t microseconds, uint32_t message) override
    {
        SlaveMessage(port, message, microseconds);
    }
    // A full-frame time code from any input relocates a slave (and stops it).
    void OnSysex(int port, int64_t microseconds, std::span<const uint8_t> bytes) override;
    bool IsSlave() const { return slave_.load(std::memory_order_acquire); }

    // MIDI thru: the tracks that receive what the inputs hear (and, later, record it), track numbers
    // of the current song. At most MaxSelectedTracks; set on the UI thread.
    static constexpr size_t MaxSelectedTracks = 64;
    void SetSelectedTracks(std::span<const int> tracks);
    // From an input's callback thread: sends a channel message heard on physical input `inputPort` to
    // every selected track listening there, on the track's port and channel, its key offset applied
    // and its own bank, patch and controllers asserted first where the port holds others; then the
    // recording hook. With no track selected it touches no lock; otherwise it tries the transport lock
    // for at most a millisecond (a tick's hold), and a message that finds it held longer (a chase) is
    // dropped and counted. Allocates nothing.
    void Thru(int inputPort, uint32_t message, int64_t microseconds = 0);
    // Input messages thru dropped because the transport lock was held.
    uint64_t ThruDropped() const { return thruDropped_.load(std::memory_order_relaxed); }
    // How logical input ports map to physical ones ("MIDIIN%d"); set on the UI thread before inputs start.
    void SetInputMapping(std::vector<int32_t> mapping);
    // Chases to `tick` in the current state and refreshes.
    void Locate(int32_t tick);

    // Cues.
    void LastVamp();
    bool CanLastVamp() const;
    void RepeatMeasure();
    void SkipNextMeasure();
    void GotoNextCue();
    void GotoPreviousCue();
    // The UI's handling of `MsgPlaybackHalted`: settles a hold or a cut at a cue; at the song's end it
    // stops and leaves the rest to the caller.
    HaltOutcome SettleHalt();
    // Microseconds since the play thread last halted: the UI hears of a halt a loop turn late, and a
    // wait that follows it (auto-advance) counts from the halt itself.
    int64_t SinceHalt() const { return clock_.NowMicroseconds() - haltedAt_.load(std::memory_order_acquire); }
    CueStatus Cues() const;
    // The conductor's return step (the UI loop's 100 ms timer).
    void ReturnStep();
    static constexpr int ReturnTimer = 100;

    // Transport, for the undo mechanism.
    bool IsStopped() const override { return State() == SequencerState::Stopped; }
    void Relocate(int32_t tick) override;

    // The play thread's entry: runs the play tick or the beat timer at `now` (the monotonic clock's
    // microseconds) and returns when it wants to be called again. Tests and renders call it directly.
    int64_t Service(int64_t now);
    // The display thread's work, callable directly: posts the refresh when the views must redraw.
    void DisplayStep();
    void StartDisplayThread();

    // Live values, readable from any thread.
    SequencerState State() const { return state_.load(std::memory_order_acquire); }
    int32_t Position() const { return position_.load(std::memory_order_acquire); }
    int32_t TempoRatio() const { return tempoRatio_.load(std::memory_order_relaxed); }
    int32_t MasterVolume() const { return volumeControl_.load(std::memory_order_relaxed); }
    double BeatPhase() const { return beatPhase_.load(std::memory_order_relaxed); }
    int32_t EndTick() const;
    int TimerPeriodMilliseconds() const { return periodMilliseconds_; }
    uint32_t Options() const { return options_.load(std::memory_order_relaxed); }
    AdvanceReset AdvanceResetMode() const { return advanceReset_; }
    PortTable& Ports() { return ports_; }

    // The model the hooks work on; valid while they run.
    PlaybackModel* Model() { return model_.load(std::memory_order_acquire); }

  private:
    enum class TimerMode : uint8_t { None, Play, Beat };

    void Post(EngineMessage message, int32_t value = 0);
    void RefreshViews();
    void WakeDisplay();
    // The steps below run with the transport lock held.
    void PlayFromLocked(int32_t tick, bool forced);
    void PauseLocked();
    int32_t ChaseLocked(PlaybackModel& model, int32_t target, SequencerState state);
    void NextCueStep(const PlaybackModel& model, int32_t position);
    void BeginPlaying(PlaybackModel& model, int64_t now);
    bool CueTriggered(PlaybackModel& model, int32_t tick, int64_t now);
    void FollowTap(int64_t tapTime);
    void GotoCue(bool forward);
    int32_t CueTarget(const PlaybackModel& model, bool forward, bool& stopFirst, bool& pauseFirst) const;
    void StartBeatTimer(int64_t now);
    void PlayTick(PlaybackModel& model, int64_t now);
    void BeatTick(PlaybackModel& model, int64_t now);
    void SendDueEvents(PlaybackModel& model, int32_t position);
    // The slave's steps, under the transport lock; true when the views must refresh.
    void HaltSlaveLocked();
    void SlaveBeginPlaying(PlaybackModel& model, int32_t tick, int64_t time);
    bool ClockMessageLocked(PlaybackModel& model, uint8_t status, uint32_t message, int64_t time);
    bool QuarterFrameLocked(PlaybackModel& model, uint8_t data, int64_t time);
    void SyncHeard(int64_t time);
    // The tick of the external clock counted now: whole each time, so no timebase drifts.
    int32_t SlaveClockTick(int timebase) const { return static_cast<int32_t>(slaveClock_ * timebase / 24); }
    void SlaveTick(PlaybackModel& model, int64_t now);
    int64_t SlaveWake(PlaybackModel& model, int64_t now);
    void SendEvent(const PlaybackTrack& track, const struct RawEvent& event);
    void SendMasterVolume(PlaybackModel& model);
    void UpdateBeatPhase(PlaybackModel& model, int32_t tick);
    void Click(PlaybackModel& model);
    int64_t NextWake(PlaybackModel& model, int64_t now);
    void SetupClickPatch();
    void SendOpeningSysex(PlaybackModel& model);
    void MoveByMeasure(bool forward);
    int32_t NextMeasureTick(const PlaybackModel& model, int32_t position) const;
    int32_t PreviousMeasureTick(const PlaybackModel& model, int32_t position) const;
    int32_t NoteTime(const PlaybackModel& model, int32_t position, bool after) const;

    PortTable& ports_;
    const MicrosecondClock& clock_;
    NotificationQueue& notifications_;
    SequencerHooks defaultHooks_;
    SequencerHooks* hooks_ = &defaultHooks_;
    Scheduler* scheduler_ = nullptr;
    const SynthResetLookup* resets_ = nullptr;

    // "CVSeqRolling": every send and every cursor move happens under it.
    mutable std::mutex rolling_;
    std::atomic<PlaybackModel*> model_{nullptr};
    std::unique_ptr<PlaybackModel> owned_;

    std::atomic<SequencerState> state_{SequencerState::Stopped};
    std::atomic<int32_t> position_{0};
    std::atomic<int64_t> haltedAt_{0};
    SyncMaster syncMaster_; // under rolling_
    std::atomic<bool> slave_{false};
    // The slave's state, under rolling_: the external clock's count, its smoothed timing, the time
    // code being put together, and when the master was last heard.
    int64_t slaveClock_ = 0; // the external clocks counted from the song's start
    ClockFollower clockFollower_;
    TimeCodeAssembler timeCode_;
    bool timeCodeLocked_ = false;
    int timeCodeFormat_ = 3;
    int64_t lastSyncHeard_ = 0;
    bool syncLost_ = false;
    // Under rolling_: the thru targets and the input mapping they are matched by.
    std::array<int16_t, MaxSelectedTracks> selected_{};
    size_t selectedCount_ = 0;
    std::atomic<size_t> thruTracks_{0}; // selectedCount_ for the input thread's look without the lock
    std::atomic<uint64_t> thruDropped_{0};
    std::vector<int32_t> inputMapping_;
    uint32_t eventFilter_ = 0xDB00; // "RecordOptions"/"EventFilter": bit n lets status n*16 through
    std::atomic<int32_t> tempoRatio_{NormalTempo};
    std::atomic<int32_t> volumeControl_{FullVolume}; // the control the commands move
    std::atomic<double> beatPhase_{0.0};
    std::atomic<bool> viewsRefresh_{false};
    std::atomic<uint32_t> displayWake_{0};
    std::atomic<bool> closing_{false};
    std::atomic<TimerMode> timerMode_{TimerMode::None};
    std::thread displayThread_;

    // Settings, written at start-up before the play thread runs; the options also later by the UI.
    std::atomic<uint32_t> options_{2};
    AdvanceReset advanceReset_ = AdvanceReset::ResetPorts;
    int periodMilliseconds_ = 2;
    ClickSettings click_;
    MidiOutPort* clickPort_ = nullptr;

    // Owned by whoever holds the transport lock.
    Chaser chaser_;
    CueTracker cues_;
    TapFollower follower_;
    FollowEffective follow_;
    int32_t masterVolume_ = FullVolume; // what the ports were last sent
    int32_t startTick_ = 0;
    double songClock_ = 0.0; // microseconds of tempo-map time
    int64_t lastTickTime_ = 0;
    int64_t nextDeadline_ = 0;
    int measureIndex_ = 0;
    int32_t displayStep_ = -1;
    int32_t lastClickBeat_ = -1;
    int lastClickMeasure_ = -1;
    int phaseStep_ = 0;
    // The beat timer's state.
    int64_t beatTimerStart_ = 0;
    int64_t beatLastTime_ = 0;
    const PlaybackModel* beatModel_ = nullptr;
    int32_t beatPosition_ = -1;
    int64_t beatStartSeen_ = -1;
    double beatPositionBeats_ = 0.0;
    double beatStep_ = 0.0; // beats per microsecond at normal speed
};

} // namespace cantivo
