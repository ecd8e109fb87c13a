// Opening, properties, the frame cache, the reader's work and closing,
// through cAVI's public face.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

std::string Generated(const std::string& name, const fwtest::ClipSpec& spec) {
    const std::string path = fwtest::TempDir() + "/" + name;
    EXPECT_TRUE(fwtest::MakeClip(path, spec));
    return path;
}

fwtest::ClipSpec Spec(int frames, int rate = 25, int scale = 1, int width = 64, const char* encoder = "ffv1") {
    fwtest::ClipSpec spec;
    spec.encoder = encoder;
    spec.frames = frames;
    spec.rate = rate;
    spec.scale = scale;
    spec.width = width;
    spec.gop = 10;
    return spec;
}

// What a clip's headers say: corpus files, and generated clips whose rate is
// no reduced fraction, one behind an odd-sized chunk of another stream.
struct Properties {
    const char* name;
    std::int32_t frames, rate, scale, width, height;
    std::string (*make)() = nullptr;
};

class ClipProperties : public ::testing::TestWithParam<Properties> {};

TEST_P(ClipProperties, AreTheStreamHeaders) {
    const Properties& p = GetParam();
    const std::string path = p.make ? p.make() : fwtest::CorpusPath(p.name);
    FW_SKIP_WITHOUT_CORPUS(path, p.name);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    EXPECT_EQ(clip.GetFirstFrame(), 0);
    EXPECT_EQ(clip.GetFrameCount(), p.frames);
    EXPECT_EQ(clip.GetLastFrame(), p.frames - 1);
    EXPECT_EQ(clip.GetRate(), p.rate);
    EXPECT_EQ(clip.GetScale(), p.scale);
    EXPECT_EQ(clip.GetFPS(), static_cast<float>(static_cast<double>(p.rate) / p.scale));
    EXPECT_EQ(clip.GetWidth(), p.width);
    EXPECT_EQ(clip.GetHeight(), p.height);
    cDIBx dib;
    ASSERT_TRUE(clip.ReadFrame(clip.GetLastFrame(), dib));
    EXPECT_EQ(dib.MemUsed(), ((p.width * 3 + 3) & ~3) * p.height);
    EXPECT_FALSE(clip.ReadFrame(clip.GetLastFrame() + 1, dib));
    EXPECT_FALSE(clip.ReadFrame(clip.GetFirstFrame() - 1, dib));
}

