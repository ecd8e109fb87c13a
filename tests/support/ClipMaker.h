// Generated clips in which every frame shows its own number, so that a
// frame-accuracy fault cannot hide: a 4x4 grid of dark and light cells (16
// bits) that survives lossy codecs. The ffmpeg program draws and encodes them,
// into whatever container the file name's extension names.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Display.h"

namespace fwtest {

// Writes the clip that `spec` describes, the container by the path's extension:
//   ENCODER WxH FRAMES [gop=N] [b=N] [rate=R/S] [empty=P,P,...] [pix=FORMAT]
//                      [audio] [-OPTION=VALUE...]
// gop: key frame distance (12), b: B-frames between references (0), rate:
// frames per second as a fraction (25/1), empty: positions left without a
// picture (AVI drop frames, timestamp gaps; picture k then stands at k plus
// the empty positions before it), pix: the encoder's pixel format, audio: add
// an audio stream, -OPTION: given to ffmpeg as it is. False (and why, on
// stderr) when ffmpeg fails.
bool MakeClip(const std::string& path, const std::string& spec);
// The number a generated picture carries, read back from its cells; -1 when
// the picture carries none.
int FrameNumberOf(const PersistentImage& image);
// Runs a command through the shell and returns its standard output; `ok`
// tells whether it exited with status 0.
std::string RunCommand(const std::string& command, bool& ok);
// `text` quoted for the shell.
std::string ShellQuoted(const std::string& text);

}  // namespace fwtest
