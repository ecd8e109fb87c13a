#include "HostileSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

namespace hostile {

namespace {

bool IsListForm(std::uint32_t id) { return id == 0x46464952u /* RIFF */ || id == 0x5453494Cu /* LIST */; }

std::uint32_t IdOf(const char* id) {
    std::uint32_t value = 0;
    std::memcpy(&value, id, 4);
    return value;
}

// Calls `visit(offset, id)` for every chunk inside [begin, end), lists by
// their list type, and descends into lists.
template <typename Visit>
void Walk(const Bytes& riff, std::size_t begin, std::size_t end, int depth, Visit&& visit) {
    std::size_t offset = begin;
    while (depth < 8 && offset + 8 <= end && offset + 8 <= riff.size()) {
        const std::uint32_t id = GetLE32(riff, offset);
        const std::uint64_t size = GetLE32(riff, offset + 4);
        const std::uint64_t next = offset + 8 + size + (size & 1);
        if (IsListForm(id) && offset + 12 <= riff.size()) {
            visit(offset, GetLE32(riff, offset + 8));
            Walk(riff, offset + 12, static_cast<std::size_t>(std::min<std::uint64_t>(next, end)), depth + 1, visit);
        } else {
            visit(offset, id);
        }
        if (next > end) break;
        offset = static_cast<std::size_t>(next);
    }
}

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

std::uint32_t GetLE32(const Bytes& bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void PutLE(Bytes& bytes, std::size_t offset, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        if (offset + i < bytes.size()) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::size_t FindChunk(const Bytes& riff, const char* id, std::size_t nth) {
    std::size_t found = kNone;
    std::size_t seen = 0;
    const std::uint32_t wanted = IdOf(id);
    Walk(riff, 0, riff.size(), 0, [&](std::size_t offset, std::uint32_t chunkId) {
        if (found == kNone && chunkId == wanted && seen++ == nth) found = offset;
    });
    return found;
}

std::vector<std::size_t> ChunkOffsets(const Bytes& riff) {
    std::vector<std::size_t> offsets;
    Walk(riff, 0, riff.size(), 0, [&](std::size_t offset, std::uint32_t) { offsets.push_back(offset); });
    return offsets;
}

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

std::uint32_t TestSeed(const char* what) {
    std::uint32_t seed = 0;
    if (const char* given = std::getenv("FRAMEWISE_SEED")) {
        seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 0));
    } else {
        seed = std::random_device{}();
    }
    std::cout << what << ": seed " << seed << " (repeat with FRAMEWISE_SEED=" << seed << ")\n";
    return seed;
}

}  // namespace hostile
