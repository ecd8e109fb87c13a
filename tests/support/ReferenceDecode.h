// What the ffmpeg program makes of a clip, as an independent reference for the
// frame reader: every picture a plain sequential decode delivers, converted to
// 24-bit BGR as ffmpeg converts it (-sws_flags bicubic), and the timestamps
// of the video packets that carry pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtest {

// How a clip's positions map onto the pictures of a sequential decode.
enum class Positions {
    Ordinal,  // position N is the N-th picture
    Dts,      // position N shows the last picture whose packet's dts is at or before N (AVI)
    Pts,      // the same by pts, counted from the first packet's (frame-slot time bases)
};

struct Reference {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pictures;  // CRC-32 of each picture's top-down rows, in output order
    std::vector<std::int64_t> slots;      // per packet with a picture: its pts, or its dts; ascending

    // The index of the picture that `position` shows.
    std::size_t PictureFor(std::int64_t position, Positions rule) const;
};

bool DecodeReference(const std::string& path, Reference& out);
// CRC-32 of a bottom-up BGR bitmap's pixels, taken over its rows from the top
// as ffmpeg's framehash takes it; its complement when the padding at the rows'
// ends is not all zeros.
std::uint32_t PictureCrc(const std::uint8_t* bottomUpBgr, int width, int height);
}  // namespace fwtest
