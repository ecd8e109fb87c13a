// framewise-cli verify: proof, for one file, that every position fetched as a
// user fetches it shows the picture a plain sequential decode gives it.
//
// The plain decode and the fetches share the engine's decoding, so this proves
// that jumps, reverse walks and steps across key frames agree with reading the
// stream straight through; it does not compare with another decoder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class cAVI;

// A checksum of one position's picture (its 24-bit bitmap's bytes); none when
// the position could not be decoded.
using PictureSum = std::optional<std::uint64_t>;

// Fetches `position` through `clip` and returns its picture's checksum.
PictureSum FetchPictureSum(cAVI& clip, std::int32_t position);

// One fetch of a check: the position, and the walk it is part of ("jump",
// "reverse walk", "step across a key frame"), named when it misses.
struct VerifyFetch {
    std::int32_t position = 0;
    const char* walk = "";
};

struct VerifyTally {
    std::int32_t checked = 0;  // distinct positions fetched at least once
    std::int32_t exact = 0;    // of those, the ones every fetch of which agreed
    bool stopped = false;      // SIGINT ended the run early
    std::vector<std::string> misses;  // what each position that missed showed, in position order
};

// Decodes `path` once from its first packet in order (a fresh reader with one
// decoder thread, no kept pictures, every position in turn), notes each
// position's checksum, then fetches positions through a fresh reader with the
// default settings: seeded random jumps, a reverse walk and steps across every
// key frame. `positions` 0 checks every position; N a seeded sample of N (a
// quarter of them around key frames). Prints to `out` a line per miss and then
// "verify: K/N positions exact"; progress to `err` when `progress` and the run
// takes a while. SIGINT stops it with the tally so far. Returns the exit
// status: 0 only when every fetch agreed.
int VerifyFile(const std::string& path, std::uint32_t seed, std::int32_t positions, bool progress,
               std::ostream& out, std::ostream& err);

// The comparison on its own: fetches the positions of `plan` in order with
// `fetch` and compares each with `plain` (the checksum of position first + i
// at i). A position misses when any of its fetches differs; its first miss is
// described: "position 74 shows the picture of position 72 (jump)", the
// nearest position with that checksum; "... shows a picture no position has";
// "... could not be decoded". `progress`, when set, is told the fetches done.
VerifyTally ComparePositions(const std::vector<PictureSum>& plain, std::int32_t first,
                             const std::vector<VerifyFetch>& plan,
                             const std::function<PictureSum(std::int32_t)>& fetch,
                             const std::function<void(std::size_t done, std::size_t total)>& progress = {});
