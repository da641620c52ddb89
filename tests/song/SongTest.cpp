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

// A song with the given meters (numerator, denominator) laid out from tick 0, numbered from 1.
std::unique_ptr<Song> SongWithMeters(test::TestContext& context, std::initializer_list<std::pair<int, int>> meters)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    song->measures.clear();
    for (const auto& [numerator, denominator] : meters) {
        Measure measure;
        measure.number = static_cast<uint16_t>(song->measures.size() + 1);
        measure.numerator = static_cast<uint8_t>(numerator);
        measure.denominator = static_cast<uint8_t>(denominator);
        song->measures.push_back(measure);
    }
    song->RelayMeasures();
    return song;
}

// A new song is one 4/4 measure, one tempo, two tracks and no cues however often it is filled; the
// stored timebase counts only when a file could hold it.
TEST(NewSong, IsOneMeasureOneTempoAndTwoTracksAtTheStoredTimebaseIfValid)
{
    for (const auto& [stored, timebase] : {std::pair{-1, 120}, {480, 480}, {0, 120}, {-96, 120}, {0x8000, 120}}) {
        SCOPED_TRACE(stored);
        test::TestContext context;
        if (stored != -1)
            context.profile.WriteInt("SongDefaults", "Timebase", stored);
        context.profile.WriteString("SongDefaults", "Author", "J. Doe");
        context.profile.WriteString("SongDefaults", "SubTitle", "live version");
        Song song(context.Context());
        song.NewSongDefaults();
        song.cues.push_back(std::make_unique<Cue>());
        song.NewSongDefaults();
        EXPECT_EQ(song.timebase, timebase);
        ASSERT_EQ(song.measures.size(), 1u);
        const Measure& first = song.measures[0];
        EXPECT_EQ(std::tie(first.start, first.length, first.number, first.numerator, first.denominator),
                  std::make_tuple(0, timebase * 4, uint16_t{1}, uint8_t{4}, uint8_t{4}));
        ASSERT_EQ(song.tempoMap.entries.size(), 1u);
        EXPECT_EQ(std::make_pair(song.tempoMap.entries[0].tick, song.tempoMap.entries[0].microsecondsPerQuarter),
                  std::make_pair(0, 500000u));
        EXPECT_EQ(song.tracks.size(), 2u);
        EXPECT_TRUE(song.cues.empty());
        EXPECT_EQ(std::tie(song.title, song.author, song.subtitle),
                  std::make_tuple(std::string(), std::string("J. Doe"), std::string("live version")));
    }
}

TEST(FindMeasure, GivesTheLastMeasureStartingAtOrBeforeTheTick)
{
    test::TestContext context;
    // Starts: 0 (4/4), 480 (3/4), 840 (6/8), 1200 (2/2), end 1680.
    auto song = SongWithMeters(context, {{4, 4}, {3, 4}, {6, 8}, {2, 2}});
    const std::pair<int32_t, int> cases[] = {{0, 0},    {479, 0},  {480, 1}, {839, 1},   {840, 2},
                                             {1200, 3}, {1680, 3}, {-50, 0}, {99999, 3}, {1, 0}};
    for (const auto& [tick, index] : cases)
        EXPECT_EQ(song->FindMeasure(tick), index) << tick;

    // A zero-length measure (a beat unit finer than the timebase allows) shares its start with the next
    // one: the later of the two is in force there.
    song->measures[2].length = 0;
    song->measures[3].start = 840;
    EXPECT_EQ(song->FindMeasure(840), 3);
    EXPECT_EQ(song->FindMeasure(839), 1);
    song->measures.resize(2);
    EXPECT_EQ(song->FindMeasure(1000), 1);
    song->measures.clear();
    EXPECT_EQ(song->FindMeasure(0), -1);
}

