#include "song/MidiFileReader.h"

#include "song/Song.h"
#include "song/SongSettingsFile.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Builds one track chunk's contents: events at absolute times, deltas worked out as they are added.
class TrackBytes {
  public:
    TrackBytes& At(int32_t time)
    {
        VarLen(static_cast<uint32_t>(time - last_));
        last_ = time;
        return *this;
    }
    TrackBytes& Raw(std::initializer_list<uint8_t> bytes)
    {
        data.insert(data.end(), bytes);
        return *this;
    }
    TrackBytes& Event(int32_t time, std::initializer_list<uint8_t> bytes) { return At(time).Raw(bytes); }
    TrackBytes& Meta(int32_t time, uint8_t type, const Bytes& body)
    {
        At(time).Raw({0xFF, type});
        VarLen(static_cast<uint32_t>(body.size()));
        data.insert(data.end(), body.begin(), body.end());
        return *this;
    }
    TrackBytes& Text(int32_t time, uint8_t type, const std::string& text)
    {
        return Meta(time, type, Bytes(text.begin(), text.end()));
    }
    // A record of the program's own: 'c' 'v', subtype, values.
    TrackBytes& Program(int32_t time, uint8_t subtype, const Bytes& values)
    {
        Bytes body = {'c', 'v', subtype};
        body.insert(body.end(), values.begin(), values.end());
        return Meta(time, 0x7F, body);
    }
    TrackBytes& End(int32_t time) { return At(time).Raw({0xFF, 0x2F, 0x00}); }
    TrackBytes& VarLen(uint32_t value)
    {
        uint8_t groups[5];
        int count = 0;
        do {
            groups[count++] = value & 0x7F;
            value >>= 7;
        } while (value);
        while (count > 1)
            data.push_back(groups[--count] | 0x80);
        data.push_back(groups[0]);
        return *this;
    }

    Bytes data;

  private:
    int32_t last_ = 0;
};

