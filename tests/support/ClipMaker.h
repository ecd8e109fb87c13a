// Generated clips in which every frame shows its own number, so that a
// frame-accuracy fault cannot hide: a 4x4 grid of dark and light cells (16
// bits) that survives lossy codecs. The ffmpeg program draws and encodes them,
// into whatever container the file name's extension names.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Display.h"

namespace fwtest {

struct ClipSpec {
    std::string encoder = "ffv1";  // ffmpeg encoder: ffv1, mpeg4, libx264, mjpeg, rawvideo, libvpx-vp9, ...
    int width = 64;
    int height = 48;
    int frames = 10;          // pictures encoded
    int rate = 25;            // frame rate as rate / scale
    int scale = 1;
    int gop = 12;             // key frame distance
    int bFrames = 0;          // B-frames between references (codecs that have them)
    // Positions left without a picture (AVI drop frames, timestamp gaps):
    // picture k is written at position k + (number of empty positions before it).
    std::vector<int> emptyPositions;
    bool withAudio = false;   // add an audio stream
    std::string pixelFormat;  // the encoder's input format; empty for its default
    // Further output options, each given to ffmpeg as "-first second".
    std::vector<std::pair<std::string, std::string>> options;
};

// Writes the clip; returns false (and prints why) when ffmpeg fails.
bool MakeClip(const std::string& path, const ClipSpec& spec);
// The number a generated picture carries, read back from its cells; -1 when
// the picture carries none.
int FrameNumberOf(const PersistentImage& image);
int FrameNumberOfDIB(const std::uint8_t* bottomUpBgr, int width, int height);
// The position -> picture number table the clip must show: empty positions
// repeat the previous picture.
std::vector<int> ExpectedNumbers(const ClipSpec& spec);
// Runs a command through the shell and returns its standard output; `ok`
// tells whether it exited with status 0.
std::string RunCommand(const std::string& command, bool& ok);
// `text` quoted for the shell.
std::string ShellQuoted(const std::string& text);

}  // namespace fwtest
