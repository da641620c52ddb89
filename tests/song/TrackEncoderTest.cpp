#include "song/TrackEncoder.h"
#include "song/AudioClip.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace cantivo {
namespace {

// One item of an encoded image, as a plain MIDI file reader sees it.
struct Item {
    int32_t time = 0;
    uint8_t status = 0;         // 0xFF meta, 0xF0 system exclusive, else the channel status in force
    bool statusWritten = false; // false when running status supplied it
    std::vector<uint8_t> data;  // channel data bytes; meta: type then body; sysex: 0xF0 … 0xF7
    size_t position = 0;        // byte offset after the delta
};

// Walks the image from `start` (which must follow a delta) as a Standard MIDI File track, with
// system exclusive read up to its 0xF7 rather than by a length. Fails the test on malformed bytes.
std::vector<Item> Walk(const std::vector<uint8_t>& image, size_t start = 0, int32_t startTime = 0,
                       uint8_t runningStatus = 0, bool startAfterDelta = false)
{
    std::vector<Item> items;
    size_t at = start;
    int32_t time = startTime;
    auto varLen = [&] {
        uint32_t value = 0;
        for (;;) {
            EXPECT_LT(at, image.size());
            if (at >= image.size())
                return value;
            const uint8_t byte = image[at++];
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80))
                return value;
        }
    };
    bool needDelta = !startAfterDelta;
    while (at < image.size()) {
        if (needDelta)
            time += static_cast<int32_t>(varLen());
        needDelta = true;
        Item item;
        item.time = time;
        item.position = at;
        uint8_t byte = image.at(at);
        if (byte & 0x80) {
            ++at;
            item.statusWritten = true;
            item.status = byte;
        } else {
            EXPECT_NE(runningStatus, 0) << "data byte without running status at " << at;
            item.status = runningStatus;
        }
        if (item.status == 0xFF) {
            runningStatus = 0;
            const uint8_t type = image.at(at++);
            const uint32_t length = varLen();
            item.data.push_back(type);
            item.data.insert(item.data.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                             image.begin() + static_cast<std::ptrdiff_t>(at + length));
            at += length;
            if (type == 0x2F) {
                EXPECT_EQ(at, image.size()) << "bytes after the end of track";
                items.push_back(item);
                return items;
            }
        } else if (item.status == 0xF0) {
            runningStatus = 0;
            item.data.push_back(0xF0);
            while (at < image.size() && image[at] != 0xF7)
                item.data.push_back(image[at++]);
            EXPECT_LT(at, image.size()) << "system exclusive without 0xF7";
            item.data.push_back(image.at(at++));
        } else {
            runningStatus = item.status;
            const int count = (item.status & 0xF0) == 0xC0 || (item.status & 0xF0) == 0xD0 ? 1 : 2;
            for (int i = 0; i < count; ++i)
                item.data.push_back(image.at(at++));
        }
        items.push_back(item);
    }
    ADD_FAILURE() << "image without end of track";
    return items;
}

