// The clock adapters and the interval timer sTime.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Timer.h"
#include "timing/sTime.h"

namespace {

struct Interval {
    const char* name;
    std::int64_t frequency, startCounter, stopCounter, startTick, stopTick;
    double seconds;
};

// Every row moves both the counter and the tick count, by amounts that give
// different results, so the result also shows which source the mode read.
// The arithmetic is exact for every row, so no tolerance hides a wrong source.
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

void PrintTo(const Interval& row, std::ostream* out) { *out << row.name; }

class Timing : public testing::TestWithParam<Interval> {};

// A second stop, the clocks moved as far again, measures from the same start.
TEST_P(Timing, MeasuresSecondsFromTheModesSource) {
    const Interval& row = GetParam();
    std::int64_t counter = row.startCounter, tick = row.startTick;
    const ScopedTimerSource fake({[&] { return row.frequency; }, [&] { return counter; }, [&] { return tick; }});
    sTime timer;
    EXPECT_EQ(timer.RetTime(), 0.0);
    timer.Init();
    timer.StartTime();
    for (int stop = 1; stop <= 2; ++stop) {
        counter = row.startCounter + stop * (row.stopCounter - row.startCounter);
        tick = row.startTick + stop * (row.stopTick - row.startTick);
        timer.StopTime();
        EXPECT_EQ(timer.RetTime(), stop * row.seconds);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Timing, testing::ValuesIn(kIntervals), [](const auto& info) { return info.param.name; });

// Against the standard library's steady clock around a sleep: each clock's
// interval lies inside the outer one and spans at least the sleep. Load only
// lengthens both, so nothing bounds the time itself.
TEST(Clocks, CountInTheirStatedUnits) {
    std::int64_t frequency = 0, counterBefore = 0, counterAfter = 0;
    QueryPerformanceFrequency(&frequency);
    const auto outerStart = std::chrono::steady_clock::now();
    QueryPerformanceCounter(&counterBefore);
    const std::int64_t tickBefore = GetTickCount64();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::int64_t ticks = GetTickCount64() - tickBefore;
    QueryPerformanceCounter(&counterAfter);
    const double outer = std::chrono::duration<double>(std::chrono::steady_clock::now() - outerStart).count();
    const double counted = static_cast<double>(counterAfter - counterBefore) / static_cast<double>(frequency);
    EXPECT_GE(ticks, 50);
    EXPECT_LE(ticks, outer * 1000 + 1);
    EXPECT_GE(counted, 0.05);
    EXPECT_LE(counted, outer);
}

}  // namespace
