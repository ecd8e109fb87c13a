// What reading hostile input costs the process in memory.
#pragma once

#include <cstdint>
#include <functional>

namespace hostile {

// Runs `work` and returns how far the process's resident memory peaked above
// where it stood before; 0 where the system cannot tell.
std::int64_t PeakGrowth(const std::function<void()>& work);

// What reading a few kilobytes of hostile input may cost: the decoder's and a
// frame's memory, and in a sanitizer build the quarantine of freed blocks.
extern const std::int64_t kMemoryBound;

}  // namespace hostile
