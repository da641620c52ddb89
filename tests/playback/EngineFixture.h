#pragma once

#include "playback/MicrosecondClock.h"
#include "playback/MidiOutDevice.h"
#include "playback/NotificationQueue.h"
#include "playback/PlaybackModel.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace cantivo::test {

// What a device was sent, with the virtual time it was sent at. Fixed storage, so it can stand in for
// a device while allocations are counted.
struct Sent {
    int64_t time;
    uint32_t message; // a short message packed; 0xF0 for a long one
    uint32_t length;
};

class RecordingDevice final : public MidiOutDevice {
  public:
    static constexpr size_t Capacity = 1 << 18;
    explicit RecordingDevice(const MicrosecondClock& clock) : clock_(clock), log_(new Sent[Capacity]) {}
    std::string Name() const override { return "Recorder"; }
    void SendShort(uint32_t message) override { Record(message, 0); }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        Record(0xF0, static_cast<uint32_t>(bytes.size()));
        if (keepLongBytes)
            lastLong_.assign(bytes.begin(), bytes.end());
    }
    size_t Count() const { return count_; }
    const Sent& operator[](size_t i) const { return log_[i]; }
    std::vector<Sent> Since(size_t first) const { return {log_.get() + first, log_.get() + count_}; }
    void Clear() { count_ = 0; }
    const std::vector<uint8_t>& LastLong() const { return lastLong_; }
    bool keepLongBytes = true;

  private:
    void Record(uint32_t message, uint32_t length)
    {
        if (count_ < Capacity)
            log_[count_++] = {clock_.NowMicroseconds(), message, length};
    }
    const MicrosecondClock& clock_;
    std::unique_ptr<Sent[]> log_;
    size_t count_ = 0;
    std::vector<uint8_t> lastLong_;
};

// Replays messages and tells what is left sounding: held keys per channel and sustain pedals down.
struct Sounding {
    std::set<std::pair<int, int>> notes;
    std::set<int> sustained;

    void Apply(uint32_t message)
    {
        const int status = static_cast<int>(message & 0xFF);
        const int data1 = static_cast<int>((message >> 8) & 0x7F);
        const int data2 = static_cast<int>((message >> 16) & 0x7F);
        const int channel = status & 0x0F;
        if ((status & 0xF0) == 0x90 && data2 > 0)
            notes.insert({channel, data1});
        else if ((status & 0xF0) == 0x80 || (status & 0xF0) == 0x90)
            notes.erase({channel, data1});
        else if ((status & 0xF0) == 0xB0 && data1 == 64)
            data2 >= 64 ? (void)sustained.insert(channel) : (void)sustained.erase(channel);
        else if ((status & 0xF0) == 0xB0 && (data1 == 123 || data1 == 120))
            std::erase_if(notes, [channel](auto note) { return note.first == channel; });
    }
    static Sounding Of(const std::vector<Sent>& sent)
    {
        Sounding sounding;
        for (const Sent& s : sent)
            if (s.message != 0xF0)
                sounding.Apply(s.message);
        return sounding;
    }
    bool Silent() const { return notes.empty() && sustained.empty(); }
};

// A sequencer over one recording device in virtual time.
struct Engine {
    TestContext context;
    VirtualMicrosecondClock clock;
    NotificationQueue notifications;
    PortTable ports;
    RecordingDevice* device = nullptr;
    std::unique_ptr<Sequencer> sequencer;
    int64_t nextWake = 0;

    // `second`, when given, is a second output after the recorder (a loopback to another engine, say).
    explicit Engine(int periodMilliseconds = 2, bool click = false, std::unique_ptr<MidiOutDevice> second = nullptr)
    {
        clock.Set(1'000'000);
        std::vector<OutputDeviceEntry> devices;
        auto recorder = std::make_unique<RecordingDevice>(clock);
        device = recorder.get();
        devices.push_back({"Recorder", std::move(recorder)});
        if (second) {
            std::string name = second->Name();
            devices.push_back({std::move(name), std::move(second)});
        }
        ports.OpenOutputs(std::move(devices), context.profile);
        sequencer = std::make_unique<Sequencer>(ports, clock, notifications);
        if (click)
            context.profile.WriteString("ClickOptions", "Port", "Recorder");
        // No resets between songs unless a test asks for them.
        context.profile.WriteInt("PlaybackOptions", "AdvanceReset", 0);
        sequencer->Start(context.profile, periodMilliseconds);
        device->Clear();
        nextWake = clock.NowMicroseconds();
    }
    ~Engine() { sequencer->Shutdown(); }

    void Load(const Song& song, int32_t start = 0)
    {
        sequencer->Activate(BuildPlaybackModel(song, ports, {}, 30), start);
    }
    // Runs the play thread's calls, in virtual time, up to `until` microseconds from now.
    void RunFor(int64_t microseconds)
    {
        const int64_t end = clock.NowMicroseconds() + microseconds;
        while (true) {
            const int64_t now = std::max(nextWake, clock.NowMicroseconds());
            if (now > end)
                break;
            clock.Set(now);
            nextWake = sequencer->Service(now);
        }
        clock.Set(end);
    }
    std::vector<EngineMessage> Drain()
    {
        std::vector<EngineMessage> messages;
        while (auto n = notifications.Take())
            messages.push_back(n->message);
        return messages;
    }
};

// A song of `tracks` user tracks on port 0, 4/4 at 120 bpm (timebase 120: a tick is 1/240 s).
inline std::unique_ptr<Song> MakeSong(TestContext& context, int tracks)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    for (int i = 0; i < tracks; ++i) {
        auto track = std::make_unique<Track>();
        track->outputChannel = i;
        song->tracks.insert(song->tracks.end() - 1, std::move(track));
    }
    return song;
}

inline void Finish(Song& song)
{
    song.RecomputeTempoTimes();
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();
}

} // namespace cantivo::test
