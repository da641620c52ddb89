// The conductor's quality: a simulated performer taps every beat of a passage that slows from 120 to
// 80 bpm and returns, with human timing noise, while the song plays at 120 bpm in virtual time. For
// each tap the distance to the song's nearest sounded beat is measured, for follow off, the proximity
// follower with the options page's defaults, and the continuous follower. Prints one line each.
//
// Usage: bench_ConductorBench [SEED [NOISE_MS]]   (default seed 1, noise 15 ms standard deviation)
#include "playback/MicrosecondClock.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Scheduler.h"
#include "playback/Sequencer.h"
#include "song/Profile.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace cantivo;

// The times the beat notes sounded.
class BeatDevice final : public MidiOutDevice {
  public:
    explicit BeatDevice(const MicrosecondClock& clock) : clock_(clock) {}
    std::string Name() const override { return "Beats"; }
    void SendShort(uint32_t message) override
    {
        if ((message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) != 0)
            times.push_back(clock_.NowMicroseconds());
    }
    void SendLong(std::span<const uint8_t>) override {}
    std::vector<int64_t> times;

  private:
    const MicrosecondClock& clock_;
};

constexpr int32_t Timebase = 480;
constexpr int SongBeats = 400;

std::unique_ptr<Song> BeatSong()
{
    auto song = std::make_unique<Song>(DefaultSongContext());
    song->NewSongDefaults();
    song->SetTimebase(Timebase);
    auto track = std::make_unique<Track>();
    for (int beat = 0; beat < SongBeats; ++beat)
        track->events.push_back(SongEvent::Note(beat * Timebase, 0, 60, 100, Timebase / 2));
    song->tracks.insert(song->tracks.end() - 1, std::move(track));
    song->RecomputeTempoTimes();
    song->UpdateSongEnd(AllTracks);
    song->ExtendMeasures();
    return song;
}

// The performer's beats: 16 at 120 bpm, 32 slowing to 80, 32 back to 120, 16 at 120; then noise.
std::vector<int64_t> PerformerTaps(unsigned seed, double noiseMilliseconds)
{
    std::vector<double> bpm;
    for (int i = 0; i < 16; ++i)
        bpm.push_back(120);
    for (int i = 1; i <= 32; ++i)
        bpm.push_back(120 - 40.0 * i / 32);
    for (int i = 1; i <= 32; ++i)
        bpm.push_back(80 + 40.0 * i / 32);
    for (int i = 0; i < 16; ++i)
        bpm.push_back(120);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, noiseMilliseconds * 1000);
    std::vector<int64_t> taps;
    double intended = 0;
    for (double tempo : bpm) {
        intended += 60'000'000 / tempo;
        taps.push_back(static_cast<int64_t>(std::llround(intended + noise(random))));
    }
    return taps;
}

struct Figures {
    double mean = 0;
    double p95 = 0;
    size_t taps = 0;
};

Figures Perform(const Song& song, const std::vector<int64_t>& taps, bool follow, int follower)
{
    VirtualMicrosecondClock clock;
    const int64_t origin = 1'000'000;
    clock.Set(origin);
    test::MemoryProfile settings;
    if (follow) {
        // The options page's defaults, with following switched on.
        FollowTapSettings page = FollowTapSettings::PageDefaults();
        page.enabled = true;
        page.follower = static_cast<FollowerKind>(follower);
        page.Write(settings);
    }
    settings.WriteInt("PlaybackOptions", "AdvanceReset", 0);
    NotificationQueue notifications;
    PortTable ports;
    auto owned = std::make_unique<BeatDevice>(clock);
    BeatDevice& device = *owned;
    std::vector<OutputDeviceEntry> devices;
    devices.push_back({"Beats", std::move(owned)});
    ports.OpenOutputs(std::move(devices), settings);
    Sequencer sequencer(ports, clock, notifications);
    ClockScheduler scheduler(clock);
    sequencer.SetScheduler(&scheduler);
    sequencer.Start(settings, 1);
    sequencer.Activate(BuildPlaybackModel(song, ports, {}, 30), 0);
    device.times.clear();
    sequencer.PlayTap();
    size_t next = 0;
    int64_t wake = origin;
    const int64_t end = origin + taps.back() + 2'000'000;
    while (clock.NowMicroseconds() < end) {
        const int64_t now = clock.NowMicroseconds();
        while (next < taps.size() && origin + taps[next] <= now) {
            sequencer.PlayTap();
            ++next;
        }
        scheduler.RunDue();
        (void)notifications.Take();
        if (now >= wake)
            wake = sequencer.Service(now);
        int64_t step = std::min(wake, scheduler.NextDue());
        if (next < taps.size())
            step = std::min(step, origin + taps[next]);
        clock.Set(std::max(step, now + 1));
    }
    sequencer.Shutdown();

    std::vector<double> errors;
    for (int64_t tap : taps) {
        const int64_t at = origin + tap;
        const auto after = std::lower_bound(device.times.begin(), device.times.end(), at);
        double best = 1e18;
        if (after != device.times.end())
            best = static_cast<double>(*after - at);
        if (after != device.times.begin())
            best = std::min(best, static_cast<double>(at - *(after - 1)));
        errors.push_back(best / 1000);
    }
    Figures figures;
    figures.taps = errors.size();
    for (double e : errors)
        figures.mean += e / static_cast<double>(errors.size());
    std::sort(errors.begin(), errors.end());
    figures.p95 = errors[static_cast<size_t>(std::ceil(0.95 * static_cast<double>(errors.size()))) - 1];
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned seed = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1;
    const double noise = argc > 2 ? std::strtod(argv[2], nullptr) : 15.0;
    const auto song = BeatSong();
    const auto taps = PerformerTaps(seed, noise);
    std::printf("Conductor: %zu taps, 120 -> 80 -> 120 bpm, timing noise %.0f ms, seed %u; "
                "distance from each tap to the song's nearest beat\n",
                taps.size(), noise, seed);
    struct Run {
        const char* name;
        bool follow;
        int follower;
    } runs[] = {{"follow off", false, 0}, {"proximity follower", true, 0}, {"continuous follower", true, 1}};
    for (const Run& run : runs) {
        const Figures f = Perform(*song, taps, run.follow, run.follower);
        std::printf("%-20s mean %6.1f ms   p95 %6.1f ms\n", run.name, f.mean, f.p95);
    }
    return 0;
}