void PutBig(Bytes& out, uint32_t value, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

Bytes Smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks, int announced = -1)
{
    Bytes out = {'M', 'T', 'h', 'd'};
    PutBig(out, 6, 4);
    PutBig(out, format, 2);
    PutBig(out, announced < 0 ? static_cast<uint32_t>(tracks.size()) : static_cast<uint32_t>(announced), 2);
    PutBig(out, division, 2);
    for (const Bytes& track : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        PutBig(out, static_cast<uint32_t>(track.size()), 4);
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

Bytes Rmid(const Bytes& midi)
{
    Bytes body = {'R', 'M', 'I', 'D', 'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O', 'd', 'a', 't', 'a'};
    const auto size = static_cast<uint32_t>(midi.size());
    body.insert(body.end(), {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)});
    body.insert(body.end(), midi.begin(), midi.end());
    if (midi.size() % 2)
        body.push_back(0);
    Bytes out = {'R', 'I', 'F', 'F'};
    const auto riff = static_cast<uint32_t>(body.size());
    out.insert(out.end(), {uint8_t(riff), uint8_t(riff >> 8), uint8_t(riff >> 16), uint8_t(riff >> 24)});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Conductor()
{
    return TrackBytes().Meta(0, 0x51, {0x07, 0xA1, 0x20}).End(0).data;
}

class ReaderTest : public ::testing::Test {
  protected:
    bool Read(const Bytes& bytes) { return ReadSongFromBytes(song, bytes.data(), bytes.size()); }
    bool ReadTracks(const std::vector<Bytes>& tracks, uint16_t format = 1, uint16_t division = 120)
    {
        return Read(Smf(format, division, tracks));
    }
    Track& UserTrack(int number) { return *song.tracks.at(static_cast<size_t>(number)); }
    static std::vector<const SongEvent*> Notes(const Track& track)
    {
        std::vector<const SongEvent*> notes;
        for (const SongEvent& event : track.events)
            if (event.IsNote())
                notes.push_back(&event);
        return notes;
    }

    test::TestContext context;
    Song song{context.Context()};
};

// ---- Container and header ----

TEST_F(ReaderTest, RmidFileReadsLikeTheMidiFileInsideIt)
{
    const Bytes midi = Smf(1, 96,
                           {TrackBytes().Text(0, 3, "Inner").Meta(0, 0x51, {0x06, 0x1A, 0x80}).End(0).data,
                            TrackBytes().Event(0, {0x91, 60, 100}).Event(96, {0x81, 60, 0}).End(96).data});
    ASSERT_TRUE(Read(midi));
    Song inner(context.Context());
    ASSERT_TRUE(ReadSongFromBytes(inner, midi.data(), midi.size()));
    ASSERT_TRUE(Read(Rmid(midi)));
    EXPECT_EQ(song.title, "Inner");
    EXPECT_EQ(song.timebase, 96);
    ASSERT_EQ(song.tracks.size(), inner.tracks.size());
    ASSERT_EQ(song.tempoMap.entries.size(), 1u);
    EXPECT_EQ(song.tempoMap.entries[0].microsecondsPerQuarter, 400000u);
    ASSERT_EQ(Notes(UserTrack(1)).size(), 1u);
    EXPECT_EQ(Notes(UserTrack(1))[0]->kind, Notes(*inner.tracks[1])[0]->kind);
    EXPECT_EQ(Notes(UserTrack(1))[0]->length, 96);
}

// Every damaged container or header fails, leaving the song empty and not loaded.
TEST_F(ReaderTest, DamagedContainersAndHeadersFailWithAnEmptySong)
{
    const Bytes good = Smf(1, 120, {Conductor()});
    Bytes shortHeader = good;
    shortHeader[7] = 5; // header length 5
    Bytes longHeader = good;
    longHeader[7] = 16; // skips into the track chunk
    Bytes wrongTrackId = good;
    wrongTrackId[14] = 'X';
    Bytes trackTooLong = good;
    trackTooLong[21] += 1;
    Bytes riffWithoutData = Rmid(good);
    riffWithoutData[24] = 'D'; // "data" becomes "Data"
    Bytes tooManyTracks;
    {
        std::vector<Bytes> tracks(252, TrackBytes().End(0).data);
        tooManyTracks = Smf(1, 120, tracks);
    }
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"MThd alone", {'M', 'T', 'h', 'd'}},
        {"header length 5", shortHeader},
        {"header length past the track", longHeader},
        {"zero tracks announced", Smf(1, 120, {}, 0)},
        {"more tracks announced than present", Smf(1, 120, {Conductor()}, 2)},
        {"wrong track chunk id", wrongTrackId},
        {"track chunk longer than the file", trackTooLong},
        {"division 0", Smf(1, 0, {Conductor()})},
        {"SMPTE division with a rate that does not exist", Smf(0, 0xF060, {Conductor()})},
        {"SMPTE division with no ticks per frame", Smf(0, 0xE700, {Conductor()})},
        {"RMID without a data chunk", riffWithoutData},
        {"more tracks than the song can hold", tooManyTracks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(Read(c.bytes));
        EXPECT_TRUE(song.tracks.empty());
        EXPECT_TRUE(song.measures.empty());
        EXPECT_FALSE(song.loaded);
    }
}

TEST_F(ReaderTest, SmpteDivisionKeepsRealTimeAtAFixedTempo)
{
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second; tempo events do not apply.
    ASSERT_TRUE(ReadTracks(
        {TrackBytes().Meta(0, 0x51, {0x07, 0xA1, 0x20}).Event(0, {0x90, 60, 64}).Event(40, {0x90, 60, 0}).End(40).data},
        0, 0xE728));
    EXPECT_EQ(song.timebase, 1000);
    ASSERT_EQ(song.tempoMap.entries.size(), 1u);
    EXPECT_EQ(song.tempoMap.entries[0].microsecondsPerQuarter, 1000000u);
    EXPECT_DOUBLE_EQ(song.TicksToMicroseconds(40), 40000.0);
    ASSERT_EQ(Notes(UserTrack(1)).size(), 1u);
    EXPECT_EQ(Notes(UserTrack(1))[0]->length, 40);
}

// ---- Conductor track ----

TEST_F(ReaderTest, TemposAtOneTickMergeAndRepeatsAddNothing)
{
    ASSERT_TRUE(ReadTracks({TrackBytes()
                                .Meta(0, 0x51, {0x09, 0x27, 0xC0})    // 600000 replaces the default at 0
                                .Meta(480, 0x51, {0x09, 0x27, 0xC0})  // same tempo: no entry
                                .Meta(960, 0x51, {0x06, 0x1A, 0x80})  // 400000
                                .Meta(960, 0x51, {0x04, 0x93, 0xE0})  // 300000 at the same tick wins
                                .Meta(1200, 0x51, {0x00, 0x00, 0x00}) // tempo 0 is ignored
                                .End(1200)
                                .data}));
    const auto& entries = song.tempoMap.entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].tick, 0);
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
        ASSERT_TRUE(ReadTracks({TrackBytes().Meta(0, 0x58, c.body).End(0).data}));
        ASSERT_FALSE(song.measures.empty());
        const Measure& first = song.measures[0];
        EXPECT_EQ(first.numerator, c.numerator);
        EXPECT_EQ(first.denominator, c.denominator);
        EXPECT_EQ(first.clocksPerClick, c.clocks);
        EXPECT_EQ(first.thirtySecondsPerQuarter, c.thirtySeconds);
        EXPECT_EQ(first.length, c.length);
    }
}

TEST_F(ReaderTest, MeterAndKeyRecordsFillTheirGapsAndLabelsNumberMeasures)
{
    ASSERT_TRUE(ReadTracks({TrackBytes()
                                .Program(0, 20, {'1', '2', 'a'})
                                .Program(480, 20, {'b'})
                                .Meta(960, 0x58, {3, 2, 24, 8})
                                .Meta(2040, 0x59, {0xFD, 1}) // 3 flats, minor, in the fourth 3/4 measure
                                .Meta(2400, 0x59, {9, 0})    // more than 7 sharps: 7
                                .End(2400)
                                .data}));
    const auto& m = song.measures;
    ASSERT_GE(m.size(), 7u);
    EXPECT_EQ(m[0].number, 12);
    EXPECT_EQ(m[0].letter, 'A');
    EXPECT_EQ(m[1].number, 0);
    EXPECT_EQ(m[1].letter, 'B');
    EXPECT_EQ(m[2].number, 1); // after the last label: previous + 1
    EXPECT_EQ(m[2].letter, 0);
    EXPECT_EQ(m[3].number, 2);
    EXPECT_EQ(m[2].numerator, 3);
    EXPECT_EQ(m[3].start, 960 + 360);
    EXPECT_EQ(m[3].key, 0);
    // The key change inside a measure becomes a record of its own, laid out again after the others.
    EXPECT_EQ(m[5].key, -3);
    EXPECT_EQ(m[5].mode, 1);
    EXPECT_EQ(m.back().key, 7);
    for (size_t i = 1; i < m.size(); ++i)
        EXPECT_EQ(m[i].start, m[i - 1].End());
}

