#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "platform/Timer.h"
#include "timing/sTime.h"

namespace {

// Readings the timer takes next; tests move them between calls.
struct FakeClock {
    std::int64_t frequency = 0;
    std::int64_t counter = 0;
    std::int64_t tick = 0;

    TimerSource Source() {
        return {[this] { return frequency; }, [this] { return counter; }, [this] { return tick; }};
    }
};

struct Interval {
    const char* name;
    std::int64_t frequency;
    std::int64_t startCounter, stopCounter;
    std::int64_t startTick, stopTick;
    double seconds;
};

// Every row moves both the counter and the tick count, by amounts that give
// different results, so the result also shows which source the mode read.
const Interval kIntervals[] = {
    {"TickModeSameTick", 10'000'000, 0, 5'000'000, 7'000, 7'000, 0.0},
    {"TickMode40ms", 10'000'000, 0, 5'000'000, 1'000, 1'040, 0.04},
    {"TickModeAcross2Pow31ms", 10'000'000, 0, 5'000'000, 2'147'483'628, 2'147'483'668, 0.04},
    {"TickModeFarPast2Pow32ms", 10'000'000, 0, 5'000'000, 5'000'000'000'000, 5'000'000'000'250, 0.25},
    {"Counter3579545", 3'579'545, 1'000, 3'580'545, 0, 9, 1.0},
    {"Counter14318180", 14'318'180, 0, 7'159'090, 0, 9, 0.5},
    {"CounterNanoseconds", 1'000'000'000, 123'456'789'000'000, 123'457'039'000'000, 0, 9, 0.25},
    {"ZeroFrequency", 0, 0, 3'579'545, 0, 9, 0.0},
};

void PrintTo(const Interval& row, std::ostream* out) {
    *out << row.name;
}

class sTimeInterval : public testing::TestWithParam<Interval> {};

TEST_P(sTimeInterval, MeasuresSecondsFromTheModesSource) {
    const Interval& row = GetParam();
    FakeClock clock{row.frequency, row.startCounter, row.startTick};
    ScopedTimerSource substitute(clock.Source());
    sTime timer;
    timer.Init();
    timer.StartTime();
    clock.counter = row.stopCounter;
    clock.tick = row.stopTick;
    timer.StopTime();
    // The arithmetic is exact for every row, so no tolerance hides a wrong source.
    EXPECT_EQ(timer.RetTime(), row.seconds);
}

INSTANTIATE_TEST_SUITE_P(Table, sTimeInterval, testing::ValuesIn(kIntervals),
                         [](const auto& info) { return std::string(info.param.name); });

// A counter at 1,000 counts per second, so counts read as milliseconds.
class sTimeCounter : public testing::Test {
protected:
    double StopAt(std::int64_t count) {
        clock.counter = count;
        timer.StopTime();
        return timer.RetTime();
    }

    FakeClock clock{1'000, 0, 0};
    ScopedTimerSource substitute{clock.Source()};
    sTime timer;
};

TEST_F(sTimeCounter, ReturnsZeroBeforeTheFirstStop) {
    EXPECT_EQ(timer.RetTime(), 0.0);
    timer.Init();
    timer.StartTime();
    clock.counter = 200;
    EXPECT_EQ(timer.RetTime(), 0.0);
}

TEST_F(sTimeCounter, StopsMeasureFromTheLastStart) {
    timer.Init();
    timer.StartTime();
    EXPECT_EQ(StopAt(1'000), 1.0);
    EXPECT_EQ(StopAt(2'500), 2.5);
    timer.StartTime();
    EXPECT_EQ(StopAt(3'000), 0.5);
}

TEST_F(sTimeCounter, KeepsTheLastResultWhenTheDifferenceOverflows) {
    timer.Init();
    timer.StartTime();
    StopAt(1'000);
    clock.counter = std::numeric_limits<std::int64_t>::max();
    timer.StartTime();
    EXPECT_EQ(StopAt(std::numeric_limits<std::int64_t>::min()), 1.0);
}

}  // namespace
