// framewise-cli's commands, each a function of plain parameters returning the
// process's exit status; messages go to standard error.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class cAVI;

// Every position of the clip: frame, pts, dts, time, key, repeat (and of
// which frame), packet position and size, as CSV or JSON. Decodes nothing,
// unless `types` asks for each picture's type.
int FramesCommand(const std::string& path, bool json, bool types);

// The clip's picture format: pixel format, bit depth, colour matrix, range,
// primaries and transfer, as "name: value" lines. Decodes the first frame.
void PrintFormatLines(cAVI& clip, std::ostream& out);

// Parses a frame list against the clip's frames first..last: comma-separated
// items N, A-B and A-B:S (every S-th from A), or @FILE (items one a line).
// On a bad item returns false with a message that names it in `error`.
bool ParseFrameList(const std::string& list, std::int32_t first, std::int32_t last, std::vector<std::int32_t>& frames,
                    std::string& error);

// Exports the frames of `list` into directory `outDir` (made if missing), as
// N.bmp, or N.png when `png`, in the order listed. A bad list writes nothing.
int ExportFramesCommand(const std::string& path, const std::string& list, const std::string& outDir, bool png);

// Frame N of clip A against frame N + offset of clip B, for the frames of A
// in from..to that have a partner: CSV rows of frame_a, frame_b, PSNR Y, U,
// V, average and SSIM Y of the pictures as decoded, then the mean (PSNR of
// the mean MSE, as ffmpeg sums up; mean SSIM) and the frame with the lowest
// average PSNR. Clips that cannot be compared (sizes, pixel formats) fail
// with the reason.
// With `noSsim` the ssim_y column stays empty and the pass is quicker.
int CompareCommand(const std::string& pathA, const std::string& pathB, std::int32_t offset, std::int32_t from,
                   std::int32_t to, bool noSsim = false);
