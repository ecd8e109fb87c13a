// Clocks and statistics shared by the benchmark's measurements.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace bench {

inline constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    double Ms() const { return Seconds() * 1e3; }
    double Us() const { return Seconds() * 1e6; }

private:
    std::chrono::steady_clock::time_point start_;
};

inline double Median(std::vector<double> values) {
    if (values.empty()) return kMissing;
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

// Keeps the compiler from dropping or merging work whose result is unused.
inline void ClobberMemory() { asm volatile("" ::: "memory"); }

// Rows of a 24-bit DIB padded to whole 4-byte words.
inline std::int64_t PaddedRowBytes(std::int64_t width) { return (width * 3 + 3) & ~std::int64_t{3}; }

}  // namespace bench