TEST(FormatPosition, WritesMeasureBeatAndTick)
{
    test::TestContext context;
    auto song = SongWithMeters(context, {{4, 4}, {6, 8}, {4, 4}, {4, 4}, {4, 4}});
    song->measures[2].number = 0;
    song->measures[2].letter = 'A';
    song->measures[3].number = 12;
    song->measures[3].letter = 'b'; // printed upper-case
    song->measures[4].number = 0;   // neither number nor letter
    const std::pair<int32_t, const char*> cases[] = {
        {0, " 1:1:000"},   {130, " 1:2:010"},    {479, " 1:4:119"},  {839, " 2:6:059"},
        {840, " A:1:000"}, {1320, " 12B:1:000"}, {1801, " 0:1:001"}, {2280, " 0:5:000"}, // beyond the table
    };
    for (const auto& [tick, expected] : cases) {
        std::string text;
        EXPECT_EQ(song->FormatPosition(tick, text), static_cast<int>(std::string(expected).size()));
        EXPECT_EQ(text, expected);
    }
    song->measures.clear();
    std::string text = "unchanged";
    EXPECT_EQ(song->FormatPosition(0, text), -1);
    EXPECT_EQ(text, "unchanged");
}

TEST(Resolution, ClassByTimebaseAndAGridOfAtLeastOneTick)
{
    // The grid divisors differ by class at the finest resolutions (index 6 to 8).
    struct Case {
        uint16_t timebase;
        int resolutionClass, divisor;
        int32_t finestGrid;
    };
    for (const Case& c : {Case{480, 0, 4, 4}, Case{192, 1, 2, 2}, Case{144, 2, 2, 1}, Case{1000, 3, 1, 5},
                          Case{100, 3, 1, 1}}) { // finer than a tick: one tick, never zero
        test::TestContext context;
        Song song(context.Context());
        song.timebase = c.timebase;
        EXPECT_EQ(song.UpdateResolutionClass(), c.divisor) << c.timebase;
        EXPECT_EQ(song.resolutionClass, c.resolutionClass) << c.timebase;
        EXPECT_EQ(song.GridTicks(8), c.finestGrid) << c.timebase;
        EXPECT_EQ(song.GridTicks(12), c.finestGrid) << c.timebase;
        EXPECT_EQ(song.GridTicks(-1), c.timebase);
    }
}

TEST(FindCue, FindsTheFirstCueAnchoredAtOrAfterTheTick)
{
    test::TestContext context;
    Song song(context.Context());
    EXPECT_EQ(song.FindCue(100), 0);
    // Cue{label, kind, count, stopAt, restartAt}
    for (const Cue& cue : {Cue{"", CueMarker, 0, 100, 100}, Cue{"", CueAdLib, 0, 900, 200},
                           Cue{"", CueVamp, 0, 480, 240}, Cue{"", CueFermata, 0, 480, 600}})
        song.cues.push_back(std::make_unique<Cue>(cue));
    // The ad lib is anchored at its restart time, the others at their stop time.
    for (const auto& [tick, index] : {std::pair{100, 0}, std::pair{101, 1}, std::pair{200, 1}, std::pair{201, 2},
                                      std::pair{480, 2}, std::pair{481, 4}})
        EXPECT_EQ(song.FindCue(tick), index) << tick;
}

TEST(Measures, ExtendStartsAnEmptyTableAndStopsAtAMeasureWithoutLength)
{
    test::TestContext context;
    Song song(context.Context());
    song.timebase = 96;
    song.ExtendMeasures();
    ASSERT_EQ(song.measures.size(), 1u);
    EXPECT_EQ(song.measures[0].length, 384);
    EXPECT_EQ(song.measures[0].number, 1);

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
    Track& track = *song->tracks[0];
    track.events = {SongEvent::Note(181, 0, 60, 100, 90), SongEvent::Short(361, 0xB0, 7, 100),
                    SongEvent::Parameter(400, true, 0, 256)};
    track.timeOffset = -30;
    song->cues.push_back(std::make_unique<Cue>(Cue{"", CueVamp, 0, 840, 360}));
    song->tempoMap.entries.push_back(TempoChange{360, 250000, 0.0});
    song->RecomputeTempoTimes();
    song->currentPosition = 360;
    song->selectionStart = 120;

    song->SetTimebase(480);
    EXPECT_EQ(song->measures[0].length, 1440) << "a 6/8 measure of 360 ticks";
    EXPECT_EQ(song->measures[1].start, 1440);
    EXPECT_EQ(std::make_tuple(track.events[0].time, track.events[0].length, track.events[1].time),
              std::make_tuple(724, 360, 1444));
    EXPECT_EQ(track.events[2].length, 256) << "a parameter value is not a duration";
    EXPECT_EQ(track.timeOffset, -120);
    EXPECT_EQ(std::make_pair(song->cues[0]->stopAt, song->cues[0]->restartAt), std::make_pair(3360, 1440));
    EXPECT_EQ(song->tempoMap.entries[1].tick, 1440);
    EXPECT_DOUBLE_EQ(song->tempoMap.entries[1].absolute, 1500000.0) << "the same real time as before";
    EXPECT_EQ(std::make_tuple(song->currentPosition, song->selectionStart, song->selectionEnd),
              std::make_tuple(1440, 480, -1));
    EXPECT_TRUE(song->IsModified());

    // Down to 100: 724 × 100 ÷ 480 = 150.83 → 151; 1444 → 300.83 → 301; halves round up.
    song->SetTimebase(100);
    EXPECT_EQ(std::make_pair(track.events[0].time, track.events[1].time), std::make_pair(151, 301));
    EXPECT_EQ(song->resolutionClass, 3);
    song->timebase = 2;
    track.events[0].time = 1;
    song->SetTimebase(1);
    EXPECT_EQ(track.events[0].time, 1);

    // The same timebase, or one no file could hold, changes nothing.
    song->SetModifiedFlag(false);
    for (uint16_t timebase : {uint16_t{1}, uint16_t{0}, uint16_t{0x8000}}) {
        song->SetTimebase(timebase);
        EXPECT_EQ(song->timebase, 1);
        EXPECT_EQ(track.events[0].time, 1);
        EXPECT_FALSE(song->IsModified());
    }
}

