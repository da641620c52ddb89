// Cue records of any kind, time and count in a song played in virtual time, with taps and the cue
// commands at random moments and the UI loop's halt handling: the engine must never crash or spin,
// the play must end within its bound, and nothing may be left sounding after the stop.
#include "app/CommandTable.h"
#include "app/PlaybackHalted.h"
#include "app/TransportCommands.h"
#include "playback/MicrosecondClock.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "song/Profile.h"
#include "song/Song.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

namespace {

using namespace cantivo;

// Keeps what is sounding, so the end can check that the stop silenced it.
class SoundingDevice final : public MidiOutDevice {
  public:
    std::string Name() const override { return "Sounding"; }
    void SendShort(uint32_t message) override
    {
        const int status = static_cast<int>(message & 0xF0), channel = static_cast<int>(message & 0x0F);
        const int key = static_cast<int>((message >> 8) & 0x7F), velocity = static_cast<int>((message >> 16) & 0x7F);
        if (status == 0x90 && velocity > 0)
            notes.insert(channel * 128 + key);
        else if (status == 0x80 || status == 0x90)
            notes.erase(channel * 128 + key);
        else if (status == 0xB0 && (key == 123 || key == 120))
            std::erase_if(notes, [channel](int note) { return note / 128 == channel; });
    }
    void SendLong(std::span<const uint8_t>) override {}
    std::set<int> notes;
};

class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Take(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 8 | (at_ < size_ ? data_[at_++] : 0);
        return value;
    }
    bool Empty() const { return at_ >= size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes bytes(data, size);
    Song song(DefaultSongContext());
    song.NewSongDefaults();
    // Eight measures of 4/4 with a chord on every beat, some of them held across the bar.
    auto track = std::make_unique<Track>();
    for (int beat = 0; beat < 32; ++beat) {
        track->events.push_back(SongEvent::Note(beat * 120, 0, static_cast<uint8_t>(60 + beat % 12), 100, 100));
        if (beat % 4 == 3)
            track->events.push_back(SongEvent::Note(beat * 120, 0, 40, 90, 300));
    }
    song.tracks.insert(song.tracks.end() - 1, std::move(track));
    const int cues = static_cast<int>(bytes.Take(1) % 12);
    for (int i = 0; i < cues; ++i) {
        auto cue = std::make_unique<Cue>();
        cue->kind = static_cast<int32_t>(bytes.Take(1) % 12); // two kinds no version knows
        cue->count = static_cast<int32_t>(bytes.Take(1) % 5);
        cue->stopAt = static_cast<int32_t>(bytes.Take(2) % 4200);
        cue->restartAt = static_cast<int32_t>(bytes.Take(2) % 4200);
        song.cues.push_back(std::move(cue));
    }
    std::stable_sort(song.cues.begin(), song.cues.end(),
                     [](const auto& a, const auto& b) { return a->AnchorTime() < b->AnchorTime(); });
    song.RecomputeTempoTimes();
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();

    EmptyProfile profile;
    PortTable ports;
    auto owned = std::make_unique<SoundingDevice>();
    SoundingDevice& device = *owned;
    std::vector<OutputDeviceEntry> devices;
    devices.push_back({"Sounding", std::move(owned)});
    ports.OpenOutputs(std::move(devices), profile);
    VirtualMicrosecondClock clock;
    NotificationQueue notifications;
    Sequencer sequencer(ports, clock, notifications);
    sequencer.Start(profile, 10);
    sequencer.SetFollowTap([&] {
        FollowTapSettings follow;
        follow.enabled = (bytes.Take(1) & 1) != 0;
        follow.follower = (bytes.Take(1) & 1) != 0 ? FollowerKind::Continuous : FollowerKind::Proximity;
        follow.useAverage = true;
        return follow;
    }());
    sequencer.Activate(BuildPlaybackModel(song, ports, {}, 30), 0);
    TransportCommands commands(sequencer);
    const uint16_t actions[] = {ToNumber(CommandId::Play),          ToNumber(CommandId::LastVamp),
                                ToNumber(CommandId::RepeatMeasure), ToNumber(CommandId::SkipNextMeasure),
                                ToNumber(CommandId::GotoNextCue),   ToNumber(CommandId::GotoPreviousCue),
                                ToNumber(CommandId::PauseUnpause),  ToNumber(CommandId::Play)};
    commands.Run(ToNumber(CommandId::Play));
    int64_t now = 0;
    int64_t nextAction = static_cast<int64_t>(bytes.Take(2)) * 1000;
    // At most a minute of virtual time: an endless vamp nobody releases ends there.
    for (int step = 0; step < 50'000 && now < 60'000'000; ++step) {
        if (now >= nextAction && !bytes.Empty()) {
            commands.Run(actions[bytes.Take(1) % 8]);
            nextAction = now + static_cast<int64_t>(bytes.Take(2)) * 100;
        }
        while (auto notification = notifications.Take())
            if (notification->message == EngineMessage::MsgPlaybackHalted)
                (void)HandlePlaybackHalted(sequencer, nullptr);
        if (bytes.Empty() && sequencer.State() != SequencerState::Playing &&
            sequencer.State() != SequencerState::Starting)
            break;
        now = std::max(sequencer.Service(now), now + 1);
        clock.Set(now);
    }
    sequencer.Stop();
    if (!device.notes.empty())
        std::abort(); // a note left sounding after the stop
    sequencer.Shutdown();
    return 0;
}
