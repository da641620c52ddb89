// Plays whatever the reader makes of the bytes through the whole engine in virtual time, relocating
// on the way, so damaged track images reach the chase and the event dispatch. The same bytes are also
// read as a render script and as a typed position.
#include "app/RenderScript.h"
#include "playback/MicrosecondClock.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "song/MidiFileReader.h"
#include "song/PositionText.h"
#include "song/Profile.h"
#include "song/Song.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

class NullDevice final : public cantivo::MidiOutDevice {
  public:
    std::string Name() const override { return "Null"; }
    void SendShort(uint32_t) override {}
    void SendLong(std::span<const uint8_t>) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ParseRenderScript(text);

    Song song(DefaultSongContext());
    if (!ReadSongFromBytes(song, data, size).ok)
        return 0;
    std::string error;
    (void)ParsePosition(song, text.substr(0, 32), error);

    EmptyProfile profile;
    PortTable ports;
    std::vector<OutputDeviceEntry> devices;
    devices.push_back({"Null", std::make_unique<NullDevice>()});
    ports.OpenOutputs(std::move(devices), profile);
    VirtualMicrosecondClock clock;
    NotificationQueue notifications;
    Sequencer sequencer(ports, clock, notifications);
    sequencer.Start(profile, 2);
    sequencer.Activate(BuildPlaybackModel(song, ports, {}, 30), 0);
    sequencer.PlayFrom(0, false);
    int64_t now = 0;
    for (int step = 0; step < 3000; ++step) {
        now = std::max(sequencer.Service(now), now + 1);
        clock.Set(now);
        if (step == 1000)
            sequencer.PlayFrom(sequencer.EndTick() / 2, true);
        if (step == 2000)
            sequencer.Pause();
        (void)notifications.Take();
    }
    sequencer.Stop();
    sequencer.Shutdown();
    return 0;
}
