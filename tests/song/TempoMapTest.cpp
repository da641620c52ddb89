#include "song/TempoMap.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <limits>

namespace cantivo {
namespace {

TempoMap MapOf(std::initializer_list<TempoChange> changes, int timebase = 120)
{
    TempoMap map;
    map.entries.assign(changes);
    map.RecomputeTempoTimes(timebase);
    return map;
}

TEST(TempoMap, ConvertsTicksAndTimeThroughEveryEntry)
{
    const TempoMap single = MapOf({{0, 500000, 0.0}});
    const TempoMap faster = MapOf({{0, 500000, 0.0}, {480, 250000, 0.0}});
    EXPECT_DOUBLE_EQ(faster.entries[1].absolute, 2000000.0);
    struct Case {
        const TempoMap* map;
        int32_t tick;
        double microseconds;
    };
    const Case cases[] = {
        {&single, 480, 2000000.0}, {&single, 240, 1000000.0},         {&faster, 960, 3000000.0},
        {&faster, 600, 2250000.0}, {&faster, 479, 1995833.333333333},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tick);
        EXPECT_NEAR(c.map->TicksToMicroseconds(c.tick, 120), c.microseconds, 1e-6);
        EXPECT_EQ(c.map->MicrosecondsToTicks(c.microseconds, 120), c.tick);
    }
    // A time between two ticks truncates toward zero, in either tempo and before the start.
    EXPECT_EQ(faster.MicrosecondsToTicks(1004000.0, 120), 240);
    EXPECT_EQ(faster.MicrosecondsToTicks(2003000.0, 120), 481);
    EXPECT_EQ(faster.MicrosecondsToTicks(-4000.0, 120), 0);
    EXPECT_EQ(faster.MicrosecondsToTicks(-4200.0, 120), -1);
}

TEST(TempoMap, TheTimeOfEveryTickConvertsBackToThatTick)
{
    // Floating-point error must not put a tick's own time on the tick before it.
    for (uint32_t tempo : {500000u, 476190u, 333333u, 1000000u, 428571u}) {
        for (int timebase : {24, 96, 120, 384, 480, 960}) {
            const TempoMap map = MapOf({{0, tempo, 0.0}, {timebase * 7 + 3, tempo / 2 + 1, 0.0}}, timebase);
            for (int32_t tick = 0; tick < 40000; tick += 7) {
                const int32_t back = map.MicrosecondsToTicks(map.TicksToMicroseconds(tick, timebase), timebase);
                ASSERT_EQ(back, tick) << "tempo " << tempo << " timebase " << timebase;
            }
        }
    }
}

TEST(TempoMap, LastOfSeveralEntriesAtOneTickIsInForce)
{
    // A tempo ramp that returns to its opening tempo leaves two entries at tick 480.
    const TempoMap map = MapOf({{0, 500000, 0.0}, {480, 400000, 0.0}, {480, 250000, 0.0}, {960, 500000, 0.0}});
    for (const auto& [tick, index] : {std::pair{-5, 0}, std::pair{479, 0}, std::pair{480, 2}, std::pair{959, 2},
                                      std::pair{960, 3}, std::pair{100000, 3}})
        EXPECT_EQ(map.FindTempo(tick), index) << tick;
    EXPECT_EQ(map.FindTempoAtTime(-1.0), 0);
    EXPECT_EQ(map.FindTempoAtTime(1999999.0), 0);
    EXPECT_EQ(map.FindTempoAtTime(2000000.0), 2);
    EXPECT_DOUBLE_EQ(map.entries[3].absolute, 3000000.0);
    EXPECT_DOUBLE_EQ(map.TicksToMicroseconds(720, 120), 2500000.0);
    EXPECT_EQ(map.MicrosecondsToTicks(2500000.0, 120), 720);
}

TEST(TempoMap, DamagedMapsAndTimesDoNotBreakTheConversions)
{
    TempoMap empty;
    empty.entries.clear();
    EXPECT_EQ(empty.TicksToMicroseconds(480, 120), 0.0);
    EXPECT_EQ(empty.MicrosecondsToTicks(1e6, 120), 0);
    empty.RecomputeTempoTimes(120);

    const TempoMap zeroTempo = MapOf({{0, 500000, 0.0}, {480, 0, 0.0}});
    EXPECT_EQ(zeroTempo.MicrosecondsToTicks(5e6, 120), 480);

    const TempoMap map = MapOf({{0, 500000, 0.0}});
    EXPECT_EQ(map.MicrosecondsToTicks(1e18, 120), INT32_MAX);
    EXPECT_EQ(map.MicrosecondsToTicks(-1e18, 120), INT32_MIN);
    EXPECT_EQ(map.MicrosecondsToTicks(std::numeric_limits<double>::quiet_NaN(), 120), 0);
    EXPECT_EQ(map.TicksToMicroseconds(480, 0), 0.0);
    EXPECT_NEAR(map.TicksToMicroseconds(INT32_MIN, 120), INT32_MIN * (500000.0 / 120), 1.0);
}

} // namespace
} // namespace cantivo
