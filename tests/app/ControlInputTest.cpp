// MIDI input driving the show, in virtual time through a loopback pair: the control map's presses and
// releases, auto-repeat, sliders, a modifier controller, thru to the selected tracks, learning, song
// select; the map file and the key text of the entry dialog.
#include "app/ControlActions.h"
#include "app/ControlMapStore.h"
#include "app/PlaybackHalted.h"
#include "app/TransportCommands.h"
#include "platform/LoopbackPair.h"
#include "playback/ControlMap.h"
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"
#include "playback/Scheduler.h"
#include "song/Cue.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <thread>

namespace cantivo::test {
namespace {

class ControlInputTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        song = MakeSong(engine.context, 2);
        for (int beat = 0; beat < 32; ++beat) // eight bars
            song->tracks[1]->events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
        Finish(*song);
        engine.Load(*song);
        engine.sequencer->SetScheduler(&scheduler);
        control.SetHeldProbe([this] { return input.Holding(); });
        input.Connect(engine.sequencer.get(), engine.sequencer.get(), &learner);
        ASSERT_TRUE(loop.in->Start(input));
    }
    void TearDown() override { loop.in->Stop(); }
    void Map(std::vector<ControlEntry> entries) { input.SetEntries(entries); }
    void Send(uint32_t message) { loop.out->SendShort(message); }
    // The UI loop: the engine's turns, the timers, the control actions, in 5 ms steps.
    void Run(int64_t milliseconds)
    {
        for (int64_t t = 0; t < milliseconds; t += 5) {
            engine.RunFor(5'000);
            scheduler.RunDue();
            Drain();
        }
    }
    void Drain()
    {
        while (auto n = engine.notifications.Take()) {
            if (n->message == EngineMessage::MsgControlAction)
                actions.push_back(n->value);
            if (n->message == EngineMessage::MsgSongSelect)
                songSelects.push_back(n->value);
            if (n->message == EngineMessage::MsgPlaybackHalted)
                (void)HandlePlaybackHalted(*engine.sequencer, nullptr);
            control.Handle(*n);
        }
    }

    Engine engine;
    std::unique_ptr<Song> song;
    ClockScheduler scheduler{engine.clock};
    TransportCommands commands{*engine.sequencer};
    std::vector<CommandId> setCommands;
    // The set's commands are recorded; the rest go to the transport, as the programs' dispatch does.
    ControlActions control{*engine.sequencer, scheduler, [this](uint16_t command) {
                               const auto id = static_cast<CommandId>(command);
                               if (id != CommandId::NextSong && id != CommandId::PreviousSong)
                                   return commands.Run(command);
                               setCommands.push_back(id);
                               return CommandOutcome::Done;
                           }};
    NotificationQueue& queue = engine.notifications;
    MidiInPort input{0, "Pedal", engine.notifications};
    ControlLearner learner;
    LoopbackPair loop = LoopbackPair::Make("Pedal", engine.clock);
    std::vector<int> actions;
    std::vector<int> songSelects;
};

TEST_F(ControlInputTest, AFootSwitchTapsOncePerPressAndSendsItsRelease)
{
    Map({ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap)});
    Send(0x7F40B0);
    Run(20);
    EXPECT_NE(engine.sequencer->State(), SequencerState::Stopped) << "the tap started playback";
    Send(0x6440B0); // still held
    Send(0x0040B0);
    Send(0x7F40B0);
    Run(20);
    EXPECT_EQ(actions, (std::vector<int>{1, 0, 1}));
    // The other channel and other controllers are not bound.
    Send(0x7F40B1);
    Send(0x7F41B0);
    Run(10);
    EXPECT_EQ(actions.size(), 3u);
}

// Taps 450 ms apart on a 500 ms beat, the UI loop hearing each `late` milliseconds after it came.
class TapTiming : public ControlInputTest {
  public:
    void TestBody() override {}
    int32_t RatioAfterTaps(const std::vector<int>& late)
    {
        engine.context.profile.WriteInt("FollowTap", "Enabled", 1);
        engine.sequencer->SetFollowTap(FollowTapSettings::Read(engine.context.profile));
        SetUp();
        Map({ControlEntry::Make(0, 0, 0, 60, ControlAction::PlayTap)});
        Send(0x7F3C90);
        Run(500);
        for (const int delay : late) {
            Send(0x7F3C90);
            Send(0x003C90);
            engine.RunFor(delay * 1000);
            Drain();
            Run(450 - delay);
        }
        TearDown();
        return engine.sequencer->TempoRatio();
    }
};

