// The play thread must not allocate once playing: every operator new in this binary is counted.
#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

// The replacement operators below pair malloc with free, which GCC cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace cantivo {
namespace {

using test::Engine;

TEST(SequencerAllocation, PlayingWithChasesAndTempoChangesAllocatesNothing)
{
    Engine engine(1, true);
    engine.device->keepLongBytes = false;
    auto song = test::MakeSong(engine.context, 8);
    for (int t = 1; t <= 8; ++t) {
        Track& track = *song->tracks[static_cast<size_t>(t)];
        for (int32_t time = 0; time < 120 * 4 * 64; time += 30) {
            track.events.push_back(SongEvent::Note(time, static_cast<uint8_t>(t - 1),
                                                   static_cast<uint8_t>(40 + (time / 30) % 40), 90, 200));
            if (time % 240 == 0)
                track.events.push_back(SongEvent::Short(time, static_cast<uint8_t>(0xB0 | (t - 1)), 7,
                                                        static_cast<uint8_t>(time / 240 % 128)));
            if (time % 960 == 0)
                track.events.push_back(SongEvent::Short(time, static_cast<uint8_t>(0xC0 | (t - 1)),
                                                        static_cast<uint8_t>(time / 960 % 128)));
        }
    }
    for (int32_t tick = 960; tick < 120 * 4 * 64; tick += 960)
        song->tempoMap.entries.push_back(TempoChange{tick, static_cast<uint32_t>(400000 + tick % 200000), 0.0});
    // Vamps and skips all along, so the trigger, the vamp stack and the region bookkeeping run too.
    for (int32_t bar = 4; bar < 60; bar += 4) {
        const int kind = bar % 8 == 0 ? CueVamp : CueSkip;
        song->cues.push_back(
            std::make_unique<Cue>(Cue{"", kind, 3, bar * 480, bar * 480 - (kind == CueVamp ? 480 : -240)}));
    }
    test::Finish(*song);
    engine.context.profile.WriteInt("FollowTap", "Enabled", 1);
    engine.sequencer->SetFollowTap(FollowTapSettings::Read(engine.context.profile));
    engine.Load(*song);
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(100'000);

    counting = true;
    for (int round = 0; round < 40; ++round) {
        engine.RunFor(250'000);
        engine.sequencer->SetTempoRatio(60000 + round * 3000);
        engine.sequencer->PlayFrom((round * 7919) % (120 * 4 * 60), true); // chased by the next tick
        engine.RunFor(250'000);
        engine.sequencer->VolumeDown();
        engine.sequencer->PlayTap(); // the conductor's beat
        if (round % 5 == 0)
            engine.sequencer->RepeatMeasure();
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_GT(engine.device->Count(), 5000u);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing);
}

// Run under ThreadSanitizer: the UI thread's transport calls against a real play thread.
TEST(SequencerThreads, TransportCallsRaceFreeAgainstThePlayThread)
{
    Engine engine;
    auto song = test::MakeSong(engine.context, 2);
    for (int32_t time = 0; time < 4800; time += 20)
        song->tracks[1]->events.push_back(SongEvent::Note(time, 0, static_cast<uint8_t>(60 + time % 12), 90, 40));
    song->cues.push_back(std::make_unique<Cue>(Cue{"", CueVamp, 0, 960, 480}));
    song->cues.push_back(std::make_unique<Cue>(Cue{"", CueFermata, 0, 1920, 2040}));
    test::Finish(*song);
    engine.Load(*song);
    std::atomic<bool> done{false};
    std::thread play([&] {
        int64_t next = 0;
        while (!done.load()) {
            engine.clock.Advance(500);
            const int64_t now = engine.clock.NowMicroseconds();
            if (now >= next)
                next = engine.sequencer->Service(now);
        }
    });
    for (int i = 0; i < 300; ++i) {
        if (i % 10 == 9) {
            engine.sequencer->LastVamp();
            engine.sequencer->GotoNextCue();
            (void)engine.sequencer->Cues();
            (void)engine.sequencer->SettleHalt();
        }
        switch (i % 6) {
        case 0:
            engine.sequencer->PlayTap();
            break;
        case 1:
            engine.sequencer->TempoFaster();
            break;
        case 2:
            engine.sequencer->NextMeasure();
            break;
        case 3:
            engine.sequencer->Pause();
            break;
        case 4:
            engine.sequencer->SetTrackPlay(1, i % 12 == 4);
            break;
        case 5:
            engine.sequencer->Stop();
            break;
        }
        engine.sequencer->DisplayStep();
        std::this_thread::yield();
    }
    done = true;
    play.join();
    engine.sequencer->Stop();
    EXPECT_TRUE(test::Sounding::Of(engine.device->Since(0)).Silent());
}

} // namespace
} // namespace cantivo
