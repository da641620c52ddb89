// Three hours of show in virtual time: a 30-song set with auto-advance, random taps, cue and navigation
// commands from a seeded generator. Nothing may crash, every song must be reached, nothing may be left
// sounding at any stop, and the memory in use must stay flat from song to song.
#include "ShowFixture.h"
#include "playback/EngineFixture.h"
#include "playback/Scheduler.h"
#include "set/CLiveDoc.h"
#include "set/SetViewModel.h"
#include "song/AtomicFile.h"
#include "song/SongFileBytes.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <set>

// The replacement operators below pair malloc with free, which GCC cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<int64_t> liveBytes{0};

} // namespace

void* operator new(size_t size)
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

void operator delete(void* p, size_t) noexcept
{
    operator delete(p);
}

// The library's temporary buffers come from the nothrow form; it must pair with the same free.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr)
        liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    operator delete(p);
}

namespace cantivo::test {
namespace {

namespace fs = std::filesystem;

// A song of `bars` 4/4 bars with a chord and a held bass on every bar, and one cue of the kind given.
std::vector<uint8_t> SoakSong(TestContext& context, int index)
{
    Song song(context.Context());
    song.NewSongDefaults();
    auto track = std::make_unique<Track>();
    const int bars = 4 + index % 5;
    for (int bar = 0; bar < bars; ++bar)
        for (int beat = 0; beat < 4; ++beat) {
            track->events.push_back(SongEvent::Note(
                bar * 480 + beat * 120, 0, static_cast<uint8_t>(48 + (index + bar) % 24), 90, beat == 0 ? 400 : 100));
        }
    track->events.push_back(SongEvent::Short(0, 0xB0, 64, 127)); // a pedal held until the last bar
    std::stable_sort(track->events.begin(), track->events.end(),
                     [](const SongEvent& a, const SongEvent& b) { return a.time < b.time; });
    track->events.push_back(SongEvent::Short((bars - 1) * 480, 0xB0, 64, 0));
    song.tracks.insert(song.tracks.end() - 1, std::move(track));
    static constexpr int Kinds[] = {CueVamp,       CueFermata, CueCaesura,       CueSkip,    CueAdLib,
                                    CueHoldAndCut, CueBreath,  CueAdvanceAndCut, CueAdvance, CueMarker};
    auto cue = std::make_unique<Cue>();
    cue->kind = Kinds[index % 10];
    cue->count = index % 3;
    const bool backwards = IsVampFamily(cue->kind);
    cue->stopAt = backwards ? 3 * 480 : 2 * 480;
    cue->restartAt = backwards ? 1 * 480 : 3 * 480;
    song.cues.push_back(std::move(cue));
    return WriteSongToBytes(song);
}

TEST(Soak, ThreeHoursOfShowStayQuietFlatAndReachEverySong)
{
    std::string pattern = (fs::temp_directory_path() / "cantivo-soak-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    {
        Engine engine(10);
        engine.device->keepLongBytes = false;
        engine.context.profile.WriteInt("PlaybackOptions", "AutoAdvance", 2);
        engine.context.profile.WriteInt("PlaybackOptions", "AdvanceWait", 1000);
        engine.context.profile.WriteInt("PlaybackOptions", "AdvanceReset", 1);
        engine.sequencer->Start(engine.context.profile, 10);
        DiskSaveFiles files;
        CLiveDoc set(engine.context.Context(), files);
        std::string error;
        ASSERT_TRUE(set.NewSet((folder / "soak.set").string(), error)) << error;
        for (int i = 0; i < 30; ++i) {
            const fs::path path = folder / ("song" + std::to_string(i) + ".mid");
            const std::vector<uint8_t> bytes = SoakSong(engine.context, i);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            ASSERT_TRUE(set.Submit(SetHistory::InsertSongStep("Add song", path.string(), i)));
        }
        ClockScheduler scheduler(engine.clock);
        engine.sequencer->SetScheduler(&scheduler);
        EngineActivator activator(engine);
        SetViewModel view(set, *engine.sequencer, activator, scheduler, engine.context.profile);
        ASSERT_NE(view.Select(0, 0), nullptr);
        engine.sequencer->PlayTap();

        std::mt19937 random(20261207);
        std::uniform_int_distribution<int> action(0, 99);
        std::set<int> reached;
        std::vector<int64_t> bytesAtSongEnd;
        Sounding sounding;
        size_t replayed = 0;
        int lastCurrent = -1;
        const int64_t end = engine.clock.NowMicroseconds() + 3LL * 3600 * 1000000;
        while (engine.clock.NowMicroseconds() < end) {
            engine.RunFor(50'000);
            scheduler.RunDue();
            while (auto n = engine.notifications.Take())
                if (n->message == EngineMessage::MsgPlaybackHalted &&
                    engine.sequencer->SettleHalt() == HaltOutcome::EndOfSong)
                    view.EndOfSong(*engine.sequencer);
            // What sounds now, from what the device has been sent.
            for (; replayed < engine.device->Count(); ++replayed)
                sounding.Apply((*engine.device)[replayed].message);
            if (engine.device->Count() > RecordingDevice::Capacity / 2) {
                engine.device->Clear();
                replayed = 0;
            }
            // Stopped, no note may sound; the pedal may stand as the chase of the next song's start left it.
            if (engine.sequencer->State() == SequencerState::Stopped) {
                ASSERT_TRUE(sounding.notes.empty())
                    << "left sounding at a stop, song " << view.Current() << ", at " << engine.clock.NowMicroseconds();
            }
            if (view.Current() != lastCurrent) {
                lastCurrent = view.Current();
                reached.insert(lastCurrent);
                bytesAtSongEnd.push_back(liveBytes.load());
            }
            if (view.AtEnd() && !view.Advancing()) {
                (void)view.Select(0, 0); // round again
                engine.sequencer->PlayTap();
                continue;
            }
            const int a = action(random);
            if (a < 8)
                engine.sequencer->PlayTap();
            else if (a == 8)
                engine.sequencer->LastVamp();
            else if (a == 9)
                engine.sequencer->RepeatMeasure();
            else if (a == 10)
                engine.sequencer->GotoNextCue();
            else if (a == 11 && action(random) < 20)
                view.NextSong();
            else if (a == 12 && action(random) < 10)
                view.PreviousSong();
            else if (a == 13)
                engine.sequencer->Pause();
        }
        engine.sequencer->Stop();
        for (; replayed < engine.device->Count(); ++replayed)
            sounding.Apply((*engine.device)[replayed].message);
        EXPECT_TRUE(sounding.Silent());
        for (int i = 0; i <= 30; ++i)
            EXPECT_EQ(reached.count(i), 1u) << "song " << i << " was never reached";
        // Flat: after the first round the memory in use at a song change grows by no more than a little.
        ASSERT_GT(bytesAtSongEnd.size(), 62u);
        const auto warm = bytesAtSongEnd.begin() + 31;
        const int64_t low = *std::min_element(warm, bytesAtSongEnd.end());
        const int64_t high = *std::max_element(warm, bytesAtSongEnd.end());
        EXPECT_LT(high - low, 256 * 1024) << "from " << low << " to " << high << " bytes";
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace
} // namespace cantivo::test
