#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

// A song with the given meters laid out from tick 0, numbered from 1.
struct MeterSpec {
    int numerator;
    int denominator;
};

std::unique_ptr<Song> SongWithMeters(test::TestContext& context, std::initializer_list<MeterSpec> meters,
                                     uint16_t timebase = 120)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    song->timebase = timebase;
    song->measures.clear();
    uint16_t number = 1;
    for (const MeterSpec& meter : meters) {
        Measure measure;
        measure.number = number++;
        measure.numerator = static_cast<uint8_t>(meter.numerator);
        measure.denominator = static_cast<uint8_t>(meter.denominator);
        song->measures.push_back(measure);
    }
    song->RelayMeasures();
    return song;
}

struct CountingObserver : SongObserver {
    void OnSongRefresh(Song&) override { ++refreshes; }
    void OnSongModifiedFlag(Song& song) override
    {
        lastFlag = song.IsModified();
        ++modifiedCalls;
    }
    int refreshes = 0;
    int modifiedCalls = 0;
    bool lastFlag = false;
};

TEST(NewSong, HasOneMeasureOneTempoAndTwoTracks)
{
    test::TestContext context;
    Song song(context.Context());
    song.NewSongDefaults();

    EXPECT_TRUE(song.loaded);
    EXPECT_EQ(song.timebase, 120);
    EXPECT_EQ(song.fileFormat, 1);
    EXPECT_EQ(song.resolutionClass, 0);
    EXPECT_EQ(song.measureTableEnd, 480);
    ASSERT_EQ(song.measures.size(), 1u);
    const Measure& first = song.measures[0];
    EXPECT_EQ(std::tie(first.start, first.length, first.number, first.letter, first.key, first.mode),
              std::make_tuple(0, 480, uint16_t{1}, uint8_t{0}, int8_t{0}, uint8_t{0}));
    EXPECT_EQ(std::tie(first.numerator, first.denominator, first.clocksPerClick, first.thirtySecondsPerQuarter),
              std::make_tuple(uint8_t{4}, uint8_t{4}, uint8_t{24}, uint8_t{8}));
    ASSERT_EQ(song.tempoMap.entries.size(), 1u);
    EXPECT_EQ(song.tempoMap.entries[0].tick, 0);
    EXPECT_EQ(song.tempoMap.entries[0].microsecondsPerQuarter, 500000u);
    ASSERT_EQ(song.tracks.size(), 2u);
    EXPECT_EQ(song.UserTrackCount(), 0);
    EXPECT_TRUE(song.TrailingTrack().events.empty());
    EXPECT_TRUE(song.cues.empty());
    EXPECT_EQ(song.title, "");
    EXPECT_EQ(song.author, "");
    EXPECT_EQ(song.subtitle, "");
}

TEST(NewSong, TakesTimebaseAndTextsFromTheSongDefaults)
{
    test::TestContext context;
    context.profile.WriteInt("SongDefaults", "Timebase", 480);
    context.profile.WriteString("SongDefaults", "Author", "J. Doe");
    context.profile.WriteString("SongDefaults", "Copyright", "(c) 2024");
    context.profile.WriteString("SongDefaults", "Memo", "for the band");
    context.profile.WriteString("SongDefaults", "SubTitle", "live version");
    Song song(context.Context());
    song.NewSongDefaults();

    EXPECT_EQ(song.timebase, 480);
    EXPECT_EQ(song.measures[0].length, 1920);
    EXPECT_EQ(song.measureTableEnd, 1920);
    EXPECT_EQ(song.author, "J. Doe");
    EXPECT_EQ(song.copyright, "(c) 2024");
    EXPECT_EQ(song.memo, "for the band");
    EXPECT_EQ(song.subtitle, "live version");
    EXPECT_EQ(song.title, "");
}

TEST(NewSong, ATimebaseNoFileCouldHoldFallsBackTo120)
{
    for (int stored : {0, -96, 0x8000, 100000}) {
        test::TestContext context;
        context.profile.WriteInt("SongDefaults", "Timebase", stored);
        Song song(context.Context());
        song.NewSongDefaults();
        EXPECT_EQ(song.timebase, 120) << stored;
        EXPECT_EQ(song.measures[0].length, 480) << stored;
    }
}

