#include "platform/Display.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// Larger sides are clamped: a picture box never needs more, and the pixel
// block stays within what the machine can hold.
constexpr int kMaxImageSide = 32768;

int ImageStride(int width) { return (width * 3 + 3) & ~3; }

using RowConverter = void (*)(const std::uint8_t* source, std::uint8_t* target, int pixels);

void CopyRow24(const std::uint8_t* source, std::uint8_t* target, int pixels) {
    std::memcpy(target, source, static_cast<std::size_t>(pixels) * 3);
}

// 5-5-5 with the top bit unused; each channel widened to 8 bits so that full
// intensity stays full.
void ConvertRow16(const std::uint8_t* source, std::uint8_t* target, int pixels) {
    for (int x = 0; x < pixels; ++x, source += 2, target += 3) {
        const unsigned value = source[0] | (source[1] << 8);
        const unsigned blue = value & 31, green = (value >> 5) & 31, red = (value >> 10) & 31;
        target[0] = static_cast<std::uint8_t>((blue << 3) | (blue >> 2));
        target[1] = static_cast<std::uint8_t>((green << 3) | (green >> 2));
        target[2] = static_cast<std::uint8_t>((red << 3) | (red >> 2));
    }
}

void ConvertRow32(const std::uint8_t* source, std::uint8_t* target, int pixels) {
    for (int x = 0; x < pixels; ++x, source += 4, target += 3) {
        target[0] = source[0];
        target[1] = source[1];
        target[2] = source[2];
    }
}

struct DibLayout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // scan lines, always positive
    bool bottomUp = true;
    int bytesPerPixel = 0;
    std::int64_t stride = 0;  // bytes per scan line, padded to 4
    RowConverter convert = nullptr;
};

std::optional<DibLayout> DescribeDib(const BITMAPINFOHEADER& bmi) {
    if (bmi.biCompression != BI_RGB || bmi.biWidth <= 0 || bmi.biHeight == 0) return std::nullopt;
    DibLayout dib;
    switch (bmi.biBitCount) {
        case 16: dib.convert = ConvertRow16; break;
        case 24: dib.convert = CopyRow24; break;
        case 32: dib.convert = ConvertRow32; break;
        default: return std::nullopt;
    }
    dib.width = bmi.biWidth;
    dib.bottomUp = bmi.biHeight > 0;
    dib.height = dib.bottomUp ? std::int64_t{bmi.biHeight} : -std::int64_t{bmi.biHeight};
    dib.bytesPerPixel = bmi.biBitCount / 8;
    dib.stride = (dib.width * bmi.biBitCount + 31) / 32 * 4;
    return dib;
}

// Image row of DIB scan line `line`; scan lines count from the bottom of a
// bottom-up DIB and from the top of a top-down one.
std::int64_t ImageRowOf(const DibLayout& dib, std::int64_t line) {
    return dib.bottomUp ? dib.height - 1 - line : line;
}

// The scan lines [first, last) that both lie in the image and are wholly
// present in the caller's bytes.
struct LineRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

LineRange VisibleLines(const DibLayout& dib, std::int64_t start, std::int64_t lines,
                       std::size_t bitsBytes, std::int64_t rowBytesUsed, int imageHeight) {
    std::int64_t last = std::min(start + lines, dib.height);
    if (static_cast<std::uint64_t>(rowBytesUsed) > bitsBytes) return {};
    const auto present = static_cast<std::int64_t>((bitsBytes - rowBytesUsed) / dib.stride) + 1;
    last = std::min(last, start + present);
    std::int64_t first = start;
    if (dib.bottomUp) {
        first = std::max(first, dib.height - imageHeight);
    } else {
        last = std::min<std::int64_t>(last, imageHeight);
    }
    return {first, std::max(first, last)};
}

}  // namespace

void PersistentImage::Share(std::shared_ptr<const std::uint8_t[]> bottomUpRows) {
    shared_ = std::move(bottomUpRows);
    NotifyChanged();
}