INSTANTIATE_TEST_SUITE_P(
    Clips, ClipProperties,
    ::testing::Values(Properties{"tree.avi", 444, 1000000, 66667, 320, 240},
                      Properties{"Megamind.avi", 270, 2997, 125, 720, 528},
                      Properties{"movie-hello.avi", 209, 25, 1, 1024, 576},
                      Properties{"movie.avi", 68, 1000000, 66666, 160, 120},
                      Properties{"sage-example.avi", 2, 1, 1, 84, 33},
                      Properties{"ntsc", 12, 30000, 1001, 321, 48,
                                 [] { return Generated("ntsc.avi", Spec(12, 30000, 1001, 321)); }},
                      Properties{"behind_odd_chunk", 12, 50, 2, 64, 48, [] {
                          // A 3-byte chunk and its padding byte after the main header, and the
                          // video's rate as an unreduced fraction, which only the header has.
                          std::vector<std::uint8_t> b = fwtest::ReadAll(Generated("odd.avi", Spec(12)));
                          const auto at = [&](const char* id) { return std::search(b.begin(), b.end(), id, id + 4) - b.begin(); };
                          const std::uint8_t odd[] = {'J', 'U', 'N', 'K', 3, 0, 0, 0, 'a', 'b', 0, 0};
                          b.insert(b.begin() + at("avih") + 8 + b[at("avih") + 4], odd, odd + 12);
                          for (const auto size : {std::ptrdiff_t{4}, at("LIST") + 4}) b[size] += 12;
                          b[at("strh") + 8 + 20] = 2;
                          b[at("strh") + 8 + 24] = 50;
                          const std::string path = fwtest::TempDir() + "/odd.avi";
                          fwtest::WriteAll(path, b);
                          return path;
                      }}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST(LoadAVI, OpensAUtf8PathAndReadsTheFirstFrame) {
    const std::string path = fwtest::TempDir() + "/Übung – 日本.mkv";
    std::filesystem::copy_file(Generated("utf8.mkv", Spec(3)), path);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    EXPECT_EQ(clip.GetContainerName(), "matroska,webm");
    MemorySurface surface(64, 48);
    clip.DrawFrame(0, surface, false);
    EXPECT_EQ(fwtest::FrameNumberOf(surface.Image()), 0);
}

// A stream that starts at frame S shows its first picture at S, whether the
// demuxer keeps that start (S = 5) or drops it as implausible (over an hour).
class StreamStart : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(StreamStart, FirstPictureIsAtTheFirstFrame) {
    const std::uint32_t start = GetParam();
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(Generated("start.avi", Spec(12)));
    const auto strh = std::search(bytes.begin(), bytes.end(), "strh", "strh" + 4) - bytes.begin();
    for (int i = 0; i < 4; ++i) bytes[strh + 8 + 28 + i] = static_cast<std::uint8_t>(start >> (8 * i));
    const std::string path = fwtest::TempDir() + "/start.avi";
    fwtest::WriteAll(path, bytes);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    EXPECT_EQ(clip.GetFirstFrame(), static_cast<std::int32_t>(start));
    for (std::int32_t frame = clip.GetLastFrame(); frame >= clip.GetFirstFrame(); frame -= 3) {
        cDIBx dib;
        ASSERT_TRUE(clip.ReadFrame(frame, dib));
        EXPECT_EQ(fwtest::FrameNumberOfDIB(dib.PointerToBits(), dib.Width(), dib.Height()),
                  frame - clip.GetFirstFrame());
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, StreamStart, ::testing::Values(0u, 5u, 25u * 3600u + 1u));

// ---- The frame cache and the reader's work ------------------------------------

class Clip : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(clip_.LoadAVI(Generated("small.avi", Spec(30, 25, 1, 64, "mpeg4")))); }
    void TearDown() override { cAVI::SetCatchBudget(std::int64_t{1} << 40); }
    FrameReaderStats Stats() const { return AVIStreamGetFrameStats(clip_.FrameReader()); }
    int Shown() { return fwtest::FrameNumberOf(surface_.Image()); }

    cAVI clip_;
    MemorySurface surface_{64, 48};
    const std::int64_t frameBytes_ = 64 * 3 * 48;
};

// Each step draws a frame, with or without the cache, or empties the cache,
// and says how many requests reach the reader and how many frames stay cached.
TEST_F(Clip, CacheServesFilledSlotsAndKeepsThemWhileOff) {
    struct Step {
        std::int32_t frame;  // -2: ClearCatch
        bool useCache;
        std::uint64_t requests;
        std::int64_t cached;
    };
    // Frames outside the clip draw nothing: the surface keeps its white.
    const Step steps[] = {{-1, true, 0, 0}, {30, true, 0, 0}, {5, true, 1, 1},  {3, false, 2, 1},
                          {5, true, 2, 1},  {5, false, 3, 1}, {5, true, 3, 1},  {-2, true, 3, 0},
                          {5, true, 4, 1},  {7, true, 5, 2},  {-2, false, 5, 0}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.frame);
        if (s.frame == -2) {
            clip_.ClearCatch();
        } else {
            clip_.DrawFrame(s.frame, surface_, s.useCache);
            EXPECT_EQ(Shown(), s.frame >= 0 && s.frame < 30 ? s.frame : 0xFFFF);
        }
        EXPECT_EQ(Stats().requests, s.requests);
        EXPECT_EQ(clip_.GetCatchSize(), s.cached * frameBytes_);
        EXPECT_EQ(cAVI::GetCatchTotal(), clip_.GetCatchSize());
    }
    clip_.CloseAVI();
    clip_.DrawFrame(2, surface_, true);
    EXPECT_EQ(clip_.GetCatchSize(), 0);
}

