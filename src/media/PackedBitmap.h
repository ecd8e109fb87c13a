// The packed bitmap a frame reader hands out: the published 40-byte
// BITMAPINFOHEADER, directly followed by biSizeImage bytes of bottom-up BGR
// rows, each padded to 4 bytes.
#pragma once

#include <cstdint>

// All fields are treated as signed by the bitmap class; the layout is the
// published 40-byte BITMAPINFOHEADER.
struct BITMAPINFOHEADER {
    std::int32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::int16_t biPlanes = 0;
    std::int16_t biBitCount = 0;
    std::int32_t biCompression = 0;
    std::int32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::int32_t biClrUsed = 0;
    std::int32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr std::int32_t BI_RGB = 0;