// The channel messages of an image, without metas and system exclusive, as "status d1 d2" at times.
struct Message {
    int32_t time;
    uint8_t status, data1, data2;
    bool operator==(const Message&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Message& m)
{
    return out << "{" << m.time << ", 0x" << std::hex << int(m.status) << ", " << std::dec << int(m.data1) << ", "
               << int(m.data2) << "}";
}

std::vector<Message> ChannelMessages(const std::vector<Item>& items)
{
    std::vector<Message> messages;
    for (const Item& item : items) {
        if (item.status < 0xF0)
            messages.push_back(
                {item.time, item.status, item.data[0], static_cast<uint8_t>(item.data.size() > 1 ? item.data[1] : 0)});
    }
    return messages;
}

std::vector<Message> Encode(Track& track, int32_t interval = 960)
{
    EncodeTrack(track, interval, 1);
    return ChannelMessages(Walk(track.image));
}

bool IsProgramMeta(const Item& item, uint8_t subtype)
{
    return item.status == 0xFF && item.data.size() >= 4 && item.data[0] == 0x7F && item.data[1] == 'c' &&
           item.data[2] == 'v' && item.data[3] == subtype;
}

// The settings at tick 0, then whatever follows, up to the end of track. A saved track names its
// output channel with the channel prefix, whatever its notes play on.
TEST(TrackEncoder, StartsWithNamePortColourMarkerAndChannelAndEndsTheTrack)
{
    const std::vector<uint8_t> name = {0x03, 'B', 'a', 's', 's'};
    const std::vector<uint8_t> port = {0x21, 3};
    const std::vector<uint8_t> colour = {0x7F, 'c', 'v', 35, 0xFF, 0xF0, 0x0E};
    const std::vector<uint8_t> marker = {0x7F, 'c', 'v', 40};
    const std::vector<uint8_t> prefix = {0x20, 6};
    const std::vector<uint8_t> end = {0x2F};
    for (const InitialMarking marking : {InitialMarking::Marked, InitialMarking::Plain}) {
        Track track;
        track.name = "Bass";
        track.outputPort = 3;
        track.outputChannel = 6;
        track.events.push_back(SongEvent::Note(0, 2, 60, 90, 10));
        EncodeTrack(track, 960, 1, marking);
        std::vector<std::vector<uint8_t>> metas;
        for (const Item& item : Walk(track.image))
            if (item.status == 0xFF)
                metas.push_back(item.data);
        if (marking == InitialMarking::Marked)
            EXPECT_EQ(metas, (std::vector<std::vector<uint8_t>>{name, port, colour, marker, prefix, end}));
        else
            EXPECT_EQ(metas, (std::vector<std::vector<uint8_t>>{name, port, colour, end}));
        EXPECT_TRUE(track.formatVersion & OffsetsApplied);
    }
}

TEST(TrackEncoder, WritesEachSettingThatDiffersFromItsDefault)
{
    struct Case {
        const char* what;
        void (*set)(Track&);
        uint8_t subtype;
        std::vector<uint8_t> values;
    };
    const Case cases[] = {
        {"audio kind", [](Track& t) { t.kind = 1; }, 30, {1}},
        {"input port", [](Track& t) { t.inputPort = 4; }, 31, {4}},
        {"input channel 0", [](Track& t) { t.inputChannel = 0; }, 32, {0}},
        {"clef", [](Track& t) { t.defaultClef = 2; }, 33, {2}},
        {"split key", [](Track& t) { t.splitKey = -5; }, 34, {55}},
        {"key offset", [](Track& t) { t.keyOffset = -3; }, 36, {125}},
        {"time offset", [](Track& t) { t.timeOffset = -2; }, 37, {0xFE, 0x7F}},
        {"time offset high byte", [](Track& t) { t.timeOffset = 300; }, 37, {0x2C, 0x81}},
        {"velocity offset", [](Track& t) { t.velocityOffset = 10; }, 38, {138}},
        {"muted", [](Track& t) { t.play = 0; }, 39, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Track track;
        c.set(track);
        EncodeTrack(track, 960, 1);
        int found = 0;
        int others = 0;
        for (const Item& item : Walk(track.image)) {
            if (IsProgramMeta(item, c.subtype)) {
                ++found;
                EXPECT_EQ(std::vector<uint8_t>(item.data.begin() + 4, item.data.end()), c.values);
            } else if (item.status == 0xFF && item.data[0] == 0x7F && !IsProgramMeta(item, 35) &&
                       !IsProgramMeta(item, MarkedTrackSubtype)) {
                ++others;
            }
        }
        EXPECT_EQ(found, 1);
        EXPECT_EQ(others, 0);
    }
}

TEST(TrackEncoder, UsesRunningStatusUntilAMetaOrSysexCancelsIt)
{
    Track track;
    track.events.push_back(SongEvent::Note(0, 0, 60, 100, 10));
    track.events.push_back(SongEvent::Note(0, 0, 64, 100, 10));
    const uint8_t text[] = {'x'};
    track.events.push_back(SongEvent::Meta(5, 0x01, text, 1));
    track.events.push_back(SongEvent::Short(5, 0xB1, 7, 90));
    track.events.push_back(SongEvent::Short(6, 0xB1, 10, 64));
    const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    track.events.push_back(SongEvent::Sysex(6, sysex, sizeof sysex));
    track.events.push_back(SongEvent::Short(7, 0xB1, 11, 127));
    EncodeTrack(track, 960, 1);

    std::vector<std::pair<uint8_t, bool>> statuses;
    for (const Item& item : Walk(track.image)) {
        if (item.status < 0xF0)
            statuses.emplace_back(item.status, item.statusWritten);
    }
    const std::vector<std::pair<uint8_t, bool>> expected = {
        {0x90, true},  {0x90, false}, // second note-on
        {0xB1, true},                 // after the text meta
        {0xB1, false}, {0xB1, true},  // after the system exclusive
        {0x90, true},  {0x90, false}, // the two note-offs at 10
    };
    EXPECT_EQ(statuses, expected);
}

TEST(TrackEncoder, AppliesOffsetsAndFlagsWhatHadToBeClipped)
{
    struct Case {
        const char* what;
        int keyOffset, velocityOffset, timeOffset;
        SongEvent event;
        Message expected;
        uint8_t flags;
    };
    const Case cases[] = {
        {"key up past 127 drops an octave", 3, 0, 0, SongEvent::Note(0, 0, 126, 90, 10), {0, 0x90, 117, 90}, ClipKey},
        {"key within range", 3, 0, 0, SongEvent::Note(0, 0, 60, 90, 10), {0, 0x90, 63, 90}, 0},
        {"key below 0 rises an octave", -5, 0, 0, SongEvent::Note(0, 0, 2, 90, 10), {0, 0x90, 9, 90}, ClipKey},
        {"large key offset moves several octaves",
         40,
         0,
         0,
         SongEvent::Note(0, 0, 120, 90, 10),
         {0, 0x90, 124, 90},
         ClipKey},
        {"aftertouch key", 3, 0, 0, SongEvent::Short(0, 0xA0, 126, 50), {0, 0xA0, 117, 50}, ClipKey},
        {"velocity capped at 127", 0, 20, 0, SongEvent::Note(0, 0, 60, 120, 10), {0, 0x90, 60, 127}, ClipVelocity},
        {"velocity kept at least 1", 0, -50, 0, SongEvent::Note(0, 0, 60, 30, 10), {0, 0x90, 60, 1}, ClipVelocity},
        {"time before 0 becomes 0", 0, 0, -10, SongEvent::Short(5, 0xB0, 7, 1), {0, 0xB0, 7, 1}, ClipTime},
        {"time moves later", 0, 0, 10, SongEvent::Short(5, 0xB0, 7, 1), {15, 0xB0, 7, 1}, 0},
        {"velocity offset leaves controllers alone", 0, 50, 0, SongEvent::Short(0, 0xB0, 7, 100), {0, 0xB0, 7, 100}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Track track;
        track.keyOffset = c.keyOffset;
        track.velocityOffset = c.velocityOffset;
        track.timeOffset = c.timeOffset;
        track.clipFlags = 7; // recomputed by every encoding
        track.events.push_back(c.event);
        const std::vector<Message> messages = Encode(track);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages[0], c.expected);
        EXPECT_EQ(track.clipFlags, c.flags);
        if (c.event.IsNote()) {
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_EQ(messages[1], (Message{c.expected.time + 10, 0x90, c.expected.data1, 0}));
        }
    }
}

TEST(TrackEncoder, WritesNoteOffsBeforeNoteOnsOfTheSameTick)
{
    Track track;
    track.events.push_back(SongEvent::Note(0, 2, 60, 100, 100));
    track.events.push_back(SongEvent::Note(50, 2, 62, 100, 0)); // zero length: off right after its on
    track.events.push_back(SongEvent::Note(100, 2, 60, 90, 20));
    track.events.push_back(SongEvent::Note(100, 2, 64, 90, 20));
    const std::vector<Message> expected = {
        {0, 0x92, 60, 100},  {50, 0x92, 62, 100}, {50, 0x92, 62, 0},  {100, 0x92, 60, 0},
        {100, 0x92, 60, 90}, {100, 0x92, 64, 90}, {120, 0x92, 60, 0}, {120, 0x92, 64, 0},
    };
    EXPECT_EQ(Encode(track), expected);
    EXPECT_EQ(track.end, 120);
}

TEST(TrackEncoder, WritesSpellingAndNotationAfterTheNote)
{
    Track track;
    track.keyOffset = 2;
    SongEvent note = SongEvent::Note(0, 0, 61, 100, 10);
    note.spelling = 3;
    note.notation = 1;
    track.events.push_back(note);
    track.events.push_back(SongEvent::Note(20, 0, 62, 100, 10)); // automatic spelling: nothing follows
    EncodeTrack(track, 960, 1);
    const std::vector<Item> items = Walk(track.image);
    int spellings = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!IsProgramMeta(items[i], 0))
            continue;
        ++spellings;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(items[i - 1].status, 0x90);
        EXPECT_EQ(items[i - 1].data[0], 63);
        EXPECT_EQ(items[i].time, 0);
        // The key as written, like the note-on it follows.
        EXPECT_EQ(items[i].data, (std::vector<uint8_t>{0x7F, 'c', 'v', 0, 63, 2 * 16 + 4}));
    }
    EXPECT_EQ(spellings, 1);
}

