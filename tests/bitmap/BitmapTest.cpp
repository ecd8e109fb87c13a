// The bitmap class and the image it draws onto: packed import and BMP files
// (round trips, hostile files, replacing files), and drawing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "TestFiles.h"
#include "TestUtil.h"
#include "bitmap/cDIBx.h"

namespace {

using fwtest::PutLE;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
const std::string kDir = fwtest::TempDir();

int RowBytes(int width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

// A BMP file: file header, information header, `between` bytes (colour table,
// masks or a gap), pixels. The bytes after the headers are distinct and
// depend on `seed`, so that a misplaced copy shows. From offset 14 on, it is
// the packed bitmap of the same picture.
Bytes BmpFile(int width, int height, int bitCount, std::size_t between = 0, int seed = 1) {
    const int size = RowBytes(width, bitCount) * std::abs(height);
    const BITMAPINFOHEADER header{40, width, height, 1, static_cast<std::int16_t>(bitCount), BI_RGB, size};
    Bytes file(54 + between + static_cast<std::size_t>(size));
    for (std::size_t i = 54; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7 + seed * 13 + (i >> 8));
    PutLE(file, 0, 0x4D42, 2);
    PutLE(file, 2, static_cast<std::uint32_t>(file.size()), 4);
    PutLE(file, 10, static_cast<std::uint32_t>(54 + between), 4);
    std::memcpy(&file[14], &header, 40);
    return file;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) { return Bytes(bytes.begin() + from, bytes.begin() + to); }
Bytes Block(const std::uint8_t* data, int count) { return data ? Bytes(data, data + count) : Bytes(); }
const Bytes kPalette = BmpFile(5, 3, 8, 1024);  // 24 bytes of pixels at 1078, 1102 in all

std::string Write(const std::string& name, const Bytes& bytes) {
    fwtest::WriteAll(kDir + "/" + name, bytes);
    return kDir + "/" + name;
}

// Reads `path`: loaded without a message, or refused with one, `refusal` and the path.
bool Load(cDIBx& dib, const std::string& path, const std::string& refusal = "File is not a supported bitmap format:\r\n",
          int icon = MB_ICONINFORMATION) {
    fwtest::CaptureMessages messages;
    const bool loaded = dib.CreateFromFile(path);
    EXPECT_EQ(messages.Count(), loaded ? 0u : 1u) << path;
    if (messages.Count() == 1) {
        EXPECT_EQ(std::pair(messages.Last().text, messages.Last().icon), std::pair(refusal + path, icon));
    }
    return loaded;
}

// A row of loads.txt: NAME SOURCE WIDTH HEIGHT BITS BETWEEN SIZE PATCHES.
class Bitmap : public testing::TestWithParam<std::vector<std::string>> {};

// Into an object that holds a bitmap already: a load takes the blocks as they
// stand in its source and writes them back as they were read; a refused one
// leaves the pixels held.
TEST_P(Bitmap, HoldsItsSourceAndWritesItBackOrIsRefused) {
    const std::string& source = GetParam()[1];
    const auto field = [](int i) { return std::stoi(GetParam()[i]); };
    const int size = field(6);
    Bytes file = BmpFile(field(2), field(3), field(4), field(5), 5);
    std::istringstream patches(GetParam()[7]);
    for (std::string patch; patches >> patch;) {
        unsigned offset = 0, bytes = 0;
        long long value = 0;
        std::sscanf(patch.c_str(), "%u=%lli/%u", &offset, &value, &bytes);
        PutLE(file, offset, static_cast<std::uint32_t>(value), static_cast<int>(bytes));
    }
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(&BmpFile(2, 2, 32)[14]));
    const std::uint8_t* held = dib.PointerToBits();
    const bool loaded = source == "file" ? Load(dib, Write("in.bmp", file))
                                         : dib.CreateFromPackedDIBPointer(source == "packed" ? &file[14] : nullptr);
    ASSERT_EQ(loaded, size > 0);
    EXPECT_EQ(dib.PointerToBits() == held, !loaded);
    if (!loaded) return;
    const auto offset = static_cast<std::size_t>(dib.BitOffset()), end = offset + size;
    ASSERT_LE(end, file.size());
    EXPECT_EQ(std::pair(dib.SizeImage(), dib.MemUsed()), std::pair(size, size));
    EXPECT_EQ(Block(dib.PointerToBits(), size), Slice(file, offset, end));
    EXPECT_EQ(Block(dib.PointerToBitmapInfo(), dib.SizeBitmapInfo()), Slice(file, 14, offset));
    ASSERT_TRUE(dib.WriteToFile(kDir + "/out.bmp"));
    EXPECT_EQ(fwtest::ReadAll(kDir + "/out.bmp"), Slice(file, 0, end));
}

INSTANTIATE_TEST_SUITE_P(Table, Bitmap, testing::ValuesIn(fwtest::TableRows(FW_BITMAP_LOADS, 7)),
                         [](const auto& info) { return info.param[0]; });

// Every prefix of a valid file ends inside the headers, the colour table or
// the pixels. A file that a writer holds locked is reported so.
TEST(BitmapFile, TruncatedAndLockedFilesAreRefused) {
    for (std::size_t length = 0; length < kPalette.size(); ++length) {
        cDIBx dib;
        EXPECT_FALSE(Load(dib, Write("short.bmp", Slice(kPalette, 0, length))));
        EXPECT_EQ(dib.MemUsed(), 0) << length;
    }
    const int holder = ::open(Write("locked.bmp", kPalette).c_str(), O_RDWR);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    cDIBx dib;
    EXPECT_FALSE(Load(dib, kDir + "/locked.bmp", "File is locked - cannot access:\r\n", MB_ICONERROR));
    ::close(holder);
    EXPECT_TRUE(Load(dib, kDir + "/locked.bmp"));
}

// A write replaces the old file whole, keeping its permissions; through
// symbolic links (relative, absolute, chained) it replaces the final target
// and the links stay. One that cannot be written (its temporary's name too
// long, a folder, a missing folder, a link loop) gives false, keeps what was
// there and leaves no temporary behind.
TEST(BitmapFile, WritingReplacesTheTargetWholeOrNothing) {
    const Bytes file = BmpFile(4, 2, 24);
    cDIBx dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(&file[14]));
    fs::create_directories(kDir + "/real/folder");
    const std::string target = Write("real/long.bmp", kPalette), longName = Write("real/" + std::string(250, 'x'), file);
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("../long.bmp", kDir + "/real/folder/a.bmp");
    fs::create_symlink(kDir + "/real/folder/a.bmp", kDir + "/b.bmp");
    fs::create_symlink("loop.bmp", kDir + "/loop.bmp");
    ASSERT_TRUE(dib.WriteToFile(kDir + "/b.bmp"));
    EXPECT_TRUE(fs::is_symlink(kDir + "/b.bmp") && fs::is_symlink(kDir + "/real/folder/a.bmp"));
    EXPECT_EQ(fwtest::ReadAll(target), file);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::group_read);
    for (const std::string& name : {longName, kDir + "/real/folder", kDir + "/missing/out.bmp", kDir + "/loop.bmp"})
        EXPECT_FALSE(cDIBx().WriteToFile(name)) << name;
    EXPECT_EQ(fwtest::ReadAll(longName), file);
    EXPECT_EQ(std::distance(fs::directory_iterator(kDir + "/real"), fs::directory_iterator()), 3);
}

