// The decoded picture's own values under a point, against the pixels the
// ffmpeg program writes in the same format.
#include <gtest/gtest.h>

#include <random>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

struct SourceCase {
    const char* spec;
    const char* format;  // the raw format ffmpeg writes for reference
    int bytes;           // per sample
    int chromaShiftX, chromaShiftY;
};

class SourceValues : public testing::TestWithParam<SourceCase> {};

TEST_P(SourceValues, AreTheDecodedSamplesAtTheirOwnDepth) {
    const SourceCase& c = GetParam();
    const std::string dir = fwtest::TempDir();
    const std::string path = dir + "/clip.mkv";
    ASSERT_TRUE(fwtest::MakeClip(path, c.spec));
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    const int w = clip.GetWidth(), h = clip.GetHeight(), frame = 5;
    bool ok = false;
    const std::string raw = fwtest::RunCommand("ffmpeg -v error -i " + fwtest::ShellQuoted(path) +
                                                   " -vf " + fwtest::ShellQuoted("select=eq(n\\,5)") + " -fps_mode passthrough -frames:v 1 -pix_fmt " +
                                                   c.format + " -f rawvideo -",
                                               ok);
    ASSERT_TRUE(ok);
    const int cw = (w + (1 << c.chromaShiftX) - 1) >> c.chromaShiftX, ch = (h + (1 << c.chromaShiftY) - 1) >> c.chromaShiftY;
    ASSERT_EQ(raw.size(), static_cast<std::size_t>((w * h + 2 * cw * ch) * c.bytes));
    const auto sample = [&](std::size_t at) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(raw.data()) + at * c.bytes;
        return c.bytes == 2 ? p[0] | p[1] << 8 : p[0];
    };
    cDIBx dib;
    ASSERT_TRUE(clip.ReadFrame(frame, dib));
    EXPECT_EQ(AVIStreamSourceValues(clip.FrameReader(), frame + 1, 0, 0), "");  // not the picture kept
    std::mt19937 random(fwtest::TestSeed("source points"));
    for (int i = 0; i < 20; ++i) {
        const int x = static_cast<int>(random() % w), y = static_cast<int>(random() % h);
        const std::size_t chroma = static_cast<std::size_t>((y >> c.chromaShiftY) * cw + (x >> c.chromaShiftX));
        const std::string expected = "Y " + std::to_string(sample(static_cast<std::size_t>(y * w + x))) + " Cb " +
                                     std::to_string(sample(w * h + chroma)) + " Cr " +
                                     std::to_string(sample(w * h + cw * ch + chroma));
        EXPECT_EQ(AVIStreamSourceValues(clip.FrameReader(), frame, x, y), expected) << x << "," << y;
    }
}

const SourceCase kCases[] = {
    {"ffv1 66x50 8 pix=yuv420p10le", "yuv420p10le", 2, 1, 1},
    {"ffv1 66x50 8 pix=yuv422p", "yuv422p", 1, 1, 0},
    {"libx264 64x48 8 b=2 pix=yuv444p10le", "yuv444p10le", 2, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Formats, SourceValues, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.format); });

}  // namespace