TEST_F(ReaderTest, ConductorTextsMarkersCuesAndOffset)
{
    const std::string longText(150, 'x');
    Bytes vamp = {3, 0x60, 0x03, 0, 0}; // span 480
    for (char c : std::string("2||Chorus"))
        vamp.push_back(static_cast<uint8_t>(c));
    ASSERT_TRUE(ReadTracks({TrackBytes()
                                .Text(0, 3, "Title")
                                .Text(0, 3, "Sub one")
                                .Text(0, 3, "Sub two")
                                .Text(0, 1, "Author")
                                .Text(0, 1, "Memo ")
                                .Text(0, 1, longText)
                                .Text(0, 2, "(c) Someone")
                                .Meta(0, 0x54, {0x60 | 1, 2, 3, 4, 5})
                                .Text(480, 6, "Verse")
                                .Program(1920, 22, vamp)
                                .Program(1920, 22, {5, 0x3C, 0, 0, 0, 'A'}) // ad lib, span 60
                                .Program(1920, 22, {12, 1, 0, 0, 0})        // unknown kind: dropped
                                .Program(1920, 21, {1, 2})                  // unknown subtype: dropped
                                .Text(1920, 5, "lyric")                     // kept as an event
                                .End(1920)
                                .data}));
    EXPECT_EQ(song.title, "Title");
    EXPECT_EQ(song.subtitle, "Sub two");
    EXPECT_EQ(song.author, "Author");
    EXPECT_EQ(song.memo, "Memo " + std::string(99, 'x'));
    EXPECT_EQ(song.copyright, "(c) Someone");
    EXPECT_EQ(song.smpteOffset.rateCode, 3);
    EXPECT_EQ(song.smpteOffset.hours, 1);
    EXPECT_EQ(song.smpteOffset.subframes, 5);
    ASSERT_EQ(song.cues.size(), 3u);
    EXPECT_EQ(song.cues[0]->kind, CueMarker);
    EXPECT_EQ(song.cues[0]->label, "Verse");
    EXPECT_EQ(song.cues[0]->stopAt, 480);
    const Cue& v = *song.cues[1];
    EXPECT_EQ(v.kind, CueVamp);
    EXPECT_EQ(v.count, 2);
    EXPECT_EQ(v.label, "Chorus");
    EXPECT_EQ(v.stopAt, 1920);
    EXPECT_EQ(v.restartAt, 1440);
    EXPECT_EQ(song.cues[2]->kind, CueAdLib);
    EXPECT_EQ(song.cues[2]->restartAt, 1920);
    EXPECT_EQ(song.cues[2]->stopAt, 1860);
    ASSERT_EQ(song.tracks[0]->events.size(), 1u);
    EXPECT_EQ(song.tracks[0]->events[0].Data1(), 5);
}

// ---- User tracks ----

TEST_F(ReaderTest, FirstProgramIsTheTrackPatchWithItsBankAndRepeatsAreDropped)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Event(0, {0xB3, 0, 1})
                                             .Event(0, {0xB3, 32, 2})
                                             .Event(0, {0xC3, 5})
                                             .Event(0, {0x93, 60, 90})
                                             .Event(10, {0x83, 60, 0})
                                             .Event(20, {0xC3, 5}) // same program and bank: dropped
                                             .Event(30, {0xB3, 32, 3})
                                             .Event(30, {0xC3, 5}) // same program, other bank: kept
                                             .Event(40, {0xC3, 7}) // kept with the bank
                                             .End(40)
                                             .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.initial[InitPatch], 5);
    EXPECT_EQ(track.initial[InitBank], 130);
    EXPECT_EQ(track.outputChannel, 3);
    std::vector<std::pair<int, int>> programs;
    for (const SongEvent& event : track.events)
        if (event.Type() == 0xC0)
            programs.emplace_back(event.Data1(), event.length);
    EXPECT_EQ(programs, (std::vector<std::pair<int, int>>{{5, 131}, {7, 131}}));
}

TEST_F(ReaderTest, InitialControllersFoldIntoTheTrackAndRepeatedValuesAreDropped)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Event(0, {0xB0, 7, 100})
                                             .Event(0, {0xB0, 10, 30})
                                             .Event(0, {0x90, 60, 90})
                                             .Event(10, {0x80, 60, 0})
                                             .Event(20, {0xB0, 7, 100})
                                             .Event(30, {0xB0, 7, 90})
                                             .Event(40, {0xB0, 91, 40}) // first reverb after a note: an event
                                             .Event(50, {0xB0, 1, 64})  // not an initial controller
                                             .End(50)
                                             .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.initial[InitVolume], 100);
    EXPECT_EQ(track.initial[InitPan], 30);
    EXPECT_EQ(track.initial[InitReverb], -1);
    std::vector<std::pair<int, int>> controllers;
    for (const SongEvent& event : track.events)
        if (event.Type() == 0xB0)
            controllers.emplace_back(event.Data1(), event.Data2());
    EXPECT_EQ(controllers, (std::vector<std::pair<int, int>>{{7, 90}, {91, 40}, {1, 64}}));
}

