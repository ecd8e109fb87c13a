#include "Ours.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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

    explicit OpenClip(const std::string& path) {
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

// The address space one pixel block takes: the smallest gap between the
// blocks of frames held at the same time (neighbours carved one after the
// other lie exactly one block apart). Positions that repeat a picture share
// its block and give no gap. Needs a few blocks to find neighbours.
double PixelBlockFootprint(OpenClip& c, std::int32_t first, int count) {
    std::vector<cDIBx> held(static_cast<std::size_t>(count));
    std::vector<std::uintptr_t> starts;
    for (int i = 0; i < count; ++i)
        if (c.clip->ReadFrame(first + i, held[static_cast<std::size_t>(i)]))
            starts.push_back(reinterpret_cast<std::uintptr_t>(held[static_cast<std::size_t>(i)].PointerToBits()));
    std::sort(starts.begin(), starts.end());
    double smallest = kMissing;
    if (starts.size() < 4) return smallest;  // too few blocks to find neighbours
    for (std::size_t i = 1; i < starts.size(); ++i)
        if (starts[i] > starts[i - 1]) smallest = std::fmin(smallest, static_cast<double>(starts[i] - starts[i - 1]));
    return smallest;
}

// The C heap the cache gives back when emptied, per frame, after caching
// 2 × `count` frames (or all); the frame after them is drawn uncached so that
// the surface and the reader hold another picture. A pixel block the reader takes
// from memory of its own, outside that heap, is added by its footprint.
CacheFootprint OursCacheFootprint(const std::string& path, int count) {
    OpenClip c(path);
    if (!c.ok) return {kMissing, kMissing};
    const std::int32_t first = c.clip->GetFirstFrame();
    const int cached = std::min(2 * count, c.clip->GetFrameCount());
    for (std::int32_t f = first; f < first + cached; ++f) c.Draw(f, true);
    if (cached < c.clip->GetFrameCount()) c.Draw(first + cached, false);
    const double catchBytes = static_cast<double>(c.clip->GetCatchSize()) / cached;
    const double before = HeapInUse();
    c.clip->ClearCatch();
    const double heap = (before - HeapInUse()) / cached;
    const double block = PixelBlockFootprint(c, first, cached);
    if (heap >= catchBytes / 2) return {catchBytes, heap};  // the pixels live on the C heap
    // A gap of more than two blocks lies between blocks that were not carved
    // one after the other (positions that mostly repeat a few pictures).
    if (block > 2 * catchBytes) return {catchBytes, kMissing};
    return {catchBytes, heap + block};  // NaN when the block cannot be measured
}

}  // namespace bench