// Colour of the DIB pixel at `at` as 0xRRGGBB; 16-bit (5-5-5) channels widened to 8 bits.
std::uint32_t Colour(const Bytes& file, std::size_t at, int bitCount) {
    const unsigned v = file[at] | file[at + 1] << 8, c[] = {v & 31, v >> 5 & 31, v >> 10 & 31};
    if (bitCount != 16) return file[at + 2] << 16 | file[at + 1] << 8 | file[at];
    return (c[2] << 3 | c[2] >> 2) << 16 | (c[1] << 3 | c[1] >> 2) << 8 | (c[0] << 3 | c[0] >> 2);
}

// DrawOnPicBox: nothing for an empty object; a frame of the image's size
// whole, the same twice; the image keeps it through a resize that fills the
// new area with white. Frames of the image's width but taller are clipped to
// it; a compressed one sets nothing; after a refused import whose header
// promises more, only the rows held are set. Sizes are clamped.
TEST(Drawing, ShowsFramesPixelForPixel) {
    MemorySurface surface(5, 4);
    PersistentImage& image = surface.Image();
    cDIBx dib;
    dib.DrawOnPicBox(surface);
    EXPECT_EQ(image.PixelAt(0, 0), 0xFFFFFFu);
    const Bytes frame = BmpFile(5, 4, 24);
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(&frame[14]));
    for (int twice = 0; twice < 2; ++twice) dib.DrawOnPicBox(surface);
    EXPECT_EQ(std::pair(image.PixelAt(0, 0), image.PixelAt(4, 3)), std::pair(Colour(frame, 102, 24), Colour(frame, 66, 24)));
    image.Resize(6, 5);
    EXPECT_EQ(std::pair(image.PixelAt(0, 0), image.PixelAt(5, 4)), std::pair(Colour(frame, 102, 24), 0xFFFFFFu));
    for (const auto& [height, bitCount] : {std::pair{7, 24}, {-7, 32}, {7, 16}}) {
        const Bytes taller = BmpFile(6, height, bitCount);
        ASSERT_TRUE(dib.CreateFromPackedDIBPointer(&taller[14]));
        dib.DrawOnPicBox(surface);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(image.PixelAt(x, y),
                          Colour(taller, 54 + (height > 0 ? 6 - y : y) * RowBytes(6, bitCount) + x * bitCount / 8, bitCount));
    }
    Bytes compressed = BmpFile(6, 5, 24), twoRows = BmpFile(6, 2, 24, 0, 2), refused = BmpFile(6, 5, 24);
    PutLE(compressed, 30, 1, 4), PutLE(refused, 34, 0, 4);  // biCompression, biSizeImage
    const auto untouched = std::pair(image.PixelAt(0, 0), image.PixelAt(0, 2));
    for (const Bytes* packed : {&compressed, &twoRows, &refused}) {
        EXPECT_EQ(dib.CreateFromPackedDIBPointer(&(*packed)[14]), packed != &refused);
        if (packed != &twoRows) dib.DrawOnPicBox(surface);
    }
    EXPECT_EQ(std::pair(image.PixelAt(0, 0), image.PixelAt(0, 2)), untouched);
    EXPECT_EQ(std::pair(image.PixelAt(0, 3), image.PixelAt(0, 4)), std::pair(Colour(twoRows, 74, 24), Colour(twoRows, 54, 24)));
    image.Resize(0, 5);
    EXPECT_EQ(image.Width() + image.Height(), 0);
    image.Resize(1000000, 1);
    EXPECT_EQ(image.Width(), 32768);
}

}  // namespace