TEST_F(ReaderTest, RegisteredParametersBeforeTheFirstNoteAreSettingsAfterItEvents)
{
    TrackBytes bytes;
    bytes.Event(0, {0xB0, 101, 0}).Event(0, {0xB0, 100, 0}).Event(0, {0xB0, 6, 2}); // bend range 2 semitones
    bytes.Event(0, {0xB0, 38, 64});                                                 // and 50 cents
    bytes.Event(0, {0x90, 60, 90}).Event(10, {0x80, 60, 0});
    bytes.Event(20, {0xB0, 101, 0}).Event(20, {0xB0, 100, 0}).Event(20, {0xB0, 6, 2});
    bytes.Event(20, {0xB0, 38, 5});                                                        // LSB of that event
    bytes.Event(30, {0xB0, 96, 0});                                                        // increment
    bytes.Event(40, {0xB0, 99, 1}).Event(40, {0xB0, 98, 8}).Event(40, {0xB0, 6, 64});      // NRPN 136
    bytes.Event(50, {0xB0, 97, 0});                                                        // decrement of the NRPN
    bytes.Event(60, {0xB0, 101, 127}).Event(60, {0xB0, 100, 127}).Event(60, {0xB0, 6, 1}); // null: dropped
    ASSERT_TRUE(ReadTracks({Conductor(), bytes.End(60).data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.initialParameters[ParamBendRange], 256 + 64);
    std::vector<std::tuple<int, uint32_t, int32_t>> parameters;
    for (const SongEvent& event : track.events)
        if (event.IsParameter())
            parameters.emplace_back(event.Status(), event.ParameterNumber(), event.length);
    EXPECT_EQ(parameters, (std::vector<std::tuple<int, uint32_t, int32_t>>{{StatusRpn, 0, 261},
                                                                           {StatusRpn, 0, ParamIncrement},
                                                                           {StatusNrpn, 136, 8192},
                                                                           {StatusNrpn, 136, ParamDecrement}}));
}

TEST_F(ReaderTest, NotesPairByChannelAndKeyOldestFirst)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Event(0, {0x90, 60, 90})
                                             .Event(5, {0x91, 60, 80})  // same key, other channel
                                             .Event(10, {0x90, 60, 70}) // same key and channel
                                             .Event(20, {0x81, 60, 0})  // closes the channel 2 note
                                             .Event(30, {0x90, 60, 0})  // closes the oldest: tick 0
                                             .Event(40, {0x80, 61, 0})  // nothing open: dropped
                                             .Event(50, {0x90, 62, 1})  // never closed: sounds to the end
                                             .Event(90, {0xB0, 1, 1})
                                             .End(100)
                                             .data}));
    const auto notes = Notes(UserTrack(1));
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0]->length, 30);
    EXPECT_EQ(notes[1]->length, 15);
    // A note never closed keeps no length: sounding it to the end would turn a file whose note-offs
    // were lost into a wall of held notes.
    EXPECT_EQ(notes[2]->length, 0);
    EXPECT_EQ(notes[3]->length, 0);
}

TEST_F(ReaderTest, KeyOffsetRecordReadsNotesThatManySemitonesLower)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Program(0, 36, {0x83})      // key offset +3
                                             .Program(0, 38, {0x80 + 10}) // velocity offset +10
                                             .Program(0, 37, {20, 0x80})  // time offset +20
                                             .Event(20, {0x90, 63, 100})
                                             .Program(20, 0, {63, 0x24}) // spelling of the written key
                                             .Event(30, {0x90, 1, 5})    // key 1 − 3 folds up to 10
                                             .Event(40, {0x80, 63, 0})
                                             .Event(40, {0x80, 1, 0})
                                             .End(40)
                                             .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.keyOffset, 3);
    EXPECT_EQ(track.velocityOffset, 10);
    EXPECT_EQ(track.timeOffset, 20);
    const auto notes = Notes(track);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0]->Data1(), 60);
    EXPECT_EQ(notes[0]->Data2(), 90);
    EXPECT_EQ(notes[0]->time, 0);
    EXPECT_EQ(notes[0]->length, 20);
    EXPECT_EQ(notes[0]->spelling, 3);
    EXPECT_EQ(notes[0]->notation, 1);
    EXPECT_EQ(notes[1]->Data1(), 10);
    EXPECT_EQ(notes[1]->Data2(), 1);
}

