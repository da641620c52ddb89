// A sync slave's tempo wobble under a jittered MIDI clock, in virtual time: a master at 120 bpm whose
// clocks come up to J early or late, heard raw (each clock moves the song when it arrives) and
// smoothed. Prints the spread of the played sixteenths around their 125 ms, and how soon the
// smoothed slave follows the master's jump to 132 bpm. Asserts nothing.
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"

#include <cmath>
#include <cstdio>

namespace {

using namespace cantivo;
using namespace cantivo::test;

struct Wobble {
    double deviation = 0; // standard deviation of the sixteenths' lengths, microseconds
    double worst = 0;
    int settleSixteenths = -1; // after the tempo jump, until the lengths stay within 1%
};

Wobble MeasureWobble(double jitterMicroseconds, bool smoothing)
{
    Engine engine(1);
    auto song = MakeSong(engine.context, 1);
    for (int sixteenth = 0; sixteenth < 4 * 200; ++sixteenth)
        song->tracks[0]->events.push_back(SongEvent::Note(sixteenth * 30, 0, 60, 100, 15));
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->SetSync({2, 0, 0, 3, smoothing});
    MidiInPort input(0, "Jittered clock", engine.notifications);
    input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
    const auto hear = [&](uint8_t status) { input.OnMidiIn(engine.clock.NowMicroseconds(), std::span(&status, 1)); };
    hear(0xFA);
    uint32_t seed = 2024;
    double scheduled = static_cast<double>(engine.clock.NowMicroseconds());
    const int clocks = 24 * 120, jumpAt = 24 * 60; // two minutes; 132 bpm from the first
    for (int clock = 0; clock < clocks; ++clock) {
        seed = seed * 1103515245 + 12345;
        const double jitter = (static_cast<double>(seed >> 8 & 0xFFFF) / 32768.0 - 1.0) * jitterMicroseconds;
        const auto at = static_cast<int64_t>(std::max(scheduled + jitter, 0.0));
        engine.RunFor(std::max<int64_t>(at - engine.clock.NowMicroseconds(), 0));
        hear(0xF8);
        scheduled += (clock < jumpAt ? 500000.0 : 500000.0 / 1.1) / 24;
    }
    std::vector<int64_t> onsets;
    for (const Sent& sent : engine.device->Since(0))
        if ((sent.message & 0xF0) == 0x90 && (sent.message >> 16 & 0x7F) > 0)
            onsets.push_back(sent.time);
    Wobble wobble;
    double sum = 0, squares = 0;
    int count = 0;
    const size_t jump = jumpAt / 6; // the sixteenth the jump came at
    for (size_t i = 8; i + 1 < jump && i < onsets.size(); ++i) {
        const double error = static_cast<double>(onsets[i] - onsets[i - 1]) - 125000;
        sum += error;
        squares += error * error;
        wobble.worst = std::max(wobble.worst, std::abs(error));
        ++count;
    }
    const double mean = sum / count;
    wobble.deviation = std::sqrt(std::max(squares / count - mean * mean, 0.0));
    for (size_t i = onsets.size() - 1; i > jump; --i)
        if (std::abs(static_cast<double>(onsets[i] - onsets[i - 1]) - 125000 / 1.1) > 1250 / 1.1) {
            wobble.settleSixteenths = static_cast<int>(i - jump);
            break;
        }
    return wobble;
}

} // namespace

int main()
{
    std::printf("sync slave wobble: sixteenths at 120 bpm (125 ms), clock jitter uniform within +-J\n");
    std::printf("%10s %10s %14s %12s %22s\n", "J (ms)", "clock", "std dev (ms)", "worst (ms)", "settle after 132 bpm");
    for (const double jitter : {0.0, 500.0, 1000.0, 2000.0})
        for (const bool smoothing : {false, true}) {
            const Wobble w = MeasureWobble(jitter, smoothing);
            std::printf("%10.1f %10s %14.3f %12.3f %14d sixteenths\n", jitter / 1000, smoothing ? "smoothed" : "raw",
                        w.deviation / 1000, w.worst / 1000, w.settleSixteenths);
        }
    return 0;
}
