// Chase cost: a dense five-minute song, chased to random positions, stopped and starting. The play
// thread chases inside one tick, so the worst case is what must stay well under a 1 ms tick.
#include "playback/Chase.h"
#include "playback/EngineFixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

namespace {

using namespace cantivo;
using namespace cantivo::test;

// 16 tracks at 120 bpm (a tick is 1/240 s): programs, a controller every beat, held four-note
// chords a bar long and a pitch bend sweep, about five minutes.
std::unique_ptr<Song> MakeDenseSong(TestContext& context)
{
    auto song = MakeSong(context, 16);
    constexpr int32_t Beat = 120;
    constexpr int32_t Bars = 150; // 600 beats at 120 bpm: five minutes
    for (int t = 0; t < 16; ++t) {
        Track& track = *song->tracks[static_cast<size_t>(t)];
        const auto channel = static_cast<uint8_t>(t);
        track.events.push_back(SongEvent::Short(0, static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(t * 7)));
        for (int32_t beat = 0; beat < Bars * 4; ++beat) {
            const int32_t time = beat * Beat;
            track.events.push_back(
                SongEvent::Short(time, static_cast<uint8_t>(0xB0 | channel), 7, static_cast<uint8_t>(64 + beat % 64)));
            track.events.push_back(
                SongEvent::Short(time, static_cast<uint8_t>(0xB0 | channel), 10, static_cast<uint8_t>(beat % 128)));
            for (int step = 0; step < 4; ++step)
                track.events.push_back(SongEvent::Short(time + step * 30, static_cast<uint8_t>(0xE0 | channel), 0,
                                                        static_cast<uint8_t>((beat * 4 + step) % 128)));
            if (beat % 4 == 0)
                for (int k = 0; k < 4; ++k)
                    track.events.push_back(
                        SongEvent::Note(time, channel, static_cast<uint8_t>(48 + t + k * 4), 90, 4 * Beat));
        }
    }
    Finish(*song);
    return song;
}

void ChaseRandom(benchmark::State& state, SequencerState sequencerState)
{
    Engine engine(1);
    auto song = MakeDenseSong(engine.context);
    auto model = BuildPlaybackModel(*song, engine.ports, {}, 30);
    Chaser chaser;
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int32_t> position(0, song->songEnd);
    std::vector<int32_t> targets(100);
    for (int32_t& target : targets)
        target = position(random);

    // The worst of every run counts preemption on a shared machine; the worst over positions of each
    // position's best run is the chase's own cost.
    std::vector<double> best(targets.size(), 1e18);
    double worst = 0;
    double total = 0;
    int64_t chases = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < targets.size(); ++i) {
            const int32_t target = targets[i];
            engine.device->Clear();
            const auto begin = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(chaser.Chase(*model, target, sequencerState));
            const double micros =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count();
            worst = std::max(worst, micros);
            best[i] = std::min(best[i], micros);
            total += micros;
            ++chases;
        }
    }
    state.counters["mean_us"] = total / static_cast<double>(chases);
    state.counters["worst_us"] = worst;
    state.counters["worst_best_us"] = *std::max_element(best.begin(), best.end());
    state.counters["tick_us"] = 1000;
    state.SetLabel("per chase; target: worst well under a 1 ms tick");
}

void BM_ChaseStopped(benchmark::State& state)
{
    ChaseRandom(state, SequencerState::Stopped);
}
void BM_ChaseStarting(benchmark::State& state)
{
    ChaseRandom(state, SequencerState::Starting);
}
BENCHMARK(BM_ChaseStopped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChaseStarting)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