TEST_F(ReaderTest, TrackSettingRecordsNameAndPort)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Text(0, 1, "Piano")
                                             .Meta(0, 0x21, {20})
                                             .Program(0, 31, {3})
                                             .Program(0, 32, {40})
                                             .Program(0, 33, {2})
                                             .Program(0, 34, {72})
                                             .Program(0, 35, {0x10, 0xE0, 0x10}) // the old default colour
                                             .Program(0, 39, {0})
                                             .Program(0, 35, {1, 2}) // wrong length: dropped
                                             .Program(0, 50, {1})    // unknown: kept as meta
                                             .Text(10, 1, "A text")  // not at 0: kept
                                             .Meta(10, 0x21, {3})    // port not at 0: dropped
                                             .End(10)
                                             .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.name, "Piano");
    EXPECT_EQ(track.outputPort, 15);
    EXPECT_EQ(track.inputPort, 3);
    EXPECT_EQ(track.inputChannel, 15);
    EXPECT_EQ(track.defaultClef, 2);
    EXPECT_EQ(track.splitKey, 12);
    EXPECT_EQ(track.colour, DefaultTrackColour);
    EXPECT_EQ(track.play, 0);
    ASSERT_EQ(track.events.size(), 2u);
    EXPECT_EQ(track.events[0].Data1(), 0x7F);
    EXPECT_EQ(track.events[1].Data1(), 0x01);
}

TEST_F(ReaderTest, ProgramDestinationRecordsAreSettingsAndStandardSysexIsKept)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes()
                                             .Event(0, {0xF0, 0x7F, 0x7F, 0x09, 0x01, 0x00, 0, 40, 2, 50, 9, 1, 0xF7})
                                             .Event(0, {0xF0, 0x7F, 0x7F, 0x09, 0x03, 0x00, 11, 1, 60, 0xF7})
                                             .Event(0, {0xF0, 0x06, 0x7F, 0x7F, 0x09, 0x01, 0xF7})
                                             .End(0)
                                             .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.destinations[0], 40);
    EXPECT_EQ(track.destinations[2], 50);
    EXPECT_EQ(track.destinationController, 11);
    EXPECT_EQ(track.destinations[12 + 1], 60);
    ASSERT_EQ(track.events.size(), 1u);
    EXPECT_TRUE(track.events[0].IsSysex());
    EXPECT_EQ(track.events[0].length, 7);
}