TEST(TrackEncoder, ProgramChangesCarryTheirBankOnTheirOwnChannel)
{
    Track track;
    track.outputChannel = 5;
    SongEvent program = SongEvent::Short(10, 0xC0, 33);
    program.length = 2 * 128 + 7;
    track.events.push_back(program);
    SongEvent noBank = SongEvent::Short(20, 0xC5, 34);
    noBank.length = -1; // no bank was ever selected: none is sent
    track.events.push_back(noBank);
    const std::vector<Message> expected = {{10, 0xB0, 0, 2}, {10, 0xB0, 32, 7}, {10, 0xC0, 33, 0}, {20, 0xC5, 34, 0}};
    EXPECT_EQ(Encode(track), expected);
}

TEST(TrackEncoder, ExpandsParameterEventsSelectingEachParameterOnce)
{
    Track track;
    track.outputChannel = 1;
    track.events.push_back(SongEvent::Parameter(0, true, 0, 2 * 128));
    track.events.push_back(SongEvent::Parameter(10, true, 0, ParamIncrement));
    track.events.push_back(SongEvent::Parameter(20, true, 0, ParamDecrement));
    track.events.push_back(SongEvent::Parameter(30, false, 0, 5)); // same number, other kind
    track.events.push_back(SongEvent::Parameter(40, false, 300, 129));
    const std::vector<Message> expected = {
        {0, 0xB1, 101, 0}, {0, 0xB1, 100, 0},  {0, 0xB1, 6, 2},   {0, 0xB1, 38, 0},  {10, 0xB1, 96, 0},
        {20, 0xB1, 97, 0}, {30, 0xB1, 99, 0},  {30, 0xB1, 98, 0}, {30, 0xB1, 6, 0},  {30, 0xB1, 38, 5},
        {40, 0xB1, 99, 2}, {40, 0xB1, 98, 44}, {40, 0xB1, 6, 1},  {40, 0xB1, 38, 1},
    };
    EXPECT_EQ(Encode(track), expected);
}

