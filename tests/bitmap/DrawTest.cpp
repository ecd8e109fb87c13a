// SetDIBits onto the persistent image, the image's resizing, and DrawOnPicBox.
#include <gtest/gtest.h>

#include <memory>

#include "BmpBytes.h"
#include "bitmap/cDIBx.h"
#include "platform/Display.h"

using namespace bmptest;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr int kImageWidth = 5, kImageHeight = 4;

// Colour of DIB pixel (x, row in memory order), decoded independently of the
// drawing code.
std::uint32_t DibPixel(const Bytes& bits, int bitCount, std::int32_t width, int x, int memoryRow) {
    const std::size_t at = static_cast<std::size_t>(memoryRow) * RowBytes(width, bitCount) + x * (bitCount / 8);
    if (bitCount == 16) {
        const unsigned v = bits[at] | (bits[at + 1] << 8);
        auto widen = [](unsigned c) { return (c << 3) | (c >> 2); };
        return (widen((v >> 10) & 31) << 16) | (widen((v >> 5) & 31) << 8) | widen(v & 31);
    }
    return (std::uint32_t{bits[at + 2]} << 16) | (std::uint32_t{bits[at + 1]} << 8) | bits[at];
}

struct DrawCase {
    const char* name;
    std::int32_t width, height;
    int bitCount;
    std::int32_t bytesCut;  // taken off the end of the pixel block
};

const DrawCase kDrawCases[] = {
    {"SameWidth24", 5, 4, 24, 0},     {"SameWidthTopDown24", 5, -4, 24, 0}, {"Wider24", 9, 3, 24, 0},
    {"Narrower24", 2, 2, 24, 0},      {"Taller24", 5, 7, 24, 0},            {"TallerTopDown24", 3, -7, 24, 0},
    {"Rgb16", 5, 4, 16, 0},           {"Rgb32", 6, -2, 32, 0},              {"ShortBlockWholeRows", 5, 4, 24, 16},
    {"ShortBlockPartRow", 5, -4, 24, 3}, {"FourBytesOnly", 5, 4, 24, 60},
};

class SetDIBitsTable : public testing::TestWithParam<DrawCase> {};

