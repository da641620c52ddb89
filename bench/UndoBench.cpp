// Undo and redo of a step that moves 100 000 events in a song of about a million events over 32
// tracks: the delta rebuilds each touched track once, so an application is linear in the song.

#include "edit/UndoHistory.h"
#include "song/Song.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace cantivo {
namespace {

constexpr int TrackCount = 32;
constexpr int EventsPerTrack = 31250; // 1 000 000 in all
constexpr int MovedEvents = 100000;

struct BigSong {
    BigSong() : song(DefaultSongContext())
    {
        song.NewSongDefaults();
        std::mt19937 random(42);
        for (int t = 0; t < TrackCount; ++t) {
            auto track = std::make_unique<Track>();
            track->outputChannel = t % 16;
            track->events.reserve(EventsPerTrack);
            int32_t time = 0;
            for (int i = 0; i < EventsPerTrack; ++i) {
                time += static_cast<int32_t>(random() % 30);
                if (i % 4 == 3)
                    track->events.push_back(SongEvent::Short(time, static_cast<uint8_t>(0xB0 | (t % 16)), 7, 100));
                else
                    track->events.push_back(SongEvent::Note(time, static_cast<uint8_t>(t % 16),
                                                            static_cast<uint8_t>(40 + random() % 40), 100, 60));
            }
            song.tracks.insert(song.tracks.end() - 1, std::move(track));
        }
        song.UpdateSongEnd(AllTracks);
        song.ExtendMeasures();
        history = &UndoHistory::Install(song);

        // Every tenth event of every track moves a little later, placed by time again.
        auto step = std::make_unique<UndoStep>(StepEvents, "Move events");
        int moved = 0;
        for (int t = 1; t <= TrackCount && moved < MovedEvents; ++t) {
            const auto& events = song.tracks[static_cast<size_t>(t)]->events;
            for (size_t i = 0; i < events.size() && moved < MovedEvents; i += 10, ++moved) {
                step->events.Remove(MakeEventRef(t, static_cast<uint32_t>(i)));
                SongEvent copy = events[i];
                copy.time += 17;
                step->events.InsertByTime(t, std::move(copy));
            }
        }
        for (int t = 1; moved < MovedEvents; ++t) { // the rest from the next events over
            const auto& events = song.tracks[static_cast<size_t>(t)]->events;
            for (size_t i = 5; i < events.size() && moved < MovedEvents; i += 10, ++moved) {
                step->events.Remove(MakeEventRef(t, static_cast<uint32_t>(i)));
                SongEvent copy = events[i];
                copy.time += 11;
                step->events.InsertByTime(t, std::move(copy));
            }
        }
        submitted = history->SubmitStep(song, std::move(step));
    }

    Song song;
    UndoHistory* history = nullptr;
    bool submitted = false;
};

BigSong& Shared()
{
    static BigSong big;
    return big;
}

// The whole command: the delta, the song update that encodes every changed track, the measures.
void BM_UndoRedoMoveOf100kEvents(benchmark::State& state)
{
    BigSong& big = Shared();
    if (!big.submitted) {
        state.SkipWithError("the move step was refused");
        return;
    }
    for (auto _ : state) {
        if (!big.history->Undo(big.song) || !big.history->Redo(big.song)) {
            state.SkipWithError("undo or redo was refused");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * MovedEvents);
}
BENCHMARK(BM_UndoRedoMoveOf100kEvents)->Unit(benchmark::kMillisecond);

// The event delta alone, applied back and forth.
void BM_EventDeltaApplyOf100kEvents(benchmark::State& state)
{
    BigSong& big = Shared();
    UndoStep& step = const_cast<UndoStep&>(big.history->StepAt(0));
    StepEffects effects;
    for (auto _ : state) {
        step.events.Apply(big.song, effects);
        step.events.Apply(big.song, effects);
        effects = StepEffects{};
    }
    state.SetItemsProcessed(state.iterations() * 2 * MovedEvents);
}
BENCHMARK(BM_EventDeltaApplyOf100kEvents)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace cantivo

BENCHMARK_MAIN();
