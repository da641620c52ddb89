// Real-time lateness of the engine: a dense song played through the real play thread into a device
// that notes when each note-on arrives, beside the raw wake-up lateness of clock_nanosleep measured in
// the same run under the same load. Prints percentiles; asserts nothing.
//
// Usage: bench_LatenessBench [SECONDS]   (seconds of song per configuration, default 6)
#include "platform/PlayThread.h"
#include "playback/MicrosecondClock.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "song/Profile.h"
#include "song/RawEventReader.h"
#include "song/Song.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace cantivo;

// Note-ons with their arrival time, in storage made before playing.
class ArrivalDevice final : public MidiOutDevice {
  public:
    static constexpr size_t Capacity = 1 << 20;
    ArrivalDevice() : times_(Capacity), messages_(Capacity) {}
    std::string Name() const override { return "Arrivals"; }
    void SendShort(uint32_t message) override
    {
        if ((message & 0xF0) == 0x90 && (message >> 16) != 0 && count_ < Capacity) {
            times_[count_] = MonotonicMicroseconds();
            messages_[count_++] = message;
        }
    }
    void SendLong(std::span<const uint8_t>) override {}
    size_t count_ = 0;
    std::vector<int64_t> times_;
    std::vector<uint32_t> messages_;
};

std::unique_ptr<Song> DenseSong(double seconds)
{
    auto song = std::make_unique<Song>(DefaultSongContext());
    song->NewSongDefaults();
    song->SetTimebase(480);
    const auto end = static_cast<int32_t>(seconds * 2 * 480); // at 120 bpm
    for (int t = 0; t < 16; ++t) {
        auto track = std::make_unique<Track>();
        track->outputChannel = t;
        for (int32_t time = 0; time < end; time += 120) // sixteenths
            track->events.push_back(SongEvent::Note(time, static_cast<uint8_t>(t),
                                                    static_cast<uint8_t>(36 + (time / 120 + t) % 48), 90, 100));
        song->tracks.insert(song->tracks.end() - 1, std::move(track));
    }
    // A slower stretch and a faster one, so the tempo map is walked.
    song->tempoMap.entries.push_back(TempoChange{end / 3, 600000, 0.0});
    song->tempoMap.entries.push_back(TempoChange{2 * end / 3, 400000, 0.0});
    song->RecomputeTempoTimes();
    song->UpdateSongEnd(AllTracks);
    song->ExtendMeasures();
    return song;
}

// Per channel, the ideal times of its note-ons in order.
std::vector<std::vector<double>> IdealTimes(const Song& song)
{
    std::vector<std::vector<double>> times(16);
    for (size_t i = 1; i + 1 < song.tracks.size(); ++i) {
        const RawEventReader reader(song.tracks[i]->image);
        RawReadState cursor;
        reader.Start(cursor);
        RawEvent event;
        while (reader.Next(cursor, event))
            if ((event.status & 0xF0) == 0x90 && event.data2 > 0)
                times[event.status & 0x0F].push_back(song.TicksToMicroseconds(event.time));
    }
    return times;
}

void TryRealTime()
{
    sched_param parameter{};
    parameter.sched_priority = 60;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

std::vector<double> RawWakeLateness(double seconds, int64_t periodMicroseconds)
{
    std::vector<double> lateness;
    lateness.reserve(static_cast<size_t>(seconds * 1e6 / periodMicroseconds) + 1);
    std::thread sleeper([&] {
        TryRealTime();
        int64_t deadline = MonotonicMicroseconds() + periodMicroseconds;
        const int64_t end = deadline + static_cast<int64_t>(seconds * 1e6);
        while (deadline < end) {
            timespec at{static_cast<time_t>(deadline / 1000000), static_cast<long>(deadline % 1000000) * 1000};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
            }
            lateness.push_back(static_cast<double>(MonotonicMicroseconds() - deadline));
            deadline += periodMicroseconds;
        }
    });
    sleeper.join();
    return lateness;
}