// A track this program saved: ProgramMeta 40 among its settings, each initial block after ProgramMeta 41
// with the count of its items.
TEST_F(ReaderTest, MarkedTrackTakesItsInitialValuesFromItsFirstBlockAlone)
{
    ASSERT_TRUE(ReadTracks(
        {Conductor(), TrackBytes()
                          .Text(0, 3, "Saved")
                          .Program(0, 40, {})
                          .Meta(0, 0x20, {3})      // names the output channel
                          .Event(0, {0xB3, 7, 50}) // before any block: an event
                          .Program(0, 41, {6})
                          .Event(0, {0xB3, 0, 1})
                          .Event(0, {0xB3, 32, 2})
                          .Event(0, {0xC3, 9})
                          .Event(0, {0xB3, 7, 100})
                          .Event(0, {0xB3, 91, 0})
                          .Event(0, {0xF0, 9, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 40, 0xF7}) // the destination record
                          .Event(0, {0xB3, 10, 30})                                    // past the count: an event
                          .Event(0, {0xF0, 9, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 50, 0xF7}) // outside a block: kept
                          .Event(0, {0xF0, 0x7F, 0x7F, 0x09, 0x01, 3, 0, 60, 0xF7})    // the older layout: kept too
                          .Text(0, 1, "a text, not the name")
                          .Event(10, {0x95, 60, 90}) // the prefix has named the channel
                          .Event(20, {0x85, 60, 0})
                          .Program(30, 41, {2}) // a later block repeats: dropped
                          .Event(30, {0xB3, 7, 1})
                          .Event(30, {0xC3, 1})
                          .Event(40, {0xC1, 4})     // no bank selected on channel 2
                          .Event(40, {0xB3, 7, 50}) // a repeat is kept as written
                          .Meta(50, 0x20, {7})      // any other prefix is an event
                          .End(50)
                          .data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.name, "Saved");
    EXPECT_EQ(track.outputChannel, 3);
    std::array<int32_t, InitialSlotCount> initial;
    initial.fill(-1);
    initial[InitBank] = 130;
    initial[InitPatch] = 9;
    initial[InitVolume] = 100;
    initial[InitReverb] = 0;
    EXPECT_EQ(track.initial, initial);
    EXPECT_EQ(track.destinations[0], 40);
    std::vector<std::string> events;
    for (const SongEvent& event : track.events) {
        std::string text = std::to_string(event.time) + ":" + std::to_string(event.Status());
        if (event.IsSysex())
            text += " sysex " + std::to_string(event.DataSize());
        else if (event.IsMeta())
            text += " meta " + std::to_string(event.Data1());
        else
            text += " " + std::to_string(event.Data1()) + " " + std::to_string(event.Data2()) + " " +
                    std::to_string(event.length);
        events.push_back(text);
    }
    const std::vector<std::string> expected = {"0:179 7 50 0",  "0:179 10 30 0", "0:240 sysex 10",
                                               "0:240 sysex 9", "0:255 meta 1",  "10:149 60 90 10",
                                               "40:193 4 0 -1", "40:179 7 50 0", "50:255 meta 32"};
    EXPECT_EQ(events, expected);
}

// Another program's track: only its output channel's first program and controllers are its sound (a
// message for another channel would move there), and a bank is what a bank select chose.
TEST_F(ReaderTest, PlainTrackFoldsOnlyItsOutputChannelsFirstValues)
{
    ASSERT_TRUE(ReadTracks({Conductor(),
                            TrackBytes()
                                .Event(0, {0xC2, 36})    // another channel: an event, no bank
                                .Event(0, {0xB0, 0, 1})  // bank on the output channel
                                .Event(0, {0xC0, 5})     // the track's sound
                                .Event(0, {0xB3, 7, 99}) // another channel: an event
                                .Event(0, {0xB0, 7, 90})
                                .Program(0, 41, {1}) // no marker: dropped, the next item folds as usual
                                .Event(0, {0xB0, 10, 20})
                                .Event(5, {0x90, 60, 90})
                                .Event(10, {0x80, 60, 0})
                                .Event(30, {0xC0, 6}) // carries the bank in force
                                .End(30)
                                .data,
                            TrackBytes().Meta(0, 0x20, {9}).End(0).data, // no note: the prefix names it
                            TrackBytes().Event(0, {0xC4, 3}).End(0).data}));
    const Track& track = UserTrack(1);
    EXPECT_EQ(track.outputChannel, 0);
    EXPECT_EQ(track.initial[InitPatch], 5);
    EXPECT_EQ(track.initial[InitBank], 128);
    EXPECT_EQ(track.initial[InitVolume], 90);
    EXPECT_EQ(track.initial[InitPan], 20);
    std::vector<std::tuple<int32_t, uint8_t, uint8_t, int32_t>> events;
    for (const SongEvent& event : track.events)
        if (!event.IsNote())
            events.emplace_back(event.time, event.Status(), event.Data1(), event.length);
    EXPECT_EQ(events, (std::vector<std::tuple<int32_t, uint8_t, uint8_t, int32_t>>{
                          {0, 0xC2, 36, -1}, {0, 0xB3, 7, 0}, {30, 0xC0, 6, 128}}));

    EXPECT_EQ(UserTrack(2).outputChannel, 9);
    ASSERT_EQ(UserTrack(2).events.size(), 1u);
    EXPECT_EQ(UserTrack(2).events[0].Data1(), 0x20);
    EXPECT_EQ(UserTrack(3).outputChannel, 4);
    EXPECT_EQ(UserTrack(3).initial[InitPatch], 3);
    EXPECT_EQ(UserTrack(3).initial[InitBank], -1);
}

// Clips open through the song's audio backend: one that opens stays, one that does not is reported.
class OneFileAudio final : public AudioFiles {
  public:
    class File final : public AudioFile {
      public:
        uint32_t LengthMs() const override { return 2000; }
        WaveFormat Format() const override { return {}; }
        bool WriteCopy(const std::string&, std::string&) const override { return false; }
    };
    std::unique_ptr<AudioFile> Open(const std::string& path, uint32_t& errorCode) override
    {
        opened.push_back(path);
        if (path == good)
            return std::make_unique<File>();
        errorCode = 0x80030002;
        return nullptr;
    }
    std::string good;
    std::vector<std::string> opened;
};

TEST_F(ReaderTest, AudioTracksKeepOnlyClipsThatOpen)
{
    OneFileAudio audio;
    audio.good = "/songs/WaveData/0000abcd.wav";
    SongContext withAudio = context.Context();
    withAudio.audio = &audio;
    Song clipSong(withAudio);
    clipSong.SetPathName("/songs/show.mid");
    const Bytes bytes = Smf(1, 120,
                            {Conductor(), TrackBytes()
                                              .Program(0, 30, {1})
                                              .Event(0, {0xC0, 4})
                                              .Text(0, 7, "WaveData\\0000abcd.wav")
                                              .Text(480, 7, "/elsewhere/missing.wav")
                                              .Event(500, {0x90, 60, 1})
                                              .End(600)
                                              .data});
    ASSERT_TRUE(ReadSongFromBytes(clipSong, bytes.data(), bytes.size()));
    const Track& track = *clipSong.tracks[1];
    EXPECT_TRUE(track.IsAudio());
    EXPECT_EQ(track.initial[InitPatch], -1);
    ASSERT_EQ(track.events.size(), 1u);
    ASSERT_TRUE(track.events[0].IsAudioClip());
    EXPECT_EQ(track.events[0].ClipData()->fileName, "/songs/WaveData/0000abcd.wav");
    EXPECT_EQ(context.prompter.messages,
              std::vector<std::string>{"Trouble opening audio clip /elsewhere/missing.wav: 80030002"});
}

TEST_F(ReaderTest, FormatZeroSplitsByChannelAndSaysSo)
{
    song.SetPathName("/songs/zero.mid");
    const Bytes bytes = Smf(0, 120,
                            {TrackBytes()
                                 .Text(0, 3, "Zero")
                                 .Event(0, {0xC0, 5})
                                 .Event(0, {0xB9, 7, 80})
                                 .Event(0, {0x90, 60, 100})
                                 .Event(0, {0x99, 36, 100})
                                 .Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                 .Event(60, {0x89, 36, 0})
                                 .Event(120, {0x80, 60, 0})
                                 .Event(240, {0xC0, 6})
                                 .End(240)
                                 .data});
    ASSERT_TRUE(ReadSongFromBytes(song, bytes.data(), bytes.size()));
    EXPECT_EQ(song.fileFormat, 1);
    EXPECT_EQ(song.title, "Zero");
    ASSERT_EQ(song.tracks.size(), 12u); // conductor, channels 1-10, trailing
    for (int number = 1; number <= 10; ++number)
        EXPECT_EQ(UserTrack(number).outputChannel, number - 1);
    EXPECT_EQ(UserTrack(1).initial[InitPatch], 5);
    EXPECT_EQ(UserTrack(10).initial[InitVolume], 80);
    EXPECT_TRUE(UserTrack(5).events.empty());
    ASSERT_EQ(Notes(UserTrack(1)).size(), 1u);
    EXPECT_EQ(Notes(UserTrack(1))[0]->length, 120);
    ASSERT_EQ(Notes(UserTrack(10)).size(), 1u);
    EXPECT_EQ(Notes(UserTrack(10))[0]->length, 60);
    EXPECT_EQ(UserTrack(1).events.size(), 2u); // the note and the second program
    ASSERT_EQ(song.tracks[0]->events.size(), 1u);
    EXPECT_TRUE(song.tracks[0]->events[0].IsSysex());
    EXPECT_EQ(context.prompter.messages,
              std::vector<std::string>{"NOTE: If saved, /songs/zero.mid will be converted from MIDI format 0 to 1."});
}

TEST_F(ReaderTest, OnlyASingleChunkFormatZeroFileIsSplit)
{
    const Bytes note = TrackBytes().Event(0, {0x95, 60, 90}).Event(10, {0x85, 60, 0}).End(10).data;
    for (const uint16_t format : {0, 2}) {
        SCOPED_TRACE(format);
        context.prompter.messages.clear();
        ASSERT_TRUE(ReadTracks({Conductor(), note}, format));
        EXPECT_EQ(song.fileFormat, 1);
        ASSERT_EQ(song.tracks.size(), 3u); // read as laid out: no split by channel
        EXPECT_EQ(Notes(UserTrack(1)).size(), 1u);
        EXPECT_EQ(UserTrack(1).outputChannel, 5);
        EXPECT_TRUE(context.prompter.messages.empty());
    }
}

// ---- Damaged chunks: what came before the damage stays; escaped packets are stepped over ----

TEST_F(ReaderTest, DamageInsideAChunkEndsItKeepingEarlierEvents)
{
    const auto withTail = [](std::initializer_list<uint8_t> tail) {
        TrackBytes bytes;
        bytes.Event(0, {0x90, 60, 90}).Event(10, {0x80, 60, 0});
        bytes.Raw(tail);
        return Smf(1, 120, {Conductor(), bytes.data});
    };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
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
        const auto notes = Notes(UserTrack(1));
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0]->length, 10);
        EXPECT_EQ(UserTrack(1).events.size(), 1u);
    }
}