TEST(TrackEncoder, SelectsAgainAfterARawParameterSelect)
{
    Track track;
    track.events.push_back(SongEvent::Parameter(0, true, 0, 256));
    track.events.push_back(SongEvent::Short(5, 0xB0, 101, 0)); // an edit put a bare select here
    track.events.push_back(SongEvent::Parameter(10, true, 0, 384));
    int selects = 0;
    for (const Message& m : Encode(track))
        selects += m.status == 0xB0 && m.data1 == 100;
    EXPECT_EQ(selects, 2);
}

// Each block is announced by ProgramMeta 41 with the count of its items.
TEST(TrackEncoder, WritesTheInitialBlockInItsOrderAtEachReSendTime)
{
    Track track;
    track.outputChannel = 3;
    track.initialParameters[ParamModulationRange] = 64;
    track.initialParameters[ParamBendRange] = 2 * 128 + 1;
    track.initial[InitBank] = 1 * 128 + 2;
    track.initial[InitPatch] = 40;
    track.initial[InitPan] = 64;
    track.initial[InitVolume] = 100;
    track.initial[InitVibratoDelay] = 9;
    track.reSendTimes = {0, 50};
    track.events.push_back(SongEvent::Note(50, 3, 60, 100, 10));
    const std::vector<Message> block = {
        {0, 0xB3, 101, 0}, {0, 0xB3, 100, 0}, {0, 0xB3, 6, 2},   {0, 0xB3, 38, 1}, {0, 0xB3, 101, 0},
        {0, 0xB3, 100, 5}, {0, 0xB3, 6, 0},   {0, 0xB3, 38, 64}, {0, 0xB3, 0, 1},  {0, 0xB3, 32, 2},
        {0, 0xC3, 40, 0},  {0, 0xB3, 7, 100}, {0, 0xB3, 10, 64}, {0, 0xB3, 78, 9},
    };
    std::vector<Message> expected = block;
    for (Message m : block) {
        m.time = 50; // before the note at the same tick
        expected.push_back(m);
    }
    expected.push_back({50, 0x93, 60, 100});
    expected.push_back({60, 0x93, 60, 0});
    EXPECT_EQ(Encode(track), expected);

    std::vector<std::pair<int32_t, std::vector<uint8_t>>> markers;
    const std::vector<Item> items = Walk(track.image);
    for (size_t i = 0; i < items.size(); ++i) {
        if (IsProgramMeta(items[i], InitialBlockSubtype)) {
            markers.emplace_back(items[i].time, std::vector<uint8_t>(items[i].data.begin() + 4, items[i].data.end()));
            ASSERT_LT(i + 1, items.size());
            EXPECT_EQ(items[i + 1].status, 0xB3); // the block follows at once
            EXPECT_TRUE(items[i + 1].statusWritten);
        }
    }
    const std::vector<std::pair<int32_t, std::vector<uint8_t>>> expectedMarkers = {{0, {14}}, {50, {14}}};
    EXPECT_EQ(markers, expectedMarkers);
}