TEST_F(Clip, BudgetSharedByAllClipsStopsCachingButNotDrawing) {
    {
        cAVI other;
        ASSERT_TRUE(other.LoadAVI(Generated("other.avi", Spec(12))));
        cAVI::SetCatchBudget(3 * frameBytes_);
        for (std::int32_t frame = 0; frame < 4; ++frame) (frame % 2 ? other : clip_).DrawFrame(frame, surface_, true);
        EXPECT_EQ(Shown(), 3);
        EXPECT_EQ(cAVI::GetCatchTotal(), 3 * frameBytes_);
        EXPECT_EQ(clip_.GetCatchSize() + other.GetCatchSize(), 3 * frameBytes_);
    }  // a dropped clip gives its share back
    clip_.DrawFrame(4, surface_, true);
    EXPECT_EQ(clip_.GetCatchSize(), 3 * frameBytes_);
}

// Playing straight on, then stepping back: one new run from the key before,
// whose pictures serve every further step back to the key's successor.
TEST_F(Clip, SteppingBackAfterPlayingStartsOneRun) {
    cDIBx dib;
    for (std::int32_t frame = 0; frame < 30; ++frame) ASSERT_TRUE(clip_.ReadFrame(frame, dib));
    const FrameReaderStats played = Stats();
    EXPECT_EQ(played.seeks, 1u);
    for (std::int32_t frame = 28; frame > 20; --frame) ASSERT_TRUE(clip_.ReadFrame(frame, dib));
    EXPECT_EQ(Stats().seeks, played.seeks + 1);
    EXPECT_GT(Stats().keptBytes, 0u);
    EXPECT_LE(Stats().keptBytes, kReaderKeepBytes);
}

// A file without an index calls every chunk a key chunk; trusting that would
// start runs at chunks that are none and decode them twice.
TEST(ClipWithoutIndex, JumpsDecodeFromTheTrueKeyOnce) {
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(Generated("noindex.avi", Spec(30, 25, 1, 64, "mpeg4")));
    std::copy_n("JUNK", 4, std::search(bytes.rbegin(), bytes.rend(), "1xdi", "1xdi" + 4).base() - 4);
    const std::string path = fwtest::TempDir() + "/noindex.avi";
    fwtest::WriteAll(path, bytes);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    cDIBx dib;
    ASSERT_TRUE(clip.ReadFrame(27, dib));
    EXPECT_EQ(fwtest::FrameNumberOfDIB(dib.PointerToBits(), dib.Width(), dib.Height()), 27);
    EXPECT_EQ(AVIStreamGetFrameStats(clip.FrameReader()).seeks, 1u);
}

// A container without an index is listed once while opening; the progress
// handler hears of it from 0 to 1 and may cancel, which fails with no message.
TEST(ClipListing, ReportsProgressAndCanBeCancelled) {
    const std::string path = Generated("listed.mkv", Spec(30));
    std::vector<double> heard;
    for (const bool cancel : {false, true}) {
        const AVIProgressHandler before = AVISetProgressHandler([&](double done) {
            heard.push_back(done);
            return !cancel;
        });
        fwtest::CaptureMessages messages;
        cAVI clip;
        EXPECT_EQ(clip.LoadAVI(path), !cancel);
        EXPECT_EQ(messages.Count(), 0u);
        AVISetProgressHandler(before);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.front(), 0.0);
        EXPECT_EQ(heard.back(), cancel ? 0.0 : 1.0);
        EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
        heard.clear();
    }
}

}  // namespace
