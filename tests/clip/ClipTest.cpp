// Opening, properties, the frame cache and closing, through cAVI's public face.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

const std::string kFileError = "There was an error working with the file:\r\n";

std::string Generated(const std::string& name, fwtest::ClipSpec spec) {
    static const std::string dir = fwtest::TempDir();
    const std::string path = dir + "/" + name + ".avi";
    if (!std::filesystem::exists(path)) {
        EXPECT_TRUE(fwtest::MakeClip(path, spec));
    }
    return path;
}

std::string SmallClip() {
    fwtest::ClipSpec spec;
    spec.frames = 12;
    return Generated("small", spec);
}

// Property table over the real files: what the file's headers say.
struct Properties {
    const char* file;
    std::int32_t frames;
    std::int32_t rate, scale;
    std::int32_t width, height;
    float fps;
};

class CorpusProperties : public ::testing::TestWithParam<Properties> {};

TEST_P(CorpusProperties, AreTheStreamHeaders) {
    const Properties& p = GetParam();
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(fwtest::CorpusPath(p.file)));
    EXPECT_EQ(clip.GetFirstFrame(), 0);
    EXPECT_EQ(clip.GetFrameCount(), p.frames);
    EXPECT_EQ(clip.GetLastFrame(), p.frames - 1);
    EXPECT_EQ(clip.GetRate(), p.rate);
    EXPECT_EQ(clip.GetScale(), p.scale);
    EXPECT_EQ(clip.GetWidth(), p.width);
    EXPECT_EQ(clip.GetHeight(), p.height);
    EXPECT_FLOAT_EQ(clip.GetFPS(), p.fps);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorpusProperties,
    ::testing::Values(Properties{"tree.avi", 444, 1000000, 66667, 320, 240, 1000000.0f / 66667},
                      Properties{"Megamind.avi", 270, 2997, 125, 720, 528, 23.976f},
                      Properties{"movie-hello.avi", 209, 25, 1, 1024, 576, 25.0f},
                      Properties{"movie.avi", 68, 1000000, 66666, 160, 120, 1000000.0f / 66666},
                      Properties{"sage-example.avi", 2, 1, 1, 84, 33, 1.0f}),
    [](const auto& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(ClipProperties, NtscRateKeepsItsFraction) {
    fwtest::ClipSpec spec;
    spec.rate = 30000;
    spec.scale = 1001;
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(Generated("ntsc", spec)));
    EXPECT_EQ(clip.GetRate(), 30000);
    EXPECT_EQ(clip.GetScale(), 1001);
    EXPECT_EQ(clip.GetFPS(), static_cast<float>(30000.0 / 1001.0));
}

TEST(ClipProperties, OddWidthPadsRowsToWholeWords) {
    fwtest::ClipSpec spec;
    spec.width = 321;
    spec.height = 240;
    spec.frames = 2;
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(Generated("odd", spec)));
    cDIBx dib;
    ASSERT_TRUE(clip.ReadFrame(0, dib));
    EXPECT_EQ(dib.SizeImage(), 964 * 240);
    EXPECT_EQ(dib.MemUsed(), 231360);
}

std::string WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    fwtest::WriteAll(path, bytes);
    return path;
}

// Offsets of the first video stream header's fields, from the 'strh' tag.
std::size_t StrhAt(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::equal(bytes.begin() + i, bytes.begin() + i + 4, "strh")) return i + 8;
    return 0;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The small clip with one stream-header field replaced.
std::string PatchedStrh(const std::string& dir, std::size_t field, std::uint32_t value) {
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(SmallClip());
    Put32(bytes, StrhAt(bytes) + field, value);
    return WriteBytes(dir + "/patched.avi", bytes);
}

TEST(LoadAVI, OpensAUtf8PathAndReadsTheFirstFrame) {
    const std::string path = fwtest::TempDir() + "/Übung – 日本.avi";
    std::filesystem::copy_file(SmallClip(), path);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    MemorySurface surface(64, 48);
    clip.DrawFrame(0, surface, false);
    EXPECT_EQ(fwtest::FrameNumberOf(surface.Image()), 0);
}

