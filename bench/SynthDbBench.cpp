// Synth database look-ups the views make while drawing (a patch name, a controller name), through the
// cache and straight from SQLite, and the import of a 10 000-line synth data file.

#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthFile.h"
#include "synthdb/SynthLookup.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace cantivo {
namespace {

// 64 banks of 128 patches, 15 drum sets of 100 notes, 128 controllers and 99 NRPN names: 10 000 lines
// with the headers.
std::string BigSynthText()
{
    std::string text;
    for (int bank = 0; bank < 64; ++bank) {
        text += "[Bank " + std::to_string(bank * 128) + ":Bank " + std::to_string(bank) + "]\n";
        for (int patch = 0; patch < 128; ++patch)
            text += std::to_string(patch) + "=Patch " + std::to_string(bank) + "/" + std::to_string(patch) + "\n";
    }
    for (int set = 0; set < 15; ++set) {
        text += "[Drum 128/" + std::to_string(set) + ":Kit " + std::to_string(set) + "]\n";
        for (int note = 20; note < 120; ++note)
            text += std::to_string(note) + "=Drum " + std::to_string(note) + "\n";
    }
    text += "[Controllers]\n";
    for (int controller = 0; controller < 128; ++controller)
        text += std::to_string(controller) + "=Controller " + std::to_string(controller) + "\n";
    text += "[NRPN]\n";
    for (int nrpn = 0; nrpn < 99; ++nrpn)
        text += std::to_string(nrpn * 64) + "=Parameter " + std::to_string(nrpn) + "\n";
    return text;
}

struct Database {
    Database()
    {
        std::string warning;
        db = SynthDatabase::Open({":memory:", ""}, warning);
        Synthesizer synth = ParseSynthText("Big", BigSynthText()).synth;
        if (!db->WriteSynth(synth))
            std::abort();
        number = synth.number;
    }
    std::unique_ptr<SynthDatabase> db;
    int32_t number = 0;
};

Database& Shared()
{
    static Database database;
    return database;
}

void BM_PatchNameCached(benchmark::State& state)
{
    Database& database = Shared();
    int patch = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(database.db->Lookup().PatchName(database.number, 31 * 128, patch));
        patch = (patch + 1) & 127;
    }
}
BENCHMARK(BM_PatchNameCached);

void BM_PatchNameUncached(benchmark::State& state)
{
    Database& database = Shared();
    int patch = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(database.db->QueryPatchName(database.number, 31 * 128, patch));
        patch = (patch + 1) & 127;
    }
}
BENCHMARK(BM_PatchNameUncached);

void BM_ControllerNameCached(benchmark::State& state)
{
    Database& database = Shared();
    int controller = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(database.db->Lookup().ControllerName(database.number, controller));
        controller = (controller + 1) & 127;
    }
}
BENCHMARK(BM_ControllerNameCached);

void BM_ControllerNameUncached(benchmark::State& state)
{
    Database& database = Shared();
    int controller = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(database.db->QueryControllerName(database.number, controller));
        controller = (controller + 1) & 127;
    }
}
BENCHMARK(BM_ControllerNameUncached);

void BM_ParseSynthFile10000Lines(benchmark::State& state)
{
    const std::string text = BigSynthText();
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseSynthText("Big", text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseSynthFile10000Lines)->Unit(benchmark::kMillisecond);

// Reading the file and storing it as a new synthesizer, as an import with OK does.
void BM_ImportSynthFile10000Lines(benchmark::State& state)
{
    const std::string text = BigSynthText();
    std::string warning;
    auto db = SynthDatabase::Open({":memory:", ""}, warning);
    for (auto _ : state) {
        Synthesizer synth = ParseSynthText("Big", text).synth;
        if (!db->WriteSynth(synth))
            state.SkipWithError("the write failed");
    }
}
BENCHMARK(BM_ImportSynthFile10000Lines)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace cantivo

BENCHMARK_MAIN();