TEST(NewSong, FillingASongTwiceLeavesOneOfEach)
{
    test::TestContext context;
    Song song(context.Context());
    song.NewSongDefaults();
    song.cues.push_back(std::make_unique<Cue>());
    song.NewSongDefaults();
    EXPECT_EQ(song.measures.size(), 1u);
    EXPECT_EQ(song.tempoMap.entries.size(), 1u);
    EXPECT_EQ(song.tracks.size(), 2u);
    EXPECT_TRUE(song.cues.empty());
}

TEST(FindMeasure, GivesTheLastMeasureStartingAtOrBeforeTheTick)
{
    test::TestContext context;
    // Starts: 0 (4/4), 480 (3/4), 840 (6/8), 1200 (2/2), end 1680.
    auto song = SongWithMeters(context, {{4, 4}, {3, 4}, {6, 8}, {2, 2}});
    struct Case {
        int32_t tick;
        int index;
    };
    const Case cases[] = {
        {0, 0},    {1, 0},    {479, 0},  {480, 1},   {839, 1}, {840, 2}, {1199, 2},
        {1200, 3}, {1679, 3}, {1680, 3}, {99999, 3}, {-50, 0}, {481, 1}, {0, 0},
    };
    // Asked in this order, then backwards, so that the walk runs both ways from every hint.
    for (const Case& c : cases)
        EXPECT_EQ(song->FindMeasure(c.tick), c.index) << c.tick;
    for (auto it = std::rbegin(cases); it != std::rend(cases); ++it)
        EXPECT_EQ(song->FindMeasure(it->tick), it->index) << it->tick;
}

TEST(FindMeasure, AHintLeftByAnotherTableIsOnlyAStartingPoint)
{
    test::TestContext context;
    auto longSong = SongWithMeters(context, {{4, 4}, {4, 4}, {4, 4}, {4, 4}, {4, 4}, {4, 4}});
    auto shortSong = SongWithMeters(context, {{3, 4}, {3, 4}});
    EXPECT_EQ(longSong->FindMeasure(2500), 5);
    EXPECT_EQ(shortSong->FindMeasure(400), 1);
    EXPECT_EQ(longSong->FindMeasure(1000), 2);

    // The table shrinks under a hint that points past its end.
    longSong->measures.resize(2);
    EXPECT_EQ(longSong->FindMeasure(1000), 1);
    EXPECT_EQ(longSong->FindMeasure(10), 0);
    longSong->measures.clear();
    EXPECT_EQ(longSong->FindMeasure(10), -1);
    EXPECT_EQ(longSong->FindMeasure(0), -1);
}

TEST(FormatPosition, WritesMeasureBeatAndTick)
{
    test::TestContext context;
    auto song = SongWithMeters(context, {{4, 4}, {6, 8}, {4, 4}, {4, 4}, {4, 4}});
    song->measures[2].number = 0;
    song->measures[2].letter = 'A';
    song->measures[3].number = 12;
    song->measures[3].letter = 'B';
    song->measures[4].number = 0; // neither number nor letter
    struct Case {
        int32_t tick;
        const char* text;
    };
    const Case cases[] = {
        {0, " 1:1:000"},    {130, " 1:2:010"},  {479, " 1:4:119"}, {480, " 2:1:000"},
        {600, " 2:3:000"},  {839, " 2:6:059"},  {840, " A:1:000"}, {1320, " 12B:1:000"},
        {1801, " 0:1:001"}, {2280, " 0:5:000"}, // beyond the table: beats count on
    };
    for (const Case& c : cases) {
        std::string text = "unchanged";
        EXPECT_EQ(song->FormatPosition(c.tick, text), static_cast<int>(std::string(c.text).size()));
        EXPECT_EQ(text, c.text);
    }
    song->measures[3].letter = 'b';
    std::string text;
    song->FormatPosition(1320, text);
    EXPECT_EQ(text, " 12B:1:000");

    song->measures.clear();
    text = "unchanged";
    EXPECT_EQ(song->FormatPosition(0, text), -1);
    EXPECT_EQ(text, "unchanged");
}