TEST(ControlInputTapTime, ATapCountsFromWhenTheFootFellNotWhenTheLoopHeardIt)
{
    const int32_t prompt = TapTiming().RatioAfterTaps({0, 0, 0, 0, 0, 0});
    const int32_t late = TapTiming().RatioAfterTaps({35, 5, 40, 0, 25, 45});
    EXPECT_GT(prompt, Sequencer::NormalTempo) << "the taps pushed the tempo on";
    EXPECT_NEAR(late, prompt, 1000) << "within 1%: a loop turn late used to be 4%";
}

TEST_F(ControlInputTest, AHeldPadRepeatsAfter875MsThenEvery125MsUntilReleased)
{
    Map({ControlEntry::Make(0, 9, 0, 36, ControlAction::NextMeasure)});
    Send(0x7F2499);
    Run(5);
    EXPECT_EQ(engine.sequencer->Position(), 480) << "one step at once";
    Run(860);
    EXPECT_EQ(engine.sequencer->Position(), 480);
    Run(20);
    EXPECT_EQ(engine.sequencer->Position(), 960) << "the first repeat at 875 ms";
    Run(250);
    EXPECT_EQ(engine.sequencer->Position(), 1920) << "then every 125 ms";
    Send(0x002489); // the release kills the timer
    Run(500);
    EXPECT_EQ(engine.sequencer->Position(), 1920);
    EXPECT_FALSE(scheduler.IsRunning(ControlActions::RepeatTimer));
}

TEST_F(ControlInputTest, SlidersModifiersAndTheSetsCommands)
{
    Map({ControlEntry::Make(0, 0, 1, 0, ControlAction::TempoSlider),
         ControlEntry::Make(0, 0, 7, 0, ControlAction::VolumeSlider),
         ControlEntry::Make(0, 0, 64, 60, ControlAction::NextSong)});
    const struct {
        int value;
        int32_t ratio;
    } sliders[] = {{64, 100000}, {0, 68000}, {127, 131500}};
    for (const auto& slider : sliders) {
        Send(0xB0 | 1 << 8 | static_cast<uint32_t>(slider.value) << 16);
        Run(5);
        EXPECT_EQ(engine.sequencer->TempoRatio(), slider.ratio) << slider.value;
    }
    Send(0x5007B0);
    Run(5);
    EXPECT_EQ(engine.sequencer->MasterVolume(), 0x50 * 128);
    // The key triggers only while the sustain pedal is down.
    Send(0x643C90);
    Send(0x003C80);
    Run(5);
    EXPECT_TRUE(setCommands.empty());
    Send(0x7F40B0);
    Send(0x643C90);
    Run(5);
    EXPECT_EQ(setCommands, std::vector<CommandId>{CommandId::NextSong});
}

TEST_F(ControlInputTest, ThruSendsToTheSelectedTracksOnTheirPortAndChannel)
{
    Track& track = *song->tracks[1];
    track.outputChannel = 2;
    track.inputChannel = 0;
    track.keyOffset = 12;
    track.initial[InitPatch] = 5;
    engine.Load(*song);
    engine.sequencer->SetInputMapping({0});
    const int selected[] = {1};
    engine.sequencer->SetSelectedTracks(selected);
    engine.device->Clear();
    Send(0x403C90); // channel 1, key 60
    Send(0x403C91); // channel 2: the track does not listen there
    Send(0x7F7890); // key 120 + 12 is past 127: brought down an octave, back to 120
    std::vector<uint32_t> sent;
    for (const Sent& s : engine.device->Since(0))
        sent.push_back(s.message);
    EXPECT_EQ(sent, (std::vector<uint32_t>{0x0000B2, 0x0020B2, 0x05C2, 0x404892, 0x7F7892}));
    engine.sequencer->SetSelectedTracks({});
    engine.device->Clear();
    Send(0x403C90);
    EXPECT_EQ(engine.device->Count(), 0u);
}

