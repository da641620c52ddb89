#include "song/TrackEncoder.h"
#include "song/AudioClip.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace cantivo {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// One item of an encoded image, as a plain MIDI file reader sees it.
struct Item {
    int32_t time = 0;
    uint8_t status = 0;         // 0xFF meta, 0xF0 system exclusive, else the channel status in force
    bool statusWritten = false; // false when running status supplied it
    Bytes data;                 // channel data bytes; meta: type then body; sysex: 0xF0 … 0xF7
};

// Walks an image as a Standard MIDI File track, with system exclusive read up to its 0xF7 rather than by
// a length; fails the test on malformed bytes. A walk from a snapshot starts after a delta, at the
// snapshot's time and running status.
std::vector<Item> Walk(const Bytes& image, size_t at = 0, int32_t time = 0, uint8_t runningStatus = 0)
{
    std::vector<Item> items;
    const auto next = [&] {
        EXPECT_LT(at, image.size()) << "the image ends inside an item";
        return at < image.size() ? image[at++] : uint8_t{0xF7};
    };
    const auto varLen = [&] {
        uint32_t value = 0;
        for (uint8_t byte = 0x80; byte & 0x80; value = value << 7 | (byte & 0x7F))
            byte = next();
        return value;
    };
    for (bool needDelta = at == 0; at < image.size(); needDelta = true) {
        if (needDelta)
            time += static_cast<int32_t>(varLen());
        Item item{time, image.at(at), (image.at(at) & 0x80) != 0, {}};
        if (item.statusWritten)
            ++at;
        else
            item.status = runningStatus;
        EXPECT_NE(item.status, 0) << "data byte without running status at " << at;
        runningStatus = item.status < 0xF0 ? item.status : 0;
        if (item.status == 0xFF) {
            item.data.push_back(next());
            for (uint32_t length = varLen(); length > 0 && at < image.size(); --length)
                item.data.push_back(next());
        } else if (item.status == 0xF0) {
            for (item.data.push_back(0xF0); item.data.back() != 0xF7;)
                item.data.push_back(next());
        } else {
            for (int count = (item.status & 0xE0) == 0xC0 ? 1 : 2; count > 0; --count) // C0 and D0 have one
                item.data.push_back(next());
        }
        items.push_back(item);
        if (item.status == 0xFF && item.data[0] == 0x2F) {
            EXPECT_EQ(at, image.size()) << "bytes after the end of track";
            return items;
        }
    }
    ADD_FAILURE() << "image without end of track";
    return items;
}

// The channel messages among the items as "time:status data..." (status in hex).
Lines Messages(const std::vector<Item>& items)
{
    Lines lines;
    for (const Item& item : items) {
        std::ostringstream out;
        out << item.time << ':' << std::hex << int{item.status} << std::dec;
        for (const uint8_t byte : item.data)
            out << ' ' << int{byte};
        if (item.status < 0xF0)
            lines.push_back(out.str());
    }
    return lines;
}

Lines Encode(Track& track)
{
    EncodeTrack(track, 960);
    return Messages(Walk(track.image));
}

// The image's items of one kind (0xFF metas, 0xF0 system exclusive), as their data bytes.
std::vector<Bytes> Data(const Track& track, uint8_t status)
{
    std::vector<Bytes> found;
    for (const Item& item : Walk(track.image))
        if (item.status == status)
            found.push_back(item.data);
    return found;
}

// A record of the program's own ('c' 'v' subtype values), of one subtype or of any.
bool IsProgramMeta(const Item& item, int subtype = -1)
{
    return item.status == 0xFF && item.data.size() >= 4 && item.data[0] == 0x7F && item.data[1] == 'c' &&
           item.data[2] == 'v' && (subtype < 0 || item.data[3] == subtype);
}

Track Of(std::initializer_list<SongEvent> events)
{
    Track track;
    track.events = events;
    return track;
}

