#include "edit/CueDialogModel.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cantivo::test {
namespace {

constexpr int32_t Beat = 120;
constexpr int32_t Bar = 4 * Beat;

// Four 4/4 measures at timebase 120, the third lettered "A".
struct CueSong {
    CueSong() : song(context.Context())
    {
        song.NewSongDefaults();
        song.timebase = Beat;
        song.measures.clear();
        for (int i = 0; i < 4; ++i) {
            Measure measure;
            measure.start = i * Bar;
            measure.length = Bar;
            measure.number = static_cast<uint16_t>(i + 1);
            measure.letter = i == 2 ? 'A' : 0;
            song.measures.push_back(measure);
        }
        song.songEnd = song.measureTableEnd = 4 * Bar;
    }
    CueDialogModel Open(int32_t kind, int32_t stopAt, int32_t restartAt, int32_t count = 0)
    {
        return CueDialogModel::ForProperties(song, Cue{"cue", kind, count, stopAt, restartAt, 7});
    }

    TestContext context;
    Song song;
};

TEST(CueDialogModel, InsertionIsAMarkerOverTheSelectionOrAtThePosition)
{
    CueSong s;
    s.song.currentPosition = 700;
    const CueDialogModel atPosition = CueDialogModel::ForInsertion(s.song);
    EXPECT_STREQ(atPosition.Title(), "Insert cue...");
    EXPECT_EQ(atPosition.Kind(), CueMarker);
    EXPECT_EQ(atPosition.StopAt(), 700);
    EXPECT_EQ(atPosition.RestartAt(), 700);

    s.song.selectionStart = 240;
    s.song.selectionEnd = 960;
    const CueDialogModel overSelection = CueDialogModel::ForInsertion(s.song);
    EXPECT_EQ(overSelection.StopAt(), 240);
    EXPECT_EQ(overSelection.RestartAt(), 960);

    // Properties keep what the dialog does not show.
    const CueDialogResult kept = s.Open(CueVamp, 960, 480, 3).Accept();
    ASSERT_TRUE(kept.cue) << kept.error;
    EXPECT_EQ(kept.cue->selectionMark, 7u);
}

TEST(CueDialogModel, FieldsEnabledPerKind)
{
    struct Case {
        int32_t kind;
        bool count;
        bool restartAt;
    };
    const Case cases[] = {
        {CueMarker, false, false},    {CueCaesura, false, true}, {CueFermata, false, true},
        {CueVamp, true, true},        {CueSkip, false, true},    {CueAdLib, false, true},
        {CueHoldAndCut, false, true}, {CueBreath, false, true},  {CueAdvanceAndCut, true, true},
        {CueAdvance, true, true},
    };
    CueSong s;
    CueDialogModel model = s.Open(CueMarker, 0, 0);
    for (const Case& c : cases) {
        std::string error;
        ASSERT_TRUE(model.SetKind(c.kind, error)) << error;
        EXPECT_EQ(model.CountEnabled(), c.count) << CueKindName(c.kind);
        EXPECT_EQ(model.RestartAtEnabled(), c.restartAt) << CueKindName(c.kind);
    }
}

TEST(CueDialogModel, TimesSwapIntoTheKindsOrderAtOpeningAndOnTypeChange)
{
    // The vamp family wants stop-at last, the other kinds stop-at first; equal times stay.
    CueSong s;
    for (int32_t kind = 0; kind < CueKindCount; ++kind) {
        const bool vampFamily = kind == CueVamp || kind == CueBreath || kind == CueAdvanceAndCut || kind == CueAdvance;
        const int32_t wantedStop = vampFamily ? 960 : 480;
        const int32_t wantedRestart = vampFamily ? 480 : 960;
        for (const auto& [stop, restart] : {std::pair{480, 960}, std::pair{960, 480}}) {
            const CueDialogModel opened = s.Open(kind, stop, restart);
            EXPECT_EQ(opened.StopAt(), wantedStop) << CueKindName(kind) << " opened with " << stop;
            EXPECT_EQ(opened.RestartAt(), wantedRestart) << CueKindName(kind) << " opened with " << stop;

            // From the opposite family, so the opening leaves the times as given.
            CueDialogModel changed = s.Open(vampFamily ? CueSkip : CueVamp, 0, 0);
            std::string error;
            ASSERT_TRUE(changed.SetStopAt(stop, error) && changed.SetRestartAt(restart, error)) << error;
            ASSERT_TRUE(changed.SetKind(kind, error)) << error;
            EXPECT_EQ(changed.StopAt(), wantedStop) << CueKindName(kind) << " changed to with " << stop;
            EXPECT_EQ(changed.RestartAt(), wantedRestart) << CueKindName(kind) << " changed to with " << stop;
        }
        const CueDialogModel equal = s.Open(kind, 600, 600);
        EXPECT_EQ(equal.StopAt(), 600);
        EXPECT_EQ(equal.RestartAt(), 600);
    }
}

TEST(CueDialogModel, OkChecksTheTimesAgainstTheKind)
{
    constexpr const char* Order = "The start time must be AT OR AFTER the end time.";
    constexpr const char* Vamp = "A vamp's begin time must come before its end time.";
    struct Case {
        const char* what;
        int32_t kind;
        int32_t stopAt;
        int32_t restartAt;
        const char* error; // nullptr: accepted with the times and count below
        int32_t storedRestart;
        int32_t storedCount;
    };
    const Case cases[] = {
        {"a Marker's restart-at becomes its stop-at", CueMarker, 480, 960, nullptr, 480, 5},
        {"a Skip whose restart-at is before its stop-at is refused", CueSkip, 960, 480, Order, 0, 0},
        {"a Caesura with equal times is kept", CueCaesura, 480, 480, nullptr, 480, 5},
        {"a Fermata backwards is refused", CueFermata, 961, 960, Order, 0, 0},
        {"an Ad lib backwards is refused", CueAdLib, 960, 0, Order, 0, 0},
        {"a Hold && Cut forwards is kept", CueHoldAndCut, 480, 960, nullptr, 960, 5},
        {"a Vamp whose two times are equal is refused", CueVamp, 480, 480, Vamp, 0, 0},
        {"a Vamp forwards is refused", CueVamp, 480, 960, Vamp, 0, 0},
        {"a Vamp backwards is kept", CueVamp, 960, 480, nullptr, 480, 5},
        {"an Advance && Cut with equal times is refused", CueAdvanceAndCut, 480, 480, Vamp, 0, 0},
        {"an Advance forwards is refused", CueAdvance, 480, 481, Vamp, 0, 0},
        {"a Breath always counts 2", CueBreath, 960, 480, nullptr, 480, 2},
        {"a Breath with equal times is kept", CueBreath, 480, 480, nullptr, 480, 2},
    };
    CueSong s;
    for (const Case& c : cases) {
        CueDialogModel model = s.Open(c.kind, 0, 0, 5);
        std::string error;
        ASSERT_TRUE(model.SetStopAt(c.stopAt, error) && model.SetRestartAt(c.restartAt, error)) << error;
        const CueDialogResult result = model.Accept();
        if (c.error) {
            EXPECT_FALSE(result.cue) << c.what;
            EXPECT_EQ(result.error, c.error) << c.what;
            // The dialog stays open as the user left it.
            EXPECT_EQ(model.StopAt(), c.stopAt) << c.what;
            EXPECT_EQ(model.RestartAt(), c.restartAt) << c.what;
            continue;
        }
        ASSERT_TRUE(result.cue) << c.what << ": " << result.error;
        EXPECT_EQ(result.cue->kind, c.kind) << c.what;
        EXPECT_EQ(result.cue->stopAt, c.stopAt) << c.what;
        EXPECT_EQ(result.cue->restartAt, c.storedRestart) << c.what;
        EXPECT_EQ(result.cue->count, c.storedCount) << c.what;
    }
}

TEST(CueDialogModel, PositionTextRoundTripsAndBadTextKeepsTheField)
{
    CueSong s;
    CueDialogModel model = s.Open(CueSkip, 0, 0);
    std::string error;
    ASSERT_TRUE(model.SetStopAtText("2:3:010", error)) << error;
    EXPECT_EQ(model.StopAt(), Bar + 2 * Beat + 10);
    ASSERT_TRUE(model.SetRestartAtText("3A:4", error)) << error;
    EXPECT_EQ(model.RestartAt(), 2 * Bar + 3 * Beat);
    for (int32_t tick : {0, Bar + 2 * Beat + 10, 4 * Bar - 1}) {
        ASSERT_TRUE(model.SetStopAt(tick, error)) << error;
        const std::string text = model.StopAtText();
        ASSERT_TRUE(model.SetRestartAtText(text, error)) << text << ": " << error;
        EXPECT_EQ(model.RestartAt(), tick) << text;
        EXPECT_EQ(model.RestartAtText(), text);
    }
    EXPECT_EQ(model.StopAtText(), "4:4:119");

    for (const char* bad : {"", "abc", "9:1:000", "1:0:000", "1:5:000", "1:1:-3", "1:2:3:4"}) {
        error.clear();
        EXPECT_FALSE(model.SetStopAtText(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(model.StopAt(), 4 * Bar - 1) << bad;
    }
}

TEST(CueDialogModel, RefusesNegativeValuesUnknownKindsAndOverlongLabels)
{
    CueSong s;
    CueDialogModel model = s.Open(CueVamp, 960, 480, 2);
    std::string error;
    EXPECT_FALSE(model.SetCount(-1, error));
    EXPECT_NE(error.find("0 or more"), std::string::npos) << error;
    EXPECT_EQ(model.Count(), 2);
    ASSERT_TRUE(model.SetCount(0, error)) << error;
    EXPECT_FALSE(model.SetStopAt(-1, error));
    EXPECT_FALSE(model.SetRestartAt(-480, error));
    EXPECT_NE(error.find("-480"), std::string::npos) << error;
    EXPECT_FALSE(model.SetKind(CueKindCount, error));
    EXPECT_FALSE(model.SetKind(-1, error));
    EXPECT_EQ(model.Kind(), CueVamp);
    EXPECT_EQ(model.StopAt(), 960);
    EXPECT_EQ(model.RestartAt(), 480);

    // A vamp read from a file may start before the song does.
    const CueDialogResult negative = s.Open(CueVamp, 100, -20).Accept();
    EXPECT_FALSE(negative.cue);
    EXPECT_NE(negative.error.find("-20"), std::string::npos) << negative.error;

    // The label fits in what the file keeps; a vamp's count takes room in front of it.
    model.SetLabel(std::string(127, 'x'));
    EXPECT_TRUE(model.Accept().cue);
    ASSERT_TRUE(model.SetCount(12, error)) << error;
    CueDialogResult tooLong = model.Accept();
    EXPECT_FALSE(tooLong.cue);
    EXPECT_NE(tooLong.error.find("at most 123"), std::string::npos) << tooLong.error;
    EXPECT_EQ(model.Label(), std::string(127, 'x'));
    ASSERT_TRUE(model.SetKind(CueAdvance, error)) << error;
    EXPECT_TRUE(model.Accept().cue);
    model.SetLabel(std::string(128, 'x'));
    EXPECT_FALSE(model.Accept().cue);
}

} // namespace
} // namespace cantivo::test
