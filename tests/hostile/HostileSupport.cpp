#include "HostileSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

namespace hostile {

namespace {

std::int64_t StatusField(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::istringstream value(line.substr(prefix.size()));
        std::int64_t kilobytes = -1;
        value >> kilobytes;
        return kilobytes < 0 ? -1 : kilobytes * 1024;
    }
    return -1;
}

}  // namespace

std::int64_t PeakMemoryBytes() { return StatusField("VmHWM"); }
std::int64_t ResidentMemoryBytes() { return StatusField("VmRSS"); }

void ResetPeakMemory() {
    // "5" resets the peak to the current resident size (Linux 4.0 and later).
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::int64_t SanitizerSlack() {
#if defined(__SANITIZE_ADDRESS__)
    return std::int64_t{320} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return std::int64_t{320} << 20;
#endif
#endif
    return 0;
}

}  // namespace hostile