TEST_F(ControlInputTest, LearningTakesTheNextMessageInsteadOfTheMap)
{
    Map({ControlEntry::Make(0, 0, 64, 0, ControlAction::Stop)});
    learner.Arm();
    Send(0x7F40B3);
    Run(5);
    const auto heard = learner.Take();
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->channel, 3);
    EXPECT_EQ(heard->controller, 64);
    EXPECT_EQ(heard->key, -1);
    Send(0x403090);
    Send(0x7F01B0); // the keyboard's modulation wheel, right after the key
    EXPECT_EQ(learner.Take()->key, 0x30) << "the first message heard is the one learnt";
    EXPECT_FALSE(learner.Take()) << "what came after it is not kept for later";
    EXPECT_TRUE(actions.empty()) << "a learnt message triggers nothing";
    learner.Disarm();
    EXPECT_FALSE(learner.Take());
}

TEST_F(ControlInputTest, DamagedInputNeverSticksAndSongSelectAsksTheSet)
{
    Map({ControlEntry::Make(0, 0, 0, 60, ControlAction::NextSong)});
    std::mt19937 random(7);
    std::vector<uint8_t> noise(4000);
    for (uint8_t& byte : noise)
        byte = static_cast<uint8_t>(random());
    input.OnMidiIn(0, noise);
    engine.sequencer->SetSync({2, 0, 0, 3}); // song select comes to a slave
    // A sysex cut short by a status, real-time bytes inside one, running status.
    const uint8_t stream[] = {0xF0, 0x41, 0x10, 0x90, 0x3C, 0x00, 0xF0, 0x7E, 0xF8, 0x7F, 0xF7, 0xF3, 0x05};
    input.OnMidiIn(0, stream);
    Run(5);
    actions.clear();
    setCommands.clear();
    const uint8_t clean[] = {0x80, 0x3C, 0x00, 0xB0, 0x40, 0x00, 0x90, 0x3C, 0x64, 0x3C, 0x00};
    input.OnMidiIn(0, clean);
    Run(5);
    EXPECT_EQ(actions, (std::vector<int>{static_cast<int>(ControlAction::NextSong), 0}))
        << "running status carried the release";
    ASSERT_FALSE(songSelects.empty());
    EXPECT_EQ(songSelects.back(), 5);
}

TEST_F(ControlInputTest, TempoUpHeldStepsAtThePressAt875MsThenEvery125MsAndStopsAtTheRelease)
{
    Map({ControlEntry::Make(0, 0, 20, 0, ControlAction::TempoUp)});
    Send(0x7F14B0);
    // Milliseconds run since the previous row; the timer starts on the loop's first turn, 5 ms on.
    const struct {
        int64_t run;
        int32_t ratio;
    } steps[] = {{5, 101000}, {860, 101000}, {20, 102000}, {100, 102000}, {25, 103000}, {125, 104000}};
    int64_t at = 0;
    for (const auto& step : steps) {
        Run(step.run);
        at += step.run;
        EXPECT_EQ(engine.sequencer->TempoRatio(), step.ratio) << at << " ms";
    }
    Send(0x0014B0);
    Run(1000);
    EXPECT_EQ(engine.sequencer->TempoRatio(), 104000) << "the release stops it";
    EXPECT_FALSE(scheduler.IsRunning(ControlActions::RepeatTimer));
}

TEST_F(ControlInputTest, ARepeatEndsWhateverBecomesOfItsRelease)
{
    const std::vector<ControlEntry> map = {ControlEntry::Make(0, 0, 20, 0, ControlAction::TempoUp)};
    Map(map);
    const auto release = [this] { Send(0x0014B0); };
    const struct {
        const char* what;
        std::function<void()> disturb;
    } cases[] = {
        {"released", release},
        {"released while learning", [&] { learner.Arm(), release(); }},
        {"released with external control off", [&] { input.SetControlEnabled(false), release(); }},
        {"external control turned off while held", [&] { input.SetControlEnabled(false); }},
        {"the map reloaded while held", [&] { Map(map); }},
        {"released into a full queue",
         [&] {
             while (queue.Post({EngineMessage::CmdRefreshPosition, 0, 0, -1})) {
             }
             release();
         }},
    };
    for (const auto& c : cases) {
        engine.sequencer->SetTempoRatio(Sequencer::NormalTempo);
        Send(0x7F14B0);
        Run(300);
        c.disturb();
        Run(1500);
        EXPECT_EQ(engine.sequencer->TempoRatio(), 101000) << c.what << ": one step, no repeat";
        EXPECT_FALSE(scheduler.IsRunning(ControlActions::RepeatTimer)) << c.what;
        EXPECT_FALSE(learner.Take()) << c.what << ": a press's release is not learnt";
        // Afterwards the pedal presses anew.
        learner.Disarm();
        input.SetControlEnabled(true);
        release();
        Run(10);
        Send(0x7F14B0);
        Run(10);
        EXPECT_EQ(engine.sequencer->TempoRatio(), 102000) << c.what;
        release();
        Run(10);
    }
}

