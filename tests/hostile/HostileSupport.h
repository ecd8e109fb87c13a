// What reading hostile input costs the process in memory.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#ifndef __has_feature
#define __has_feature(x) 0
#endif

namespace hostile {

// What reading a few kilobytes of hostile input may cost: the decoder's and a
// frame's memory, and in a sanitizer build the quarantine of freed blocks.
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
inline constexpr std::int64_t kMemoryBound = (std::int64_t{384} + 320) << 20;
#else
inline constexpr std::int64_t kMemoryBound = std::int64_t{384} << 20;
#endif

// A field of /proc/self/status in bytes; -1 when it is not there.
inline std::int64_t StatusField(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string word; status >> word;) {
        std::int64_t kilobytes = -1;
        if (word == field + ":") return status >> kilobytes ? kilobytes * 1024 : -1;
    }
    return -1;
}

// Runs `work` and returns how far the process's resident memory peaked above
// where it stood before; 0 where the system cannot tell.
inline std::int64_t PeakGrowth(const std::function<void()>& work) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here (Linux 4.0 and later)
    const std::int64_t before = StatusField("VmRSS");
    work();
    const std::int64_t peak = StatusField("VmHWM");
    return before < 0 || peak < 0 ? 0 : peak - before;
}

}  // namespace hostile
