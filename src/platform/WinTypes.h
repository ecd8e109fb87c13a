// Records and scalar types of the published Windows bitmap and AVI layouts.
// Field order and widths are the published ones so that a record can be copied
// byte for byte to or from a file or a packed bitmap.
#pragma once

#include <cstdint>

#include "media/PackedBitmap.h"

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using HRESULT = std::int32_t;

// In memory the record has natural alignment; in a file it is 14 bytes with no
// gaps, so it is always serialised field by field.
struct BITMAPFILEHEADER {
    std::int16_t bfType = 0;
    std::int32_t bfSize = 0;
    std::int16_t bfReserved1 = 0;
    std::int16_t bfReserved2 = 0;
    std::int32_t bfOffBits = 0;
};
inline constexpr int kFileHeaderBytes = 14;

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

struct AVIFILEINFOA {
    DWORD dwMaxBytesPerSec = 0;
    DWORD dwFlags = 0;
    DWORD dwCaps = 0;
    DWORD dwStreams = 0;
    DWORD dwSuggestedBufferSize = 0;
    DWORD dwWidth = 0;
    DWORD dwHeight = 0;
    DWORD dwScale = 0;
    DWORD dwRate = 0;
    DWORD dwLength = 0;
    DWORD dwEditCount = 0;
    char szFileType[64] = {};
};
static_assert(sizeof(AVIFILEINFOA) == 108);

struct AVISTREAMINFOA {
    DWORD fccType = 0;
    DWORD fccHandler = 0;
    DWORD dwFlags = 0;
    DWORD dwCaps = 0;
    WORD wPriority = 0;
    WORD wLanguage = 0;
    DWORD dwScale = 0;
    DWORD dwRate = 0;
    DWORD dwStart = 0;
    DWORD dwLength = 0;
    DWORD dwInitialFrames = 0;
    DWORD dwSuggestedBufferSize = 0;
    DWORD dwQuality = 0;
    DWORD dwSampleSize = 0;
    RECT rcFrame;
    DWORD dwEditCount = 0;
    DWORD dwFormatChangeCount = 0;
    char szName[64] = {};
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

inline constexpr std::int16_t kBitmapFileType = 0x4D42;  // "BM"
