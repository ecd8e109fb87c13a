// Reading and writing BMP files: round trips, hostile files, replacing files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "BmpBytes.h"
#include "TestUtil.h"
#include "bitmap/cDIBx.h"

using namespace bmptest;
using namespace fwtest;
namespace fs = std::filesystem;

namespace {

const std::string kNotSupported = "File is not a supported bitmap format:\r\n";

// An 8-bit bitmap with a full colour table: pixels at 1078.
Bytes PaletteFile(unsigned seed) {
    const BITMAPINFOHEADER header = Header(5, 3, 8);
    return BmpFile(header, Pattern(1024, seed), Pattern(static_cast<std::size_t>(header.biSizeImage), seed + 1));
}

class BmpFiles : public testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_ + "/" + name;
        WriteAll(path, bytes);
        return path;
    }
    // Reads `path` and expects refusal with exactly this one message.
    void ExpectRefused(cDIBx& dib, const std::string& path, const std::string& text, int icon) {
        CaptureMessages messages;
        EXPECT_FALSE(dib.CreateFromFile(path));
        ASSERT_EQ(messages.Count(), 1u);
        EXPECT_EQ(messages.Last().text, text);
        EXPECT_EQ(messages.Last().caption, "Framewise");
        EXPECT_EQ(messages.Last().icon, icon);
    }
    bool LoadQuietly(cDIBx& dib, const std::string& path) {
        CaptureMessages messages;
        const bool loaded = dib.CreateFromFile(path);
        EXPECT_EQ(messages.Count(), loaded ? 0u : 1u);
        return loaded;
    }
    std::string dir_ = TempDir();
};

struct RoundTripCase {
    const char* name;
    std::int32_t width, height;
    int bitCount;
    std::size_t betweenBytes;  // colour table or masks
};

const RoundTripCase kRoundTrips[] = {
    {"Rgb24", 4, 2, 24, 0},         {"Rgb24OddWidth", 321, 3, 24, 0}, {"TopDown32", 3, -4, 32, 0},
    {"Palette8", 5, 3, 8, 1024},    {"Mono1", 9, 2, 1, 8},            {"Rgb16WithMasks", 3, 3, 16, 12},
};

class BmpRoundTrip : public BmpFiles, public testing::WithParamInterface<RoundTripCase> {};

TEST_P(BmpRoundTrip, ReadThenWriteIsByteIdentical) {
    const RoundTripCase& c = GetParam();
    const BITMAPINFOHEADER header = Header(c.width, c.height, c.bitCount);
    const Bytes pixels = Pattern(static_cast<std::size_t>(header.biSizeImage), 7);
    const Bytes file = BmpFile(header, Pattern(c.betweenBytes, 8), pixels);
    const std::string source = Write("in.bmp", file);

    cDIBx dib;
    ASSERT_TRUE(LoadQuietly(dib, source));
    EXPECT_EQ(dib.SizeBitmapInfo(), static_cast<std::int32_t>(40 + c.betweenBytes));
    EXPECT_EQ(dib.BitOffset(), static_cast<std::int32_t>(54 + c.betweenBytes));
    EXPECT_EQ(dib.MemUsed(), header.biSizeImage);
    EXPECT_EQ(BlockOf(dib.PointerToBits(), dib.MemUsed()), pixels);
    EXPECT_EQ(BlockOf(dib.PointerToBitmapInfo(), dib.SizeBitmapInfo()),
              Bytes(file.begin() + 14, file.begin() + dib.BitOffset()));

    const std::string copy = dir_ + "/out.bmp";
    ASSERT_TRUE(dib.WriteToFile(copy));
    EXPECT_EQ(ReadAll(copy), file);
}

INSTANTIATE_TEST_SUITE_P(Table, BmpRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BmpFiles, PackedImportWrittenAndReadBackIsTheSameObject) {
    const Bytes packed = Packed(Header(7, 5, 24), Pattern(RowBytes(7, 24) * 5, 9));
    cDIBx original, reread;
    ASSERT_TRUE(original.CreateFromPackedDIBPointer(packed.data()));
    const std::string path = dir_ + "/frame.bmp";
    ASSERT_TRUE(original.WriteToFile(path));
    ASSERT_TRUE(LoadQuietly(reread, path));
    EXPECT_EQ(ReadAll(path).size(), 54u + packed.size() - 40);
    EXPECT_EQ(reread.FileType(), original.FileType());
    EXPECT_EQ(reread.SizeFileHeader(), original.SizeFileHeader());
    EXPECT_EQ(reread.BitOffset(), 54);
    EXPECT_EQ(BlockOf(reread.PointerToBitmapInfo(), 40), BlockOf(original.PointerToBitmapInfo(), 40));
    EXPECT_EQ(BlockOf(reread.PointerToBits(), reread.MemUsed()), BlockOf(original.PointerToBits(), original.MemUsed()));
}