TEST(Resolution, ClassesAndGrids)
{
    struct Case {
        uint16_t timebase;
        int resolutionClass;
        int divisor;
        int32_t finestGrids[3]; // q = 6, 7, 8: the entries that differ by class
    };
    const Case cases[] = {
        {480, 0, 4, {12, 8, 4}},   {192, 1, 2, {4, 3, 2}}, {144, 2, 2, {4, 2, 1}},
        {1000, 3, 1, {17, 11, 5}}, {100, 3, 1, {1, 1, 1}}, // finer than a tick: one tick
    };
    for (const Case& c : cases) {
        test::TestContext context;
        Song song(context.Context());
        song.timebase = c.timebase;
        EXPECT_EQ(song.UpdateResolutionClass(), c.divisor) << c.timebase;
        EXPECT_EQ(song.resolutionClass, c.resolutionClass) << c.timebase;
        EXPECT_EQ(song.GridTicks(0), c.timebase);
        EXPECT_EQ(song.GridTicks(4), c.timebase / 12);
        for (int q = 6; q < 9; ++q)
            EXPECT_EQ(song.GridTicks(q), c.finestGrids[q - 6]) << c.timebase << " q=" << q;
        EXPECT_EQ(song.GridTicks(-1), c.timebase);
        EXPECT_EQ(song.GridTicks(12), c.finestGrids[2]);
    }
}

TEST(FindCue, FindsTheFirstCueAnchoredAtOrAfterTheTick)
{
    test::TestContext context;
    Song song(context.Context());
    EXPECT_EQ(song.FindCue(100), 0);
    const auto add = [&](int32_t kind, int32_t stopAt, int32_t restartAt) {
        auto cue = std::make_unique<Cue>();
        cue->kind = kind;
        cue->stopAt = stopAt;
        cue->restartAt = restartAt;
        song.cues.push_back(std::move(cue));
    };
    add(CueMarker, 100, 100);
    add(CueAdLib, 900, 200); // anchored at its restart time
    add(CueVamp, 480, 240);
    add(CueFermata, 480, 600);
    struct Case {
        int32_t tick;
        int index;
    };
    for (const Case c : {Case{0, 0}, Case{100, 0}, Case{101, 1}, Case{200, 1}, Case{201, 2}, Case{480, 2}, Case{481, 4},
                         Case{100000, 4}})
        EXPECT_EQ(song.FindCue(c.tick), c.index) << c.tick;
}

TEST(Measures, RelayLaysMeasuresEndToEndFromTheirMeters)
{
    test::TestContext context;
    auto song = SongWithMeters(context, {{4, 4}, {7, 8}, {3, 2}});
    song->measures[1].start = 17; // damaged layout
    song->measures[2].length = 5;
    song->RelayMeasures();
    EXPECT_EQ(song->measures[1].start, 480);
    EXPECT_EQ(song->measures[1].length, 420);
    EXPECT_EQ(song->measures[2].start, 900);
    EXPECT_EQ(song->measures[2].length, 720);
    EXPECT_EQ(song->measureTableEnd, 1620);
}

TEST(Measures, ExtendAppendsCopiesOfTheLastMeasureUpToTheSongEnd)
{
    test::TestContext context;
    auto song = SongWithMeters(context, {{4, 4}, {3, 4}});
    song->measures[1].key = -3;
    song->measures[1].letter = 'C';
    song->measures[1].number = 20;
    song->songEnd = 840 + 360 * 2; // exactly at the start of a third 3/4 measure
    song->ExtendMeasures();
    ASSERT_EQ(song->measures.size(), 5u);
    for (size_t index = 2; index < 5; ++index) {
        const Measure& measure = song->measures[index];
        EXPECT_EQ(measure.start, song->measures[index - 1].End());
        EXPECT_EQ(measure.length, 360);
        EXPECT_EQ(measure.number, 20 + index - 1);
        EXPECT_EQ(measure.letter, 0);
        EXPECT_EQ(measure.key, -3);
        EXPECT_EQ(measure.numerator, 3);
    }
    EXPECT_EQ(song->measureTableEnd, 840 + 360 * 3);

    // A table already past the song end is left alone.
    song->songEnd = 10;
    song->ExtendMeasures();
    EXPECT_EQ(song->measures.size(), 5u);
}

