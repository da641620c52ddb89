// The conductor's arithmetic: which taps count, how far they jump and how they move the tempo ratio.
#include "playback/TapFollower.h"
#include "EngineFixture.h"
#include "playback/Scheduler.h"

#include <gtest/gtest.h>

namespace cantivo::test {
namespace {

// A beat of 500 ms from tick 0 to tick 480 (timebase 480 here, so a tick is about a millisecond).
TapContext BeatAt(double now, int32_t ratio = 100000)
{
    TapContext c;
    c.now = now;
    c.tick = static_cast<int32_t>(now / 500'000 * 480);
    c.beatStart = 0;
    c.nextBeat = 480;
    c.t0 = 0;
    c.t1 = 500'000;
    c.ratio = ratio;
    c.wallNow = now;
    return c;
}

FollowEffective Values(int window, int modulation, int forward, int backward, int average = 0)
{
    FollowEffective e;
    e.window = window;
    e.modulationStrength = modulation;
    e.forwardJump = forward;
    e.backwardJump = backward;
    e.averageStrength = average;
    return e;
}

TEST(TapFollower, TheWindowDecidesWhichTapsAreBeats)
{
    struct Case {
        double now;
        bool remembered;
    } cases[] = {
        {410'000, true},  // 90 ms before the next beat: early
        {390'000, false}, // 110 ms before: neither
        {90'000, true},   // 90 ms after the beat: late
        {110'000, false},
    };
    for (const Case& c : cases) {
        TapFollower follower;
        const TapOutcome outcome = follower.Follow(Values(20, 50, 80, 80), BeatAt(c.now));
        EXPECT_EQ(follower.TapCount(), c.remembered ? 1 : 0) << c.now;
        EXPECT_EQ(outcome.jumpTo >= 0, c.remembered) << c.now;
        EXPECT_EQ(outcome.ratio != 0, c.remembered) << c.now;
    }
}

TEST(TapFollower, JumpsAndModulationFollowTheirStrengths)
{
    TapFollower follower;
    TapContext early = BeatAt(0);
    early.tick = 380; // 100 ticks before the next beat
    early.now = 440'000;
    EXPECT_EQ(follower.Follow(Values(20, 0, 80, 0), early).jumpTo, 460);
    TapContext late = BeatAt(0);
    late.tick = 50;
    late.now = 60'000;
    EXPECT_EQ(TapFollower().Follow(Values(20, 0, 0, 80), late).jumpTo, 10);
    // Backward jumps off: a late tap leaves the position alone.
    EXPECT_EQ(TapFollower().Follow(Values(20, 0, 80, 0), late).jumpTo, -1);

    // 0.8 beat lengths after the beat start, modulation 50%: (1.25 x 50 + 50 x 1.0) x 0.01 = 1.125.
    EXPECT_EQ(TapFollower().Follow(Values(25, 50, 0, 0), BeatAt(400'000)).ratio, 112500);
    // Near 199000 the early factor 1.1 is capped.
    TapContext capped = BeatAt(500'000 / 1.1);
    capped.ratio = 199000;
    EXPECT_EQ(TapFollower().Follow(Values(50, 100, 0, 0), capped).ratio, 200000);
    // A factor within 0.1% of 1 leaves the ratio alone; a late tap never takes it below 50000.
    EXPECT_EQ(TapFollower().Follow(Values(20, 1, 0, 0), BeatAt(480'000)).ratio, 0);
    EXPECT_EQ(TapFollower().Follow(Values(20, 100, 0, 0), BeatAt(90'000, 50500)).ratio, 50000);
}

TEST(TapFollower, TheAverageStepFollowsTheTappingRateAndIgnoresABounce)
{
    TapFollower follower;
    const FollowEffective average = Values(0, 0, 0, 0, 50);
    EXPECT_EQ(follower.Average(average, 1'000'000, 500'000, 100000).ratio, 0) << "one tap is no rate";
    // Taps 400 ms apart against 500 ms beats: factor 1.125, half of the way there.
    EXPECT_EQ(follower.Average(average, 1'400'000, 500'000, 100000).ratio, 106250);
    // A second tap in the same millisecond is the switch bouncing: no zero interval, no jump.
    EXPECT_EQ(follower.Average(average, 1'400'000, 500'000, 106250).ratio, 0);
    EXPECT_EQ(follower.TapCount(), 2);
    // Old taps are forgotten after 1.5 s.
    EXPECT_EQ(follower.Average(average, 9'000'000, 500'000, 100000).ratio, 0);
    EXPECT_EQ(follower.TapCount(), 1);
    // The result is clamped to the ratio's range.
    TapFollower fast;
    (void)fast.Average(Values(0, 0, 0, 0, 100), 0, 500'000, 190000);
    EXPECT_EQ(fast.Average(Values(0, 0, 0, 0, 100), 100'000, 500'000, 190000).ratio, 200000);
}

TEST(TapFollower, TheReturnStepClosesOnNormal)
{
    EXPECT_EQ(TapFollower::ReturnStep(10, 100005), 100004);
    EXPECT_EQ(TapFollower::ReturnStep(10, 110000), 109900);
    EXPECT_EQ(TapFollower::ReturnStep(10, 90000), 90100);
    EXPECT_EQ(TapFollower::ReturnStep(100, 99999), 100000);
    EXPECT_EQ(TapFollower::ReturnStep(0, 120000), 120000);
}

TEST(TapFollower, SettingsReadWithTheStartUpDefaultsAndClamp)
{
    TestContext context;
    FollowTapSettings startUp = FollowTapSettings::Read(context.profile);
    EXPECT_TRUE(startUp.jumpBackward);
    EXPECT_FALSE(FollowTapSettings::PageDefaults().jumpBackward);
    // Off, the window and jumps are 0; the average and the return work without it.
    context.profile.WriteInt("FollowTap", "UseAverage", 1);
    context.profile.WriteInt("FollowTap", "EnableTempoNorm", 1);
    context.profile.WriteInt("FollowTap", "Window", 80);
    FollowEffective off = FollowEffective::From(FollowTapSettings::Read(context.profile));
    EXPECT_EQ(off.window, 0);
    EXPECT_EQ(off.forwardJump, 0);
    EXPECT_EQ(off.averageStrength, 50);
    EXPECT_EQ(off.returnRate, 10);
    context.profile.WriteInt("FollowTap", "Enabled", 1);
    context.profile.WriteInt("FollowTap", "Follower", 1);
    const FollowTapSettings on = FollowTapSettings::Read(context.profile);
    EXPECT_EQ(on.window, 50);
    EXPECT_EQ(on.follower, FollowerKind::Continuous);
    FollowTapSettings saved = on;
    saved.returnRate = 0; // out of range: read back clamped
    saved.Write(context.profile);
    EXPECT_EQ(FollowTapSettings::Read(context.profile).returnRate, 1);
}

TEST(TapFollower, TapsAheadOfTheBeatSpeedTheSongUpAndTheReturnTimerBringsItBack)
{
    Engine engine;
    ClockScheduler scheduler(engine.clock);
    engine.sequencer->SetScheduler(&scheduler);
    engine.context.profile.WriteInt("FollowTap", "Enabled", 1);
    engine.context.profile.WriteInt("FollowTap", "EnableTempoNorm", 1);
    engine.sequencer->SetFollowTap(FollowTapSettings::Read(engine.context.profile));
    auto song = MakeSong(engine.context, 1);
    song->tracks[1]->events.push_back(SongEvent::Note(120 * 240, 0, 60, 100, 100)); // two minutes in
    Finish(*song);
    engine.Load(*song);
    Sequencer& s = *engine.sequencer;
    s.PlayTap();
    engine.RunFor(1'450'000); // 50 ms before the fourth beat
    s.PlayTap();
    const int32_t faster = s.TempoRatio();
    EXPECT_GT(faster, 100000);
    EXPECT_TRUE(scheduler.IsRunning(Sequencer::ReturnTimer));
    for (int i = 0; i < 1000 && scheduler.IsRunning(Sequencer::ReturnTimer); ++i) {
        engine.RunFor(100'000);
        scheduler.RunDue();
        EXPECT_LE(s.TempoRatio(), faster);
    }
    EXPECT_EQ(s.TempoRatio(), 100000);
    EXPECT_FALSE(scheduler.IsRunning(Sequencer::ReturnTimer));
    s.Stop();
}

TEST(TapFollower, ATapFromStoppedReassertsPatchesOnlyWhenAsked)
{
    for (const int options : {2, 3}) {
        Engine engine;
        engine.context.profile.WriteInt("Sequencer", "Options", options);
        engine.sequencer->Start(engine.context.profile, 2);
        auto song = MakeSong(engine.context, 1);
        auto& events = song->tracks[1]->events;
        events.push_back(SongEvent::Short(0, 0xC0, 12));
        events.push_back(SongEvent::Note(0, 0, 60, 100, 100));
        events.push_back(SongEvent::Note(960, 0, 62, 100, 100));
        Finish(*song);
        engine.Load(*song);
        Sequencer& s = *engine.sequencer;
        s.PlayTap();
        engine.RunFor(1'000'000);
        s.Stop();
        const size_t before = engine.device->Count();
        s.PlayTap(); // from the same position: the chase sends what the ports do not hold
        engine.RunFor(10'000);
        const auto sent = engine.device->Since(before);
        const bool program = std::any_of(sent.begin(), sent.end(), [](const Sent& m) { return m.message == 0x0CC0u; });
        EXPECT_EQ(program, options == 3) << "options " << options;
        s.Stop();
    }
}

} // namespace
} // namespace cantivo::test
