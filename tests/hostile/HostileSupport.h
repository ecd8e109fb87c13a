// Tools for making hostile files out of good ones and for watching what
// reading them costs the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

using Bytes = std::vector<std::uint8_t>;
inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::uint32_t GetLE32(const Bytes& bytes, std::size_t offset);
// Writes `width` bytes (1, 2 or 4) of `value`; offsets past the end are ignored.
void PutLE(Bytes& bytes, std::size_t offset, std::uint32_t value, int width = 4);

// Offset of the `nth` chunk (0-based) whose id is `id`, walking RIFF forms and
// lists depth first, 'movi' included; a list counts under its list type
// ("movi", "strl"). kNone when there is none.
std::size_t FindChunk(const Bytes& riff, const char* id, std::size_t nth = 0);
// Offsets of every chunk header in the file, lists and their contents alike.
std::vector<std::size_t> ChunkOffsets(const Bytes& riff);

// Peak resident memory of the process since the last ResetPeakMemory, in
// bytes; and the resident memory right now. -1 when the system cannot tell.
std::int64_t PeakMemoryBytes();
std::int64_t ResidentMemoryBytes();
void ResetPeakMemory();
// Memory the address sanitizer keeps back (its quarantine of freed blocks);
// 0 in a build without it.
std::int64_t SanitizerSlack();

// The seed of a test's random choices: FRAMEWISE_SEED when set, otherwise a
// fresh one. Printed, so that a failing run can be repeated.
std::uint32_t TestSeed(const char* what);

}  // namespace hostile
