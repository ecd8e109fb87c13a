// What each fuzz target does with one input. Shared by the libFuzzer programs
// and by the test that replays their regression inputs without libFuzzer, so
// that both walk the same code.
#pragma once

#include <cstddef>
#include <cstdint>

class cAVI;

namespace fuzz {

// Message boxes say nothing, the AVI file service is started, decoders run on
// one thread and every clip's cache is bounded. Idempotent.
void Init();

// The input as a BMP file: read, drawn, written and read back.
void ReadBmpFile(const std::uint8_t* data, std::size_t size);
// The input as a packed bitmap in memory: imported and drawn.
void ImportPackedDib(const std::uint8_t* data, std::size_t size);
// The input as a video file of any container: opened as a clip, its first, last and a middle
// frame drawn (with and without the cache), then closed.
void OpenAviClip(const std::uint8_t* data, std::size_t size);

// Draws a loaded clip's first, last and middle frames, then `extra` more that
// `seed` chooses, with the cache on and off in turn; a frame that cannot be
// decoded is skipped. Aborts when the cache leaves its budget or its total.
void DrawSomeFrames(cAVI& clip, std::uint32_t seed, int extra);

}  // namespace fuzz
