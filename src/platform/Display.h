// The display surface behind a picture box: a persistent image that SetDIBits
// writes and that the picture box shows whenever it paints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "WinTypes.h"

// 24-bit BGR pixels, rows padded to 4 bytes: the layout a 24-bit DIB has.
// The image holds its own top-down rows, or shares the bottom-up pixel block
// of a bitmap of exactly its size (set by SetDIBitsShared), so that showing a
// decoded or cached frame copies nothing. Writing a shared image first gives
// it rows of its own.
class PersistentImage {
public:
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return stride_; }
    const std::uint8_t* Row(int y) const {
        const int memoryRow = shared_ ? height_ - 1 - y : y;
        return Data() + static_cast<std::size_t>(memoryRow) * stride_;
    }
    std::uint8_t* Row(int y) {
        Own();
        return pixels_.data() + static_cast<std::size_t>(y) * stride_;
    }
    // The rows as they lie in memory: bottom row first when BottomUp().
    const std::uint8_t* Data() const { return shared_ ? shared_.get() : pixels_.data(); }
    bool BottomUp() const { return shared_ != nullptr; }
    // Shows `bottomUpRows` (Height() rows of Stride() bytes, never written
    // while shared) instead of the image's own rows.
    void Share(std::shared_ptr<const std::uint8_t[]> bottomUpRows);

    // Keeps the overlapping top-left part; new area gets the background colour.
    void Resize(int width, int height);
    void SetBackground(std::uint8_t blue, std::uint8_t green, std::uint8_t red);
    // Called after every change of the pixels, so a widget can schedule a repaint.
    void SetChangedCallback(std::function<void()> callback) { changed_ = std::move(callback); }
    void NotifyChanged() const {
        if (changed_) changed_();
    }
    // Pixel as 0xRRGGBB, for tests and tools.
    std::uint32_t PixelAt(int x, int y) const;

private:
    void Own();

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::uint8_t background_[3] = {0xFF, 0xFF, 0xFF};
    std::vector<std::uint8_t> pixels_;
    std::shared_ptr<const std::uint8_t[]> shared_;
    std::function<void()> changed_;
};

using HDC = class DisplaySurface*;
using HBITMAP = PersistentImage*;

// What a picture box offers to drawing: its device context and the bitmap
// behind its persistent image.
class DisplaySurface {
public:
    virtual ~DisplaySurface() = default;
    virtual HDC hDC() { return this; }
    virtual HBITMAP ImageHandle() = 0;
};

// A display surface that lives only in memory (tests, command line, benchmarks).
class MemorySurface : public DisplaySurface {
public:
    MemorySurface(int width = 0, int height = 0) { image_.Resize(width, height); }
    HBITMAP ImageHandle() override { return &image_; }
    PersistentImage& Image() { return image_; }

private:
    PersistentImage image_;
};

inline constexpr std::uint32_t DIB_RGB_COLORS = 0;

// Sets `lines` scan lines of the bitmap from a DIB whose header is `bmi`
// (positive biHeight: bottom-up rows; negative: top-down). The DIB is placed
// at the image's top-left corner and clipped to the image. 16-, 24- and
// 32-bit BI_RGB DIBs are understood; anything else sets nothing. Never reads
// more than `bitsBytes` bytes of `bits`. Returns the number of lines set, 0 on
// failure.
int SetDIBits(HDC hdc, HBITMAP hbm, std::uint32_t start, std::uint32_t lines, const void* bits,
              std::size_t bitsBytes, const BITMAPINFOHEADER* bmi, std::uint32_t colorUse);
// The same for a whole DIB whose pixel block is shared and never written: a
// bottom-up 24-bit DIB of exactly the image's size is shown without a copy.
int SetDIBitsShared(HDC hdc, HBITMAP hbm, std::shared_ptr<const std::uint8_t[]> bits, std::size_t bitsBytes,
                    const BITMAPINFOHEADER* bmi);
