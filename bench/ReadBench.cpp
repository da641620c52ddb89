// Reading and encoding throughput on a generated one-million-event song, with the same file read by
// libsmf and portsmf in the same run so the ratio is visible.

#include "BenchSong.h"

#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/TrackEncoder.h"

// allegro.h uses memcpy without including it, so <cstring> must come first.
#include <cstring>

#include <allegro.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <smf.h>

namespace {

using namespace cantivo;

void BM_CantivoReadSong(benchmark::State& state)
{
    const std::string path = bench::BenchFilePath();
    size_t heapBytes = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        Song song(DefaultSongContext());
        if (!ReadSong(song, path)) {
            state.SkipWithError("the bench song did not read");
            return;
        }
        heapBytes = mallinfo2().uordblks - before;
        benchmark::DoNotOptimize(song.songEnd);
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
    state.counters["heapMB"] = static_cast<double>(heapBytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_CantivoReadSong)->Unit(benchmark::kMillisecond);

void BM_LibsmfLoad(benchmark::State& state)
{
    const std::string path = bench::BenchFilePath();
    for (auto _ : state) {
        smf_t* smf = smf_load(path.c_str());
        if (!smf) {
            state.SkipWithError("libsmf could not read the bench song");
            return;
        }
        benchmark::DoNotOptimize(smf->number_of_tracks);
        smf_delete(smf);
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
}
BENCHMARK(BM_LibsmfLoad)->Unit(benchmark::kMillisecond);

void BM_PortsmfLoad(benchmark::State& state)
{
    const std::string path = bench::BenchFilePath();
    for (auto _ : state) {
        Alg_seq sequence(path.c_str(), true);
        benchmark::DoNotOptimize(sequence.tracks());
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
}
BENCHMARK(BM_PortsmfLoad)->Unit(benchmark::kMillisecond);

void BM_CantivoEncodeSong(benchmark::State& state)
{
    Song song(DefaultSongContext());
    if (!ReadSong(song, bench::BenchFilePath())) {
        state.SkipWithError("the bench song did not read");
        return;
    }
    const int32_t interval = song.timebase * 8;
    for (auto _ : state) {
        for (int t = 1; t <= song.UserTrackCount(); ++t)
            EncodeTrack(*song.tracks[static_cast<size_t>(t)], interval);
        benchmark::DoNotOptimize(song.tracks[1]->image.data());
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
}
BENCHMARK(BM_CantivoEncodeSong)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
