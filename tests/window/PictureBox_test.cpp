// The picture box paints what its image holds, pixel for pixel, whatever part
// of it is exposed and at every zoom; and a cached frame stays as it was
// decoded, whatever is drawn after it.
#include <random>

#include "WindowTestUtil.h"
#include "bitmap/cDIBx.h"

namespace fwtest {
namespace {

// A frame of random bytes, rows padded to 4 bytes and the padding random too,
// held as a packed bottom-up 24-bit bitmap.
struct RandomFrame {
    RandomFrame(int width, int height, std::uint32_t seed) : width(width), height(height) {
        stride = (width * 3 + 3) & ~3;
        const std::size_t bytes = sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(stride) * height;
        std::shared_ptr<std::uint8_t[]> block(new std::uint8_t[bytes]);
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = stride * height;
        std::memcpy(block.get(), &header, sizeof header);
        std::mt19937 random(seed);
        for (std::size_t i = sizeof header; i < bytes; ++i) block[i] = static_cast<std::uint8_t>(random());
        packed = block;
    }
    // Channel 0 blue, 1 green, 2 red of the pixel at (x, y), top row 0.
    int At(int x, int y, int channel) const {
        return packed[sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(height - 1 - y) * stride + x * 3 + channel];
    }
    // What the picture shows at (x, y) at zoom power `power`: the pixel, or
    // below 1x the rounded mean of the block of pixels there.
    QRgb Shown(int x, int y, int power) const {
        if (power >= 0) return qRgb(At(x >> power, y >> power, 2), At(x >> power, y >> power, 1),
                                    At(x >> power, y >> power, 0));
        const int block = 1 << -power;
        int sum[3] = {}, count = 0;
        for (int v = y * block; v < std::min(height, (y + 1) * block); ++v)
            for (int u = x * block; u < std::min(width, (x + 1) * block); ++u, ++count)
                for (int c = 0; c < 3; ++c) sum[c] += At(u, v, c);
        const auto mean = [&](int c) { return (sum[c] + count / 2) / count; };
        return qRgb(mean(2), mean(1), mean(0));
    }