TEST_F(BmpFiles, SizeImageZeroOnUncompressedIsComputedAndKeptInTheFileBytes) {
    BITMAPINFOHEADER header = Header(5, -3, 24);  // 16-byte rows
    const Bytes pixels = Pattern(48, 10);
    header.biSizeImage = 0;
    const Bytes file = BmpFile(header, {}, pixels);
    cDIBx dib;
    ASSERT_TRUE(LoadQuietly(dib, Write("zero.bmp", file)));
    EXPECT_EQ(dib.SizeImage(), 48);
    EXPECT_EQ(dib.MemUsed(), 48);
    EXPECT_EQ(BlockOf(dib.PointerToBits(), 48), pixels);
    ASSERT_TRUE(dib.WriteToFile(dir_ + "/again.bmp"));
    EXPECT_EQ(ReadAll(dir_ + "/again.bmp"), file);
}

// Every prefix of a valid file ends inside the headers, the colour table or
// the pixels.
TEST_F(BmpFiles, EveryTruncationIsRefusedAsUnsupported) {
    const Bytes file = PaletteFile(11);
    const std::string path = dir_ + "/short.bmp";
    for (std::size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE(length);
        WriteAll(path, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        cDIBx dib;
        ExpectRefused(dib, path, kNotSupported + path, MB_ICONINFORMATION);
        EXPECT_EQ(dib.MemUsed(), 0);
    }
}

struct Patch {
    std::size_t offset = 0;
    std::uint32_t value = 0;
    int width = 0;  // bytes patched; 0: none
};

struct PatchCase {
    const char* name;
    Patch first;
    Patch second;
    bool loads;
};

// Patches of a 5x3 8-bit file: pixels (24 bytes) at 1078, 1102 bytes long.
const PatchCase kPatches[] = {
    {"NotBM", {kType, 0x424D, 2}, {}, false},
    {"ZeroType", {kType, 0, 2}, {}, false},
    {"OffBitsZero", {kOffBits, 0, 4}, {}, false},
    {"OffBitsInsideFileHeader", {kOffBits, 13, 4}, {}, false},
    {"OffBitsInsideInfoHeader", {kOffBits, 53, 4}, {}, false},
    {"OffBitsPastEnd", {kOffBits, 1103, 4}, {}, false},
    {"OffBitsNegative", {kOffBits, 0xFFFFFFFF, 4}, {}, false},
    {"OffBitsMax", {kOffBits, INT_MAX, 4}, {}, false},
    {"SizeImagePastEnd", {kSizeImage, 25, 4}, {}, false},
    {"SizeImageNegative", {kSizeImage, 0xFFFFFFF0, 4}, {}, false},
    {"SizeImageMax", {kSizeImage, INT_MAX, 4}, {}, false},
    {"SizeImageBelowRows", {kSizeImage, 1, 4}, {}, false},
    {"WidthZero", {kWidth, 0, 4}, {}, false},
    {"WidthNegative", {kWidth, 0xFFFFFFFB, 4}, {}, false},
    {"WidthHuge", {kWidth, 100000, 4}, {}, false},
    {"WidthMax", {kWidth, INT_MAX, 4}, {kSizeImage, 0, 4}, false},
    {"HeightZero", {kHeight, 0, 4}, {}, false},
    {"HeightHuge", {kHeight, 100000, 4}, {}, false},
    {"HeightMostNegative", {kHeight, 0x80000000, 4}, {}, false},
    {"LargestSidesRowsPastSize", {kWidth, 65536, 4}, {kHeight, 65536, 4}, false},
    {"WideComputedSizePastEnd", {kWidth, 65536, 4}, {kSizeImage, 0, 4}, false},
    {"CompressedWithoutSize", {kCompression, 1, 4}, {kSizeImage, 0, 4}, false},
    {"TopDown", {kHeight, 0xFFFFFFFD, 4}, {}, true},
    {"PixelsStartInsidePalette", {kOffBits, 1000, 4}, {}, true},
    {"SizeImageAboveRowsInsideFile", {kOffBits, 1070, 4}, {kSizeImage, 32, 4}, true},
    {"UnknownBitCountWithSize", {kBitCount, 7, 2}, {}, true},
    {"CompressedWithSize", {kCompression, 1, 4}, {}, true},
    {"SizeImageZeroComputed", {kSizeImage, 0, 4}, {}, true},
    {"FileSizeFieldIgnored", {2, 0xFFFFFFFF, 4}, {}, true},
};

class BmpPatched : public BmpFiles, public testing::WithParamInterface<PatchCase> {};

TEST_P(BmpPatched, LoadsSafelyOrIsRefusedAsUnsupported) {
    const PatchCase& c = GetParam();
    Bytes file = PaletteFile(12);
    for (const Patch& patch : {c.first, c.second}) PutLE(file, patch.offset, patch.value, patch.width);
    const std::string path = Write("patched.bmp", file);
    cDIBx dib;
    if (!c.loads) {
        ExpectRefused(dib, path, kNotSupported + path, MB_ICONINFORMATION);
        EXPECT_EQ(dib.MemUsed(), 0);
        return;
    }
    ASSERT_TRUE(LoadQuietly(dib, path));
    EXPECT_GE(dib.MemUsed(), 1);
    EXPECT_LE(dib.BitOffset() + dib.MemUsed(), static_cast<std::int32_t>(file.size()));
}

INSTANTIATE_TEST_SUITE_P(Table, BmpPatched, testing::ValuesIn(kPatches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BmpFiles, RefusedFileKeepsEarlierPixelsButHasReadItsFileHeader) {
    cDIBx dib;
    ASSERT_TRUE(LoadQuietly(dib, Write("good.bmp", PaletteFile(13))));
    const std::uint8_t* bits = dib.PointerToBits();
    Bytes bad = PaletteFile(14);
    PutLE(bad, kType, 0x4142, 2);
    ExpectRefused(dib, Write("bad.bmp", bad), kNotSupported + dir_ + "/bad.bmp", MB_ICONINFORMATION);
    EXPECT_EQ(dib.FileType(), 0x4142);
    EXPECT_EQ(dib.PointerToBits(), bits);
    EXPECT_EQ(dib.MemUsed(), 24);
}

TEST_F(BmpFiles, MissingNamesAndDirectoriesAreReportedAsNotExisting) {
    for (const std::string& path : {dir_ + "/missing.bmp", dir_ + "/no/such/dir.bmp", std::string(), dir_}) {
        SCOPED_TRACE(path);
        cDIBx dib;
        ExpectRefused(dib, path, "File does not exist:\r\n" + path, MB_ICONERROR);
    }
}

TEST_F(BmpFiles, FileLockedByAnotherWriterIsReportedLocked) {
    const std::string path = Write("locked.bmp", PaletteFile(15));
    const int holder = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    cDIBx dib;
    ExpectRefused(dib, path, "File is locked - cannot access:\r\n" + path, MB_ICONERROR);
    ::close(holder);
    EXPECT_TRUE(LoadQuietly(dib, path));
}

TEST_F(BmpFiles, UnreadableFileIsReportedLocked) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string path = Write("private.bmp", PaletteFile(16));
    fs::permissions(path, fs::perms::none);
    cDIBx dib;
    ExpectRefused(dib, path, "File is locked - cannot access:\r\n" + path, MB_ICONERROR);
}

TEST_F(BmpFiles, WritingOverALongerFileLeavesNoTailAndKeepsPermissions) {
    const std::string path = Write("long.bmp", Pattern(5000, 17));
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path, mode);
    const Bytes packed = Packed(Header(4, 2, 24), Pattern(24, 18));
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data()));
    ASSERT_TRUE(dib.WriteToFile(path));
    EXPECT_EQ(ReadAll(path).size(), 78u);
    EXPECT_EQ(fs::status(path).permissions(), mode);
}

TEST_F(BmpFiles, EmptyObjectWritesItsFileHeaderOnly) {
    const cDIBx dib;
    ASSERT_TRUE(dib.WriteToFile(dir_ + "/empty.bmp"));
    EXPECT_EQ(ReadAll(dir_ + "/empty.bmp"), Bytes(14, 0));
}

// A target whose temporary name is too long for the file system, a directory
// as target, and a missing folder: each fails, leaves what was there, and
// leaves no temporary behind.
TEST_F(BmpFiles, FailedWriteReturnsFalseAndKeepsTheOldFile) {
    const std::string longName = Write(std::string(250, 'x'), Pattern(100, 19));
    const std::string directory = dir_ + "/folder";
    fs::create_directory(directory);
    const Bytes packed = Packed(Header(4, 2, 24), Pattern(24, 20));
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data()));

    for (const std::string& target : {longName, directory, dir_ + "/missing/out.bmp"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(dib.WriteToFile(target));
    }
    EXPECT_EQ(ReadAll(longName), Pattern(100, 19));
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

}  // namespace
