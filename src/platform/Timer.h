// Clock adapters: the high-resolution performance counter and the millisecond
// tick count, both over the system's monotonic clock, so readings never go
// backwards when the wall clock is set.
//
// Tests, and anything else that must not depend on real time, substitute the
// readings through SetTimerSource or ScopedTimerSource. Every reader of time
// (the interval timer, the playback loop) goes through the functions below, so
// one substitution reaches all of them. Single-threaded: install a source only
// while no other thread reads the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// Counts per second of the counter: 1,000,000,000 on the monotonic clock.
// Always succeeds and returns true.
bool QueryPerformanceFrequency(std::int64_t* frequency);
// Current count of the counter. Always succeeds and returns true.
bool QueryPerformanceCounter(std::int64_t* count);
// Milliseconds since an arbitrary fixed start; 64 bits wide, so it never wraps.
std::int64_t GetTickCount64();

// Replacement readings. An empty member leaves that reading to the monotonic
// clock, so a test may substitute only what it needs.
struct TimerSource {
    std::function<std::int64_t()> Frequency;
    std::function<std::int64_t()> Counter;
    std::function<std::int64_t()> TickCount;
};

// Installs source and returns the one installed before; an empty TimerSource
// restores the monotonic clock.
TimerSource SetTimerSource(TimerSource source);

// Installs a source for the lifetime of the object, then restores the previous one.
class ScopedTimerSource {
public:
    explicit ScopedTimerSource(TimerSource source) : previous(SetTimerSource(std::move(source))) {}
    ~ScopedTimerSource() { SetTimerSource(std::move(previous)); }
    ScopedTimerSource(const ScopedTimerSource&) = delete;
    ScopedTimerSource& operator=(const ScopedTimerSource&) = delete;

private:
    TimerSource previous;
};