TEST(TrackEncoder, WritesReSendTimesAfterTheLastEvent)
{
    Track track;
    track.initial[InitPatch] = 5;
    track.reSendTimes = {500};
    track.events.push_back(SongEvent::Note(0, 0, 60, 100, 10));
    const std::vector<Message> expected = {{0, 0x90, 60, 100}, {10, 0x90, 60, 0}, {500, 0xC0, 5, 0}};
    EXPECT_EQ(Encode(track), expected);
    EXPECT_EQ(track.end, 500);
}

// As the standard universal message with its length, which every file reader accepts.
TEST(TrackEncoder, WritesControllerDestinationsAsStandardSystemExclusive)
{
    Track track;
    track.outputChannel = 2;
    track.destinations[0] = 66;  // channel pressure: pitch
    track.destinations[4] = 10;  // channel pressure: LFO filter depth
    track.destinations[7] = 3;   // polyphonic pressure: no message of its own
    track.destinations[13] = 80; // controller: filter cutoff
    track.destinationController = 1;
    track.reSendTimes = {0};
    EncodeTrack(track, 960, 1);
    std::vector<std::vector<uint8_t>> sysex;
    for (const Item& item : Walk(track.image)) {
        if (item.status == 0xF0)
            sysex.push_back(item.data);
    }
    const std::vector<std::vector<uint8_t>> expected = {
        {0xF0, 10, 0x7F, 0x7F, 0x09, 0x01, 2, 0, 66, 4, 10, 0xF7},
        {0xF0, 9, 0x7F, 0x7F, 0x09, 0x03, 2, 1, 1, 80, 0xF7},
    };
    EXPECT_EQ(sysex, expected);

    // A controller named without ranges is still written.
    track.destinations.fill(-1);
    track.destinationController = 11;
    EncodeTrack(track, 960, 1);
    sysex.clear();
    for (const Item& item : Walk(track.image))
        if (item.status == 0xF0)
            sysex.push_back(item.data);
    EXPECT_EQ(sysex, (std::vector<std::vector<uint8_t>>{{0xF0, 7, 0x7F, 0x7F, 0x09, 0x03, 2, 11, 0xF7}}));
}

TEST(TrackEncoder, WritesStoredSysexAndMetasAsTheyStand)
{
    Track track;
    // As read from a standard file: the length byte is part of the stored message.
    const uint8_t standard[] = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    track.events.push_back(SongEvent::Sysex(0, standard, sizeof standard));
    const uint8_t lyric[] = {'l', 'a'};
    track.events.push_back(SongEvent::Meta(4, 0x05, lyric, sizeof lyric));
    const uint8_t endOfTrack[] = {0};
    track.events.push_back(SongEvent::Meta(6, 0x2F, endOfTrack, 0)); // must not cut the track short
    track.events.push_back(SongEvent::Short(8, 0xB0, 7, 1));
    const uint8_t unterminated[] = {0x43, 0x10};
    track.events.push_back(SongEvent::Sysex(9, unterminated, sizeof unterminated));
    EncodeTrack(track, 960, 1);
    std::vector<std::vector<uint8_t>> tail;
    for (const Item& item : Walk(track.image))
        if (item.time > 0 || item.status == 0xF0)
            tail.push_back(item.data);
    const std::vector<std::vector<uint8_t>> expected = {
        {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0x05, 'l', 'a'}, {7, 1}, {0xF0, 0x43, 0x10, 0xF7}, {0x2F}};
    EXPECT_EQ(tail, expected);
}

