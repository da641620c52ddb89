// Cantivo as the sync master, in virtual time: MIDI clock following the tempo ratio, the pointer,
// continue and stop around chases and stops; time code quarter frames at the rate and full frames.
#include "playback/SyncMaster.h"
#include "playback/EngineFixture.h"

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

size_t Count(const std::vector<uint32_t>& messages, uint32_t status)
{
    return static_cast<size_t>(
        std::count_if(messages.begin(), messages.end(), [status](uint32_t m) { return (m & 0xFF) == status; }));
}

TEST(SyncMaster, ClockFollowsTheTempoAndChasesSendThePointerBetweenStopAndContinue)
{
    Engine engine(1);
    auto song = MakeSong(engine.context, 1);
    for (int beat = 0; beat < 64; ++beat)
        song->tracks[0]->events.push_back(SongEvent::Note(beat * 120, 0, 60, 100, 60));
    Finish(*song);
    engine.Load(*song);
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

} // namespace
} // namespace cantivo::test
