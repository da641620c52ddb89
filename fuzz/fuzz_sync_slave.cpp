// Any bytes as the input a sync slave hears: clocks, pointers, quarter frames and full frames mixed
// with garbage, at stamps that jump about, with the play thread's ticks in between. Nothing may crash,
// and once the master stops (a Stop, or time code that falls silent) nothing may be left sounding.
#include "playback/MicrosecondClock.h"
#include "playback/MidiInPort.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "song/MidiFileReader.h"
#include "song/Profile.h"
#include "song/Song.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Counts the notes sounding on it.
class SoundingDevice final : public cantivo::MidiOutDevice {
  public:
    std::string Name() const override { return "Sounding"; }
    void SendShort(uint32_t message) override
    {
        const uint32_t type = message & 0xF0;
        const size_t slot = (message & 0x0F) * 128 + (message >> 8 & 0x7F);
        if (type == 0x90 && (message >> 16 & 0x7F) != 0)
            on[slot] = 1;
        else if (type == 0x80 || type == 0x90)
            on[slot] = 0;
    }
    void SendLong(std::span<const uint8_t>) override {}
    bool Silent() const
    {
        for (const uint8_t note : on)
            if (note != 0)
                return false;
        return true;
    }
    std::array<uint8_t, 16 * 128> on{};
};

// Eight bars of quarter notes at 120 ticks a quarter, 120 bpm.
std::vector<uint8_t> BeatsFile()
{
    std::vector<uint8_t> track;
    for (int beat = 0; beat < 32; ++beat)
        track.insert(track.end(), {0x00, 0x90, 0x3C, 0x64, 0x3C, 0x80, 0x3C, 0x00, 0x3C});
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 120, 'M', 'T', 'r', 'k', 0, 0};
    file.push_back(static_cast<uint8_t>(track.size() >> 8));
    file.push_back(static_cast<uint8_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    if (size == 0)
        return 0;
    static const std::vector<uint8_t> file = BeatsFile();
    Song song(DefaultSongContext());
    if (!ReadSongFromBytes(song, file.data(), file.size()).ok)
        std::abort();
    EmptyProfile profile;
    PortTable ports;
    std::vector<OutputDeviceEntry> devices;
    auto owned = std::make_unique<SoundingDevice>();
    SoundingDevice& device = *owned;
    devices.push_back({"Sounding", std::move(owned)});
    ports.OpenOutputs(std::move(devices), profile);
    VirtualMicrosecondClock clock;
    NotificationQueue notifications;
    Sequencer sequencer(ports, clock, notifications);
    sequencer.Start(profile, 2);
    const int protocol = data[0] & 1;
    sequencer.SetSync({2, 0, protocol, data[0] >> 1 & 3, (data[0] & 8) != 0});
    sequencer.Activate(BuildPlaybackModel(song, ports, {}, 30), 0);
    MidiInPort input(0, "Fuzz", notifications);
    input.Connect(&sequencer, &sequencer, nullptr);

    int64_t now = 0, wake = 0;
    const auto runTo = [&](int64_t until) {
        while (wake <= until) {
            clock.Set(wake);
            wake = std::max(sequencer.Service(wake), wake + 1);
        }
        clock.Set(until);
        now = until;
        while (notifications.Take()) {
        }
    };
    // Chunks of up to eight bytes; the byte after each chunk is the gap to the next, in 100 us.
    for (size_t at = 1; at < size;) {
        const size_t length = std::min<size_t>(1 + data[at] % 8, size - at - 1);
        input.OnMidiIn(now, {data + at + 1, length});
        at += 1 + length;
        runTo(now + (at < size ? data[at++] : 0) * 100);
    }
    // The master stops: a Stop for the clock, silence for the time code.
    const uint8_t stop = 0xFC;
    input.OnMidiIn(now, {&stop, 1});
    runTo(now + 1'000'000);
    if (!device.Silent())
        std::abort();
    sequencer.Shutdown();
    return 0;
}