TEST_F(ControlInputTest, ANoteOnBoundToPlayTapReleasesAFermataAndFollowsTheTempo)
{
    engine.context.profile.WriteInt("FollowTap", "Enabled", 1);
    engine.sequencer->SetFollowTap(FollowTapSettings::Read(engine.context.profile));
    Cue fermata;
    fermata.kind = CueFermata;
    fermata.stopAt = 960; // bar 3, held from its third beat
    fermata.restartAt = 1200;
    song->cues.push_back(std::make_unique<Cue>(fermata));
    Finish(*song);
    engine.Load(*song);
    Map({ControlEntry::Make(0, 0, 0, 60, ControlAction::PlayTap)});
    const auto tap = [this] {
        Send(0x7F3C90);
        Send(0x003C80);
    };
    tap();
    Run(5000);
    ASSERT_EQ(engine.sequencer->State(), SequencerState::Holding);
    EXPECT_EQ(engine.sequencer->Position(), 1200);
    // Taps 450 ms apart on a 500 ms beat: the first releases the hold, the others push the tempo on.
    for (int i = 0; i < 6; ++i) {
        tap();
        Run(450);
    }
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing);
    EXPECT_GT(engine.sequencer->Position(), 1200);
    EXPECT_GT(engine.sequencer->TempoRatio(), Sequencer::NormalTempo);
}

TEST_F(ControlInputTest, SongSelectAsksTheSetAndAProgramChangeTriggersNothing)
{
    // A program change is no trigger kind of an entry: only song select chooses a song.
    Map({ControlEntry::Make(0, 0, 5, 0, ControlAction::Stop), ControlEntry::Make(0, 0, 0, 5, ControlAction::Stop)});
    engine.sequencer->SetSync({2, 0, 0, 3}); // song select comes to a slave
    Send(0x05C0);
    Send(0x07F3);
    Run(5);
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(songSelects, std::vector<int>{7});
}

TEST_F(ControlInputTest, TwoInputsKeepTheirOwnRunningStatus)
{
    MidiInPort pads{1, "Pads", engine.notifications};
    pads.Connect(engine.sequencer.get(), nullptr, &learner);
    const std::vector<ControlEntry> map = {ControlEntry::Make(0, 0, 0, 60, ControlAction::Stop),
                                           ControlEntry::Make(1, 0, 64, 0, ControlAction::Pause)};
    input.SetEntries(map);
    pads.SetEntries(map);
    // Bytes as two interfaces deliver them, interleaved mid-message.
    const std::vector<std::pair<MidiInPort*, std::vector<uint8_t>>> chunks = {
        {&input, {0x90, 0x3C}},      {&pads, {0xB0, 0x40}},  {&input, {0x64}},
        {&pads, {0x7F, 0x41, 0x22}}, {&input, {0x3E, 0x50}},
    };
    for (const auto& [port, bytes] : chunks)
        port->OnMidiIn(0, bytes);
    Run(5);
    EXPECT_EQ(input.NoteState(0, 60), 100);
    EXPECT_EQ(input.NoteState(0, 62), 80);
    EXPECT_EQ(input.ControllerState(0, 64), 0);
    EXPECT_EQ(pads.ControllerState(0, 64), 127);
    EXPECT_EQ(pads.ControllerState(0, 65), 0x22);
    EXPECT_EQ(pads.NoteState(0, 60), 0);
    EXPECT_EQ(actions,
              (std::vector<int>{static_cast<int>(ControlAction::Stop), static_cast<int>(ControlAction::Pause)}));
}

