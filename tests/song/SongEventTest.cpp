#include "song/SongEvent.h"
#include "song/AudioClip.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace cantivo {
namespace {

TEST(SongEvent, CuePointMetaIsTextNotAClipThoughItsKindWordMatches)
{
    const uint8_t text[] = {'V', 'e', 'r', 's', 'e'};
    SongEvent cuePoint = SongEvent::Meta(10, 7, text, sizeof text);
    EXPECT_EQ(cuePoint.kind, KindAudioClip);
    EXPECT_FALSE(cuePoint.IsAudioClip());
    EXPECT_TRUE(cuePoint.IsMeta());
    EXPECT_EQ(cuePoint.ClipData(), nullptr);
    ASSERT_EQ(cuePoint.DataSize(), sizeof text);

    // Copies and moves keep it text (a sanitizer build catches freeing it as a clip).
    std::vector<SongEvent> events(3, cuePoint);
    SongEvent moved = std::move(events[1]);
    EXPECT_EQ(std::memcmp(moved.Data(), text, sizeof text), 0);
    EXPECT_EQ(std::memcmp(events[2].Data(), text, sizeof text), 0);
}

TEST(SongEvent, CopiesOwnTheirBytesAndClips)
{
    const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    SongEvent original = SongEvent::Sysex(0, sysex, sizeof sysex);
    SongEvent copy = original;
    original.SetData(sysex, 2);
    EXPECT_EQ(copy.length, 6);
    EXPECT_EQ(std::memcmp(copy.Data(), sysex, sizeof sysex), 0);

    auto clip = std::make_unique<AudioClip>("WaveData/0000abcd.wav");
    clip->lengthMs = 1500;
    SongEvent clipEvent = SongEvent::Clip(480, std::move(clip));
    SongEvent clipCopy = clipEvent;
    ASSERT_TRUE(clipCopy.IsAudioClip());
    ASSERT_NE(clipCopy.ClipData(), clipEvent.ClipData());
    EXPECT_EQ(clipCopy.ClipData()->fileName, "WaveData/0000abcd.wav");
    EXPECT_EQ(clipCopy.ClipData()->lengthMs, 1500u);
    EXPECT_EQ(clipCopy.Data(), nullptr);

    // Turning a clip event into a text event frees the clip and leaves plain bytes.
    clipCopy.SetData(sysex, sizeof sysex);
    EXPECT_FALSE(clipCopy.IsAudioClip());
    EXPECT_EQ(clipCopy.DataSize(), sizeof sysex);
}

// An edit may write any value into `length` of an event that owns bytes; copies and moves still take
// exactly the bytes the event owns (a sanitizer build catches an over-read).
TEST(SongEvent, ByteCountStaysWithTheBytesWhateverLengthSays)
{
    const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
    for (const int32_t edited : {0, 3, 4, 5, 4096, -1}) {
        SongEvent event = SongEvent::Sysex(0, sysex, sizeof sysex);
        event.length = edited;
        const SongEvent copy = event;
        SongEvent assigned;
        assigned = copy;
        const SongEvent moved = std::move(assigned);
        for (const SongEvent* e : std::initializer_list<const SongEvent*>{&event, &copy, &moved}) {
            ASSERT_EQ(e->DataSize(), sizeof sysex) << edited;
            EXPECT_EQ(std::memcmp(e->Data(), sysex, sizeof sysex), 0) << edited;
            EXPECT_EQ(e->length, edited);
        }
    }
    // No bytes: nothing owned, whatever the length.
    SongEvent empty = SongEvent::Meta(0, 1, nullptr, 0);
    empty.length = 50;
    EXPECT_EQ(SongEvent(empty).DataSize(), 0u);
    EXPECT_EQ(empty.Data(), nullptr);
}

TEST(SongEvent, KindWordPacking)
{
    SongEvent note = SongEvent::Note(5, 9, 38, 100, 60);
    EXPECT_EQ(note.Status(), 0x99);
    EXPECT_EQ(note.Channel(), 9);
    EXPECT_EQ(note.Data1(), 38);
    EXPECT_EQ(note.Data2(), 100);
    note.SetChannel(3);
    note.SetData2(1);
    EXPECT_EQ(note.kind, 0x012693u);

    SongEvent nrpn = SongEvent::Parameter(0, false, 0x3FFF, ParamDecrement);
    EXPECT_EQ(nrpn.Status(), StatusNrpn);
    EXPECT_EQ(nrpn.ParameterNumber(), 0x3FFFu);
    EXPECT_FALSE(nrpn.IsChannelMessage());
}

} // namespace
} // namespace cantivo
