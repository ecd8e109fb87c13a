#include "platform/Timer.h"

#include <ctime>
#include <utility>

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

TimerSource& InstalledSource() {
    static TimerSource source;
    return source;
}

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

}  // namespace

bool QueryPerformanceFrequency(std::int64_t* frequency) {
    const auto& replacement = InstalledSource().Frequency;
    *frequency = replacement ? replacement() : kNanosecondsPerSecond;
    return true;
}

bool QueryPerformanceCounter(std::int64_t* count) {
    const auto& replacement = InstalledSource().Counter;
    *count = replacement ? replacement() : MonotonicNanoseconds();
    return true;
}

std::int64_t GetTickCount64() {
    const auto& replacement = InstalledSource().TickCount;
    return replacement ? replacement() : MonotonicNanoseconds() / kNanosecondsPerMillisecond;
}

TimerSource SetTimerSource(TimerSource source) {
    return std::exchange(InstalledSource(), std::move(source));
}
