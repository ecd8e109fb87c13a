// Import of packed bitmaps (header + pixels in memory) and the properties.
#include <gtest/gtest.h>

#include <climits>

#include "BmpBytes.h"
#include "bitmap/cDIBx.h"

using namespace bmptest;

namespace {

void ExpectEmpty(const cDIBx& dib) {
    EXPECT_EQ(dib.MemUsed(), 0);
    EXPECT_EQ(dib.SizeBitmapInfo(), 0);
    EXPECT_EQ(dib.PointerToBits(), nullptr);
    EXPECT_EQ(dib.PointerToBitmapInfo(), nullptr);
}

struct PackedCase {
    const char* name;
    int bitCount;
    std::int32_t sizeImage;
    std::int32_t biSize;
    bool accepted;
};

const PackedCase kPackedCases[] = {
    {"Rgb24", 24, 24, 40, true},
    {"Rgb16", 16, 24, 40, true},
    {"Rgb32", 32, 32, 40, true},
    {"HeaderClaims124Bytes", 24, 24, 124, true},
    {"FifteenBits", 15, 24, 40, false},
    {"EightBits", 8, 24, 40, false},
    {"OneBit", 1, 24, 40, false},
    {"SizeImageZero", 24, 0, 40, false},
    {"SizeImageNegative", 24, -24, 40, false},
    // bfSize would pass 32 bits; refused before anything is read past the header.
    {"SizeImageTooLargeForFileSize", 24, INT_MAX - 10, 40, false},
};

class PackedImport : public testing::TestWithParam<PackedCase> {};

TEST_P(PackedImport, AcceptsOrRefusesAndKeepsTheRules) {
    const PackedCase& c = GetParam();
    BITMAPINFOHEADER header = Header(4, 2, c.bitCount);
    header.biSizeImage = c.sizeImage;
    header.biSize = c.biSize;
    const Bytes packed = Packed(header, Pattern(c.accepted ? c.sizeImage : 64, 1));
    const void* address = packed.data();

    cDIBx dib;
    ASSERT_EQ(dib.CreateFromPackedDIBPointer(address), c.accepted);
    EXPECT_EQ(address, packed.data());
    EXPECT_EQ(dib.BitCount(), c.bitCount);
    EXPECT_EQ(dib.SizeImage(), c.sizeImage);
    EXPECT_EQ(dib.SizeInfoHeader(), c.biSize);
    if (!c.accepted) {
        ExpectEmpty(dib);
        EXPECT_EQ(dib.FileType(), 0);
        return;
    }
    EXPECT_EQ(dib.MemUsed(), c.sizeImage);
    EXPECT_EQ(dib.SizeBitmapInfo(), 40);
    EXPECT_EQ(dib.BitOffset(), 54);
    EXPECT_EQ(dib.SizeFileHeader(), c.sizeImage + 54);
    EXPECT_EQ(dib.FileType(), 19778);
    EXPECT_EQ(BlockOf(dib.PointerToBits(), dib.MemUsed()), Bytes(packed.begin() + 40, packed.end()));
    EXPECT_EQ(BlockOf(dib.PointerToBitmapInfo(), 40), Bytes(packed.begin(), packed.begin() + 40));
}

INSTANTIATE_TEST_SUITE_P(Table, PackedImport, testing::ValuesIn(kPackedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PackedImportState, NewObjectHoldsNothingAndZeroHeaders) {
    const cDIBx dib;
    ExpectEmpty(dib);
    EXPECT_EQ(dib.Width(), 0);
    EXPECT_EQ(dib.Height(), 0);
    EXPECT_EQ(dib.BitCount(), 0);
    EXPECT_EQ(dib.FileType(), 0);
    EXPECT_EQ(dib.BitOffset(), 0);
}

TEST(PackedImportState, NullAddressIsRefusedAndChangesNothing) {
    const Bytes packed = Packed(Header(4, 2, 24), Pattern(24, 2));
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data()));
    const std::uint8_t* bits = dib.PointerToBits();

    const void* none = nullptr;
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(none));
    EXPECT_EQ(dib.PointerToBits(), bits);
    EXPECT_EQ(dib.Width(), 4);
    EXPECT_EQ(dib.MemUsed(), 24);
}

struct SecondImportCase {
    const char* name;
    std::int32_t width, height;
    int bitCount;
    bool accepted;
};

const SecondImportCase kSecondImports[] = {
    {"AcceptedReplacesEverything", 2, 3, 32, true},
    {"RefusedOverwritesHeaderOnly", 8, 8, 8, false},
};

class SecondImport : public testing::TestWithParam<SecondImportCase> {};

TEST_P(SecondImport, LeavesTheSecondHeaderAndTheLastAcceptedPixels) {
    const SecondImportCase& c = GetParam();
    const Bytes first = Packed(Header(4, 2, 24), Pattern(24, 3));
    const Bytes second = Packed(Header(c.width, c.height, c.bitCount), Pattern(24, 4));
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(first.data()));
    ASSERT_EQ(dib.CreateFromPackedDIBPointer(second.data()), c.accepted);
    EXPECT_EQ(dib.Width(), c.width);
    EXPECT_EQ(dib.BitCount(), c.bitCount);
    const Bytes& held = c.accepted ? second : first;
    EXPECT_EQ(BlockOf(dib.PointerToBits(), dib.MemUsed()), Bytes(held.begin() + 40, held.end()));
    EXPECT_EQ(BlockOf(dib.PointerToBitmapInfo(), 40), Bytes(held.begin(), held.begin() + 40));
    EXPECT_EQ(dib.SizeFileHeader(), static_cast<std::int32_t>(held.size()) + 14);
}

INSTANTIATE_TEST_SUITE_P(Table, SecondImport, testing::ValuesIn(kSecondImports),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