// A stream that starts at frame S shows its first picture at S, whether the
// demuxer keeps that start (S = 5) or drops it as implausible (over an hour).
class StreamStart : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(StreamStart, FirstPictureIsAtTheFirstFrame) {
    const std::uint32_t start = GetParam();
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(SmallClip());
    Put32(bytes, StrhAt(bytes) + 28, start);
    const std::string path = WriteBytes(fwtest::TempDir() + "/start.avi", bytes);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    EXPECT_EQ(clip.GetFirstFrame(), static_cast<std::int32_t>(start));
    for (std::int32_t frame = clip.GetLastFrame(); frame >= clip.GetFirstFrame(); frame -= 3) {
        cDIBx dib;
        ASSERT_TRUE(clip.ReadFrame(frame, dib));
        EXPECT_EQ(fwtest::FrameNumberOfDIB(dib.PointerToBits(), dib.Width(), dib.Height()),
                  frame - clip.GetFirstFrame())
            << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, StreamStart, ::testing::Values(0u, 5u, 25u * 3600u + 1u));

struct BadFile {
    const char* name;
    std::string (*make)(const std::string& dir);
};

class LoadFailure : public ::testing::TestWithParam<BadFile> {};

TEST_P(LoadFailure, ShowsTheFileMessageAndReturnsFalse) {
    const std::string path = GetParam().make(fwtest::TempDir());
    fwtest::CaptureMessages messages;
    cAVI clip;
    EXPECT_FALSE(clip.LoadAVI(path));
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Last().text, kFileError + path);
    EXPECT_EQ(messages.Last().icon, MB_ICONINFORMATION);
    EXPECT_EQ(messages.Last().caption, "Framewise");
    EXPECT_EQ(clip.FrameReader(), nullptr);
    EXPECT_EQ(clip.GetCatchSize(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadFailure,
    ::testing::Values(
        BadFile{"missing", [](const std::string& d) { return d + "/missing.avi"; }},
        BadFile{"directory",
                [](const std::string& d) {
                    std::filesystem::create_directory(d + "/x.avi");
                    return d + "/x.avi";
                }},
        BadFile{"empty", [](const std::string& d) { return WriteBytes(d + "/empty.avi", {}); }},
        BadFile{"wave",
                [](const std::string& d) {
                    return WriteBytes(d + "/a.avi", {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm',
                                                     't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1f, 0, 0, 0x80,
                                                     0x3e, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0});
                }},
        BadFile{"no_video_stream",
                [](const std::string& d) {
                    std::vector<std::uint8_t> bytes = fwtest::ReadAll(SmallClip());
                    Put32(bytes, StrhAt(bytes), 0x73647561);  // 'auds'
                    return WriteBytes(d + "/audio.avi", bytes);
                }},
        BadFile{"zero_frames", [](const std::string& d) { return PatchedStrh(d, 32, 0); }},
        BadFile{"zero_rate", [](const std::string& d) { return PatchedStrh(d, 24, 0); }},
        BadFile{"zero_scale", [](const std::string& d) { return PatchedStrh(d, 20, 0); }},
        BadFile{"negative_rate", [](const std::string& d) { return PatchedStrh(d, 24, 0x80000000u); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadAVI, UnknownCodecSaysNoDecompressor) {
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(SmallClip());
    const std::size_t strh = StrhAt(bytes);
    Put32(bytes, strh + 4, 0x58585858);  // 'XXXX' handler
    // The format block's biCompression follows the strh chunk's 'strf' header.
    for (std::size_t i = strh; i + 4 <= bytes.size(); ++i) {
        if (std::equal(bytes.begin() + i, bytes.begin() + i + 4, "strf")) {
            Put32(bytes, i + 8 + 16, 0x58585858);
            break;
        }
    }
    const std::string path = WriteBytes(fwtest::TempDir() + "/xxxx.avi", bytes);
    fwtest::CaptureMessages messages;
    cAVI clip;
    EXPECT_FALSE(clip.LoadAVI(path));
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Last().text, "No suitable decompressor found for this video stream!");
    EXPECT_EQ(messages.Last().icon, MB_ICONINFORMATION);
}

// ---- The frame cache -------------------------------------------------------

class FrameCache : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(clip_.LoadAVI(SmallClip()));
        frameBytes_ = 64 * 3 * 48;
    }
    void TearDown() override { cAVI::SetCatchBudget(std::int64_t{1} << 40); }
    std::uint64_t Requests() const { return AVIStreamGetFrameStats(clip_.FrameReader()).requests; }
    int Shown() { return fwtest::FrameNumberOf(surface_.Image()); }

    cAVI clip_;
    MemorySurface surface_{64, 48};
    std::int64_t frameBytes_ = 0;
};

TEST_F(FrameCache, FramesOutsideTheClipDrawNothingAndCallNothing) {
    for (std::int32_t frame : {clip_.GetFirstFrame() - 1, clip_.GetLastFrame() + 1}) {
        clip_.DrawFrame(frame, surface_, true);
        EXPECT_EQ(Requests(), 0u);
        EXPECT_EQ(clip_.GetCatchSize(), 0);
        EXPECT_EQ(surface_.Image().PixelAt(0, 0), 0xFFFFFFu) << "the image keeps its background";
    }
}

TEST_F(FrameCache, SecondDrawComesFromTheSlot) {
    clip_.DrawFrame(5, surface_, true);
    EXPECT_EQ(Shown(), 5);
    EXPECT_EQ(clip_.GetCatchSize(), frameBytes_);
    const auto requests = Requests();
    clip_.DrawFrame(3, surface_, false);
    clip_.DrawFrame(5, surface_, true);
    EXPECT_EQ(Shown(), 5);
    EXPECT_EQ(Requests(), requests + 1) << "only the uncached frame 3 reached the decoder";
    EXPECT_EQ(clip_.GetCatchSize(), frameBytes_);
}

TEST_F(FrameCache, CachedFrameWithCacheOffIsDecodedAgainAndSlotKept) {
    clip_.DrawFrame(7, surface_, true);
    const auto requests = Requests();
    clip_.DrawFrame(7, surface_, false);
    EXPECT_EQ(Requests(), requests + 1);
    EXPECT_EQ(Shown(), 7);
    EXPECT_EQ(clip_.GetCatchSize(), frameBytes_);
    clip_.DrawFrame(7, surface_, true);
    EXPECT_EQ(Requests(), requests + 1);
}

TEST_F(FrameCache, ClearCatchEmptiesAndRedrawDecodesAgain) {
    for (int f = 0; f < 4; ++f) clip_.DrawFrame(f, surface_, true);
    EXPECT_EQ(clip_.GetCatchSize(), 4 * frameBytes_);
    clip_.ClearCatch();
    EXPECT_EQ(clip_.GetCatchSize(), 0);
    const auto requests = Requests();
    clip_.DrawFrame(2, surface_, true);
    EXPECT_EQ(Requests(), requests + 1);
    EXPECT_EQ(clip_.GetCatchSize(), frameBytes_);
    clip_.ClearCatch();
    clip_.ClearCatch();
    EXPECT_EQ(clip_.GetCatchSize(), 0);
}

TEST_F(FrameCache, BudgetSharedByAllClipsStopsCachingButNotDrawing) {
    cAVI other;
    ASSERT_TRUE(other.LoadAVI(SmallClip()));
    const std::int64_t before = cAVI::GetCatchTotal();
    cAVI::SetCatchBudget(before + 3 * frameBytes_);
    clip_.DrawFrame(0, surface_, true);
    other.DrawFrame(1, surface_, true);
    clip_.DrawFrame(2, surface_, true);
    other.DrawFrame(3, surface_, true);  // would pass the budget
    EXPECT_EQ(Shown(), 3);
    EXPECT_EQ(cAVI::GetCatchTotal(), before + 3 * frameBytes_);
    EXPECT_EQ(clip_.GetCatchSize() + other.GetCatchSize(), 3 * frameBytes_);
    other.ClearCatch();
    clip_.DrawFrame(4, surface_, true);
    EXPECT_EQ(clip_.GetCatchSize(), 3 * frameBytes_);
}

TEST_F(FrameCache, ClosingEmptiesTheCacheAndLeavesADeadClip) {
    const std::int64_t before = cAVI::GetCatchTotal();
    clip_.DrawFrame(1, surface_, true);
    clip_.CloseAVI();
    EXPECT_EQ(clip_.GetCatchSize(), 0);
    EXPECT_EQ(cAVI::GetCatchTotal(), before);
    clip_.DrawFrame(2, surface_, true);  // a closed clip draws nothing
    EXPECT_EQ(clip_.GetCatchSize(), 0);
    clip_.CloseAVI();
}

TEST(ClipLifetime, DroppingAClipReturnsItsCacheToTheBudget) {
    const std::int64_t before = cAVI::GetCatchTotal();
    {
        cAVI clip;
        MemorySurface surface(64, 48);
        ASSERT_TRUE(clip.LoadAVI(SmallClip()));
        clip.DrawFrame(0, surface, true);
        EXPECT_GT(cAVI::GetCatchTotal(), before);
    }
    EXPECT_EQ(cAVI::GetCatchTotal(), before);
}

}  // namespace
