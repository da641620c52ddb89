// MIDI synchronisation over the wire, in virtual time: a slave hears its clock through a loopback
// pair, and one engine as master drives another as slave through one.
#include "platform/LoopbackPair.h"
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"

#include <gtest/gtest.h>

namespace cantivo::test {
namespace {

// A one-track song at 120 bpm, timebase 120: a note on each of its `beats` beats, program 5 from the
// start, and program 9 with volume 90 from beat 20.
std::unique_ptr<Song> BeatSong(TestContext& context, int beats)
{
    auto song = MakeSong(context, 1);
    auto& events = song->tracks[1]->events; // the first user track
    events.push_back(SongEvent::Short(0, 0xC0, 5));
    for (int beat = 0; beat < beats; ++beat) {
        if (beat == 20) {
            events.push_back(SongEvent::Short(beat * 120, 0xC0, 9));
            events.push_back(SongEvent::Short(beat * 120, 0xB0, 7, 90));
        }
        events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
    }
    Finish(*song);
    return song;
}

// The onsets of the notes a device played since `from`, microseconds.
std::vector<int64_t> Onsets(const RecordingDevice& device, size_t from = 0)
{
    std::vector<int64_t> onsets;
    for (const Sent& sent : device.Since(from))
        if ((sent.message & 0xF0) == 0x90 && (sent.message >> 16 & 0x7F) > 0)
            onsets.push_back(sent.time);
    return onsets;
}

bool Sends(const std::vector<Sent>& sent, uint32_t message)
{
    return std::any_of(sent.begin(), sent.end(), [message](const Sent& s) { return s.message == message; });
}

TEST(SyncLoopback, AClockAtHundredBpmPlaysTheSongThenStopContinueAndPointerHoldResumeAndRelocate)
{
    for (const bool smoothing : {false, true}) {
        SCOPED_TRACE(smoothing ? "smoothed" : "raw");
        Engine engine(1);
        const auto song = BeatSong(engine.context, 64);
        engine.Load(*song);
        engine.sequencer->SetSync({2, 0, 0, 3, smoothing});
        MidiInPort input(0, "Clock", engine.notifications);
        input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
        LoopbackPair wire = LoopbackPair::Make("Clock", engine.clock);
        ASSERT_TRUE(wire.in->Start(input));
        // 100 bpm: 24 clocks a quarter, one every 25 ms.
        const auto clocks = [&](int count) {
            for (int i = 0; i < count; ++i) {
                wire.out->SendShort(0xF8);
                engine.RunFor(25'000);
            }
        };
        engine.device->Clear();
        wire.out->SendShort(0xFA);
        engine.RunFor(100'000);
        EXPECT_EQ(engine.device->Count(), 0u) << "the play timer does not move a slave";
        clocks(24 * 8);
        const std::vector<int64_t> beats = Onsets(*engine.device);
        ASSERT_GE(beats.size(), 8u);
        const double beat = static_cast<double>(beats.back() - beats.front()) / static_cast<double>(beats.size() - 1);
        EXPECT_NEAR(beat, 600'000, 600'000 * 0.005) << "the song follows the clock's 100 bpm";

        wire.out->SendShort(0xFC);
        EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
        EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
        const int32_t held = engine.sequencer->Position();
        clocks(24);
        EXPECT_EQ(engine.sequencer->Position(), held) << "clocks while stopped move nothing";
        wire.out->SendShort(0xFB);
        clocks(24);
        EXPECT_GE(engine.sequencer->Position(), held / 5 * 5 + 23 * 5) << "continued in place";
        EXPECT_LE(engine.sequencer->Position(), held / 5 * 5 + 24 * 5);

        // A pointer of 100 sixteenths is tick 3000, past beat 20: it stops playback, and the chase
        // sends the program and volume in force there.
        const size_t mark = engine.device->Count();
        wire.out->SendShort(0x0064F2);
        EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
        EXPECT_EQ(engine.sequencer->Position(), 3000);
        const std::vector<Sent> chase = engine.device->Since(mark);
        EXPECT_TRUE(Sends(chase, 0x09C0)) << "program 9";
        EXPECT_TRUE(Sends(chase, 0x5A07B0)) << "volume 90";
        EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
    }
}

// Two engines on one virtual time line: each runs its play thread's calls when they fall due, and
// what the master sends reaches the slave at the moment it is sent.
void RunBoth(Engine& master, Engine& slave, VirtualMicrosecondClock& wire, int64_t microseconds)
{
    const int64_t end = master.clock.NowMicroseconds() + microseconds;
    while (true) {
        const int64_t now = std::max(std::min(master.nextWake, slave.nextWake), master.clock.NowMicroseconds());
        if (now > end)
            break;
        for (VirtualMicrosecondClock* clock : {&master.clock, &slave.clock, &wire})
            clock->Set(now);
        if (master.nextWake <= now)
            master.nextWake = master.sequencer->Service(now);
        if (slave.nextWake <= now)
            slave.nextWake = slave.sequencer->Service(now);
    }
    for (VirtualMicrosecondClock* clock : {&master.clock, &slave.clock, &wire})
        clock->Set(end);
}

TEST(SyncLoopback, ASlaveFollowsAMasterThroughThirtySecondsWithinOneClock)
{
    VirtualMicrosecondClock wire;
    wire.Set(1'000'000);
    LoopbackPair link = LoopbackPair::Make("To slave", wire);
    Engine master(2, false, std::move(link.out)), slave(2);
    const auto masterSong = BeatSong(master.context, 80);
    const auto slaveSong = BeatSong(slave.context, 80);
    master.Load(*masterSong);
    slave.Load(*slaveSong);
    master.sequencer->SetSync({1, 2, 0, 3}); // the clock goes to the loopback alone
    slave.sequencer->SetSync({2, 0, 0, 3});
    MidiInPort input(0, "From master", slave.notifications);
    input.Connect(slave.sequencer.get(), slave.sequencer.get(), nullptr);
    ASSERT_TRUE(link.in->Start(input));
    // The input closes before it goes, or the master's last Stop would reach it.
    const struct Closer {
        MidiInDevice& in;
        ~Closer() { in.Stop(); }
    } closer{*link.in};

    master.sequencer->PlayFrom(0, false);
    master.sequencer->SetTempoRatio(110000); // the clock follows the ratio, and so does the slave
    RunBoth(master, slave, wire, 30'000'000);
    EXPECT_EQ(slave.sequencer->State(), SequencerState::Playing);
    EXPECT_GT(master.sequencer->Position(), 120 * 60);
    EXPECT_LT(std::abs(master.sequencer->Position() - slave.sequencer->Position()), 120 / 24);
    // Their notes too: the slave's onsets within a clock (about 19 ms at 110%) of the master's.
    const std::vector<int64_t> played = Onsets(*master.device), followed = Onsets(*slave.device);
    ASSERT_GE(followed.size(), 60u);
    for (size_t i = followed.size() - 10; i < followed.size(); ++i)
        EXPECT_LT(std::abs(followed[i] - played[i]), 500'000 / 24 * 100 / 110);
}

} // namespace
} // namespace cantivo::test