// The recording issue's way in: after the control map and thru, before nothing else of the message.
class InputRecorder final : public SequencerHooks {
  public:
    struct Call {
        int track;
        uint32_t message;
        int64_t time;
        size_t sentBefore;
        bool operator==(const Call&) const = default;
    };
    InputRecorder(RecordingDevice& device, NotificationQueue& queue) : device_(device), queue_(queue) {}
    void RecordInput(Sequencer&, int track, uint32_t message, int64_t microseconds) override
    {
        calls.push_back({track, message, microseconds, device_.Count()});
        queue_.Post({EngineMessage::CmdRefreshPosition, track, 0, -1}); // marks its place among the actions
    }
    std::vector<Call> calls;

  private:
    RecordingDevice& device_;
    NotificationQueue& queue_;
};

TEST_F(ControlInputTest, TheRecordingHookFollowsTheControlMapAndThru)
{
    Track& track = *song->tracks[1];
    track.inputChannel = 0;
    engine.Load(*song);
    engine.sequencer->SetInputMapping({0});
    InputRecorder recorder(*engine.device, queue);
    engine.sequencer->SetHooks(&recorder);
    Map({ControlEntry::Make(0, 0, 0, 60, ControlAction::VolumeFull)});
    const int selected[] = {1};
    engine.sequencer->SetSelectedTracks(selected);
    engine.device->Clear();
    const int64_t now = engine.clock.NowMicroseconds();
    Send(0x403C90);
    Send(0x403C91); // another channel: the track does not listen
    Send(0xF8);     // real time goes to sync only
    const std::vector<EngineMessage> expectedOrder = {EngineMessage::MsgControlAction,
                                                      EngineMessage::CmdRefreshPosition};
    std::vector<EngineMessage> order;
    while (auto n = queue.Take())
        order.push_back(n->message);
    EXPECT_EQ(order, expectedOrder);
    EXPECT_EQ(recorder.calls, (std::vector<InputRecorder::Call>{{1, 0x403C90, now, 1}})) << "after its thru send";
    engine.sequencer->SetSelectedTracks({});
    Send(0x003C80);
    EXPECT_EQ(recorder.calls.size(), 1u) << "no track selected";
    EXPECT_EQ(engine.sequencer->ThruDropped(), 0u);
    engine.sequencer->SetHooks(nullptr);
}

// A hook that holds the transport lock until it is let go, as a long chase would.
class HoldingHook final : public SequencerHooks {
  public:
    void RecordInput(Sequencer&, int, uint32_t, int64_t) override
    {
        if (held_.exchange(true))
            return;
        entered.set_value();
        letGo.wait();
    }
    std::promise<void> entered;
    std::shared_future<void> letGo;

  private:
    std::atomic<bool> held_{false};
};

TEST_F(ControlInputTest, ThruDropsAndCountsWhatFindsTheTransportLockHeld)
{
    song->tracks[1]->inputChannel = 0;
    engine.Load(*song);
    engine.sequencer->SetInputMapping({0});
    const int selected[] = {1};
    engine.sequencer->SetSelectedTracks(selected);
    HoldingHook hook;
    std::promise<void> letGo;
    hook.letGo = letGo.get_future().share();
    engine.sequencer->SetHooks(&hook);
    std::thread holder([&] { engine.sequencer->Thru(0, 0x403C90, 0); });
    hook.entered.get_future().wait();
    engine.device->Clear();
    engine.sequencer->Thru(0, 0x003C80, 0); // returns without waiting for the holder
    EXPECT_EQ(engine.sequencer->ThruDropped(), 1u);
    EXPECT_EQ(engine.device->Count(), 0u);
    letGo.set_value();
    holder.join();
    engine.sequencer->SetHooks(nullptr);
}

