// Writing throughput on the generated one-million-event song: the file image alone (the tracks already
// encoded), the whole save in memory (every track encoded again), and a save to disk with its sync.

#include "BenchSong.h"

#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using namespace cantivo;

Song& BenchSongRead()
{
    static Song song(DefaultSongContext());
    static const bool ok = ReadSong(song, bench::BenchFilePath()).ok;
    (void)ok;
    return song;
}

void BM_CantivoFileImage(benchmark::State& state)
{
    Song& song = BenchSongRead();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> image = SongFileBytes(song);
        bytes = image.size();
        benchmark::DoNotOptimize(image.data());
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CantivoFileImage)->Unit(benchmark::kMillisecond);

void BM_CantivoWriteSongToBytes(benchmark::State& state)
{
    Song& song = BenchSongRead();
    for (auto _ : state) {
        const std::vector<uint8_t> image = WriteSongToBytes(song);
        benchmark::DoNotOptimize(image.data());
    }
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
}
BENCHMARK(BM_CantivoWriteSongToBytes)->Unit(benchmark::kMillisecond);

void BM_CantivoWriteSongToDisk(benchmark::State& state)
{
    Song& song = BenchSongRead();
    const char* folder = std::getenv("TMPDIR");
    const std::string path = std::string(folder ? folder : "/tmp") + "/cantivo-bench-write.mid";
    const WriteOptions options{.exactPath = true};
    for (auto _ : state) {
        if (!WriteSong(song, path, options)) {
            state.SkipWithError("the save failed");
            return;
        }
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * bench::BenchFileEvents);
}
BENCHMARK(BM_CantivoWriteSongToDisk)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