void PersistentImage::Own() {
    if (!shared_) return;
    pixels_.resize(static_cast<std::size_t>(stride_) * height_);
    for (int y = 0; y < height_; ++y)
        std::memcpy(pixels_.data() + static_cast<std::size_t>(y) * stride_,
                    shared_.get() + static_cast<std::size_t>(height_ - 1 - y) * stride_, static_cast<std::size_t>(stride_));
    shared_.reset();
}

void PersistentImage::Resize(int width, int height) {
    if (width <= 0 || height <= 0) width = height = 0;
    width = std::min(width, kMaxImageSide);
    height = std::min(height, kMaxImageSide);
    if (width == width_ && height == height_) return;
    Own();

    const int stride = ImageStride(width);
    std::vector<std::uint8_t> blankRow(static_cast<std::size_t>(stride), 0);
    for (int x = 0; x < width; ++x) std::memcpy(&blankRow[static_cast<std::size_t>(x) * 3], background_, 3);

    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * height);
    const int keepWidth = std::min(width, width_), keepHeight = std::min(height, height_);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * stride;
        std::memcpy(row, blankRow.data(), blankRow.size());
        if (y < keepHeight) std::memcpy(row, Row(y), static_cast<std::size_t>(keepWidth) * 3);
    }
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;
    NotifyChanged();
}

void PersistentImage::SetBackground(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    background_[0] = blue;
    background_[1] = green;
    background_[2] = red;
}

std::uint32_t PersistentImage::PixelAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const std::uint8_t* pixel = Row(y) + static_cast<std::size_t>(x) * 3;
    return (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
}

int SetDIBits(HDC /*hdc*/, HBITMAP hbm, std::uint32_t start, std::uint32_t lines, const void* bits,
              std::size_t bitsBytes, const BITMAPINFOHEADER* bmi, std::uint32_t colorUse) {
    if (hbm == nullptr || bits == nullptr || bmi == nullptr || colorUse != DIB_RGB_COLORS) return 0;
    const std::optional<DibLayout> dib = DescribeDib(*bmi);
    if (!dib) return 0;
    const int copyWidth = static_cast<int>(std::min<std::int64_t>(dib->width, hbm->Width()));
    if (copyWidth <= 0 || hbm->Height() <= 0) return 0;

    const std::int64_t rowBytesUsed = std::int64_t{copyWidth} * dib->bytesPerPixel;
    const LineRange range = VisibleLines(*dib, start, lines, bitsBytes, rowBytesUsed, hbm->Height());
    const auto* source = static_cast<const std::uint8_t*>(bits);
    for (std::int64_t line = range.first; line < range.last; ++line) {
        const auto offset = static_cast<std::size_t>((line - start) * dib->stride);
        dib->convert(source + offset, hbm->Row(static_cast<int>(ImageRowOf(*dib, line))), copyWidth);
    }
    const auto set = static_cast<int>(range.last - range.first);
    if (set > 0) hbm->NotifyChanged();
    return set;
}

int SetDIBitsShared(HDC hdc, HBITMAP hbm, std::shared_ptr<const std::uint8_t[]> bits, std::size_t bitsBytes,
                    const BITMAPINFOHEADER* bmi) {
    if (hbm == nullptr || bits == nullptr || bmi == nullptr) return 0;
    const bool sameLayout = bmi->biCompression == BI_RGB && bmi->biBitCount == 24 && bmi->biWidth == hbm->Width() &&
                            bmi->biHeight == hbm->Height() && hbm->Height() > 0 &&
                            bitsBytes >= static_cast<std::size_t>(hbm->Stride()) * hbm->Height();
    if (!sameLayout)
        return SetDIBits(hdc, hbm, 0, static_cast<std::uint32_t>(bmi->biHeight), bits.get(), bitsBytes, bmi,
                         DIB_RGB_COLORS);
    hbm->Share(std::move(bits));
    return hbm->Height();
}