std::vector<double> EngineLateness(const Song& song, int periodMilliseconds, std::string& notice)
{
    SteadyMicrosecondClock clock;
    NotificationQueue notifications;
    PortTable ports;
    auto owned = std::make_unique<ArrivalDevice>();
    ArrivalDevice& device = *owned;
    std::vector<OutputDeviceEntry> devices;
    devices.push_back({"Arrivals", std::move(owned)});
    EmptyProfile profile;
    ports.OpenOutputs(std::move(devices), profile);
    Sequencer sequencer(ports, clock, notifications);
    sequencer.Start(profile, periodMilliseconds);
    sequencer.Activate(BuildPlaybackModel(song, ports, {}, 120), 0);
    PlayThread thread(sequencer);
    thread.Start(notice);
    sequencer.PlayFrom(0, false);
    bool halted = false;
    while (!halted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        while (auto n = notifications.Take())
            halted = halted || n->message == EngineMessage::MsgPlaybackHalted;
    }
    sequencer.Stop();
    thread.Stop();
    sequencer.Shutdown();

    // The notes at tick 0 are struck by the start's chase: their arrival is the song's time 0.
    const auto ideal = IdealTimes(song);
    const int64_t start =
        *std::min_element(device.times_.begin(), device.times_.begin() + static_cast<long>(device.count_));
    std::vector<size_t> next(16, 0);
    std::vector<double> lateness;
    for (size_t i = 0; i < device.count_; ++i) {
        const size_t channel = device.messages_[i] & 0x0F;
        if (next[channel] >= ideal[channel].size())
            continue;
        const double expected = ideal[channel][next[channel]++];
        lateness.push_back(static_cast<double>(device.times_[i] - start) - expected);
    }
    return lateness;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p / 100.0 * static_cast<double>(values.size() - 1));
    return values[index];
}

void Report(const char* what, const std::vector<double>& values)
{
    std::printf("  %-26s n=%-7zu p50 %7.0f us  p99 %7.0f us  p99.9 %7.0f us  max %7.0f us\n", what, values.size(),
                Percentile(values, 50), Percentile(values, 99), Percentile(values, 99.9),
                values.empty() ? 0.0 : *std::max_element(values.begin(), values.end()));
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6.0;
    const auto song = DenseSong(seconds);
    std::printf("Lateness of note-ons (captured - ideal tempo-map time), %d tracks of sixteenths, %.0f s each\n", 16,
                seconds);
    std::string notice;
    for (const bool busy : {false, true}) {
        std::atomic<bool> spinning{busy};
        std::thread spinner([&] {
            volatile uint64_t counter = 0;
            while (spinning.load(std::memory_order_relaxed))
                counter = counter + 1;
        });
        for (const int period : {1, 2}) {
            std::printf("\nresolution %d ms, %s\n", period, busy ? "the other core busy" : "idle");
            const auto raw = RawWakeLateness(std::min(seconds, 3.0), 1000);
            const auto engine = EngineLateness(*song, period, notice);
            Report("raw clock_nanosleep wake", raw);
            Report("engine note-on", engine);
            const double rawMax = raw.empty() ? 0.0 : *std::max_element(raw.begin(), raw.end());
            const double engineMax = engine.empty() ? 0.0 : *std::max_element(engine.begin(), engine.end());
            std::printf("  target: p99 <= 2 x raw p99 (%.0f us): %s; max <= period + raw max (%.0f us): %s\n",
                        2 * Percentile(raw, 99), Percentile(engine, 99) <= 2 * Percentile(raw, 99) ? "met" : "missed",
                        period * 1000 + rawMax, engineMax <= period * 1000 + rawMax ? "met" : "missed");
        }
        spinning = false;
        spinner.join();
    }
    if (!notice.empty())
        std::printf("\nnote: %s\n", notice.c_str());
    return 0;
}
