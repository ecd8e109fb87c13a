// Watching what reading a hostile file costs the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

// Peak resident memory of the process since the last ResetPeakMemory, in
// bytes; and the resident memory right now. -1 when the system cannot tell.
std::int64_t PeakMemoryBytes();
std::int64_t ResidentMemoryBytes();
void ResetPeakMemory();
// Memory the address sanitizer keeps back (its quarantine of freed blocks);
// 0 in a build without it.
std::int64_t SanitizerSlack();

}  // namespace hostile
