// Sets on stage: opening a 200-song set (read lazily, as a set that large is, and read whole), a song
// change (select with "AdvanceReset" 2 and the start's chase) with the next song in memory, read when
// selected, or read ahead; and in real time, the silence between two songs of an auto-advancing set
// beyond "AdvanceWait", with and without the read-ahead.
#include "ShowFixture.h"
#include "platform/PlayThread.h"
#include "playback/EngineFixture.h"
#include "playback/Scheduler.h"
#include "set/CLiveDoc.h"
#include "set/SetFile.h"
#include "set/SetViewModel.h"
#include "set/SongReadAhead.h"
#include "song/AtomicFile.h"
#include "song/SongFileBytes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace cantivo;
using namespace cantivo::test;
namespace fs = std::filesystem;

constexpr int SetSongs = 200;
constexpr int32_t SongTicks = 960;    // two 4/4 bars at 120 bpm: 4 s
constexpr int32_t LastNoteTick = 958; // the last note-on, 2 ticks (8.3 ms) before the end
constexpr int64_t TickMicroseconds = 1'000'000 / 240;

// 16 tracks of 1250 events each, 20 000 in all, over four seconds: the size of a long, busy song
// packed short enough to play many in a run.
void WriteDenseSong(TestContext& context, const fs::path& path)
{
    auto song = MakeSong(context, 16);
    for (int t = 0; t < 16; ++t) {
        Track& track = *song->tracks[static_cast<size_t>(t)];
        for (int k = 0; k < 625; ++k)
            track.events.push_back(SongEvent::Note(k * LastNoteTick / 624, static_cast<uint8_t>(t),
                                                   static_cast<uint8_t>(40 + k % 24), 80, 2));
    }
    Finish(*song);
    song->songEnd = SongTicks;
    song->ExtendMeasures();
    const std::vector<uint8_t> bytes = WriteSongToBytes(*song);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A folder with a set of `songs` distinct copies of the dense song, made once per run.
const fs::path& SetFolder()
{
    static const fs::path folder = [] {
        TestContext context;
        const fs::path made = fs::temp_directory_path() / "cantivo-set-bench";
        fs::remove_all(made);
        fs::create_directories(made);
        WriteDenseSong(context, made / "song0.mid");
        std::vector<std::string> paths;
        for (int i = 0; i < SetSongs; ++i) {
            paths.push_back((made / ("song" + std::to_string(i) + ".mid")).string());
            if (i > 0)
                fs::copy_file(made / "song0.mid", paths.back());
        }
        const std::vector<uint8_t> bytes = SetFileBytes(paths);
        std::ofstream(made / "big.set", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return made;
    }();
    return folder;
}

void OpenSet(benchmark::State& state)
{
    const bool eager = state.range(0) != 0;
    TestContext context;
    DiskSaveFiles files;
    const std::string path = (SetFolder() / "big.set").string();
    for (auto _ : state) {
        CLiveDoc set(context.Context(), files);
        std::string error;
        if (!set.OpenSet(path, error, false))
            state.SkipWithError(error.c_str());
        for (int i = 0; eager && i < set.SongCount(); ++i)
            benchmark::DoNotOptimize(set.EnsureRead(i));
    }
    state.SetLabel(eager ? "every song read" : "songs read when selected");
}
BENCHMARK(OpenSet)->ArgName("eager")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// 0: the songs are in memory (read whole first); 1: read when selected; 2: read ahead.
void SongChange(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    Engine engine(1);
    DiskSaveFiles files;
    CLiveDoc set(engine.context.Context(), files);
    std::string error;
    if (!set.OpenSet((SetFolder() / "big.set").string(), error, false)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (int i = 0; mode == 0 && i < set.SongCount(); ++i)
        (void)set.EnsureRead(i);
    EngineActivator activator(engine);
    ClockScheduler scheduler(engine.clock);
    SetViewModel view(set, *engine.sequencer, activator, scheduler, engine.context.profile);
    SongReadAhead ahead(engine.context.Context());
    if (mode == 2)
        view.UseReadAhead(&ahead);
    (void)view.Select(0, 0);
    int position = 0;
    for (auto _ : state) {
        if (mode == 2) {
            state.PauseTiming(); // the song plays meanwhile
            while (ahead.ReadsDone() < position + 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            state.ResumeTiming();
        }
        position = position + 1 < set.SongCount() ? position + 1 : 1;
        benchmark::DoNotOptimize(view.Select(position, 0));
        engine.device->Clear();
    }
    view.UseReadAhead(nullptr);
    static const char* const labels[] = {"in memory", "read when selected", "read ahead"};
    state.SetLabel(labels[mode]);
}
BENCHMARK(SongChange)->ArgName("mode")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(60);

// Real time: the play thread, a UI loop of 10 ms turns that wakes for its timers, auto-advance "play" with
// "AdvanceWait" 1000 over the lazily read set. Reports the worst and mean silence beyond the wait between two songs.
void AdvanceGap(benchmark::State& state)
{
    const bool readAhead = state.range(0) != 0;
    constexpr int Songs = 5;
    std::vector<int64_t> extra;
    for (auto _ : state) {
        SteadyMicrosecondClock clock;
        TestContext context;
        context.profile.WriteInt("PlaybackOptions", "AutoAdvance", 2);
        context.profile.WriteInt("PlaybackOptions", "AdvanceWait", 1000);
        NotificationQueue notifications;
        PortTable ports;
        auto owned = std::make_unique<RecordingDevice>(clock);
        RecordingDevice& device = *owned;
        std::vector<OutputDeviceEntry> devices;
        devices.push_back({"Recorder", std::move(owned)});
        ports.OpenOutputs(std::move(devices), context.profile);
        Sequencer sequencer(ports, clock, notifications);
        sequencer.Start(context.profile, 1);
        ClockScheduler scheduler(clock);
        sequencer.SetScheduler(&scheduler);
        DiskSaveFiles files;
        CLiveDoc set(context.Context(), files);
        std::string error;
        if (!set.OpenSet((SetFolder() / "big.set").string(), error, false)) {
            state.SkipWithError(error.c_str());
            return;
        }
        struct : SongActivator {
            void Activate(Song& song, int32_t start, std::unique_ptr<PlaybackModel> prepared) override
            {
                if (prepared)
                    AttachPorts(*prepared, *ports, {});
                else
                    prepared = BuildPlaybackModel(song, *ports, {}, 30);
                sequencer->Activate(std::move(prepared), start, song.currentPosition);
            }
            PortTable* ports = nullptr;
            Sequencer* sequencer = nullptr;
        } activator;
        activator.ports = &ports;
        activator.sequencer = &sequencer;
        SetViewModel view(set, sequencer, activator, scheduler, context.profile);
        SongReadAhead ahead(context.Context());
        if (readAhead)
            view.UseReadAhead(&ahead);
        PlayThread thread(sequencer);
        std::string notice;
        thread.Start(notice);
        (void)view.Select(0, 0);
        device.Clear();
        sequencer.PlayTap();
        while (view.Current() < Songs - 1 || sequencer.State() != SequencerState::Stopped) {
            // As the players' loops do: asleep until the next timer is due, at most a turn.
            const int64_t wait = std::clamp<int64_t>(scheduler.NextDue() - clock.NowMicroseconds(), 0, 10'000);
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
            scheduler.RunDue();
            while (auto n = notifications.Take())
                if (n->message == EngineMessage::MsgPlaybackHalted &&
                    sequencer.SettleHalt() == HaltOutcome::EndOfSong && view.Current() < Songs - 1)
                    view.EndOfSong(sequencer);
        }
        thread.Stop();
        view.UseReadAhead(nullptr);
        // Songs are told apart by the silences between them.
        int64_t last = -1;
        for (size_t i = 0; i < device.Count(); ++i) {
            const Sent& sent = device[i];
            if ((sent.message & 0xF0) != 0x90 || (sent.message >> 16 & 0x7F) == 0)
                continue;
            if (last >= 0 && sent.time - last > 500'000)
                extra.push_back(sent.time - last - (SongTicks - LastNoteTick) * TickMicroseconds - 1'000'000);
            last = sent.time;
        }
        sequencer.Shutdown();
    }
    if (extra.empty())
        return;
    state.counters["worst_ms"] = static_cast<double>(*std::max_element(extra.begin(), extra.end())) / 1000.0;
    double sum = 0;
    for (const int64_t e : extra)
        sum += static_cast<double>(e);
    state.counters["mean_ms"] = sum / static_cast<double>(extra.size()) / 1000.0;
    state.counters["changes"] = static_cast<double>(extra.size());
    state.SetLabel(readAhead ? "read ahead" : "read when selected");
}
BENCHMARK(AdvanceGap)->ArgName("readahead")->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