TEST_F(ReaderTest, LastEventOfAChunkWithoutEndOfTrackIsRead)
{
    ASSERT_TRUE(ReadTracks({Conductor(), TrackBytes().Event(0, {0x90, 60, 90}).Event(10, {60, 0}).data}));
    const auto notes = Notes(UserTrack(1));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0]->length, 10);
}

TEST_F(ReaderTest, AnEndBeyondAnyRealSongIsRefused)
{
    // Division 1 and an event at tick 2^27: half a million 4/4 measures of four ticks.
    EXPECT_FALSE(ReadTracks({Conductor(), TrackBytes().Event(0x7FFFFFF, {0x90, 60, 1}).End(0x7FFFFFF).data}, 1, 1));
    EXPECT_TRUE(song.tracks.empty());
    // Times that would leave the tick range end the chunk instead of wrapping.
    TrackBytes far;
    for (int i = 1; i <= 20; ++i)
        far.VarLen(0x0FFFFFFF).Raw({0x90, 60, 1});
    EXPECT_FALSE(ReadTracks({Conductor(), far.data}, 1, 1));
    EXPECT_TRUE(ReadTracks({Conductor(), far.data}, 1, 0x7FFF));
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
    std::string Path(const std::string& name) const { return (fs::path(folder) / name).string(); }
    static void Write(const std::string& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

TEST_F(ReaderFileTest, RecoveryQuestionOpensTheAutosavedCopyOrDeletesIt)
{
    const Bytes saved = Smf(1, 120, {TrackBytes().Text(0, 3, "Recovered").End(0).data});
    const Bytes original = Smf(1, 120, {TrackBytes().Text(0, 3, "Original").End(0).data});
    for (const bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        Write(Path("Song.MID"), original);
        Write(Path("Song.sav"), saved);
        Write(Path("Song.cv"), {0xFF}); // cut short: applies nothing
        context.prompter.answers = {answer};
        context.prompter.questions.clear();
        ASSERT_TRUE(ReadSong(song, Path("Song.MID")));
        EXPECT_EQ(context.prompter.questions,
                  std::vector<std::string>{"AutoRecover files were found for " + Path("Song.MID") +
                                           "--do you want to open them instead?"});
        EXPECT_EQ(song.title, answer ? "Recovered" : "Original");
        EXPECT_FALSE(fs::exists(Path("Song.sav")));
        EXPECT_EQ(fs::exists(Path("Song.cv")), !answer);
    }
}

TEST_F(ReaderFileTest, UnansweredRecoveryQuestionLeavesEveryFile)
{
    SilentPrompter silent;
    SongContext declining = context.Context();
    declining.prompter = &silent;
    Song quiet(declining);
    Write(Path("Song.mid"), Smf(1, 120, {TrackBytes().Text(0, 3, "Original").End(0).data}));
    Write(Path("Song.sav"), Smf(1, 120, {TrackBytes().Text(0, 3, "Recovered").End(0).data}));
    ASSERT_TRUE(ReadSong(quiet, Path("Song.mid")));
    EXPECT_EQ(quiet.title, "Original");
    EXPECT_TRUE(fs::exists(Path("Song.sav")));
}

// A settings archive as older versions wrote it beside the song.
class Archive {
  public:
    Archive& U32(uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
    Archive& U16(uint16_t value)
    {
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        return *this;
    }
    Archive& U8(uint8_t value)
    {
        bytes.push_back(value);
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
        return String(label).U32(kindWord).U32(static_cast<uint32_t>(stopAt)).U32(static_cast<uint32_t>(restartAt));
    }
    Bytes bytes;
};

TEST_F(ReaderFileTest, SettingsFileGivesTitleCuesTrackSettingsAndLabels)
{
    const Bytes midi = Smf(1, 120,
                           {TrackBytes().Text(0, 3, "From the file").End(0).data,
                            TrackBytes().Program(0, 36, {0x83}).Event(0, {0x90, 63, 100}).End(10).data,
                            TrackBytes().Event(0, {0x90, 60, 100}).End(10).data});
    Archive archive;
    archive.String("Old Title.MID").U32(0).U32(5);
    archive.Cue("Loop", 2u << 8 | CueVamp, 960, 1920); // a vamp given backwards is turned round
    archive.Cue("Early", CueFermata, 100, 200);        // before the vamp's anchor: dropped
    archive.Cue("Hold", CueFermata, 2000, 2100);
    archive.Cue("Bad", CueSkip, 2000, 1900); // skips forward only: dropped
    archive.Cue("Odd", 0xFFFFFF00u | CueBreath, 2100, 2000);
    archive.U32(5); // more records than track chunks: three are read
    archive.U32(static_cast<uint32_t>(-2222)).U32(0).U32(0).U32(static_cast<uint32_t>(-1)).U32(0).U32(0);
    archive.U32(0x10E010).U32(0).U32(0).U32(0).U32(1); // track 0, current layout
    archive.U32(0).U32(0).U32(0).U32(1);               // track 1, old layout
    archive.U32(static_cast<uint32_t>(-(0x1000 | 2222))).U32(1).U32(40).U32(3).U32(1).U32(5).U32(0x123456);
    archive.U32(200).U32(5).U32(static_cast<uint32_t>(-4)).U32(0); // track 2
    archive.U32(0).U32(3).U16(7).U8('C').U16(8).U8(0).U16(9).U8(0);
    Write(Path("old.mid"), midi);
    Write(Path("old.cv"), archive.bytes);
    ASSERT_TRUE(ReadSong(song, Path("old.mid")));

    EXPECT_EQ(song.title, "Old Title");
    ASSERT_EQ(song.cues.size(), 3u);
    EXPECT_EQ(song.cues[0]->label, "Loop");
    EXPECT_EQ(song.cues[0]->count, 2);
    EXPECT_EQ(song.cues[0]->stopAt, 1920);
    EXPECT_EQ(song.cues[0]->restartAt, 960);
    EXPECT_EQ(song.cues[1]->label, "Hold");
    EXPECT_EQ(song.cues[2]->count, -1);
    // Track 1's old layout gives version 2222: its file events are taken as written, without offsets
    // (encoding the track afterwards marks it 2222 | 0x1000).
    ASSERT_EQ(Notes(UserTrack(1)).size(), 1u);
    EXPECT_EQ(Notes(UserTrack(1))[0]->Data1(), 63);
    const Track& second = UserTrack(2);
    EXPECT_EQ(second.kind, 1);
    EXPECT_EQ(second.inputPort, 15);
    EXPECT_EQ(second.inputChannel, 3);
    EXPECT_EQ(second.colour, 0x123456u);
    EXPECT_EQ(second.keyOffset, 127);
    EXPECT_EQ(second.velocityOffset, -4);
    EXPECT_EQ(second.play, 0);
    ASSERT_GE(song.measures.size(), 3u);
    EXPECT_EQ(song.measures[0].number, 7);
    EXPECT_EQ(song.measures[0].letter, 'C');
    EXPECT_EQ(song.measures[2].number, 9);
    EXPECT_EQ(song.measures[2].start, 960);
}

TEST_F(ReaderFileTest, DamagedSettingsFilesNeverSpoilTheSong)
{
    const Bytes midi =
        Smf(1, 120, {TrackBytes().Text(0, 3, "Kept").End(0).data, TrackBytes().Event(0, {0x90, 60, 100}).End(10).data});
    Write(Path("s.mid"), midi);
    const Bytes cases[] = {
        {},
        {0xFF, 0xFF},                                                            // cut inside the title length
        Archive().String("T").U32(0).U32(0xFFFFFFFF).bytes,                      // cue count past the file
        Archive().String("T").U32(0).U32(0).U32(1).U32(7).bytes,                 // cut inside a track record
        Archive().String("T").U32(0).U32(0).U32(0).U32(0).U32(0x7FFFFFFF).bytes, // label count past the file
    };
    for (const Bytes& settings : cases) {
        Write(Path("s.cv"), settings);
        ASSERT_TRUE(ReadSong(song, Path("s.mid")));
        EXPECT_EQ(Notes(UserTrack(1)).size(), 1u);
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