TEST(Measures, ExtendStartsAnEmptyTableAndStopsAtAMeasureWithoutLength)
{
    test::TestContext context;
    Song song(context.Context());
    song.timebase = 96;
    song.songEnd = 0;
    song.ExtendMeasures();
    ASSERT_EQ(song.measures.size(), 1u);
    EXPECT_EQ(song.measures[0].length, 384);
    EXPECT_EQ(song.measures[0].number, 1);
    EXPECT_EQ(song.measureTableEnd, 384);

    // Timebase 1 in 4/8 has no whole tick per beat: the table cannot grow, but must not hang.
    song.timebase = 1;
    song.measures[0].denominator = 8;
    song.RelayMeasures();
    song.songEnd = 1000;
    song.ExtendMeasures();
    EXPECT_EQ(song.measures.size(), 1u);
    std::string text;
    EXPECT_GT(song.FormatPosition(500, text), 0);
}

TEST(SetTimebase, RescalesEveryTimeRoundedHalfUp)
{
    test::TestContext context;
    auto song = SongWithMeters(context, {{6, 8}, {4, 4}});
    CountingObserver observer;
    song->AddObserver(&observer);
    Track& track = *song->tracks[0];
    track.events.push_back(SongEvent::Note(181, 0, 60, 100, 90));
    track.events.push_back(SongEvent::Short(361, 0xB0, 7, 100));
    track.events.push_back(SongEvent::Parameter(400, true, 0, 256));
    track.timeOffset = -30;
    auto cue = std::make_unique<Cue>();
    cue->kind = CueVamp;
    cue->stopAt = 840;
    cue->restartAt = 360;
    song->cues.push_back(std::move(cue));
    song->tempoMap.entries.push_back(TempoChange{360, 250000, 0.0});
    song->RecomputeTempoTimes();
    song->currentPosition = 360;
    song->selectionStart = 120;
    song->selectionEnd = -1;

    song->SetTimebase(480);

    EXPECT_EQ(song->timebase, 480);
    EXPECT_EQ(track.events[0].time, 724);
    EXPECT_EQ(track.events[0].length, 360);
    EXPECT_EQ(track.events[1].time, 1444);
    EXPECT_EQ(track.events[2].time, 1600);
    EXPECT_EQ(track.events[2].length, 256); // a parameter value is not a duration
    EXPECT_EQ(track.timeOffset, -120);
    EXPECT_EQ(song->cues[0]->stopAt, 3360);
    EXPECT_EQ(song->cues[0]->restartAt, 1440);
    EXPECT_EQ(song->tempoMap.entries[1].tick, 1440);
    EXPECT_DOUBLE_EQ(song->tempoMap.entries[1].absolute, 1500000.0); // the same real time as before
    EXPECT_EQ(song->measures[0].length, 1440);
    EXPECT_EQ(song->measures[1].start, 1440);
    EXPECT_EQ(song->measures[1].length, 1920);
    EXPECT_EQ(song->measureTableEnd, song->measures.back().End());
    EXPECT_EQ(song->currentPosition, 1440);
    EXPECT_EQ(song->selectionStart, 480);
    EXPECT_EQ(song->selectionEnd, -1);
    EXPECT_EQ(song->resolutionClass, 0);
    EXPECT_TRUE(song->IsModified());
    EXPECT_EQ(observer.modifiedCalls, 1);

    // Down to 100: 724 × 100 ÷ 480 = 150.83 → 151; 1444 → 300.83 → 301; 1600 → 333.3 → 333.
    song->SetTimebase(100);
    EXPECT_EQ(track.events[0].time, 151);
    EXPECT_EQ(track.events[0].length, 75);
    EXPECT_EQ(track.events[1].time, 301);
    EXPECT_EQ(track.events[2].time, 333);
    EXPECT_EQ(song->resolutionClass, 3);
    song->timebase = 2;
    track.events[0].time = 1;
    track.events[1].time = 3;
    song->SetTimebase(1); // halves round up: 0.5 → 1, 1.5 → 2
    EXPECT_EQ(track.events[0].time, 1);
    EXPECT_EQ(track.events[1].time, 2);
}

