#include "Ours.h"

#include <malloc.h>

#include <algorithm>
#include <memory>

#include "Measure.h"
#include "clip/cAVI.h"
#include "platform/Display.h"

namespace bench {
namespace {

struct OpenClip {
    std::unique_ptr<cAVI> clip = std::make_unique<cAVI>();
    std::unique_ptr<MemorySurface> surface;
    bool ok = false;

    // Memory an earlier clip freed goes back to the system first, so every
    // measurement starts as the first clip of a session does.
    explicit OpenClip(const std::string& path) {
        malloc_trim(0);
        ok = clip->LoadAVI(path);
        if (ok) surface = std::make_unique<MemorySurface>(clip->GetWidth(), clip->GetHeight());
    }
    void Draw(std::int32_t frame, bool enableCatch) { clip->DrawFrame(frame, *surface, enableCatch); }
};

// Heap bytes in use, small and mmapped blocks together.
double HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

}  // namespace

double OursOpenMs(const std::string& path) {
    auto clip = std::make_unique<cAVI>();
    Stopwatch watch;
    const bool ok = clip->LoadAVI(path);
    const double ms = watch.Ms();
    return ok ? ms : kMissing;
}

double OursSeqFps(const std::string& path) {
    OpenClip c(path);
    if (!c.ok) return kMissing;
    Stopwatch watch;
    for (std::int32_t f = c.clip->GetFirstFrame(); f <= c.clip->GetLastFrame(); ++f) c.Draw(f, false);
    return c.clip->GetFrameCount() / watch.Seconds();
}

double OursRandMs(const std::string& path, const std::vector<std::int32_t>& frames) {
    OpenClip c(path);
    if (!c.ok || frames.empty()) return kMissing;
    Stopwatch watch;
    for (const std::int32_t f : frames) c.Draw(f, false);
    return watch.Ms() / static_cast<double>(frames.size());
}

double OursBackMs(const std::string& path, std::int32_t start, int steps) {
    OpenClip c(path);
    if (!c.ok || steps <= 0) return kMissing;
    c.Draw(start, false);
    Stopwatch watch;
    for (int i = 1; i <= steps; ++i) c.Draw(start - i, false);
    return watch.Ms() / steps;
}

double OursHitUs(const std::string& path, std::int32_t frame, int repeats) {
    OpenClip c(path);
    if (!c.ok) return kMissing;
    c.Draw(frame, true);
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(repeats));
    for (int i = 0; i < repeats; ++i) {
        Stopwatch watch;
        c.Draw(frame, true);
        ClobberMemory();
        times.push_back(watch.Us());
    }
    return Median(std::move(times));
}

// The marginal heap cost of caching `count` more frames once `count` are
// cached. The frames are shown with the cache off first, so the frame reader
// already keeps their decoded pictures and the cached passes allocate only
// what the cache holds; the reader's few reusable buffers are all taken by the
// first cached pass.
CacheFootprint OursCacheFootprint(const std::string& path, int count) {
    OpenClip c(path);
    if (!c.ok) return {kMissing, kMissing};
    const std::int32_t first = c.clip->GetFirstFrame();
    count = std::min(count, c.clip->GetFrameCount() / 2);
    if (count < 1) return {kMissing, kMissing};
    for (std::int32_t f = first; f < first + 2 * count; ++f) c.Draw(f, false);
    for (std::int32_t f = first; f < first + count; ++f) c.Draw(f, true);
    const double before = HeapInUse();
    for (std::int32_t f = first + count; f < first + 2 * count; ++f) c.Draw(f, true);
    const double heap = HeapInUse() - before;
    return {static_cast<double>(c.clip->GetCatchSize()) / (2 * count), heap / count};
}

}  // namespace bench
