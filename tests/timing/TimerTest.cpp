#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Timer.h"

namespace {

TEST(Timer, MonotonicClockRunsAtOneGigahertzAndNeverGoesBack) {
    std::int64_t frequency = 0;
    EXPECT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1'000'000'000);
    std::int64_t first = 0;
    std::int64_t second = 0;
    EXPECT_TRUE(QueryPerformanceCounter(&first));
    const std::int64_t firstTick = GetTickCount64();
    EXPECT_TRUE(QueryPerformanceCounter(&second));
    EXPECT_GE(second, first);
    EXPECT_GE(GetTickCount64(), firstTick);
}

TEST(Timer, SubstitutesOnlyTheGivenReadingsAndRestoresThePrevious) {
    {
        ScopedTimerSource outer({nullptr, nullptr, [] { return std::int64_t{42}; }});
        std::int64_t frequency = 0;
        QueryPerformanceFrequency(&frequency);
        EXPECT_EQ(frequency, 1'000'000'000);
        EXPECT_EQ(GetTickCount64(), 42);
        {
            ScopedTimerSource inner({[] { return std::int64_t{7}; }, nullptr, nullptr});
            QueryPerformanceFrequency(&frequency);
            EXPECT_EQ(frequency, 7);
            EXPECT_NE(GetTickCount64(), 42);
        }
        EXPECT_EQ(GetTickCount64(), 42);
    }
    std::int64_t frequency = 0;
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ(frequency, 1'000'000'000);
}

}  // namespace
