// Generated AVI clips in which every frame shows its own number, so that a
// frame-accuracy fault cannot hide: the upper half shows the number in large
// digits, the lower half carries it as a 4x4 grid of black/white cells (16
// bits) that survives lossy codecs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Display.h"

namespace fwtest {

struct ClipSpec {
    std::string encoder = "ffv1";  // libavcodec encoder name: ffv1, mpeg4, libx264, mjpeg, rawvideo, ...
    int width = 64;
    int height = 48;
    int frames = 10;          // pictures encoded
    int rate = 25;            // dwRate
    int scale = 1;            // dwScale
    int gop = 12;             // key frame distance
    int bFrames = 0;          // B-frames between references (codecs that have them)
    // Positions left as empty chunks (drop frames): picture k is written at
    // position k + (number of empty positions before it).
    std::vector<int> emptyPositions;
    bool withAudio = false;   // add an interleaved PCM audio stream
    // Encoder-private options, e.g. {"x264-params", "open-gop=1"}.
    std::vector<std::pair<std::string, std::string>> options;
};

// Writes the clip; returns false (and prints why) when the encoder is missing.
bool MakeClip(const std::string& path, const ClipSpec& spec);
// The number a generated picture carries, read back from its cells; -1 when
// the picture carries none.
int FrameNumberOf(const PersistentImage& image);
int FrameNumberOfDIB(const std::uint8_t* bottomUpBgr, int width, int height);
// The position -> picture number table the clip must show: empty positions
// repeat the previous picture.
std::vector<int> ExpectedNumbers(const ClipSpec& spec);

}  // namespace fwtest