TEST(SetTimebase, TheSameOrAnImpossibleTimebaseChangesNothing)
{
    test::TestContext context;
    Song song(context.Context());
    song.NewSongDefaults();
    song.tracks[0]->events.push_back(SongEvent::Note(181, 0, 60, 100, 90));
    for (uint16_t timebase : {uint16_t{120}, uint16_t{0}, uint16_t{0x8000}}) {
        song.SetTimebase(timebase);
        EXPECT_EQ(song.timebase, 120);
        EXPECT_EQ(song.tracks[0]->events[0].time, 181);
        EXPECT_FALSE(song.IsModified());
    }
}

TEST(SongObservers, AreToldOfRefreshesAndTheModifiedFlag)
{
    test::TestContext context;
    Song song(context.Context());
    CountingObserver first, second;
    song.AddObserver(&first);
    song.AddObserver(&first); // once only
    song.AddObserver(&second);
    song.RefreshViews();
    EXPECT_EQ(first.refreshes, 1);
    EXPECT_EQ(second.refreshes, 1);
    song.SetModifiedFlag(true);
    EXPECT_TRUE(first.lastFlag);
    song.SetModifiedFlag(false);
    EXPECT_FALSE(second.lastFlag);
    EXPECT_EQ(second.modifiedCalls, 2);

    // A view that closes another while being refreshed: the closed one is not called again.
    struct Closer : SongObserver {
        void OnSongRefresh(Song& s) override { s.RemoveObserver(victim); }
        SongObserver* victim = nullptr;
    } closer;
    Song other(context.Context());
    CountingObserver victim;
    closer.victim = &victim;
    other.AddObserver(&closer);
    other.AddObserver(&victim);
    other.RefreshViews();
    EXPECT_EQ(victim.refreshes, 0);
}

class ClipFileName : public testing::Test {
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/cantivo-clipXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        song.SetPathName(folder + "/Song.mid");
        context.clock.now = 0xABC0;
    }
    void TearDown() override { fs::remove_all(folder); }

    test::TestContext context;
    Song song{context.Context()};
    std::string folder;
};

TEST_F(ClipFileName, NamesByTheClockInTheWaveDataFolder)
{
    EXPECT_EQ(song.NewClipFileName("/home/me/Take One.WAV"), folder + "/WaveData/0000abc0.wav");
    EXPECT_TRUE(fs::is_directory(folder + "/WaveData"));
    // Only the file name's own dot counts; no dot gives no extension.
    EXPECT_EQ(song.NewClipFileName("/home/me.v2/take"), folder + "/WaveData/0000abc0");
    EXPECT_EQ(song.NewClipFileName("C:\\My.Audio\\take.Aiff"), folder + "/WaveData/0000abc0.aiff");
}

TEST_F(ClipFileName, SkipsNamesThatAreTaken)
{
    fs::create_directories(folder + "/WaveData");
    std::ofstream(folder + "/WaveData/0000abc0.wav") << "x";
    std::ofstream(folder + "/WaveData/0000abc1.wav") << "x";
    fs::create_symlink(folder + "/nowhere", folder + "/WaveData/0000abc2.wav"); // dangling, still taken
    std::ofstream(folder + "/WaveData/0000abc3.aif") << "x";                    // other extension: free
    EXPECT_EQ(song.NewClipFileName("take.wav"), folder + "/WaveData/0000abc3.wav");

    context.clock.now = 0xFFFFFFFF; // the counter wraps
    std::ofstream(folder + "/WaveData/ffffffff.wav") << "x";
    EXPECT_EQ(song.NewClipFileName("take.wav"), folder + "/WaveData/00000000.wav");
}

TEST_F(ClipFileName, GivesNoNameWhenTheFolderCannotBeMade)
{
    std::ofstream(folder + "/WaveData") << "a file where the folder should be";
    EXPECT_EQ(song.NewClipFileName("take.wav"), "");
}

} // namespace
} // namespace cantivo