TEST(TrackEncoder, NamesAClipFromItsWaveDataFolder)
{
    struct Case {
        std::string fileName, written;
    };
    const Case cases[] = {{"/songs/show/WaveData/0000abcd.wav", "WaveData/0000abcd.wav"},
                          {"WaveData/0000abcd.wav", "WaveData/0000abcd.wav"},
                          {"/elsewhere/take.wav", "/elsewhere/take.wav"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        Track track;
        track.kind = 1;
        SongEvent clip = SongEvent::Clip(100, std::make_unique<AudioClip>(c.fileName));
        clip.length = 400;
        track.events.push_back(std::move(clip));
        EncodeTrack(track, 960, 1);
        const std::vector<Item> items = Walk(track.image);
        ASSERT_GE(items.size(), 2u);
        const Item& cue = items[items.size() - 2];
        EXPECT_EQ(cue.time, 100);
        EXPECT_EQ(std::string(cue.data.begin() + 1, cue.data.end()), c.written);
        EXPECT_EQ(track.end, 500);
    }
}

TEST(TrackEncoder, SnapshotsOfEmptyBlocksPointAtTheNextItem)
{
    Track track;
    track.events.push_back(SongEvent::Short(0, 0xB0, 7, 100));
    track.events.push_back(SongEvent::Short(0, 0xB0, 10, 12));
    track.events.push_back(SongEvent::Short(2000, 0xB0, 7, 90));
    track.events.push_back(SongEvent::Short(2001, 0xB0, 7, 80));
    EncodeTrack(track, 960, 1);

    ASSERT_EQ(track.snapshots.size(), 3u);
    const PlaybackSnapshot& zero = track.snapshots[0];
    EXPECT_EQ(zero.imagePosition, 1u); // right after the first delta
    EXPECT_EQ(zero.itemTime, 0);
    EXPECT_TRUE(zero.lastMessages.empty());

    const PlaybackSnapshot& one = track.snapshots[1];
    const PlaybackSnapshot& two = track.snapshots[2];
    EXPECT_EQ(one.itemTime, 2000);
    EXPECT_EQ(two.itemTime, 2000);
    EXPECT_EQ(one.imagePosition, two.imagePosition);
    EXPECT_EQ(one.runningStatus, 0xB0);
    EXPECT_EQ(two.runningStatus, 0xB0);
    ASSERT_EQ(one.lastMessages.size(), 2u);
    ASSERT_EQ(two.lastMessages.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(one.lastMessages[i].message, two.lastMessages[i].message);
        EXPECT_EQ(one.lastMessages[i].time, 0);
    }
    EXPECT_EQ(one.lastMessages[0].message, 0xB0u | 7u << 8 | 100u << 16);
    EXPECT_EQ(one.lastMessages[1].message, 0xB0u | 10u << 8 | 12u << 16);

    // Resuming there with the snapshot's running status reads the rest of the track correctly.
    const std::vector<Message> rest =
        ChannelMessages(Walk(track.image, one.imagePosition, one.itemTime, one.runningStatus, true));
    const std::vector<Message> expected = {{2000, 0xB0, 7, 90}, {2001, 0xB0, 7, 80}};
    EXPECT_EQ(rest, expected);
}

TEST(TrackEncoder, SnapshotHoldsTheLastMessageOfEachKindAndTheSoundingNotes)
{
    Track track;
    track.events.push_back(SongEvent::Short(10, 0xB0, 7, 100));
    track.events.push_back(SongEvent::Short(20, 0xB1, 7, 50)); // another channel: its own entry
    track.events.push_back(SongEvent::Short(30, 0xE0, 0, 0x40));
    track.events.push_back(SongEvent::Short(40, 0xB0, 7, 110));    // replaces the first, keeps its place
    track.events.push_back(SongEvent::Note(900, 0, 60, 100, 200)); // spans the block start at 960
    track.events.push_back(SongEvent::Note(905, 0, 60, 77, 100));  // the same key again: one entry
    track.events.push_back(SongEvent::Note(910, 0, 64, 90, 20));   // ended before it
    track.events.push_back(SongEvent::Note(950, 9, 36, 80, 100));  // spans it too
    track.events.push_back(SongEvent::Short(1000, 0xD0, 5));
    EncodeTrack(track, 960, 7);

    ASSERT_EQ(track.snapshots.size(), 2u);
    const PlaybackSnapshot& block = track.snapshots[1];
    ASSERT_EQ(block.lastMessages.size(), 3u);
    EXPECT_EQ(block.lastMessages[0].message, 0xB0u | 7u << 8 | 110u << 16);
    EXPECT_EQ(block.lastMessages[0].time, 40);
    EXPECT_EQ(block.lastMessages[1].message, 0xB1u | 7u << 8 | 50u << 16);
    EXPECT_EQ(block.lastMessages[2].message, 0xE0u | 0x40u << 16);
    const std::vector<uint32_t> sounding = {7u << 24 | 0x90u | 60u << 8 | 77u << 16,
                                            7u << 24 | 0x99u | 36u << 8 | 80u << 16};
    EXPECT_EQ(block.soundingNotes, sounding);
    EXPECT_EQ(block.itemTime, 1000);
}

TEST(TrackEncoder, SnapshotsSeeTheInitialBlockAndTheShiftedTimes)
{
    Track track;
    track.timeOffset = 100;
    track.initial[InitPatch] = 8;
    track.reSendTimes = {0};
    track.events.push_back(SongEvent::Short(900, 0xB0, 1, 3)); // written at 1000
    EncodeTrack(track, 960, 1);
    ASSERT_EQ(track.snapshots.size(), 2u);
    EXPECT_EQ(track.snapshots[1].itemTime, 1000);
    ASSERT_EQ(track.snapshots[1].lastMessages.size(), 1u);
    EXPECT_EQ(track.snapshots[1].lastMessages[0].message, 0xC0u | 8u << 8);
    EXPECT_EQ(track.snapshots[1].lastMessages[0].time, 100);
}

// A file can fill every controller of every channel and put one event days later: the snapshots stop
// at the size limit they are given instead of copying that state to every block.
TEST(TrackEncoder, SnapshotsStopAtTheirSizeLimit)
{
    Track track;
    for (int channel = 0; channel < 16; ++channel)
        for (int controller = 0; controller < 128; ++controller)
            track.events.push_back(
                SongEvent::Short(0, static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), 1));
    track.events.push_back(SongEvent::Short(960 * 5000, 0xB0, 7, 2));
    EncodeTrack(track, 960, 1, InitialMarking::Marked, 2048 * 100);
    EXPECT_EQ(SnapshotEntries(track), 2048u * 100);
    EXPECT_EQ(track.snapshots.size(), 101u); // block 0 holds nothing yet
    EXPECT_EQ(track.end, 960 * 5000);        // the image itself is whole
}

