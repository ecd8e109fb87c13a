// Measurements through the path the window uses: cAVI::DrawFrame into an
// in-memory display surface. Each one opens a fresh clip, so one does not warm
// the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct CacheFootprint {
    double catchBytesPerFrame = 0;  // GetCatchSize / frames cached
    double heapBytesPerFrame = 0;   // memory the cache took per frame, objects and pixel block
};

// One LoadAVI in ms; NaN when it fails.
double OursOpenMs(const std::string& path);
// Every frame in order, cache off.
double OursSeqFps(const std::string& path);
// Mean ms per frame over `frames` (clip frame numbers), cache off.
double OursRandMs(const std::string& path, const std::vector<std::int32_t>& frames);
// Mean ms per step of `steps` backward steps from `start` (shown first, not timed).
double OursBackMs(const std::string& path, std::int32_t start, int steps);
// Median us to draw a cached frame again, cache on.
double OursHitUs(const std::string& path, std::int32_t frame, int repeats);
// What the cache holds per frame, from caching 2 × `count` frames from the first.
CacheFootprint OursCacheFootprint(const std::string& path, int count);

}  // namespace bench
