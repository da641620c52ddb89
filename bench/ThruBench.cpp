// MIDI thru in real time: notes sent into a loopback input reach the selected track's output while
// the play thread plays a dense song on the same port. Prints the input-to-output latency
// percentiles; asserts nothing.
#include "platform/LoopbackPair.h"
#include "platform/PlayThread.h"
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using namespace cantivo;
using namespace cantivo::test;

// Notes' arrival times on the thru channel by the note's number (its key and velocity), in storage
// made before playing, so a note that never arrives does not shift the others.
class ArrivalDevice final : public MidiOutDevice {
  public:
    explicit ArrivalDevice(const MicrosecondClock& clock) : clock_(clock), times_(1 << 14, -1) {}
    std::string Name() const override { return "Arrivals"; }
    void SendShort(uint32_t message) override
    {
        const uint32_t velocity = message >> 16 & 0x7F;
        if ((message & 0xFF) != 0x9F || velocity == 0)
            return;
        const size_t number = (velocity - 1) * 128 + (message >> 8 & 0x7F);
        if (number < times_.size())
            times_[number] = clock_.NowMicroseconds();
    }
    void SendLong(std::span<const uint8_t>) override {}
    const MicrosecondClock& clock_;
    std::vector<int64_t> times_;
};

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[static_cast<size_t>(p / 100 * static_cast<double>(values.size() - 1))];
}

} // namespace

int main()
{
    SteadyMicrosecondClock clock;
    TestContext context;
    NotificationQueue notifications;
    PortTable ports;
    auto owned = std::make_unique<ArrivalDevice>(clock);
    ArrivalDevice& device = *owned;
    std::vector<OutputDeviceEntry> devices;
    devices.push_back({"Arrivals", std::move(owned)});
    ports.OpenOutputs(std::move(devices), context.profile);
    Sequencer sequencer(ports, clock, notifications);
    sequencer.Start(context.profile, 1);

    // Eight busy tracks (a note every 30 ticks each) and the thru track on channel 16.
    auto song = MakeSong(context, 9);
    for (int t = 0; t < 8; ++t)
        for (int32_t time = 0; time < 120 * 4 * 200; time += 30)
            song->tracks[static_cast<size_t>(t)]->events.push_back(
                SongEvent::Note(time, static_cast<uint8_t>(t), static_cast<uint8_t>(40 + t), 80, 20));
    song->tracks[8]->outputChannel = 15;
    Finish(*song);
    sequencer.Activate(BuildPlaybackModel(*song, ports, {}, 30), 0);
    sequencer.SetInputMapping({0});
    const int thru[] = {8};
    sequencer.SetSelectedTracks(thru);

    MidiInPort input(0, "Keys", notifications);
    input.Connect(&sequencer, nullptr, nullptr);
    LoopbackPair loop = LoopbackPair::Make("Keys", clock);
    if (!loop.in->Start(input))
        return 1;
    PlayThread thread(sequencer);
    std::string notice;
    thread.Start(notice);
    sequencer.PlayFrom(0, false);

    constexpr int Notes = 5000;
    std::vector<int64_t> sent(Notes);
    for (int i = 0; i < Notes; ++i) {
        sent[static_cast<size_t>(i)] = clock.NowMicroseconds();
        const uint32_t note = static_cast<uint32_t>(i % 128) << 8 | static_cast<uint32_t>(i / 128 + 1) << 16;
        loop.out->SendShort(0x90 | note);
        loop.out->SendShort(0x80 | (note & 0xFF00));
        std::this_thread::sleep_for(std::chrono::microseconds(1000));
    }
    loop.in->Stop();
    sequencer.Stop();
    thread.Stop();
    sequencer.Shutdown();

    std::vector<double> latency;
    for (size_t i = 0; i < Notes; ++i)
        if (device.times_[i] >= 0)
            latency.push_back(static_cast<double>(device.times_[i] - sent[i]));
    std::printf("MIDI thru while a dense song plays (%zu of %d notes arrived, %llu messages dropped, %s)\n",
                latency.size(), Notes, static_cast<unsigned long long>(sequencer.ThruDropped()),
                notice.empty() ? "real-time priority" : "normal priority");
    std::printf("  input to output: p50 %.1f us  p99 %.1f us  max %.1f us\n", Percentile(latency, 50),
                Percentile(latency, 99), latency.empty() ? 0.0 : *std::max_element(latency.begin(), latency.end()));
    return 0;
}