TEST_F(ControlInputTest, LearningBindsWhatTheEntryCanHoldInTheMapInUse)
{
    ControlMapStore store(engine.context.profile);
    std::string error;
    ASSERT_TRUE(store.Write({"MIDI", {ControlEntry::Make(0, 0, 64, 0, ControlAction::Stop)}}, error));
    MidiInPort far{16, "Far", engine.notifications};
    far.Connect(nullptr, nullptr, &learner);
    LoopbackPair farLoop = LoopbackPair::Make("Far", engine.clock);
    ASSERT_TRUE(farLoop.in->Start(far));
    const ControlEntry pedal = ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap);
    const ControlEntry key = ControlEntry::Make(0, 2, 0, 60, ControlAction::NextCue);
    const struct {
        const char* what;
        MidiOutDevice* from;
        uint32_t message;
        ControlAction action;
        const char* error; // empty: bound
        std::vector<ControlEntry> map;
    } cases[] = {
        {"a pedal replaces what it did", loop.out.get(), 0x7F40B0, ControlAction::PlayTap, "", {pedal}},
        {"a key on channel 3", loop.out.get(), 0x643C92, ControlAction::NextCue, "", {pedal, key}},
        {"note 0 reads as a controller trigger",
         loop.out.get(),
         0x640090,
         ControlAction::Stop,
         "Note 0 (C-1) can not be bound",
         {pedal, key}},
        {"the seventeenth input",
         farLoop.out.get(),
         0x7F40B0,
         ControlAction::Stop,
         "MIDI input 17 can not be bound",
         {pedal, key}},
    };
    for (const auto& c : cases) {
        learner.Arm();
        c.from->SendShort(c.message);
        const std::optional<ControlLearner::Heard> heard = learner.Take();
        learner.Disarm();
        ASSERT_TRUE(heard) << c.what;
        error.clear();
        const std::optional<ControlEntry> entry = store.Learn(*heard, c.action, error);
        EXPECT_EQ(entry.has_value(), std::string(c.error).empty()) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(store.ActiveMap().entries, c.map) << c.what;
    }
    farLoop.in->Stop();
    EXPECT_TRUE(actions.empty()) << "what is learnt triggers nothing";
}

TEST(ControlMapFile, ExportImportIsByteIdenticalAndADamagedFileKeepsWhatCameBefore)
{
    std::vector<ControlMap> maps = {{"MIDI", {ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap)}},
                                    {std::string(300, 'n'), {}},
                                    {"Pads",
                                     {ControlEntry::Make(1, 9, 0, 36, ControlAction::NextCue),
                                      ControlEntry::Make(15, 15, 127, 127, ControlAction::MidiReset)}}};
    const std::vector<uint8_t> bytes = ControlMapFileBytes(maps);
    std::string error;
    std::vector<ControlMap> read = ReadControlMapFile(bytes, error);
    EXPECT_TRUE(error.empty()) << error;
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read.front().name, "Pads") << "written from the last to the first";
    std::reverse(read.begin(), read.end());
    EXPECT_EQ(read, maps);
    EXPECT_EQ(ControlMapFileBytes(read), bytes);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        const auto kept = ReadControlMapFile(std::span(bytes.data(), cut), error);
        EXPECT_FALSE(error.empty()) << cut;
        EXPECT_LE(kept.size(), 2u);
    }
    // Stored values: words back and forth; more than 128 entries read as none.
    const std::vector<uint8_t> stored = ControlEntriesToBytes(maps[2].entries);
    EXPECT_EQ(ControlEntriesFromBytes(stored), maps[2].entries);
    EXPECT_TRUE(ControlEntriesFromBytes(std::vector<uint8_t>(516, 1)).empty());
    EXPECT_EQ(ControlEntriesFromBytes(std::vector<uint8_t>(512, 1)).size(), 128u);
}

TEST(ControlMapFile, KeyTexts)
{
    const struct {
        const char* text;
        std::optional<int> key;
        bool none;
    } cases[] = {{"Bb3", 58, false},           {"C-1", 0, false},          {"G9", 127, false},
                 {"A9", std::nullopt, false},  {"c 4", 60, false},         {"  F#4", 66, false},
                 {"Cx4", 62, false},           {"E''4", 60, false},        {"60", 60, false},
                 {"128", std::nullopt, false}, {"", std::nullopt, true},   {"   ", std::nullopt, true},
                 {"H4", std::nullopt, false},  {"C", std::nullopt, false}, {"C-5", 0, false}};
    for (const auto& entry : cases) {
        bool none = false;
        EXPECT_EQ(ParseKeyText(entry.text, none), entry.key) << entry.text;
        EXPECT_EQ(none, entry.none) << entry.text;
    }
    EXPECT_STREQ(ControlActionName(19), "Tempo slider");
    EXPECT_STREQ(ControlActionName(99), "<None>");
}

} // namespace
} // namespace cantivo::test
