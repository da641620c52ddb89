#include "song/MidiFileReader.h"

#include "song/AtomicFile.h"
#include "song/OpenSong.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/SongSettingsFile.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using Timed = std::pair<int64_t, Bytes>; // an event's bytes at an absolute tick

void PutVarLen(Bytes& out, uint64_t value)
{
    for (int shift = 28; shift > 0; shift -= 7)
        if (value >> shift)
            out.push_back(static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(value & 0x7F);
}

// One track chunk's contents, the deltas worked out from the events' ticks; closed by an end of track at
// the last event's tick unless `end` is false.
Bytes Chunk(std::vector<Timed> events, bool end = true)
{
    if (end)
        events.emplace_back(events.empty() ? 0 : events.back().first, Bytes{0xFF, 0x2F, 0x00});
    Bytes out;
    int64_t last = 0;
    for (const auto& [time, bytes] : events) {
        PutVarLen(out, static_cast<uint64_t>(time - last));
        last = time;
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

Bytes Meta(uint8_t type, const Bytes& body)
{
    Bytes out = {0xFF, type};
    PutVarLen(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
Bytes Text(uint8_t type, const std::string& text)
{
    return Meta(type, Bytes(text.begin(), text.end()));
}
// A record of the program's own: 'c' 'v', subtype, values.
Bytes Program(uint8_t subtype, Bytes values)
{
    values.insert(values.begin(), {'c', 'v', subtype});
    return Meta(0x7F, values);
}
Timed At(int64_t time, Bytes bytes)
{
    return {time, std::move(bytes)};
}
template <typename... Byte> Timed At(int64_t time, Byte... bytes)
{
    return {time, Bytes{static_cast<uint8_t>(bytes)...}};
}

Bytes Smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks, int announced = -1)
{
    const auto count = static_cast<uint16_t>(announced < 0 ? tracks.size() : static_cast<size_t>(announced));
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (const uint16_t word : {format, count, division})
        out.insert(out.end(), {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)});
    for (const Bytes& track : tracks) {
        const auto size = static_cast<uint32_t>(track.size());
        out.insert(out.end(), {'M', 'T', 'r', 'k', static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                               static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

// The RIFF wrapper: "RMID", an INFO list, then the MIDI file in a "data" chunk, padded to even length.
Bytes Rmid(const Bytes& midi)
{
    Bytes out = {'R', 'I', 'F', 'F', 0,   0,   0,   0,   'R', 'M', 'I', 'D', 'L', 'I', 'S', 'T',
                 4,   0,   0,   0,   'I', 'N', 'F', 'O', 'd', 'a', 't', 'a', 0,   0,   0,   0};
    out.insert(out.end(), midi.begin(), midi.end());
    if (midi.size() % 2)
        out.push_back(0);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<uint8_t>((out.size() - 8) >> (8 * i));
        out[28 + i] = static_cast<uint8_t>(midi.size() >> (8 * i));
    }
    return out;
}

Bytes Conductor()
{
    return Chunk({At(0, Meta(0x51, {0x07, 0xA1, 0x20}))});
}

// Each event as "time:status data1 data2 length" (status in hex), with the spelling when it has one.
Lines Listed(const Track& track)
{
    Lines lines;
    for (const SongEvent& e : track.events) {
        std::ostringstream out;
        out << e.time << ':' << std::hex << int{e.Status()} << std::dec << ' ' << int{e.Data1()} << ' '
            << int{e.Data2()} << ' ' << e.length;
        if (e.spelling != -1 || e.notation)
            out << " spelled " << int{e.spelling} << '/' << int{e.notation};
        lines.push_back(out.str());
    }
    return lines;
}

// The settings in which a track differs from an empty one read from a file, as "name=value" words.
std::string Settings(const Track& t)
{
    static const char* const names[] = {"kind", "play", "port",     "channel", "inPort", "inChannel",
                                        "key",  "time", "velocity", "clef",    "split",  "destController"};
    static int32_t Track::*const fields[] = {&Track::kind,          &Track::play,       &Track::outputPort,
                                             &Track::outputChannel, &Track::inputPort,  &Track::inputChannel,
                                             &Track::keyOffset,     &Track::timeOffset, &Track::velocityOffset,
                                             &Track::defaultClef,   &Track::splitKey,   &Track::destinationController};
    static const char* const slots[] = {"bank",   "patch",   "pan",      "volume",    "portamento", "delay",
                                        "reverb", "chorus",  "bright",   "resonance", "attack",     "release",
                                        "decay",  "vibRate", "vibDepth", "vibDelay"};
    static const char* const parameters[] = {"modRange", "fineTune", "coarseTune", "bendRange"};
    Track plain;
    plain.name = "(Untitled)";
    std::ostringstream out;
    const auto put = [&](const std::string& what, auto value, auto base) {
        if (value != base)
            out << what << '=' << value << ' ';
    };
    put("name", t.name, plain.name);
    for (size_t i = 0; i < std::size(fields); ++i)
        put(names[i], t.*fields[i], plain.*fields[i]);
    if (t.colour != plain.colour)
        out << "colour=" << std::hex << t.colour << std::dec << ' ';
    for (int i = 0; i < InitialSlotCount; ++i)
        put(slots[i], t.initial[i], plain.initial[i]);
    for (int i = 0; i < ParameterSlotCount; ++i)
        put(parameters[i], t.initialParameters[i], plain.initialParameters[i]);
    for (size_t i = 0; i < t.destinations.size(); ++i)
        put("dest" + std::to_string(i), t.destinations[i], plain.destinations[i]);
    std::string text = out.str();
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

using CueRow = std::tuple<int32_t, std::string, int32_t, int32_t, int32_t>; // kind, label, count, stop, restart
std::vector<CueRow> Cues(const Song& song)
{
    std::vector<CueRow> rows;
    for (const auto& c : song.cues)
        rows.emplace_back(c->kind, c->label, c->count, c->stopAt, c->restartAt);
    return rows;
}

// The notices of a read as "icon: text" lines (W warning, I information, E error, Q question).
Lines Noticed(const ReadResult& result)
{
    Lines lines;
    for (const ReadNotice& notice : result.notices)
        lines.push_back(std::string(1, "QIWE"[static_cast<int>(notice.icon)]) + ": " + notice.text);
    return lines;
}

class ReaderTest : public ::testing::Test {
  protected:
    bool Read(const Bytes& bytes)
    {
        last = ReadSongFromBytes(song, bytes.data(), bytes.size());
        return last.ok;
    }
    bool ReadTracks(const std::vector<Bytes>& tracks, uint16_t format = 1, uint16_t division = 120)
    {
        return Read(Smf(format, division, tracks));
    }
    Track& UserTrack(int number) { return *song.tracks.at(static_cast<size_t>(number)); }

    test::TestContext context;
    Song song{context.Context()};
    ReadResult last;
};

// ---- Container and header ----

// Every damaged container or header fails, leaving the song empty and not loaded.
TEST_F(ReaderTest, DamagedContainersAndHeadersFailWithAnEmptySong)
{
    const Bytes good = Smf(1, 120, {Conductor()});
    const auto patched = [](Bytes bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"MThd alone", {'M', 'T', 'h', 'd'}},
        {"header length 5", patched(good, 7, 5)},
        {"header length past the track", patched(good, 7, 16)},
        {"zero tracks announced", Smf(1, 120, {}, 0)},
        {"more tracks announced than present", Smf(1, 120, {Conductor()}, 2)},
        {"wrong track chunk id", patched(good, 14, 'X')},
        {"track chunk longer than the file", patched(good, 21, static_cast<uint8_t>(good[21] + 1))},
        {"division 0", Smf(1, 0, {Conductor()})},
        {"SMPTE division with a rate that does not exist", Smf(0, 0xF060, {Conductor()})},
        {"SMPTE division with no ticks per frame", Smf(0, 0xE700, {Conductor()})},
        {"RMID without a data chunk", patched(Rmid(good), 24, 'D')},
        {"more tracks than the song can hold", Smf(1, 120, std::vector<Bytes>(252, Chunk({})))},
    };
    Lines notices;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(Read(c.bytes));
        EXPECT_TRUE(song.tracks.empty());
        EXPECT_TRUE(song.measures.empty());
        EXPECT_FALSE(song.loaded);
        for (const std::string& line : Noticed(last))
            notices.push_back(line);
    }
    // Only the track limit says more than that the file is damaged, and it is left to the caller.
    EXPECT_EQ(notices,
              Lines{"E: The song announces 251 tracks; a song holds at most 250 besides the conductor track."});
    EXPECT_TRUE(context.prompter.messages.empty());
}

// ---- Conductor track ----

TEST_F(ReaderTest, TemposAtOneTickMergeAndRepeatsAddNothing)
{
    ASSERT_TRUE(ReadTracks({Chunk({At(0, Meta(0x51, {0x09, 0x27, 0xC0})),         // 600000 replaces the default at 0
                                   At(480, Meta(0x51, {0x09, 0x27, 0xC0})),       // same tempo: no entry
                                   At(960, Meta(0x51, {0x06, 0x1A, 0x80})),       // 400000
                                   At(960, Meta(0x51, {0x04, 0x93, 0xE0})),       // 300000 at the same tick wins
                                   At(1200, Meta(0x51, {0x00, 0x00, 0x00}))})})); // tempo 0 is ignored
    const auto& entries = song.tempoMap.entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].microsecondsPerQuarter, 600000u);
    EXPECT_EQ(entries[1].tick, 960);
    EXPECT_EQ(entries[1].microsecondsPerQuarter, 300000u);
    EXPECT_DOUBLE_EQ(entries[1].absolute, 960 * 600000.0 / 120);
}

TEST_F(ReaderTest, TimeSignatureLimitsClocksPerClickAndSetsTheMeasureLength)
{
    const struct {
        Bytes body;
        int numerator, denominator, clocks, thirtySeconds, length;
    } cases[] = {
        {{6, 3, 36, 8}, 6, 8, 36, 8, 360},  // 6/8 keeps 36 (limit 72), three quarters long
        {{6, 3, 1, 8}, 6, 8, 2, 8, 360},    // too few clocks become 2
        {{6, 3, 200, 8}, 6, 8, 72, 8, 360}, // too many are held to numerator × 96 ÷ denominator
        {{3, 2, 24, 0}, 3, 4, 24, 8, 360},  // 32nds 0 become 8
        {{0, 2, 24, 8}, 4, 4, 24, 8, 480},  // no beats: not a meter
        {{4, 9, 24, 8}, 4, 4, 24, 8, 480},  // 2^9 does not fit the table
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.numerator);
        ASSERT_TRUE(ReadTracks({Chunk({At(0, Meta(0x58, c.body))})}));
        ASSERT_FALSE(song.measures.empty());
        const Measure& m = song.measures[0];
        EXPECT_EQ(std::tie(m.numerator, m.denominator, m.clocksPerClick, m.thirtySecondsPerQuarter, m.length),
                  std::tie(c.numerator, c.denominator, c.clocks, c.thirtySeconds, c.length));
    }
}

// Labels number the measures up to the next label; a key change inside a measure starts a record of its
// own and the measures after it are laid out again, end to end.
TEST_F(ReaderTest, MeterAndKeyRecordsFillTheirGapsAndLabelsNumberMeasures)
{
    ASSERT_TRUE(ReadTracks(
        {Chunk({At(0, Program(20, {'1', '2', 'a'})), At(480, Program(20, {'b'})), At(960, Meta(0x58, {3, 2, 24, 8})),
                At(2040, Meta(0x59, {0xFD, 1})),   // 3 flats, minor, in the fourth 3/4 measure
                At(2400, Meta(0x59, {9, 0}))})})); // more than 7 sharps: 7
    Lines measures;
    for (const Measure& m : song.measures)
        measures.push_back(std::to_string(m.start) + "+" + std::to_string(m.length) + " " + std::to_string(m.number) +
                           (m.letter ? std::string(1, m.letter) : "") + " " + std::to_string(m.numerator) + "/" +
                           std::to_string(m.denominator) + " key " + std::to_string(m.key) + "/" +
                           std::to_string(m.mode));
    EXPECT_EQ(measures, (Lines{"0+480 12A 4/4 key 0/0", "480+480 0B 4/4 key 0/0", "960+360 1 3/4 key 0/0",
                               "1320+360 2 3/4 key 0/0", "1680+360 3 3/4 key 0/0", "2040+360 4 3/4 key -3/1",
                               "2400+360 5 3/4 key 7/0"}));
}

// The last of several titles is the subtitle; the first text is the author and later ones join the memo,
// each cut at its limit; "||" gives a vamp label its count.
TEST_F(ReaderTest, ConductorTextsMarkersCuesAndOffset)
{
    Bytes vamp = {3, 0x60, 0x03, 0, 0}; // span 480
    for (char c : std::string("2||Chorus"))
        vamp.push_back(static_cast<uint8_t>(c));
    ASSERT_TRUE(ReadTracks(
        {Chunk({At(0, Text(3, "Title")), At(0, Text(3, "Sub one")), At(0, Text(3, "Sub two")), At(0, Text(1, "Author")),
                At(0, Text(1, "Memo ")), At(0, Text(1, std::string(150, 'x'))), At(0, Text(2, "(c) Someone")),
                At(0, Meta(0x54, {0x60 | 1, 2, 3, 4, 5})), At(480, Text(6, "Verse")), At(1920, Program(22, vamp)),
                At(1920, Program(22, {5, 0x3C, 0, 0, 0, 'A'})), // ad lib, span 60
                At(1920, Program(22, {12, 1, 0, 0, 0})),        // unknown kind: dropped
                At(1920, Program(21, {1, 2})),                  // unknown subtype: dropped
                At(1920, Text(5, "lyric"))})}));                // kept as an event
    EXPECT_EQ(song.title, "Title");
    EXPECT_EQ(song.subtitle, "Sub two");
    EXPECT_EQ(song.author, "Author");
    EXPECT_EQ(song.memo, "Memo " + std::string(99, 'x'));
    EXPECT_EQ(song.copyright, "(c) Someone");
    EXPECT_EQ(std::tie(song.smpteOffset.rateCode, song.smpteOffset.hours, song.smpteOffset.subframes),
              std::make_tuple(3, 1, 5));
    EXPECT_EQ(Cues(song), (std::vector<CueRow>{{CueMarker, "Verse", 0, 480, 480},
                                               {CueVamp, "Chorus", 2, 1920, 1440},
                                               {CueAdLib, "A", 0, 1860, 1920}}));
    EXPECT_EQ(Listed(*song.tracks[0]), Lines{"1920:ff 5 0 5"});
}

// ---- User tracks ----

// Each row: one user track's bytes, the settings the reader takes from them and the events it keeps.
TEST_F(ReaderTest, UserTrackSettingsFoldAndEventsStay)
{
    const struct {
        const char* what;
        std::vector<Timed> events;
        std::string settings;
        Lines kept;
    } cases[] = {
        {"first program is the patch with its bank; a repeat of program and bank is dropped",
         {At(0, 0xB3, 0, 1), At(0, 0xB3, 32, 2), At(0, 0xC3, 5), At(0, 0x93, 60, 90), At(10, 0x83, 60, 0),
          // the same program and bank again is dropped; on another bank, or another program, it is kept
          At(20, 0xC3, 5), At(30, 0xB3, 32, 3), At(30, 0xC3, 5), At(40, 0xC3, 7)},
         "channel=3 bank=130 patch=5",
         {"0:93 60 90 10", "30:c3 5 0 131", "40:c3 7 0 131"}},
        {"controllers fold only before the first note; repeated values are dropped",
         {At(0, 0xB0, 7, 100), At(0, 0xB0, 10, 30), At(0, 0x90, 60, 90), At(10, 0x80, 60, 0), At(20, 0xB0, 7, 100),
          // a first reverb after a note is an event, like a controller that is no initial value
          At(30, 0xB0, 7, 90), At(40, 0xB0, 91, 40), At(50, 0xB0, 1, 64)},
         "pan=30 volume=100",
         {"0:90 60 90 10", "30:b0 7 90 0", "40:b0 91 40 0", "50:b0 1 64 0"}},
        {"registered parameters before the first note are settings, after it events",
         {// bend range 2 semitones 50 cents, then the same as an event, an increment, NRPN 136 and a decrement
          At(0, 0xB0, 101, 0), At(0, 0xB0, 100, 0), At(0, 0xB0, 6, 2), At(0, 0xB0, 38, 64), At(0, 0x90, 60, 90),
          At(10, 0x80, 60, 0), At(20, 0xB0, 101, 0), At(20, 0xB0, 100, 0), At(20, 0xB0, 6, 2), At(20, 0xB0, 38, 5),
          At(30, 0xB0, 96, 0), At(40, 0xB0, 99, 1), At(40, 0xB0, 98, 8), At(40, 0xB0, 6, 64), At(50, 0xB0, 97, 0),
          // the null parameter is dropped
          At(60, 0xB0, 101, 127), At(60, 0xB0, 100, 127), At(60, 0xB0, 6, 1)},
         "bendRange=320",
         {"0:90 60 90 10", "20:10 0 0 261", "30:10 0 0 " + std::to_string(ParamIncrement), "40:20 136 0 8192",
          "50:20 136 0 " + std::to_string(ParamDecrement)}},
        {"offset records: notes read 3 semitones lower (key 1 folds up to 10), 20 ticks earlier, 10 softer",
         {At(0, Program(36, {0x83})), At(0, Program(38, {0x80 + 10})), At(0, Program(37, {20, 0x80})),
          At(20, 0x90, 63, 100), At(20, Program(0, {63, 0x24})), // the spelling of the written key
          At(30, 0x90, 1, 5), At(40, 0x80, 63, 0), At(40, 0x80, 1, 0)},
         "key=3 time=20 velocity=10",
         {"0:90 60 90 20 spelled 3/1", "10:90 10 1 10"}},
        {"track setting records name, ports, clef, split, colour and mute",
         {At(0, Text(1, "Piano")), At(0, Meta(0x21, {20})), At(0, Program(31, {3})), At(0, Program(32, {40})),
          At(0, Program(33, {2})), At(0, Program(34, {72})), At(0, Program(35, {0x10, 0xE0, 0x10})),
          // the old default colour reads as today's; a colour of the wrong length and a port not at 0 are
          // dropped, an unknown record and a text not at 0 are kept
          At(0, Program(39, {0})), At(0, Program(35, {1, 2})), At(0, Program(50, {1})), At(10, Text(1, "A text")),
          At(10, Meta(0x21, {3}))},
         "name=Piano play=0 port=15 inPort=3 inChannel=15 clef=2 split=12",
         {"0:ff 127 0 4", "10:ff 1 0 6"}},
        {"destination records, length-less as older saves wrote them, are settings; other sysex stays",
         {At(0, 0xF0, 0x7F, 0x7F, 0x09, 0x01, 0x00, 0, 40, 2, 50, 9, 1, 0xF7),
          At(0, 0xF0, 0x7F, 0x7F, 0x09, 0x03, 0x00, 11, 1, 60, 0xF7), At(0, 0xF0, 0x06, 0x7F, 0x7F, 0x09, 0x01, 0xF7)},
         "destController=11 dest0=40 dest2=50 dest13=60",
         {"0:f0 0 0 7"}},
        // Another program's track: only its output channel's first program and controllers are its sound
        // (a message for another channel would move there), and a bank is what a bank select chose.
        {"another program's track folds only its output channel's first values",
         {At(0, 0xC2, 36), At(0, 0xB0, 0, 1), At(0, 0xC0, 5), At(0, 0xB3, 7, 99), At(0, 0xB0, 7, 90),
          // a block marker without the track marker is dropped; the next item folds as usual
          At(0, Program(41, {1})), At(0, 0xB0, 10, 20), At(5, 0x90, 60, 90), At(10, 0x80, 60, 0), At(30, 0xC0, 6)},
         "bank=128 patch=5 pan=20 volume=90",
         {"0:c2 36 0 -1", "0:b3 7 99 0", "5:90 60 90 5", "30:c0 6 0 128"}},
        {"without notes the channel prefix names the channel", {At(0, Meta(0x20, {9}))}, "channel=9", {"0:ff 32 0 1"}},
        {"a lone program names the channel and selects no bank", {At(0, 0xC4, 3)}, "channel=4 patch=3", {}},
        // A track this program saved: ProgramMeta 40 among its settings, each initial block after ProgramMeta
        // 41 with the count of its items; the channel prefix right after the marker names the output channel.
        {"a saved track takes its initial values from its first block alone",
         {// the marker and the prefix; a controller before any block is an event
          At(0, Text(3, "Saved")), At(0, Program(40, {})), At(0, Meta(0x20, {3})), At(0, 0xB3, 7, 50),
          // a block of six items, then a controller past the count and destination records outside a block,
          // in the standard and the older layout
          At(0, Program(41, {6})), At(0, 0xB3, 0, 1), At(0, 0xB3, 32, 2), At(0, 0xC3, 9), At(0, 0xB3, 7, 100),
          At(0, 0xB3, 91, 0), At(0, 0xF0, 9, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 40, 0xF7), At(0, 0xB3, 10, 30),
          At(0, 0xF0, 9, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 50, 0xF7), At(0, 0xF0, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 60, 0xF7),
          At(0, Text(1, "a text, not the name")), At(10, 0x95, 60, 90), At(20, 0x85, 60, 0),
          // a later block is dropped; no bank is selected on channel 2; a repeat and another prefix are events
          At(30, Program(41, {2})), At(30, 0xB3, 7, 1), At(30, 0xC3, 1), At(40, 0xC1, 4), At(40, 0xB3, 7, 50),
          At(50, Meta(0x20, {7}))},
         "name=Saved channel=3 bank=130 patch=9 volume=100 reverb=0 dest0=40",
         {"0:b3 7 50 0", "0:b3 10 30 0", "0:f0 0 0 10", "0:f0 0 0 9", "0:ff 1 0 20", "10:95 60 90 10", "40:c1 4 0 -1",
          "40:b3 7 50 0", "50:ff 32 0 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ReadTracks({Conductor(), Chunk(c.events)}));
        EXPECT_EQ(Settings(UserTrack(1)), c.settings);
        EXPECT_EQ(Listed(UserTrack(1)), c.kept);
    }
}

// Clips open through the song's audio backend: one that opens stays, one that does not is reported.
class OneFileAudio final : public AudioFiles {
  public:
    struct File final : AudioFile {
        uint32_t LengthMs() const override { return 2000; }
        WaveFormat Format() const override { return {}; }
        bool WriteCopy(const std::string&, std::string&) const override { return false; }
    };
    std::unique_ptr<AudioFile> Open(const std::string& path, uint32_t& errorCode) override
    {
        if (path == "/songs/WaveData/0000abcd.wav")
            return std::make_unique<File>();
        errorCode = 0x80030002;
        return nullptr;
    }
};

TEST_F(ReaderTest, AudioTracksKeepOnlyClipsThatOpen)
{
    OneFileAudio audio;
    SongContext withAudio = context.Context();
    withAudio.audio = &audio;
    Song clipSong(withAudio);
    clipSong.SetPathName("/songs/show.mid");
    const Bytes bytes =
        Smf(1, 120,
            {Conductor(), Chunk({At(0, Program(30, {1})), At(0, 0xC0, 4), At(0, Text(7, "WaveData\\0000abcd.wav")),
                                 At(480, Text(7, "/elsewhere/missing.wav")), At(500, 0x90, 60, 1)})});
    const ReadResult result = ReadSongFromBytes(clipSong, bytes.data(), bytes.size());
    ASSERT_TRUE(result);
    const Track& track = *clipSong.tracks[1];
    EXPECT_TRUE(track.IsAudio());
    EXPECT_EQ(track.initial[InitPatch], -1);
    ASSERT_EQ(track.events.size(), 1u);
    ASSERT_TRUE(track.events[0].IsAudioClip());
    EXPECT_EQ(track.events[0].ClipData()->fileName, "/songs/WaveData/0000abcd.wav");
    EXPECT_EQ(Noticed(result), Lines{"W: Trouble opening audio clip /elsewhere/missing.wav: 80030002"});
    EXPECT_TRUE(context.prompter.messages.empty());
}

TEST_F(ReaderTest, FormatZeroSplitsByChannelAndSaysSo)
{
    song.SetPathName("/songs/zero.mid");
    // How each channel's messages fold into its track is compared on the corpus's format-0 files.
    ASSERT_TRUE(ReadTracks({Chunk({At(0, 0x90, 60, 100), At(0, 0x99, 36, 100),
                                   At(0, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7), At(60, 0x89, 36, 0)})},
                           0));
    EXPECT_EQ(song.fileFormat, 1);
    EXPECT_EQ(song.tracks.size(), 12u); // conductor, channels 1-10, trailing
    EXPECT_EQ(Listed(*song.tracks[0]), Lines{"0:f0 0 0 7"});
    const std::string note = "NOTE: If saved, /songs/zero.mid will be converted from MIDI format 0 to 1.";
    EXPECT_EQ(Noticed(last), Lines{"I: " + note});

    // Only a single chunk is split: formats 0 and 2 with several chunks read as laid out, silently;
    // format 2 is kept for the save.
    const Bytes track = Chunk({At(0, 0x95, 60, 90), At(10, 0x85, 60, 0)});
    for (const uint16_t format : {0, 2}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(ReadTracks({Conductor(), track}, format));
        EXPECT_EQ(song.fileFormat, format == 2 ? 2 : 1);
        ASSERT_EQ(song.tracks.size(), 3u);
        EXPECT_EQ(UserTrack(1).outputChannel, 5);
        EXPECT_EQ(Listed(UserTrack(1)), Lines{"0:95 60 90 10"});
        EXPECT_TRUE(last.notices.empty());
    }
    EXPECT_TRUE(context.prompter.messages.empty());
}

// ---- Damaged chunks: what came before the damage stays; escaped packets are stepped over ----

TEST_F(ReaderTest, DamageInsideAChunkEndsItKeepingEarlierEvents)
{
    const auto withTail = [](Bytes tail) {
        Bytes chunk = Chunk({At(0, 0x90, 60, 90), At(10, 0x80, 60, 0)}, false);
        chunk.insert(chunk.end(), tail.begin(), tail.end());
        return Smf(1, 120, {Conductor(), chunk});
    };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"no end of track after the last event", withTail({})},
        {"no end of track after the last event, in running status", withTail({0x00, 60, 0})},
        {"truncated note", withTail({0x00, 0x90, 62})},
        {"data byte with no running status after a meta", withTail({0x00, 0xFF, 0x21, 0x01, 0x00, 0x00, 0x40, 0x40})},
        {"meta longer than the chunk", withTail({0x00, 0xFF, 0x01, 0x7F, 'a'})},
        {"sysex without F7", withTail({0x00, 0xF0, 0x01, 0x02})},
        {"five-byte delta", withTail({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 62, 1})},
        {"status byte as data", withTail({0x00, 0x90, 62, 0x90})},
        {"system common status", withTail({0x00, 0xF2, 0x00, 0x00})},
        {"chunk ends inside a delta", withTail({0x81})},
        {"escaped sysex packet, stepped over", withTail({0x00, 0xF7, 0x02, 0x43, 0x12, 0x00, 0xFF, 0x2F, 0x00})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Read(c.bytes));
        EXPECT_EQ(Listed(UserTrack(1)), Lines{"0:90 60 90 10"});
    }
}

// A standard message ends where its length says when an F7 stands there, even if its length field holds
// an F7 (15232 to 15359 bytes); the program's own records, which carry no length, end at their first F7.
TEST_F(ReaderTest, SysexEndsAtItsDeclaredLengthWhenThatEndsOnF7)
{
    const auto standard = [](size_t length, uint8_t fill) {
        Bytes message = {0xF0};
        PutVarLen(message, length);
        message.insert(message.end(), length - 1, fill);
        message.push_back(0xF7);
        return message;
    };
    const Bytes big = standard(15300, 0x43); // its length is F7 44
    ASSERT_EQ(big[1], 0xF7);
    // After the 9-byte record, this message's F7 is where the record's first data byte, read as a
    // length (127), would end it.
    const Bytes own = {0xF0, 0x7F, 0x7F, 0x09, 0x01, 0x00, 0x00, 0x40, 0xF7};
    const struct {
        const char* what;
        std::vector<Timed> events;
        Lines kept;
    } cases[] = {
        {"length field holding F7",
         {At(0, big), At(10, 0x90, 60, 90), At(20, 0x80, 60, 0)},
         {"0:f0 0 0 15303", "10:90 60 90 10"}},
        {"own record before a message ending at its would-be length",
         {At(0, own), At(0, standard(117, 0x11)), At(10, 0x90, 60, 90), At(20, 0x80, 60, 0)},
         {"0:f0 0 0 119", "10:90 60 90 10"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ReadTracks({Conductor(), Chunk(c.events)}));
        EXPECT_EQ(Listed(UserTrack(1)), c.kept);
        // The kept message is the whole of the last one written before the note.
        const SongEvent& sysex = UserTrack(1).events.at(0);
        const Bytes& written = c.events[c.events.size() - 3].second;
        EXPECT_TRUE(Bytes(sysex.Data(), sysex.Data() + sysex.length) == written) << "the kept message differs";
    }
}

// The playback engine walks a const image from a saved position: a copied cursor resumes where it was.
TEST(RawEventReader, ACopiedCursorResumesAtItsEvent)
{
    const Bytes image = Chunk({At(0, 0x90, 60, 90), At(5, 0xB0, 7, 100), At(9, 60, 0), At(12, 0xC0, 3)});
    const RawEventReader reader(image);
    RawReadState cursor;
    reader.Start(cursor);
    RawEvent event;
    ASSERT_TRUE(reader.Next(cursor, event));
    const RawReadState saved = cursor;
    Lines first;
    Lines again;
    for (Lines* into : {&first, &again}) {
        RawReadState walk = saved;
        while (reader.Next(walk, event))
            into->push_back(std::to_string(event.time) + ":" + std::to_string(event.status) + " " +
                            std::to_string(event.data1) + " " + std::to_string(event.data2));
        EXPECT_EQ(walk.nextEventTime, NoEventLeft);
    }
    EXPECT_EQ(first, (Lines{"5:176 7 100", "9:176 60 0", "12:192 3 0"}));
    EXPECT_EQ(again, first);
}

// The measure table grows with the song's end, so an end no real song reaches is refused.
TEST_F(ReaderTest, AnEndBeyondAnyRealSongIsRefused)
{
    // Division 1 and an event at tick 2^27: half a million 4/4 measures of four ticks.
    EXPECT_FALSE(ReadTracks({Conductor(), Chunk({At(0x7FFFFFF, 0x90, 60, 1)})}, 1, 1));
    EXPECT_TRUE(song.tracks.empty());
    // Times that would leave the tick range end the chunk instead of wrapping.
    std::vector<Timed> far;
    for (int64_t i = 1; i <= 20; ++i)
        far.push_back(At(i * 0x0FFFFFFF, 0x90, 60, 1));
    EXPECT_FALSE(ReadTracks({Conductor(), Chunk(far, false)}, 1, 1));
    EXPECT_TRUE(ReadTracks({Conductor(), Chunk(far, false)}, 1, 0x7FFF));
    ASSERT_FALSE(UserTrack(1).events.empty());
    EXPECT_GT(UserTrack(1).events.back().time, 0);
}

// ---- Files on disk: empty songs, recovery, settings ----

class ReaderFileTest : public ReaderTest {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-reader-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(folder, error);
    }
    std::string Path(const std::string& name) const { return (folder / name).string(); }
    static void Write(const std::string& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes Titled(const std::string& title, const std::vector<Bytes>& more = {})
    {
        std::vector<Bytes> tracks = {Chunk({At(0, Text(3, title))})};
        tracks.insert(tracks.end(), more.begin(), more.end());
        return Smf(1, 120, tracks);
    }

    fs::path folder;
};

TEST_F(ReaderFileTest, EmptyFileOpensAsANewSongAndAMissingOneFails)
{
    context.profile.WriteInt("SongDefaults", "Timebase", 96);
    Write(Path("empty.mid"), {});
    ASSERT_TRUE(ReadSong(song, Path("empty.mid")));
    EXPECT_TRUE(song.loaded);
    EXPECT_EQ(song.timebase, 96);
    EXPECT_EQ(song.tracks.size(), 2u);
    EXPECT_FALSE(ReadSong(song, Path("missing.mid")));
    EXPECT_TRUE(song.tracks.empty());
    EXPECT_FALSE(ReadSong(song, folder.string()));
}

// Yes opens the autosaved copy once it reads, keeping the old song as its backup; a damaged copy costs
// nothing. No deletes the copy; with no one to answer, every file stays.
TEST_F(ReaderFileTest, RecoveryOpensAReadableCopyAndNeverLosesTheSong)
{
    const std::string songPath = Path("Song.MID");
    const std::string question = "AutoRecover files were found for " + songPath + "--do you want to open them instead?";
    const Bytes original = Titled("Original");
    const Bytes good = Titled("Recovered");
    const Bytes damaged = {'M', 'T', 'h', 'd', 0, 0};
    const std::string damagedCopy = "The recovered copy " + Path("Song.sav") +
                                    " is damaged, so the saved song is opened instead; " + Path("Song.sav") +
                                    " is kept.";
    const struct {
        const char* what;
        int answer; // 1 Yes, 0 No, -1 nobody answers
        Bytes copy;
        const char* title;
        Bytes songAfter;
        bool copyKept, settingsKept, backup;
        Lines messages;
    } cases[] = {
        {"yes, readable", 1, good, "Recovered", good, false, false, true, {}},
        {"yes, damaged", 1, damaged, "Original", original, true, true, false, {damagedCopy}},
        {"yes, empty", 1, {}, "Original", original, true, true, false, {damagedCopy}},
        {"no", 0, good, "Original", original, false, true, false, {}},
        {"not answered", -1, good, "Original", original, true, true, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(Path("Song.bak"));
        Write(songPath, original);
        Write(Path("Song.sav"), c.copy);
        Write(Path("Song.cv"), {0xFF}); // cut short: applies nothing
        context.prompter.answers = {c.answer == 1};
        context.prompter.questions.clear();
        context.prompter.messages.clear();
        SilentPrompter silent;
        Prompter& prompter = c.answer < 0 ? static_cast<Prompter&>(silent) : context.prompter;
        Song opened(context.Context());
        ASSERT_TRUE(OpenSong(opened, songPath, prompter));
        if (c.answer >= 0) {
            EXPECT_EQ(context.prompter.questions, Lines{question});
        }
        EXPECT_EQ(context.prompter.messages, c.messages);
        EXPECT_EQ(opened.title, c.title);
        EXPECT_EQ(opened.pathName, songPath);
        Bytes songAfter;
        ASSERT_TRUE(ReadFileBytes(songPath, songAfter));
        EXPECT_EQ(songAfter, c.songAfter);
        EXPECT_EQ(fs::exists(Path("Song.sav")), c.copyKept);
        EXPECT_EQ(fs::exists(Path("Song.cv")), c.settingsKept);
        Bytes backup;
        EXPECT_EQ(ReadFileBytes(Path("Song.bak"), backup), c.backup);
        if (c.backup) {
            EXPECT_EQ(backup, original);
        }
    }

    // Reading alone asks nothing and leaves the copy where it is.
    context.prompter.questions.clear();
    Write(Path("Song.sav"), good);
    ASSERT_TRUE(ReadSong(song, songPath));
    EXPECT_EQ(song.title, "Original");
    EXPECT_TRUE(context.prompter.questions.empty());
    EXPECT_TRUE(fs::exists(Path("Song.sav")));
}

// A copy that cannot take the song's place is still opened, and both files stay as they were.
TEST_F(ReaderFileTest, RecoveredCopyThatCannotReplaceTheSongKeepsBothFiles)
{
    struct NoRenames final : SaveFiles {
        std::unique_ptr<FileSink> CreateTemporary(const std::string& target, std::string& tempPath,
                                                  std::string& error) override
        {
            return disk.CreateTemporary(target, tempPath, error);
        }
        bool Exists(const std::string& path) override { return disk.Exists(path); }
        bool Rename(const std::string&, const std::string&, std::string& error) override
        {
            error = "no renames here";
            return false;
        }
        bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) override
        {
            return Rename(from, to, error);
        }
        bool Remove(const std::string& path) override { return disk.Remove(path); }
        std::error_code MoveNoReplace(const std::string&, const std::string&) override
        {
            return std::make_error_code(std::errc::permission_denied);
        }
        std::error_code CopyNoReplace(const std::string& from, const std::string& to) override
        {
            return disk.CopyNoReplace(from, to);
        }
        DiskSaveFiles disk;
    } files;
    const Bytes original = Titled("Original");
    Write(Path("s.mid"), original);
    Write(Path("s.sav"), Titled("Recovered"));
    const ReadResult result = ReadSongRecovering(song, Path("s.mid"), PromptAnswer::Yes, files);
    ASSERT_TRUE(result);
    EXPECT_EQ(song.title, "Recovered");
    ASSERT_EQ(result.notices.size(), 1u);
    EXPECT_NE(result.notices[0].text.find("could not replace " + Path("s.mid")), std::string::npos);
    Bytes songAfter;
    ASSERT_TRUE(ReadFileBytes(Path("s.mid"), songAfter));
    EXPECT_EQ(songAfter, original);
    EXPECT_TRUE(fs::exists(Path("s.sav")));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2) << "no file left over";
}

// A settings archive as older versions wrote it beside the song: little-endian words, counted strings.
struct Archive {
    Archive& Le(int64_t value, int width = 4)
    {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
        return *this;
    }
    Archive& String(const std::string& text)
    {
        bytes.push_back(static_cast<uint8_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    Archive& Cue(const std::string& label, uint32_t kindWord, int32_t stopAt, int32_t restartAt)
    {
        return String(label).Le(kindWord).Le(stopAt).Le(restartAt);
    }
    Bytes bytes;
};

TEST_F(ReaderFileTest, SettingsFileGivesTitleCuesTrackSettingsAndLabels)
{
    Write(Path("old.mid"), Titled("From the file", {Chunk({At(0, Program(36, {0x83})), At(0, 0x90, 63, 100)}),
                                                    Chunk({At(0, 0x90, 60, 100)})}));
    Archive archive;
    archive.String("Old Title.MID").Le(0).Le(5);
    // A vamp given backwards is turned round; a cue before its anchor and a skip backwards are dropped.
    archive.Cue("Loop", 2u << 8 | CueVamp, 960, 1920).Cue("Early", CueFermata, 100, 200);
    archive.Cue("Hold", CueFermata, 2000, 2100).Cue("Bad", CueSkip, 2000, 1900);
    archive.Cue("Odd", 0xFFFFFF00u | CueBreath, 2100, 2000);
    archive.Le(5); // more records than track chunks: three are read
    archive.Le(-2222).Le(0).Le(0).Le(-1).Le(0).Le(0);
    archive.Le(0x10E010).Le(0).Le(0).Le(0).Le(1); // track 0, current layout
    archive.Le(0).Le(0).Le(0).Le(1);              // track 1, old layout
    archive.Le(-(0x1000 | 2222)).Le(1).Le(40).Le(3).Le(1).Le(5).Le(0x123456);
    archive.Le(200).Le(5).Le(-4).Le(0); // track 2
    archive.Le(0).Le(3).Le(7, 2).Le('C', 1).Le(8, 2).Le(0, 1).Le(9, 2).Le(0, 1);
    Write(Path("old.cv"), archive.bytes);
    ASSERT_TRUE(ReadSong(song, Path("old.mid")));

    EXPECT_EQ(song.title, "Old Title");
    EXPECT_EQ(Cues(song), (std::vector<CueRow>{{CueVamp, "Loop", 2, 1920, 960},
                                               {CueFermata, "Hold", 0, 2000, 2100},
                                               {CueBreath, "Odd", -1, 2100, 2000}}));
    // Track 1's old layout gives version 2222: its file events are taken as written, without offsets.
    EXPECT_EQ(Listed(UserTrack(1)), Lines{"0:90 63 100 0"});
    const std::string second =
        "kind=1 play=0 inPort=15 inChannel=3 key=127 time=5 velocity=-4 clef=1 split=5 colour=123456";
    EXPECT_EQ(Settings(UserTrack(2)), second);
    ASSERT_GE(song.measures.size(), 3u);
    EXPECT_EQ(song.measures[0].number, 7);
    EXPECT_EQ(song.measures[0].letter, 'C');
    EXPECT_EQ(song.measures[2].number, 9);
    EXPECT_EQ(song.measures[2].start, 960);
}

TEST_F(ReaderFileTest, DamagedSettingsFilesNeverSpoilTheSong)
{
    Write(Path("s.mid"), Titled("Kept", {Chunk({At(0, 0x90, 60, 100)})}));
    const Bytes cases[] = {
        {},
        {0xFF, 0xFF},                                                       // cut inside the title length
        Archive().String("T").Le(0).Le(0xFFFFFFFF).bytes,                   // cue count past the file
        Archive().String("T").Le(0).Le(0).Le(1).Le(7).bytes,                // cut in a track record
        Archive().String("T").Le(0).Le(0).Le(0).Le(0).Le(0x7FFFFFFF).bytes, // label count past the file
    };
    for (const Bytes& settings : cases) {
        Write(Path("s.cv"), settings);
        ASSERT_TRUE(ReadSong(song, Path("s.mid")));
        EXPECT_EQ(Listed(UserTrack(1)), Lines{"0:90 60 100 0"});
        EXPECT_EQ(song.measures[0].number, 1);
    }
}

TEST(StripKnownExtension, RemovesOnlySongAndSetExtensions)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a/Song.mid", "a/Song"},   {"Song.MIDI", "Song"}, {"x.Kar", "x"},
        {"show.set", "show"},       {"s.smf", "s"},        {"r.RSS", "r"},
        {"wave.wav", "wave.wav"},   {"noext", "noext"},    {"dir.mid/file", "dir.mid/file"},
        {"two.mid.mid", "two.mid"},
    };
    for (const auto& [name, stripped] : cases)
        EXPECT_EQ(StripKnownExtension(name), stripped) << name;
    EXPECT_EQ(SongSettingsPath("/a.b/song"), "/a.b/song.cv");
    EXPECT_EQ(SongSettingsPath("/a/song.mid"), "/a/song.cv");
}

} // namespace
} // namespace cantivo
