// MIDI synchronisation in virtual time. As master: MIDI clock following the tempo ratio, the pointer,
// continue and stop around chases and stops; time code quarter frames at the rate and full frames. As
// slave: an external clock heard by an input moves the song.
#include "playback/EngineFixture.h"
#include "playback/MidiInPort.h"
#include "playback/SyncMaster.h"

#include <gtest/gtest.h>

namespace cantivo::test {
namespace {

std::vector<uint32_t> SyncMessages(const RecordingDevice& device, size_t from = 0)
{
    std::vector<uint32_t> messages;
    for (const Sent& sent : device.Since(from))
        if ((sent.message & 0xFF) >= 0xF1 && (sent.message & 0xFF) != 0xF0)
            messages.push_back(sent.message);
    return messages;
}

// A one-track song at 120 bpm with a note on each of its `beats` beats, made current.
std::unique_ptr<Song> LoadBeats(Engine& engine, int beats)
{
    auto song = MakeSong(engine.context, 1);
    for (int beat = 0; beat < beats; ++beat)
        song->tracks[0]->events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
    Finish(*song);
    engine.Load(*song);
    return song;
}

// A system message (one byte, or three for the pointer) arriving at `input`.
void Hear(MidiInPort& input, int64_t time, uint32_t message)
{
    const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                              static_cast<uint8_t>(message >> 16)};
    input.OnMidiIn(time, std::span(bytes, (message & 0xFF) == 0xF2 ? 3 : 1));
}

size_t Count(const std::vector<uint32_t>& messages, uint32_t status)
{
    return static_cast<size_t>(
        std::count_if(messages.begin(), messages.end(), [status](uint32_t m) { return (m & 0xFF) == status; }));
}

TEST(SyncMaster, ClockFollowsTheTempoAndChasesSendThePointerBetweenStopAndContinue)
{
    Engine engine(1);
    const auto song = LoadBeats(engine, 64);
    engine.sequencer->SetSync({1, 0, 0, 3});
    engine.device->Clear();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(1'000'000);
    std::vector<uint32_t> sync = SyncMessages(*engine.device);
    ASSERT_GE(sync.size(), 3u);
    EXPECT_EQ(sync[0], 0x0000F2u) << "the pointer at bar 1";
    EXPECT_EQ(sync[1], 0xFBu);
    // 120 bpm: two quarters a second, 24 clocks each (the first at the start).
    EXPECT_NEAR(static_cast<double>(Count(sync, 0xF8)), 48, 1);

    engine.sequencer->SetTempoRatio(150000);
    size_t mark = engine.device->Count();
    engine.RunFor(1'000'000);
    EXPECT_NEAR(static_cast<double>(Count(SyncMessages(*engine.device, mark), 0xF8)), 72, 1) << "at 150%";

    // A relocation while playing: stop, the new pointer (sixteenths, low seven bits first), continue.
    mark = engine.device->Count();
    engine.sequencer->Locate(120 * 4 * 10); // bar 11: sixteenth 160 = 128 + 32
    sync = SyncMessages(*engine.device, mark);
    ASSERT_GE(sync.size(), 3u);
    EXPECT_EQ(sync[0], 0xFCu);
    EXPECT_EQ(sync[1], 0x0120F2u);
    EXPECT_EQ(sync[2], 0xFBu);
    mark = engine.device->Count();
    engine.sequencer->Stop();
    EXPECT_EQ(SyncMessages(*engine.device, mark), std::vector<uint32_t>{0xFC});
}

TEST(SyncMaster, TimeCodeSendsQuarterFramesAtTheRateAndAFullFrameAfterAChase)
{
    Engine engine(1);
    auto song = MakeSong(engine.context, 1);
    song->tracks[0]->events.push_back(SongEvent::Note(0, 0, 60, 100, 120 * 64));
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->SetSync({1, 0, 1, 1}); // 25 frames
    engine.device->Clear();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(1'000'000);
    const std::vector<uint32_t> sync = SyncMessages(*engine.device);
    EXPECT_NEAR(static_cast<double>(Count(sync, 0xF1)), 100, 1) << "four quarter frames per frame";
    // Piece 7 carries the format: 25 frames is code 1, so 0x72.
    EXPECT_NE(std::find(sync.begin(), sync.end(), 0x72F1u), sync.end());

    uint8_t frame[10];
    SyncMaster::FullFrame({1, 2, 3, 4}, 1, frame);
    const uint8_t expected[10] = {0xF0, 0x7F, 0x00, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7};
    EXPECT_TRUE(std::equal(std::begin(frame), std::end(frame), std::begin(expected)));
    const size_t mark = engine.device->Count();
    engine.sequencer->Locate(240);
    const std::vector<Sent> after = engine.device->Since(mark);
    const bool full =
        std::any_of(after.begin(), after.end(), [](const Sent& s) { return s.message == 0xF0 && s.length == 10; });
    EXPECT_TRUE(full) << "a chase sends the full frame";
}

TEST(SyncSlave, AnExternalClockPlaysTheSongStopsContinuesAndRelocates)
{
    Engine engine(1);
    const auto song = LoadBeats(engine, 64);
    engine.sequencer->SetSync({2, 0, 0, 3});
    MidiInPort input(0, "Clock", engine.notifications);
    input.Connect(engine.sequencer.get(), engine.sequencer.get(), nullptr);
    const auto send = [&](uint32_t message) { Hear(input, engine.clock.NowMicroseconds(), message); };
    // 100 bpm: 24 clocks a quarter, one every 25 ms.
    const auto clocks = [&](int count) {
        for (int i = 0; i < count; ++i) {
            send(0xF8);
            engine.RunFor(25'000);
        }
    };
    engine.device->Clear();
    send(0xFA);
    engine.RunFor(100'000);
    EXPECT_EQ(engine.device->Count(), 0u) << "the play timer does not move a slave";
    clocks(24 * 8);
    std::vector<int64_t> beats;
    const std::vector<Sent> sentAll = engine.device->Since(0);
    for (const Sent& sent : sentAll)
        if ((sent.message & 0xF0) == 0x90 && (sent.message >> 16 & 0x7F) > 0)
            beats.push_back(sent.time);
    ASSERT_GE(beats.size(), 8u);
    const double beat = static_cast<double>(beats.back() - beats.front()) / static_cast<double>(beats.size() - 1);
    EXPECT_NEAR(beat, 600'000, 600'000 * 0.005) << "the song follows the clock's 100 bpm";

    send(0xFC);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
    const int32_t held = engine.sequencer->Position();
    clocks(24);
    EXPECT_EQ(engine.sequencer->Position(), held) << "clocks while stopped move nothing";
    send(0xFB);
    clocks(24);
    EXPECT_EQ(engine.sequencer->Position(), held / 5 * 5 + 23 * 5) << "continued in place";

    // A pointer of 16 sixteenths at timebase 120 is tick 480, and stops playback.
    send(0x0010F2);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
    EXPECT_EQ(engine.sequencer->Position(), 480);
}

TEST(SyncSlave, ASlaveFollowsAMasterThroughThirtySecondsWithinOneClock)
{
    Engine master(1), slave(1);
    const auto masterSong = LoadBeats(master, 80);
    const auto slaveSong = LoadBeats(slave, 80);
    master.sequencer->SetSync({1, 0, 0, 3});
    slave.sequencer->SetSync({2, 0, 0, 3});
    MidiInPort input(0, "From master", slave.notifications);
    input.Connect(slave.sequencer.get(), slave.sequencer.get(), nullptr);
    master.device->Clear();
    master.sequencer->PlayFrom(0, false);
    master.sequencer->SetTempoRatio(110000); // the clock follows the ratio, and so does the slave
    size_t forwarded = 0;
    for (int ms = 0; ms < 30'000; ++ms) {
        master.RunFor(1'000);
        slave.RunFor(1'000);
        for (; forwarded < master.device->Count(); ++forwarded) {
            const uint32_t message = (*master.device)[forwarded].message;
            if ((message & 0xFF) < 0xF1)
                continue;
            Hear(input, slave.clock.NowMicroseconds(), message);
        }
    }
    EXPECT_EQ(slave.sequencer->State(), SequencerState::Playing);
    EXPECT_GT(master.sequencer->Position(), 120 * 60);
    EXPECT_LE(std::abs(master.sequencer->Position() - slave.sequencer->Position()), 120 / 24);
}

} // namespace
} // namespace cantivo::test