TEST(SongObservers, AreToldOnceAndAViewClosedDuringARefreshIsNotCalled)
{
    struct CountingObserver : SongObserver {
        void OnSongRefresh(Song&) override { ++refreshes; }
        void OnSongModifiedFlag(Song& song) override { flags.push_back(song.IsModified()); }
        int refreshes = 0;
        std::vector<bool> flags;
    } first, victim;
    struct Closer : SongObserver {
        void OnSongRefresh(Song& s) override { s.RemoveObserver(victim); }
        SongObserver* victim = nullptr;
    } closer;
    closer.victim = &victim;

    test::TestContext context;
    Song song(context.Context());
    song.AddObserver(&first);
    song.AddObserver(&first); // once only
    song.AddObserver(&closer);
    song.AddObserver(&victim);
    song.RefreshViews();
    song.SetModifiedFlag(true);
    song.SetModifiedFlag(false);
    EXPECT_EQ(first.refreshes, 1);
    EXPECT_EQ(first.flags, (std::vector<bool>{true, false}));
    EXPECT_EQ(victim.refreshes, 0);
}

TEST(ClipFileName, NamesByTheClockInTheWaveDataFolderAndSkipsNamesThatAreTaken)
{
    test::TestContext context;
    const fs::path folder = fs::temp_directory_path() / ("cantivo-clip-" + std::to_string(::getpid()));
    const std::string wave = (folder / "WaveData").string();
    fs::create_directories(folder);
    Song song(context.Context());
    song.SetPathName((folder / "Song.mid").string());
    context.clock.now = 0xABC0;

    std::ofstream(folder.string() + "/WaveData") << "a file where the folder should be";
    EXPECT_EQ(song.NewClipFileName("take.wav"), "");
    fs::remove(folder / "WaveData");

    EXPECT_EQ(song.NewClipFileName("/home/me/Take One.WAV"), wave + "/0000abc0.wav");
    EXPECT_TRUE(fs::is_directory(wave));
    // Only the file name's own dot counts; no dot gives no extension.
    EXPECT_EQ(song.NewClipFileName("/home/me.v2/take"), wave + "/0000abc0");
    EXPECT_EQ(song.NewClipFileName("C:\\My.Audio\\take.Aiff"), wave + "/0000abc0.aiff");

    std::ofstream(wave + "/0000abc0.wav") << "x";
    fs::create_symlink(folder / "nowhere", wave + "/0000abc1.wav"); // dangling, still taken
    std::ofstream(wave + "/0000abc2.aif") << "x";                   // another extension: free
    EXPECT_EQ(song.NewClipFileName("take.wav"), wave + "/0000abc2.wav");
    context.clock.now = 0xFFFFFFFF; // the counter wraps
    std::ofstream(wave + "/ffffffff.wav") << "x";
    EXPECT_EQ(song.NewClipFileName("take.wav"), wave + "/00000000.wav");
    fs::remove_all(folder);
}

} // namespace
} // namespace cantivo