TEST(TrackEncoder, ReEncodingDropsSnapshotsOfTheOldImage)
{
    Track track;
    track.events.push_back(SongEvent::Short(5000, 0xB0, 7, 1));
    EncodeTrack(track, 960, 1);
    EXPECT_EQ(track.snapshots.size(), 6u);
    track.events.clear();
    EncodeTrack(track, 960, 1);
    EXPECT_EQ(track.snapshots.size(), 1u);
    EncodeTrack(track, -1, 1);
    EXPECT_TRUE(track.snapshots.empty());
}

// ---- re-send times ----

struct GroupSong {
    test::TestContext context;
    Song song{context.Context()};

    Track& Add(int port, int channel, int patch)
    {
        auto track = std::make_unique<Track>();
        track->outputPort = port;
        track->outputChannel = channel;
        track->initial[InitPatch] = patch;
        song.tracks.push_back(std::move(track));
        return *song.tracks.back();
    }
    GroupSong()
    {
        song.tracks.push_back(std::make_unique<Track>()); // track 0
    }
    void Finish() { song.tracks.push_back(std::make_unique<Track>()); }
};

const SameDeviceTest SamePort = [](int32_t a, int32_t b) { return a == b; };

TEST(ReSendTimes, SharedChannelSwitchesPatchAtEachChangeOfTrack)
{
    GroupSong g;
    Track& strings = g.Add(0, 0, 48);
    Track& brass = g.Add(0, 0, 61);
    Track& organ = g.Add(0, 0, 19);
    Track& otherChannel = g.Add(0, 1, 5);
    g.Finish();
    strings.events.push_back(SongEvent::Note(0, 0, 60, 100, 100));
    strings.events.push_back(SongEvent::Note(100, 0, 62, 100, 100));
    brass.events.push_back(SongEvent::Note(200, 0, 60, 100, 100));
    organ.events.push_back(SongEvent::Note(300, 0, 60, 100, 100));
    strings.events.push_back(SongEvent::Note(400, 0, 60, 100, 50));
    brass.events.push_back(SongEvent::Note(400, 0, 64, 100, 100)); // equal time: the higher track first

    const std::vector<int> group = ComputeReSendTimes(g.song, 2, SamePort);
    EXPECT_EQ(group, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(strings.reSendTimes, (std::vector<int32_t>{0, 400}));
    EXPECT_EQ(brass.reSendTimes, (std::vector<int32_t>{200, 400}));
    EXPECT_EQ(organ.reSendTimes, (std::vector<int32_t>{300}));
    EXPECT_TRUE(otherChannel.reSendTimes.empty()); // not touched: not in the group

    // Each track's image switches the channel right before its note.
    EncodeTrack(brass, 960, 2);
    const std::vector<Message> expected = {{200, 0xC0, 61, 0}, {200, 0x90, 60, 100}, {300, 0x90, 60, 0},
                                           {400, 0xC0, 61, 0}, {400, 0x90, 64, 100}, {500, 0x90, 64, 0}};
    EXPECT_EQ(ChannelMessages(Walk(brass.image)), expected);
}

TEST(ReSendTimes, SamePatchOnTheSameChannelNeedsNoSwitch)
{
    GroupSong g;
    Track& first = g.Add(2, 9, 0);
    Track& second = g.Add(2, 9, 0);
    Track& silent = g.Add(2, 9, 8); // no notes
    g.Finish();
    first.events.push_back(SongEvent::Note(0, 9, 36, 100, 10));
    second.events.push_back(SongEvent::Note(50, 9, 38, 100, 100));
    first.events.push_back(SongEvent::Note(100, 9, 36, 100, 10));
    ComputeReSendTimes(g.song, 1, SamePort);
    EXPECT_EQ(first.reSendTimes, (std::vector<int32_t>{0}));
    // Got nothing by the walk: after the group's last sound plus a quarter note.
    EXPECT_EQ(second.reSendTimes, (std::vector<int32_t>{150 + 120}));
    EXPECT_EQ(silent.reSendTimes, (std::vector<int32_t>{150 + 120}));
}

TEST(ReSendTimes, LoneTracksGetTimeZeroWhenAnyInitialValueIsSet)
{
    struct Case {
        const char* what;
        void (*set)(Track&);
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {"nothing set", [](Track&) {}, {}},
        {"only a bend range", [](Track& t) { t.initialParameters[ParamBendRange] = 256; }, {0}},
        {"only a brightness", [](Track& t) { t.initial[InitBrightness] = 20; }, {0}},
        {"only a destination range", [](Track& t) { t.destinations[2] = 40; }, {0}},
        {"volume", [](Track& t) { t.initial[InitVolume] = 100; }, {0}},
        {"patch, alone on its channel",
         [](Track& t) {
             t.initial[InitPatch] = 3;
             t.outputChannel = 5;
         },
         {0}},
        {"audio track: its volume is saved",
         [](Track& t) {
             t.kind = 1;
             t.initial[InitVolume] = 3;
         },
         {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GroupSong g;
        Track& track = g.Add(0, 0, -1);
        g.Add(0, 0, 7).events.push_back(SongEvent::Note(0, 0, 60, 100, 10)); // a patch track on the channel
        g.Finish();
        c.set(track);
        track.reSendTimes = {77}; // stale
        EXPECT_EQ(ComputeReSendTimes(g.song, 1, SamePort), std::vector<int>{1});
        EXPECT_EQ(track.reSendTimes, c.expected);
    }
}

TEST(ReSendTimes, LoneTrackWithOnlyABendRangeKeepsItInTheImage)
{
    GroupSong g;
    Track& track = g.Add(0, 4, -1);
    g.Finish();
    track.initialParameters[ParamBendRange] = 12 * 128;
    track.events.push_back(SongEvent::Note(10, 4, 60, 100, 10));
    ComputeReSendTimes(g.song, 1, SamePort);
    const std::vector<Message> expected = {{0, 0xB4, 101, 0}, {0, 0xB4, 100, 0},   {0, 0xB4, 6, 12},
                                           {0, 0xB4, 38, 0},  {10, 0x94, 60, 100}, {20, 0x94, 60, 0}};
    EXPECT_EQ(Encode(track), expected);
}

} // namespace
} // namespace cantivo