TEST_P(SetDIBitsTable, PlacesTopLeftClipsAndNeverReadsPastTheBlock) {
    const DrawCase& c = GetParam();
    const BITMAPINFOHEADER header = Header(c.width, c.height, c.bitCount);
    const Bytes full = Pattern(static_cast<std::size_t>(header.biSizeImage), 21);
    const std::size_t given = full.size() - static_cast<std::size_t>(c.bytesCut);
    // Exactly `given` bytes, so an over-read is caught by the sanitizers.
    const auto bits = std::make_unique<std::uint8_t[]>(given);
    std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(given), bits.get());
    MemorySurface surface(kImageWidth, kImageHeight);

    const int rows = c.height < 0 ? -c.height : c.height;
    const int stride = RowBytes(c.width, c.bitCount);
    const int usedRowBytes = std::min(c.width, kImageWidth) * (c.bitCount / 8);
    auto memoryRowOf = [&](int y) { return c.height > 0 ? rows - 1 - y : y; };
    auto present = [&](int y) {
        return y < rows && static_cast<std::size_t>(memoryRowOf(y) * stride + usedRowBytes) <= given;
    };
    int expectedLines = 0;
    for (int y = 0; y < kImageHeight; ++y) expectedLines += present(y);
    EXPECT_EQ(SetDIBits(surface.hDC(), surface.ImageHandle(), 0, static_cast<std::uint32_t>(c.height), bits.get(),
                        given, &header, DIB_RGB_COLORS),
              expectedLines);

    for (int y = 0; y < kImageHeight; ++y) {
        for (int x = 0; x < kImageWidth; ++x) {
            const bool set = present(y) && x < c.width;
            EXPECT_EQ(surface.Image().PixelAt(x, y),
                      set ? DibPixel(full, c.bitCount, c.width, x, memoryRowOf(y)) : kWhite)
                << "x " << x << " y " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SetDIBitsTable, testing::ValuesIn(kDrawCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    int bitCount;
    std::int32_t compression, width, height;
};

const RefusedCase kRefused[] = {
    {"EightBit", 8, BI_RGB, 4, 4}, {"Bitfields", 32, 3, 4, 4},   {"Rle8", 24, 1, 4, 4},
    {"WidthZero", 24, BI_RGB, 0, 4}, {"WidthNegative", 24, BI_RGB, -4, 4}, {"HeightZero", 24, BI_RGB, 4, 0},
};

class SetDIBitsRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(SetDIBitsRefused, SetsNothingAndReportsNoChange) {
    const RefusedCase& c = GetParam();
    BITMAPINFOHEADER header = Header(4, 4, c.bitCount);
    header.biCompression = c.compression;
    header.biWidth = c.width;
    header.biHeight = c.height;
    const Bytes bits = Pattern(256, 22);
    MemorySurface surface(kImageWidth, kImageHeight);
    int changes = 0;
    surface.Image().SetChangedCallback([&] { ++changes; });
    EXPECT_EQ(SetDIBits(surface.hDC(), surface.ImageHandle(), 0, 4, bits.data(), bits.size(), &header, 0), 0);
    EXPECT_EQ(changes, 0);
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x) EXPECT_EQ(surface.Image().PixelAt(x, y), kWhite);
}

INSTANTIATE_TEST_SUITE_P(Table, SetDIBitsRefused, testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PersistentImageResize, KeepsTopLeftFillsNewAreaAndClampsSizes) {
    PersistentImage image;
    image.Resize(2, 2);
    const BITMAPINFOHEADER header = Header(2, -2, 24);
    const Bytes bits = Pattern(16, 23);
    ASSERT_EQ(SetDIBits(nullptr, &image, 0, 2, bits.data(), bits.size(), &header, 0), 2);
    const std::uint32_t corner = image.PixelAt(1, 1);
    image.SetBackground(0x10, 0x20, 0x30);
    image.Resize(3, 4);
    EXPECT_EQ(image.PixelAt(1, 1), corner);
    EXPECT_EQ(image.PixelAt(2, 3), 0x302010u);
    EXPECT_EQ(image.Stride(), 12);

    image.Resize(0, 5);
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    image.Resize(1000000, 1);
    EXPECT_EQ(image.Width(), 32768);
}

TEST(DrawOnPicBox, EmptyObjectDrawsNothing) {
    MemorySurface surface(kImageWidth, kImageHeight);
    int changes = 0;
    surface.Image().SetChangedCallback([&] { ++changes; });
    const cDIBx dib;
    dib.DrawOnPicBox(surface);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(surface.Image().PixelAt(0, 0), kWhite);
}

TEST(DrawOnPicBox, FrameIsDrawnWholeAndTwiceTheSame) {
    const Bytes packed = Packed(Header(kImageWidth, kImageHeight, 24), Pattern(RowBytes(kImageWidth, 24) * 4, 24));
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data()));
    MemorySurface surface(kImageWidth, kImageHeight);
    dib.DrawOnPicBox(surface);
    const Bytes first(surface.Image().Data(), surface.Image().Data() + surface.Image().Stride() * kImageHeight);
    // Bottom-up: the last row in memory is the image's top row.
    EXPECT_EQ(surface.Image().PixelAt(0, 0), DibPixel(Bytes(packed.begin() + 40, packed.end()), 24, 5, 0, 3));
    dib.DrawOnPicBox(surface);
    EXPECT_EQ(Bytes(surface.Image().Data(), surface.Image().Data() + first.size()), first);
    EXPECT_EQ(dib.Height(), kImageHeight);
    EXPECT_EQ(dib.MemUsed(), RowBytes(kImageWidth, 24) * 4);
}

// A refused import leaves a header that promises more than the pixels held;
// drawing stays within them.
TEST(DrawOnPicBox, HeaderLargerThanHeldPixelsDrawsOnlyWhatIsHeld) {
    const Bytes small = Packed(Header(2, 1, 24), Pattern(8, 25));
    BITMAPINFOHEADER bigHeader = Header(5, 4, 24);
    bigHeader.biSizeImage = 0;
    const Bytes refused = Packed(bigHeader, {});
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(small.data()));
    ASSERT_FALSE(dib.CreateFromPackedDIBPointer(refused.data()));
    MemorySurface surface(kImageWidth, kImageHeight);
    dib.DrawOnPicBox(surface);
    EXPECT_EQ(surface.Image().PixelAt(0, 3), kWhite);
}

}  // namespace