// The settings at tick 0, then whatever follows, up to the end of track. A saved track names its
// output channel with the channel prefix after the marker, whatever its notes play on.
TEST(TrackEncoder, StartsWithNamePortColourMarkerAndChannelAndEndsTheTrack)
{
    for (const InitialMarking marking : {InitialMarking::Marked, InitialMarking::Plain}) {
        Track track = Of({SongEvent::Note(0, 2, 60, 90, 10)});
        track.name = "Bass";
        track.outputPort = 3;
        track.outputChannel = 6;
        EncodeTrack(track, 960, marking);
        std::vector<Bytes> expected = {{0x03, 'B', 'a', 's', 's'}, {0x21, 3}, {0x7F, 'c', 'v', 35, 0xFF, 0xF0, 0x0E}};
        if (marking == InitialMarking::Marked)
            expected.insert(expected.end(), {{0x7F, 'c', 'v', 40}, {0x20, 6}});
        expected.push_back({0x2F});
        EXPECT_EQ(Data(track, 0xFF), expected);
        EXPECT_TRUE(track.formatVersion & OffsetsApplied);
    }
}

// Other versions read these records: each setting off its default is written once, in its own layout.
TEST(TrackEncoder, WritesEachSettingThatDiffersFromItsDefault)
{
    const struct {
        const char* what;
        void (*set)(Track&);
        Bytes record; // subtype, values
    } cases[] = {
        {"audio kind", [](Track& t) { t.kind = 1; }, {30, 1}},
        {"input port", [](Track& t) { t.inputPort = 4; }, {31, 4}},
        {"input channel 0", [](Track& t) { t.inputChannel = 0; }, {32, 0}},
        {"clef", [](Track& t) { t.defaultClef = 2; }, {33, 2}},
        {"split key", [](Track& t) { t.splitKey = -5; }, {34, 55}},
        {"key offset", [](Track& t) { t.keyOffset = -3; }, {36, 125}},
        {"time offset", [](Track& t) { t.timeOffset = -2; }, {37, 0xFE, 0x7F}},
        {"time offset high byte", [](Track& t) { t.timeOffset = 300; }, {37, 0x2C, 0x81}},
        {"time offset past 16 bits stays positive", [](Track& t) { t.timeOffset = 40000; }, {37, 0xFF, 0xFF}},
        {"time offset past 16 bits stays negative", [](Track& t) { t.timeOffset = -40000; }, {37, 0x00, 0x00}},
        {"velocity offset", [](Track& t) { t.velocityOffset = 10; }, {38, 138}},
        {"muted", [](Track& t) { t.play = 0; }, {39, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Track track;
        c.set(track);
        EncodeTrack(track, 960);
        std::vector<Bytes> records; // all but the colour and the marker, which every track has
        for (const Item& item : Walk(track.image))
            if (IsProgramMeta(item) && item.data[3] != ProgramMeta::TrackColour &&
                item.data[3] != ProgramMeta::MarkedTrack)
                records.emplace_back(item.data.begin() + 3, item.data.end());
        EXPECT_EQ(records, std::vector<Bytes>{c.record});
    }
}

TEST(TrackEncoder, UsesRunningStatusUntilAMetaOrSysexCancelsIt)
{
    const uint8_t text[] = {'x'};
    const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    Track track =
        Of({SongEvent::Note(0, 0, 60, 100, 10), SongEvent::Note(0, 0, 64, 100, 10), SongEvent::Short(4, 0xB1, 1, 0),
            SongEvent::Meta(5, 0x01, text, 1), SongEvent::Short(5, 0xB1, 7, 90), SongEvent::Short(6, 0xB1, 10, 64),
            SongEvent::Sysex(6, sysex, sizeof sysex), SongEvent::Short(7, 0xB1, 11, 127)});
    EncodeTrack(track, 960);
    std::vector<bool> written;
    for (const Item& item : Walk(track.image))
        if (item.status < 0xF0)
            written.push_back(item.statusWritten);
    // Written: the first note-on, the first controller and the same after the text and after the sysex,
    // the first note-off.
    EXPECT_EQ(written, (std::vector<bool>{true, false, true, true, false, true, true, false}));
}

// Keys fold into range by whole octaves, velocities stay within 1-127, times before 0 become 0; each
// kind that had to be folded is flagged, and the flags are recomputed by every encoding.
TEST(TrackEncoder, AppliesOffsetsAndFlagsWhatHadToBeClipped)
{
    const struct {
        const char* what;
        int keyOffset, velocityOffset, timeOffset;
        SongEvent event;
        Lines expected;
        uint8_t flags;
    } cases[] = {
        {"key +3 on 126", 3, 0, 0, SongEvent::Note(0, 0, 126, 90, 10), {"0:90 117 90", "10:90 117 0"}, ClipKey},
        {"key within range", 3, 0, 0, SongEvent::Note(0, 0, 60, 90, 10), {"0:90 63 90", "10:90 63 0"}, 0},
        {"key below 0", -5, 0, 0, SongEvent::Note(0, 0, 2, 90, 10), {"0:90 9 90", "10:90 9 0"}, ClipKey},
        {"several octaves", 40, 0, 0, SongEvent::Note(0, 0, 120, 90, 10), {"0:90 124 90", "10:90 124 0"}, ClipKey},
        {"aftertouch key", 3, 0, 0, SongEvent::Short(0, 0xA0, 126, 50), {"0:a0 117 50"}, ClipKey},
        {"velocity to 127", 0, 20, 0, SongEvent::Note(0, 0, 60, 120, 10), {"0:90 60 127", "10:90 60 0"}, ClipVelocity},
        {"velocity to 1", 0, -50, 0, SongEvent::Note(0, 0, 60, 30, 10), {"0:90 60 1", "10:90 60 0"}, ClipVelocity},
        {"time before 0", 0, 0, -10, SongEvent::Short(5, 0xB0, 7, 1), {"0:b0 7 1"}, ClipTime},
        {"time moves later", 0, 0, 10, SongEvent::Short(5, 0xB0, 7, 1), {"15:b0 7 1"}, 0},
        {"time offset as stored", 0, 0, 40000, SongEvent::Short(5, 0xB0, 7, 1), {"32772:b0 7 1"}, 0},
        {"controllers keep their value", 0, 50, 0, SongEvent::Short(0, 0xB0, 7, 100), {"0:b0 7 100"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Track track = Of({c.event});
        track.keyOffset = c.keyOffset;
        track.velocityOffset = c.velocityOffset;
        track.timeOffset = c.timeOffset;
        track.clipFlags = 7;
        EXPECT_EQ(Encode(track), c.expected);
        EXPECT_EQ(track.clipFlags, c.flags);
    }
}

TEST(TrackEncoder, WritesNoteOffsBeforeNoteOnsOfTheSameTick)
{
    Track track = Of({SongEvent::Note(0, 2, 60, 100, 100), SongEvent::Note(50, 2, 62, 100, 0), // zero length
                      SongEvent::Note(100, 2, 60, 90, 20), SongEvent::Note(100, 2, 64, 90, 20)});
    EXPECT_EQ(Encode(track), (Lines{"0:92 60 100", "50:92 62 100", "50:92 62 0", "100:92 60 0", "100:92 60 90",
                                    "100:92 64 90", "120:92 60 0", "120:92 64 0"}));
    EXPECT_EQ(track.end, 120);
}

// A program change plays on its own channel, not the track's; the bank goes with it only when one was
// ever selected (length -1: none).
TEST(TrackEncoder, ProgramChangesCarryTheirBankOnTheirOwnChannel)
{
    SongEvent program = SongEvent::Short(10, 0xC0, 33);
    program.length = 2 * 128 + 7;
    SongEvent noBank = SongEvent::Short(20, 0xC5, 34);
    noBank.length = -1;
    Track track = Of({program, noBank});
    track.outputChannel = 5;
    EXPECT_EQ(Encode(track), (Lines{"10:b0 0 2", "10:b0 32 7", "10:c0 33", "20:c5 34"}));
}

// A parameter is selected once while it stays current; a bare select an edit put in between makes the
// next value select again.
TEST(TrackEncoder, ExpandsParameterEventsSelectingEachParameterOnce)
{
    Track track = Of({SongEvent::Parameter(0, true, 0, 2 * 128), SongEvent::Parameter(10, true, 0, ParamIncrement),
                      SongEvent::Parameter(20, true, 0, ParamDecrement),
                      SongEvent::Parameter(30, false, 0, 5), // same number, other kind
                      SongEvent::Parameter(40, false, 300, 129), SongEvent::Short(45, 0xB1, 99, 0),
                      SongEvent::Parameter(50, false, 300, 130)});
    track.outputChannel = 1;
    EXPECT_EQ(Encode(track),
              (Lines{"0:b1 101 0", "0:b1 100 0", "0:b1 6 2", "0:b1 38 0", "10:b1 96 0", "20:b1 97 0", "30:b1 99 0",
                     "30:b1 98 0", "30:b1 6 0", "30:b1 38 5", "40:b1 99 2", "40:b1 98 44", "40:b1 6 1", "40:b1 38 1",
                     "45:b1 99 0", "50:b1 99 2", "50:b1 98 44", "50:b1 6 1", "50:b1 38 2"}));
}

// Each block is announced by ProgramMeta 41 with the count of its items, so a reader takes the first
// block as the track's settings and drops the later ones instead of adding them again on every save.
TEST(TrackEncoder, WritesTheInitialBlockInItsOrderAtEachReSendTime)
{
    Track track = Of({SongEvent::Note(50, 3, 60, 100, 10)});
    track.outputChannel = 3;
    track.initialParameters[ParamModulationRange] = 64;
    track.initialParameters[ParamBendRange] = 2 * 128 + 1;
    track.initial[InitBank] = 1 * 128 + 2;
    track.initial[InitPatch] = 40;
    track.initial[InitPan] = 64;
    track.initial[InitVolume] = 100;
    track.initial[InitVibratoDelay] = 9;
    track.reSendTimes = {0, 50, 500}; // the last one after the last event
    const auto block = [](int32_t time) {
        Lines lines;
        for (const char* item : {"b3 101 0", "b3 100 0", "b3 6 2", "b3 38 1", "b3 101 0", "b3 100 5", "b3 6 0",
                                 "b3 38 64", "b3 0 1", "b3 32 2", "c3 40", "b3 7 100", "b3 10 64", "b3 78 9"})
            lines.push_back(std::to_string(time) + ":" + item);
        return lines;
    };
    Lines expected = block(0);
    for (const Lines& part : {block(50), Lines{"50:93 60 100", "60:93 60 0"}, block(500)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(Encode(track), expected);
    EXPECT_EQ(track.end, 500);

    std::vector<std::pair<int32_t, Bytes>> markers;
    const std::vector<Item> items = Walk(track.image);
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        if (IsProgramMeta(items[i], ProgramMeta::InitialBlock)) {
            markers.emplace_back(items[i].time, Bytes(items[i].data.begin() + 4, items[i].data.end()));
            EXPECT_TRUE(items[i + 1].status == 0xB3 && items[i + 1].statusWritten); // the block follows at once
        }
    }
    EXPECT_EQ(markers, (std::vector<std::pair<int32_t, Bytes>>{{0, {14}}, {50, {14}}, {500, {14}}}));
}

// As the standard universal message with its length, which every file reader accepts; a controller
// named without ranges is still written.
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
    EncodeTrack(track, 960);
    EXPECT_EQ(Data(track, 0xF0), (std::vector<Bytes>{{0xF0, 10, 0x7F, 0x7F, 0x09, 0x01, 2, 0, 66, 4, 10, 0xF7},
                                                     {0xF0, 9, 0x7F, 0x7F, 0x09, 0x03, 2, 1, 1, 80, 0xF7}}));
    track.destinations.fill(-1);
    track.destinationController = 11;
    EncodeTrack(track, 960);
    EXPECT_EQ(Data(track, 0xF0), (std::vector<Bytes>{{0xF0, 7, 0x7F, 0x7F, 0x09, 0x03, 2, 11, 0xF7}}));
}

// A stored end-of-track meta must not cut the track short; a sysex without its 0xF7 is closed.
TEST(TrackEncoder, WritesStoredSysexAndMetasAsTheyStand)
{
    const uint8_t standard[] = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}; // the length byte is stored
    const uint8_t lyric[] = {'l', 'a'};
    const uint8_t unterminated[] = {0x43, 0x10};
    Track track = Of({SongEvent::Sysex(0, standard, sizeof standard), SongEvent::Meta(4, 0x05, lyric, sizeof lyric),
                      SongEvent::Meta(6, 0x2F, lyric, 0), SongEvent::Short(8, 0xB0, 7, 1),
                      SongEvent::Sysex(9, unterminated, sizeof unterminated)});
    EncodeTrack(track, 960);
    std::vector<Bytes> tail;
    for (const Item& item : Walk(track.image))
        if (item.time > 0 || item.status == 0xF0)
            tail.push_back(item.data);
    EXPECT_EQ(
        tail,
        (std::vector<Bytes>{
            {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0x05, 'l', 'a'}, {7, 1}, {0xF0, 0x43, 0x10, 0xF7}, {0x2F}}));
}

TEST(TrackEncoder, NamesAClipFromItsWaveDataFolder)
{
    const std::pair<std::string, std::string> cases[] = {{"/songs/show/WaveData/0000abcd.wav", "WaveData/0000abcd.wav"},
                                                         {"WaveData/0000abcd.wav", "WaveData/0000abcd.wav"},
                                                         {"/elsewhere/take.wav", "/elsewhere/take.wav"}};
    for (const auto& [fileName, written] : cases) {
        SCOPED_TRACE(fileName);
        Track track;
        track.kind = 1;
        track.events.push_back(SongEvent::Clip(100, std::make_unique<AudioClip>(fileName)));
        track.events.back().length = 400;
        EncodeTrack(track, 960);
        const std::vector<Item> items = Walk(track.image);
        ASSERT_GE(items.size(), 2u);
        const Item& cue = items[items.size() - 2];
        EXPECT_EQ(cue.time, 100);
        EXPECT_EQ(std::string(cue.data.begin() + 1, cue.data.end()), written);
        EXPECT_EQ(track.end, 500);
    }
}

// ---- re-send times ----

struct GroupSong {
    GroupSong() { song.tracks.push_back(std::make_unique<Track>()); } // track 0
    Track& Add(int port, int channel, int patch)
    {
        auto& track = *song.tracks.emplace_back(std::make_unique<Track>());
        track.outputPort = port;
        track.outputChannel = channel;
        track.initial[InitPatch] = patch;
        return track;
    }
    std::vector<int> Compute(int trackNumber)
    {
        song.tracks.push_back(std::make_unique<Track>()); // the trailing track
        return ComputeReSendTimes(song.tracks, song.timebase, trackNumber, [](int32_t a, int32_t b) { return a == b; });
    }

    test::TestContext context;
    Song song{context.Context()};
};

TEST(ReSendTimes, SharedChannelSwitchesPatchAtEachChangeOfTrack)
{
    GroupSong g;
    Track& strings = g.Add(0, 0, 48);
    Track& brass = g.Add(0, 0, 61);
    Track& organ = g.Add(0, 0, 19);
    Track& otherChannel = g.Add(0, 1, 5);
    strings.events = {SongEvent::Note(0, 0, 60, 100, 100), SongEvent::Note(100, 0, 62, 100, 100),
                      SongEvent::Note(400, 0, 60, 100, 50)};
    brass.events = {SongEvent::Note(200, 0, 60, 100, 100),
                    SongEvent::Note(400, 0, 64, 100, 100)}; // equal time: the higher track first
    organ.events = {SongEvent::Note(300, 0, 60, 100, 100)};
    EXPECT_EQ(g.Compute(2), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(strings.reSendTimes, (std::vector<int32_t>{0, 400}));
    EXPECT_EQ(brass.reSendTimes, (std::vector<int32_t>{200, 400}));
    EXPECT_EQ(organ.reSendTimes, (std::vector<int32_t>{300}));
    EXPECT_TRUE(otherChannel.reSendTimes.empty()); // not touched: not in the group
    // Each track's image switches the channel right before its note.
    EXPECT_EQ(Encode(brass),
              (Lines{"200:c0 61", "200:90 60 100", "300:90 60 0", "400:c0 61", "400:90 64 100", "500:90 64 0"}));
}

// Members the walk gives nothing get the group's last sound plus a quarter note.
TEST(ReSendTimes, SamePatchOnTheSameChannelNeedsNoSwitch)
{
    GroupSong g;
    Track& first = g.Add(2, 9, 0);
    Track& second = g.Add(2, 9, 0);
    Track& silent = g.Add(2, 9, 8); // no notes
    first.events = {SongEvent::Note(0, 9, 36, 100, 10), SongEvent::Note(100, 9, 36, 100, 10)};
    second.events = {SongEvent::Note(50, 9, 38, 100, 100)};
    g.Compute(1);
    EXPECT_EQ(first.reSendTimes, (std::vector<int32_t>{0}));
    EXPECT_EQ(second.reSendTimes, (std::vector<int32_t>{150 + 120}));
    EXPECT_EQ(silent.reSendTimes, (std::vector<int32_t>{150 + 120}));
}

TEST(ReSendTimes, LoneTracksGetTimeZeroWhenAnyInitialValueIsSet)
{
    const struct {
        const char* what;
        void (*set)(Track&);
        std::vector<int32_t> expected;
    } cases[] = {
        {"nothing set", [](Track&) {}, {}},
        {"only a bend range", [](Track& t) { t.initialParameters[ParamBendRange] = 256; }, {0}},
        {"only a brightness", [](Track& t) { t.initial[InitBrightness] = 20; }, {0}},
        {"only a destination range", [](Track& t) { t.destinations[2] = 40; }, {0}},
        {"volume", [](Track& t) { t.initial[InitVolume] = 100; }, {0}},
        {"patch, alone on its channel", [](Track& t) { t.initial[InitPatch] = 3, t.outputChannel = 5; }, {0}},
        {"audio track: its volume is saved", [](Track& t) { t.kind = 1, t.initial[InitVolume] = 3; }, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GroupSong g;
        Track& track = g.Add(0, 0, -1);
        g.Add(0, 0, 7).events.push_back(SongEvent::Note(0, 0, 60, 100, 10)); // a patch track on the channel
        c.set(track);
        track.reSendTimes = {77}; // stale
        EXPECT_EQ(g.Compute(1), std::vector<int>{1});
        EXPECT_EQ(track.reSendTimes, c.expected);
    }
}

TEST(ReSendTimes, LoneTrackWithOnlyABendRangeKeepsItInTheImage)
{
    GroupSong g;
    Track& track = g.Add(0, 4, -1);
    track.initialParameters[ParamBendRange] = 12 * 128;
    track.events.push_back(SongEvent::Note(10, 4, 60, 100, 10));
    g.Compute(1);
    EXPECT_EQ(Encode(track),
              (Lines{"0:b4 101 0", "0:b4 100 0", "0:b4 6 12", "0:b4 38 0", "10:94 60 100", "20:94 60 0"}));
}

} // namespace
} // namespace cantivo