    int width, height, stride;
    std::shared_ptr<const std::uint8_t[]> packed;
};

// Each case: the frame's size, the zoom power, and the part of the picture
// box exposed (painted alone) in its own pixels.
struct PaintCase {
    int width, height, power;
    QRect exposed;
};

void PrintTo(const PaintCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " at power " << c.power << ", exposed " << c.exposed.x() << ","
        << c.exposed.y() << " " << c.exposed.width() << "x" << c.exposed.height();
}

const PaintCase kPaintCases[] = {
    {1001, 601, 0, {0, 0, 1001, 601}},      // odd width: 3003 bytes of pixels in 3004-byte rows
    {1001, 601, 0, {377, 211, 402, 187}},   // a part in the middle, as a scroll uncovers it
    {1001, 601, 0, {990, 590, 40, 40}},     // the far corner, partly beyond the picture
    {1001, 601, 1, {757, 403, 331, 211}},   // 2x: a part starting inside a pixel
    {1001, 601, 3, {8001, 4801, 6, 7}},     // 8x at the last pixels
    {1001, 601, -1, {0, 0, 501, 301}},      // 1/2: the last block half full
    {1001, 601, -2, {100, 50, 151, 101}},   // 1/4: a part, ending on partial blocks
    {1283, 721, -3, {0, 0, 161, 91}},
    {5, 3, 0, {0, 0, 5, 3}},                // smaller than a 4-byte row
};

// Renders the exposed part alone into a picture of its size with a border,
// where nothing may be painted, and compares it with the frame.
void ExpectPainted(PictureBox& box, const RandomFrame& frame, const PaintCase& c) {
    constexpr QRgb kUntouched = 0xFF123456;
    QImage painted(c.exposed.size() + QSize(2, 2), QImage::Format_RGB32);
    painted.fill(kUntouched);
    box.render(&painted, QPoint(1, 1), QRegion(c.exposed));
    const QRect inside = c.exposed & box.rect();
    int wrong = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x) {
            const QPoint at = c.exposed.topLeft() + QPoint(x - 1, y - 1);
            const QRgb expected = inside.contains(at) ? frame.Shown(at.x(), at.y(), c.power) : kUntouched;
            if (painted.pixel(x, y) != expected && wrong++ < 5)
                ADD_FAILURE() << "at " << at.x() << "," << at.y() << ": " << std::hex << painted.pixel(x, y)
                              << " not " << expected;
        }
    EXPECT_EQ(wrong, 0);
}

class PaintedPicture : public WindowTest, public ::testing::WithParamInterface<PaintCase> {};

TEST_P(PaintedPicture, EqualsTheFramePixelsInTheExposedPart) {
    const PaintCase& c = GetParam();
    const std::uint32_t seed = static_cast<std::uint32_t>(c.width * 7 + c.power + 100);
    std::printf("seed %u\n", seed);
    const RandomFrame frame(c.width, c.height, seed);
    PictureBox& box = *window->picDisp;
    box.SetSize(c.width, c.height);
    box.SetZoomPower(c.power);
    // Drawn both ways: sharing the frame's bottom-up rows, and copying them
    // into the image's own top-down rows.
    for (const bool shared : {true, false}) {
        SCOPED_TRACE(shared ? "shared rows" : "copied rows");
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(frame.packed.get());
        if (shared) {
            cDIBx dib;
            ASSERT_TRUE(dib.CreateFromSharedPackedDIB(frame.packed));
            dib.DrawOnPicBox(box);
        } else {
            ASSERT_EQ(SetDIBits(box.hDC(), box.ImageHandle(), 0, static_cast<std::uint32_t>(c.height),
                                frame.packed.get() + sizeof *header, static_cast<std::size_t>(header->biSizeImage),
                                header, DIB_RGB_COLORS),
                      c.height);
        }
        ExpectPainted(box, frame, c);
    }
}

INSTANTIATE_TEST_SUITE_P(Zooms, PaintedPicture, ::testing::ValuesIn(kPaintCases));

// Frames drawn from the cache are the frames decoded the first time, after
// the reader has decoded many others with the cache off and after the
// picture box's image was written directly.
TEST_F(WindowTest, CachedFramesStayAsDecodedWhateverIsDrawnAfterThem) {
    Load(Clip("clip.mkv", "mpeg4 160x120 60 gop=12 b=2"));
    QScrollBar& bar = *window->TimeLine;
    window->chkCatch->setChecked(true);
    std::vector<QImage> first;
    for (int frame = 0; frame < 24; ++frame) {
        bar.setValue(frame);
        first.push_back(ToQImage(window->picDisp->Image()));
        ASSERT_EQ(ShownFrame(), frame);
    }
    // Pixels written into the image itself, while it shows a cached frame.
    const RandomFrame other(160, 120, 7);
    std::vector<std::uint8_t> bits(other.packed.get() + sizeof(BITMAPINFOHEADER),
                                   other.packed.get() + sizeof(BITMAPINFOHEADER) + other.stride * other.height);
    SetDIBits(window->picDisp->hDC(), window->picDisp->ImageHandle(), 0, 60, bits.data(), bits.size(),
              reinterpret_cast<const BITMAPINFOHEADER*>(other.packed.get()), DIB_RGB_COLORS);
    window->chkCatch->setChecked(false);
    for (int frame = 59; frame >= 24; --frame) bar.setValue(frame);
    window->chkCatch->setChecked(true);
    for (int frame = 23; frame >= 0; --frame) {
        bar.setValue(frame);
        EXPECT_EQ(ToQImage(window->picDisp->Image()), first[static_cast<std::size_t>(frame)]) << "frame " << frame;
    }
}

}  // namespace
}  // namespace fwtest
