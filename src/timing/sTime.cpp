#include "timing/sTime.h"

#include <limits>

#include "platform/Timer.h"

namespace {

// A counter at 10,000,000 counts per second holds the number 1000 in Frequency;
// the tick count's milliseconds are then in the same unit as that number.
constexpr std::int64_t kTickModeFrequencyRaw = 1000 * Fixed4::kScale;

// Past about 29,000 years of milliseconds the fixed-point form cannot hold the
// reading; such a value can only come from a substituted clock.
Fixed4 FromMilliseconds(std::int64_t milliseconds) {
    Fixed4 value;
    if (__builtin_mul_overflow(milliseconds, Fixed4::kScale, &value.Raw)) {
        value.Raw = milliseconds < 0 ? std::numeric_limits<std::int64_t>::min()
                                     : std::numeric_limits<std::int64_t>::max();
    }
    return value;
}

}  // namespace

void sTime::Init() {
    QueryPerformanceFrequency(&Frequency.Raw);
    UseTickCount = Frequency.Raw == kTickModeFrequencyRaw ? -1 : 0;
}

void sTime::StartTime() {
    TakeReading(StartCount);
}

void sTime::StopTime() {
    TakeReading(StopCount);
    Fixed4 difference;
    if (__builtin_sub_overflow(StopCount.Raw, StartCount.Raw, &difference.Raw)) {
        return;
    }
    // No counter present: there is no rate to divide by, and a caller showing
    // a rate treats 0.0 as "no measurement".
    if (Frequency.Raw == 0) {
        return;
    }
    Elapsed = difference.Number() / Frequency.Number();
}

void sTime::TakeReading(Fixed4& reading) const {
    if (UseTickCount) {
        reading = FromMilliseconds(GetTickCount64());
    } else {
        QueryPerformanceCounter(&reading.Raw);
    }
}
