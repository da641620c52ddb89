#include "song/TimeCode.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <tuple>

namespace cantivo {

bool operator==(const TimeCodeFields& a, const TimeCodeFields& b)
{
    return std::tie(a.hours, a.minutes, a.seconds, a.fourth) == std::tie(b.hours, b.minutes, b.seconds, b.fourth);
}

void PrintTo(const TimeCodeFields& f, std::ostream* out)
{
    *out << f.hours << ':' << f.minutes << ':' << f.seconds << ';' << f.fourth;
}

namespace {

constexpr double DropFrameUnit = 1000000.0 / 29.97;

TEST(TimeCode, SplitsTimesForEachFormatAndConvertsBack)
{
    struct Case {
        double microseconds;
        int format;
        TimeCodeFields fields;
    };
    const Case cases[] = {
        {3723004000.0, Milliseconds, {1, 2, 3, 4}},
        {1040000.0, Frames25, {0, 0, 1, 1}},
        {1500000.0, Frames24, {0, 0, 1, 12}},
        {3600e6 - 1000000.0 / 30, Frames30, {0, 59, 59, 29}},
        {90000e6, Frames24, {25, 0, 0, 0}},
        {999.0, Milliseconds, {0, 0, 0, 1}}, // the added microsecond rounds a hair-short count up
        {998.0, Milliseconds, {0, 0, 0, 0}},
        {-5e6, Frames25, {0, 0, 0, 0}},
        {std::numeric_limits<double>::quiet_NaN(), Frames25, {0, 0, 0, 0}},
        {1500.0, 9, {0, 0, 0, 1}}, // an unknown format counts milliseconds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.microseconds << " in format " << c.format);
        EXPECT_EQ(TimeCode(c.microseconds, c.format), c.fields);
        if (c.microseconds >= 1000.0) {
            EXPECT_EQ(TimeCode(TimeCodeToMicroseconds(c.fields, c.format), c.format), c.fields);
        }
    }
    // Fields that overflow simply add up; negative ones count as nothing.
    EXPECT_DOUBLE_EQ(TimeCodeToMicroseconds({0, 0, 0, 50}, Frames25), 2000000.0);
    EXPECT_EQ(TimeCodeToMicroseconds({0, 0, -5, 0}, Milliseconds), 0.0);
}

// The next label of the published drop-frame rule: labels ;00 and ;01 are skipped at the start of
// every minute except each tenth.
TimeCodeFields NextDropFrameLabel(TimeCodeFields f)
{
    if (++f.fourth == 30) {
        f.fourth = 0;
        if (++f.seconds == 60) {
            f.seconds = 0;
            if (++f.minutes == 60) {
                f.minutes = 0;
                ++f.hours;
            }
        }
    }
    if (f.seconds == 0 && f.fourth == 0 && f.minutes % 10 != 0)
        f.fourth = 2;
    return f;
}

TEST(TimeCode, DropFrameLabelsFollowThePublishedRuleForTwoHours)
{
    TimeCodeFields expected;
    for (int64_t frame = 0; frame <= 2 * 107892 + 40; ++frame) {
        const double microseconds = static_cast<double>(frame) * DropFrameUnit;
        const TimeCodeFields fields = TimeCode(microseconds, Frames30Drop);
        ASSERT_EQ(fields, expected) << "frame " << frame;
        ASSERT_NEAR(TimeCodeToMicroseconds(fields, Frames30Drop), microseconds, 1e-3) << "frame " << frame;
        expected = NextDropFrameLabel(expected);
    }
    EXPECT_EQ(TimeCode(107892 * 24 * DropFrameUnit, Frames30Drop), (TimeCodeFields{24, 0, 0, 0}));
}

TEST(TimeCode, DropFrameFieldsThatOverflowAreNormalised)
{
    struct Case {
        TimeCodeFields fields;
        int64_t frame;
    };
    const Case cases[] = {
        {{0, 0, 0, 45}, 45},                           // 30 frames carry into a second
        {{0, 0, 59, 30}, 1800},                        // …into the next minute, whose first label is ;02
        {{0, 1, 0, 0}, 1800},    {{0, 1, 0, 1}, 1800}, // labels ;00 and ;01 of a dropped minute read as ;02
        {{0, 0, 120, 0}, 3598},                        // 120 seconds are minute 2
        {{0, 10, 0, 0}, 17982},                        // no drop at a tenth minute
        {{0, 60, 0, 0}, 107892},                       // 60 minutes are an hour
        {{0, -3, 0, 5}, 5},                            // negative fields count as 0
    };
    for (const Case& c : cases)
        EXPECT_NEAR(TimeCodeToMicroseconds(c.fields, Frames30Drop), static_cast<double>(c.frame) * DropFrameUnit, 1e-3)
            << c.frame;
}

TEST(TransportText, TimeTempoAndLength)
{
    EXPECT_EQ(TransportTimeText(3723004000.0, Milliseconds), "1:02:03.004");
    EXPECT_EQ(TransportTimeText(1040000.0, Frames25), "0:00:01:01");
    EXPECT_EQ(TransportTimeText(1800 * DropFrameUnit, Frames30Drop), "0:01:00:02");
    EXPECT_EQ(LengthText(59999.0), "0:00:00.060");
    const std::tuple<int32_t, uint32_t, const char*> cases[] = {
        {100000, 500000, "1.000 x 120.0 bpm"},  {100000, 600000, "1.000 x 100.0 bpm"},
        {150000, 1000000, "1.500 x  60.0 bpm"}, {100099, 333333, "1.000 x 180.0 bpm"},
        {100000, 0, "1.000 x   0.0 bpm"},       {-100, 500000, "0.000 x 120.0 bpm"},
    };
    for (const auto& [ratio, tempo, text] : cases)
        EXPECT_EQ(TransportTempoText(ratio, tempo), text);
}

TEST(TransportText, PositionShowsMeasureLabelBeatAndTick)
{
    test::TestContext context;
    Song song(context.Context());
    EXPECT_EQ(TransportPositionText(song, 0), ""); // no measures yet

    song.NewSongDefaults();
    EXPECT_EQ(TransportPositionText(song, 130), "1.2.010");
    // Two 6/8 measures after the first: "12b" (the letter printed upper-case) and "A" alone.
    song.measures.push_back(
        {.start = 480, .length = 360, .number = 12, .letter = 'b', .numerator = 6, .denominator = 8});
    song.measures.push_back(
        {.start = 840, .length = 360, .number = 0, .letter = 'A', .numerator = 6, .denominator = 8});

    EXPECT_EQ(TransportPositionText(song, 610), "12B.3.010");
    EXPECT_EQ(TransportPositionText(song, 840), "A.1.000");
    EXPECT_EQ(TransportPositionText(song, 1200 + 61), "A.8.001"); // beyond the table: counted on from the last
}

} // namespace
} // namespace cantivo
