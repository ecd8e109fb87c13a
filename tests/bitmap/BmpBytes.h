// Builders for packed bitmaps and BMP files, byte by byte, for the bitmap tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/WinTypes.h"

namespace bmptest {

using Bytes = std::vector<std::uint8_t>;

inline std::int32_t RowBytes(std::int32_t width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

inline BITMAPINFOHEADER Header(std::int32_t width, std::int32_t height, int bitCount) {
    BITMAPINFOHEADER header;
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::int16_t>(bitCount);
    header.biSizeImage = RowBytes(width, bitCount) * (height < 0 ? -height : height);
    return header;
}

// Distinct, seed-dependent bytes, so a misplaced copy shows.
inline Bytes Pattern(std::size_t count, unsigned seed) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed * 13 + (i >> 8));
    return bytes;
}

inline void Append(Bytes& bytes, const void* data, std::size_t count) {
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), begin, begin + count);
}

// The block at `data`, empty for a null address.
inline Bytes BlockOf(const std::uint8_t* data, std::int32_t count) {
    return data ? Bytes(data, data + count) : Bytes();
}

// A 40-byte header directly followed by the pixels.
inline Bytes Packed(const BITMAPINFOHEADER& header, const Bytes& pixels) {
    Bytes bytes;
    Append(bytes, &header, sizeof header);
    Append(bytes, pixels.data(), pixels.size());
    return bytes;
}

inline void PutLE(Bytes& bytes, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A BMP file: file header, information header, `between` (colour table or
// masks), pixels; bfOffBits and bfSize as the pieces give them.
inline Bytes BmpFile(const BITMAPINFOHEADER& header, const Bytes& between, const Bytes& pixels) {
    Bytes bytes(14, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    const auto offBits = static_cast<std::uint32_t>(14 + sizeof header + between.size());
    PutLE(bytes, 2, offBits + static_cast<std::uint32_t>(pixels.size()), 4);
    PutLE(bytes, 10, offBits, 4);
    Append(bytes, &header, sizeof header);
    Append(bytes, between.data(), between.size());
    Append(bytes, pixels.data(), pixels.size());
    return bytes;
}

// Offsets of header fields in a BMP file.
enum FileOffset : std::size_t {
    kType = 0, kOffBits = 10, kWidth = 18, kHeight = 22, kBitCount = 28,
    kCompression = 30, kSizeImage = 34,
};

}  // namespace bmptest
