// MIDI synchronisation in virtual time. As master: MIDI clock following the tempo ratio, the pointer,
// continue and stop around chases and stops; time code quarter frames at the rate and full frames. As
// slave: an external clock heard by an input moves the song (over the wire: tests/platform).
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"
#include "playback/SyncMaster.h"
#include "playback/SyncSlave.h"

#include <gtest/gtest.h>

namespace cantivo::test {
namespace {

std::vector<uint32_t> SyncMessages(const RecordingDevice& device, size_t from = 0)
{
    std::vector<uint32_t> messages;
    for (const Sent& sent : device.Since(from))
        if ((sent.message & 0xFF) >= 0xF1 && (sent.message & 0xFF) != 0xF0)
            messages.push_back(sent.message);
    return messages;
}

// A one-track song at 120 bpm with a note on each of its `beats` beats, made current.
std::unique_ptr<Song> LoadBeats(Engine& engine, int beats)
{
    auto song = MakeSong(engine.context, 1);
    for (int beat = 0; beat < beats; ++beat)
        song->tracks[0]->events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
    Finish(*song);
    engine.Load(*song);
    return song;
}

// A system message (one byte, or three for the pointer) arriving at `input`.
void Hear(MidiInPort& input, int64_t time, uint32_t message)
{
    const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                              static_cast<uint8_t>(message >> 16)};
    const uint32_t status = message & 0xFF;
    input.OnMidiIn(time, std::span(bytes, status == 0xF2 ? 3 : status == 0xF1 || status == 0xF3 ? 2 : 1));
}

// A master's Start, then `clocks` clocks at 120 bpm, each followed by its 20.8 ms of the engine's time.
void HearStartAndClocks(Engine& engine, MidiInPort& input, int clocks)
{
    Hear(input, engine.clock.NowMicroseconds(), 0xFA);
    for (int clock = 0; clock < clocks; ++clock) {
        Hear(input, engine.clock.NowMicroseconds(), 0xF8);
        engine.RunFor(20'833);
    }
}

size_t Count(const std::vector<uint32_t>& messages, uint32_t status)
{
    return static_cast<size_t>(
        std::count_if(messages.begin(), messages.end(), [status](uint32_t m) { return (m & 0xFF) == status; }));
}

TEST(SyncMaster, ClockFollowsTheTempoAndChasesSendThePointerBetweenStopAndContinue)
{
    Engine engine(1);
    const auto song = LoadBeats(engine, 64);
    engine.sequencer->SetSync({1, 0, 0, 3});
    engine.device->Clear();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(1'000'000);
    std::vector<uint32_t> sync = SyncMessages(*engine.device);
    ASSERT_GE(sync.size(), 3u);
    EXPECT_EQ(sync[0], 0x0000F2u) << "the pointer at bar 1";
    EXPECT_EQ(sync[1], 0xFBu);
    // 120 bpm: two quarters a second, 24 clocks each (the first at the start).
    EXPECT_NEAR(static_cast<double>(Count(sync, 0xF8)), 48, 1);

    engine.sequencer->SetTempoRatio(150000);
    size_t mark = engine.device->Count();
    engine.RunFor(1'000'000);
    EXPECT_NEAR(static_cast<double>(Count(SyncMessages(*engine.device, mark), 0xF8)), 72, 1) << "at 150%";

    // A relocation while playing: stop, the new pointer (sixteenths, low seven bits first), continue.
    mark = engine.device->Count();
    engine.sequencer->Locate(120 * 4 * 10); // bar 11: sixteenth 160 = 128 + 32
    sync = SyncMessages(*engine.device, mark);
    ASSERT_GE(sync.size(), 3u);
    EXPECT_EQ(sync[0], 0xFCu);
    EXPECT_EQ(sync[1], 0x0120F2u);
    EXPECT_EQ(sync[2], 0xFBu);
    mark = engine.device->Count();
    engine.sequencer->Stop();
    EXPECT_EQ(SyncMessages(*engine.device, mark), std::vector<uint32_t>{0xFC});
}

TEST(SyncMaster, TimeCodeSendsQuarterFramesAtTheRateAndAFullFrameAfterAChase)
{
    Engine engine(1);
    auto song = MakeSong(engine.context, 1);
    song->tracks[0]->events.push_back(SongEvent::Note(0, 0, 60, 100, 120 * 64));
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->SetSync({1, 0, 1, 1}); // 25 frames
    engine.device->Clear();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(1'000'000);
    const std::vector<uint32_t> sync = SyncMessages(*engine.device);
    EXPECT_NEAR(static_cast<double>(Count(sync, 0xF1)), 100, 1) << "four quarter frames per frame";
    // Piece 7 carries the format: 25 frames is code 1, so 0x72.
    EXPECT_NE(std::find(sync.begin(), sync.end(), 0x72F1u), sync.end());

    uint8_t frame[10];
    SyncMaster::FullFrame({1, 2, 3, 4}, 1, frame);
    const uint8_t expected[10] = {0xF0, 0x7F, 0x00, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7};
    EXPECT_TRUE(std::equal(std::begin(frame), std::end(frame), std::begin(expected)));
    const size_t mark = engine.device->Count();
    engine.sequencer->Locate(240);
    const std::vector<Sent> after = engine.device->Since(mark);
    const bool full =
        std::any_of(after.begin(), after.end(), [](const Sent& s) { return s.message == 0xF0 && s.length == 10; });
    EXPECT_TRUE(full) << "a chase sends the full frame";
}

// The onsets of the notes a device played, microseconds.
std::vector<int64_t> Onsets(const RecordingDevice& device)
{
    std::vector<int64_t> onsets;
    for (const Sent& sent : device.Since(0))
        if ((sent.message & 0xF0) == 0x90 && (sent.message >> 16 & 0x7F) > 0)
            onsets.push_back(sent.time);
    return onsets;
}

TEST(SyncSlave, SmoothingTakesAJitteredClocksWobbleOutOfTheTempoAndALostClockLetsTheNotesGo)
{
    // A clock at 120 bpm (20833 us) whose every clock is up to a millisecond early or late.
    struct Case {
        bool smoothing;
        double worstWobble; // microseconds a beat may differ from 500 ms
    };
    for (const Case& c : {Case{false, 2500}, Case{true, 600}}) {
        SCOPED_TRACE(c.smoothing ? "smoothed" : "raw");
        Engine engine(1);
        const auto song = LoadBeats(engine, 64);
        engine.sequencer->SetSync({2, 0, 0, 3, c.smoothing});
        MidiInPort input(0, "USB clock", engine.notifications);
        input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
        engine.device->Clear();
        Hear(input, engine.clock.NowMicroseconds(), 0xFA);
        uint32_t seed = 12345;
        const int64_t start = engine.clock.NowMicroseconds();
        int64_t scheduled = start;
        for (int clock = 0; clock < 24 * 20; ++clock) {
            seed = seed * 1103515245 + 12345;
            const int64_t jitter = static_cast<int64_t>(seed >> 16 & 2047) - 1024;
            engine.RunFor(std::max<int64_t>(scheduled + jitter - engine.clock.NowMicroseconds(), 0));
            Hear(input, engine.clock.NowMicroseconds(), 0xF8);
            scheduled = start + (clock + 1) * 500'000 / 24;
        }
        const std::vector<int64_t> onsets = Onsets(*engine.device);
        ASSERT_GE(onsets.size(), 16u);
        double worst = 0;
        for (size_t i = 5; i < onsets.size(); ++i) // after the loop has settled
            worst = std::max(worst, std::abs(static_cast<double>(onsets[i] - onsets[i - 1]) - 500'000));
        EXPECT_LE(worst, c.worstWobble);
        if (!c.smoothing) {
            EXPECT_GT(worst, 1000) << "the raw clock's jitter reaches the song";
        }
        const double beat =
            static_cast<double>(onsets.back() - onsets.front()) / static_cast<double>(onsets.size() - 1);
        EXPECT_NEAR(beat, 500'000, 500'000 * 0.005);

        // The master pauses mid-beat: the slave stays where the clock left it, and nothing sounds on.
        engine.RunFor(10'000);
        const int32_t left = engine.sequencer->Position();
        engine.RunFor(500'000);
        EXPECT_LE(engine.sequencer->Position() - left, 120 / 24);
        EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
    }
}

TEST(SyncSlave, TimeCodeLocksOnAfterAWholeValueFollowsJumpsAndStopsWhenItIsLost)
{
    Engine master(1), slave(1);
    auto masterSong = MakeSong(master.context, 1);
    auto slaveSong = MakeSong(slave.context, 1);
    for (Song* song : {masterSong.get(), slaveSong.get()}) {
        for (int beat = 0; beat < 400; ++beat)
            song->tracks[0]->events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
        Finish(*song);
    }
    master.Load(*masterSong);
    slave.Load(*slaveSong);
    master.sequencer->SetSync({1, 0, 1, 1}); // 25 frames
    slave.sequencer->SetSync({2, 0, 1, 1});
    MidiInPort input(0, "Time code", slave.notifications);
    input.Connect(slave.sequencer.get(), slave.sequencer.get(), nullptr);
    master.device->Clear();
    size_t forwarded = 0;
    bool early = true;
    const auto run = [&](int milliseconds) {
        for (int ms = 0; ms < milliseconds; ++ms) {
            master.RunFor(1'000);
            slave.RunFor(1'000);
            for (; forwarded < master.device->Count(); ++forwarded) {
                const Sent sent = (*master.device)[forwarded];
                if (sent.message == 0xF0)
                    continue; // full frames are checked below
                if ((sent.message & 0xFF) != 0xF1)
                    continue;
                Hear(input, slave.clock.NowMicroseconds(), sent.message);
                if (early && slave.sequencer->State() == SequencerState::Playing)
                    early = false;
            }
        }
    };
    master.sequencer->PlayFrom(480, false);
    run(40); // a frame and a half: not yet a whole value
    EXPECT_EQ(slave.sequencer->State(), SequencerState::Stopped) << "no lock before eight pieces";
    run(10'000);
    EXPECT_EQ(slave.sequencer->State(), SequencerState::Playing);
    EXPECT_LE(std::abs(master.sequencer->Position() - slave.sequencer->Position()), 12) << "within a frame";

    // The master jumps ahead ten seconds: the slave chases there instead of playing them all at once.
    const size_t before = slave.device->Count();
    master.sequencer->Locate(master.sequencer->Position() + 120 * 20);
    run(200);
    EXPECT_LE(std::abs(master.sequencer->Position() - slave.sequencer->Position()), 12);
    EXPECT_LT(Onsets(*slave.device).size() - Onsets(*master.device).size() + 0, 3u);
    EXPECT_LT(slave.device->Count() - before, 20u) << "no burst of the notes jumped over";

    // The time code stops: the slave stops too, and nothing is left sounding.
    master.sequencer->Stop();
    run(300);
    EXPECT_EQ(slave.sequencer->State(), SequencerState::Stopped);
    EXPECT_TRUE(Sounding::Of(slave.device->Since(0)).Silent());
}

TEST(SyncSlave, AFullFrameRelocatesAndStopsAndTheTickMessageMovesTenMilliseconds)
{
    Engine engine(1);
    const auto song = LoadBeats(engine, 64);
    engine.sequencer->SetSync({2, 0, 0, 3});
    MidiInPort input(0, "Desk", engine.notifications);
    input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
    const auto sysex = [&](std::vector<uint8_t> bytes) { input.OnMidiIn(engine.clock.NowMicroseconds(), bytes); };
    Hear(input, 0, 0xFA);
    for (int i = 0; i < 50; ++i) { // half a second of F9 ticks: one beat at 120 bpm
        Hear(input, engine.clock.NowMicroseconds(), 0xF9);
        engine.RunFor(10'000);
    }
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing);
    EXPECT_EQ(engine.sequencer->Position(), 117) << "the 50th tick came at 490 ms";

    // 0:00:02:00 at 25 frames is four beats; another ten-byte universal message is not a full frame.
    sysex({0xF0, 0x7F, 0x00, 0x06, 0x01, 0x20, 0x00, 0x09, 0x00, 0xF7});
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing);
    sysex({0xF0, 0x7F, 0x00, 0x01, 0x01, 0x20, 0x00, 0x02, 0x00, 0xF7});
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
    EXPECT_EQ(engine.sequencer->Position(), 480);
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
}

// The gaps between the sent messages of one status, microseconds.
std::vector<int64_t> Gaps(const RecordingDevice& device, uint32_t status)
{
    std::vector<int64_t> gaps;
    int64_t last = -1;
    for (const Sent& sent : device.Since(0)) {
        if ((sent.message & 0xFF) != status || sent.length != 0)
            continue;
        if (last >= 0)
            gaps.push_back(sent.time - last);
        last = sent.time;
    }
    return gaps;
}

TEST(SyncMaster, ClocksAndQuarterFramesGoOutAtTheirOwnTimeAndMillisecondsSendThirtyFrames)
{
    // A 2 ms play period would put them on its grid, up to 2 ms late.
    struct Case {
        const char* name;
        SyncSettings sync;
        uint32_t status;
        double interval;
        uint32_t lastPiece; // the piece-7 message (format in bits 1-2), 0 for the clock
    };
    const Case cases[] = {
        {"clock at 120 bpm", {1, 0, 0, 3}, 0xF8, 500'000.0 / 24, 0},
        {"25 frames", {1, 0, 1, 1}, 0xF1, 10'000.0, 0x72F1},
        {"milliseconds display sends 30 frames non-drop", {1, 0, 1, 4}, 0xF1, 1e6 / 120, 0x76F1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(2);
        const auto song = LoadBeats(engine, 64);
        engine.sequencer->SetSync(c.sync);
        engine.device->Clear();
        engine.sequencer->PlayFrom(0, false);
        engine.RunFor(2'000'000);
        const std::vector<int64_t> gaps = Gaps(*engine.device, c.status);
        ASSERT_GE(gaps.size(), static_cast<size_t>(1.9e6 / c.interval));
        for (const int64_t gap : gaps)
            ASSERT_NEAR(static_cast<double>(gap), c.interval, 1.5);
        if (c.lastPiece != 0) {
            const std::vector<uint32_t> sync = SyncMessages(*engine.device);
            EXPECT_NE(std::find(sync.begin(), sync.end(), c.lastPiece), sync.end());
        }
    }
}

TEST(Sync, ClocksCountTwentyFourPerQuarterAtEveryTimebase)
{
    // 480 clocks are 20 quarters (10 s at 120 bpm); a timebase that is no multiple of 24 must not drift.
    for (const int timebase : {96, 120, 192, 480, 1000, 25}) {
        SCOPED_TRACE(timebase);
        Engine master(1), slave(1);
        for (Engine* engine : {&master, &slave})
            engine->context.profile.WriteInt("SongDefaults", "Timebase", timebase);
        auto masterSong = MakeSong(master.context, 1);
        auto slaveSong = MakeSong(slave.context, 1);
        for (Song* song : {masterSong.get(), slaveSong.get()}) {
            song->tracks[0]->events.push_back(SongEvent::Note(0, 0, 60, 100, timebase * 40));
            Finish(*song);
        }
        master.Load(*masterSong);
        slave.Load(*slaveSong);

        master.sequencer->SetSync({1, 0, 0, 3});
        master.device->Clear();
        master.sequencer->PlayFrom(0, false);
        master.RunFor(10'000'000 - 1'000);
        EXPECT_EQ(Count(SyncMessages(*master.device), 0xF8), 480u) << "the master";

        slave.sequencer->SetSync({2, 0, 0, 3, false});
        MidiInPort input(0, "Clock", slave.notifications);
        input.Connect(slave.sequencer.get(), slave.sequencer.get(), nullptr);
        HearStartAndClocks(slave, input, 480);
        EXPECT_EQ(slave.sequencer->Position(), 479 * timebase / 24) << "the slave, at the last clock heard";
    }
}

TEST(SyncSlave, AClockThatFallsSilentLeavesThePlayThreadAtItsPeriod)
{
    // A note on every clock: the next one is always due one clock on, past where the song may go.
    Engine engine(2);
    auto song = MakeSong(engine.context, 1);
    for (int tick = 0; tick < 120 * 16; tick += 5)
        song->tracks[0]->events.push_back(SongEvent::Note(tick, 0, 60, 100, 2));
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->SetSync({2, 0, 0, 3, true});
    MidiInPort input(0, "Clock", engine.notifications);
    input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
    HearStartAndClocks(engine, input, 48);
    // The master pauses: over the 150 ms until the clock counts as lost, the play thread wakes at its
    // 2 ms period (and once for the one clock the song may still go), never a microsecond apart.
    int wakes = 0;
    const int64_t end = engine.clock.NowMicroseconds() + 150'000;
    while (engine.nextWake <= end) {
        const int64_t now = std::max(engine.nextWake, engine.clock.NowMicroseconds());
        engine.clock.Set(now);
        engine.nextWake = engine.sequencer->Service(now);
        ASSERT_GT(engine.nextWake, now);
        ++wakes;
    }
    EXPECT_LE(wakes, 150 / 2 + 5);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing) << "paused, not stopped";
}

TEST(SyncSlave, SongSelectAsksTheSetOnlyFromTheSyncPortWhileStopped)
{
    struct Case {
        const char* name;
        SyncSettings sync;
        int port;
        bool playing;
        bool selects;
    };
    const Case cases[] = {
        {"slave, sync port, stopped", {2, 2, 0, 3}, 1, false, true},
        {"slave, all ports", {2, 0, 0, 3}, 3, false, true},
        {"another port", {2, 2, 0, 3}, 0, false, false},
        {"playing", {2, 0, 0, 3}, 0, true, false},
        {"independent", {0, 0, 0, 3}, 0, false, false},
        {"master", {1, 0, 0, 3}, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine(1);
        const auto song = LoadBeats(engine, 8);
        engine.sequencer->SetSync(c.sync);
        MidiInPort input(c.port, "Pedal", engine.notifications);
        input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
        if (c.playing) {
            Hear(input, engine.clock.NowMicroseconds(), 0xFA);
            Hear(input, engine.clock.NowMicroseconds(), 0xF8);
        }
        engine.Drain();
        Hear(input, engine.clock.NowMicroseconds(), 0x05F3);
        std::vector<int32_t> selected;
        while (auto n = engine.notifications.Take())
            if (n->message == EngineMessage::MsgSongSelect)
                selected.push_back(n->value);
        EXPECT_EQ(selected, c.selects ? std::vector<int32_t>{5} : std::vector<int32_t>{});
    }
}

TEST(ClockFollower, AClockFarOffThePredictionMeasuresThePeriodAfresh)
{
    ClockFollower follower;
    follower.Restart(20'000);
    int64_t time = 0;
    for (int clock = 0; clock < 24; ++clock, time += 20'833)
        follower.Clock(time, clock * 5.0, 5.0);
    EXPECT_NEAR(follower.Period(), 20'833, 1);
    // The master halves its tempo after a gap: the first interval heard after it is the new period.
    time += 200'000;
    follower.Clock(time, 24 * 5.0, 5.0);
    follower.Clock(time + 41'666, 25 * 5.0, 5.0);
    EXPECT_DOUBLE_EQ(follower.Period(), 41'666);
    EXPECT_EQ(follower.TickAt(time + 41'666 + 20'833), 25 * 5 + 2);
    EXPECT_EQ(follower.Horizon(), 26 * 5);
}

} // namespace
} // namespace cantivo::test
