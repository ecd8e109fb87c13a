// The frame cache, the reader's work and closing, through cAVI's public face.
// Properties and pictures of clips are FrameAccuracyTest's.
#include <gtest/gtest.h>

#include <algorithm>

#include "ClipMaker.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

class Clip : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(clip_.LoadAVI(fwtest::MakeTestFile("small.avi", "mpeg4 64x48 30 gop=10"))); }
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
        ASSERT_TRUE(other.LoadAVI(fwtest::MakeTestFile("other.avi", "mpeg4 64x48 12 gop=10")));
        cAVI::SetCatchBudget(3 * frameBytes_);
        for (std::int32_t frame = 0; frame < 4; ++frame) (frame % 2 ? other : clip_).DrawFrame(frame, surface_, true);
        EXPECT_EQ(Shown(), 3);
        EXPECT_EQ(cAVI::GetCatchTotal(), 3 * frameBytes_);
        EXPECT_EQ(clip_.GetCatchSize() + other.GetCatchSize(), 3 * frameBytes_);
    }  // a dropped clip gives its share back
    clip_.DrawFrame(4, surface_, true);
    EXPECT_EQ(clip_.GetCatchSize(), 3 * frameBytes_);
}

// Playing straight on, then stepping back over two keys (20 and 10): one new
// run per GOP, from its key, whose pictures (the key's among them) serve every
// further step back in it. The reader's own runs: no worker decodes ahead.
TEST_F(Clip, SteppingBackAfterPlayingStartsOneRunPerGop) {
    AVISetDecodeAhead(false);
    ASSERT_TRUE(clip_.LoadAVI(fwtest::MakeTestFile("small.avi", "mpeg4 64x48 30 gop=10")));
    AVISetDecodeAhead(true);
    cDIBx dib;
    for (std::int32_t frame = 0; frame < 30; ++frame) ASSERT_TRUE(clip_.ReadFrame(frame, dib));
    const FrameReaderStats played = Stats();
    EXPECT_EQ(played.seeks, 1u);
    for (std::int32_t frame = 28; frame > 10; --frame) ASSERT_TRUE(clip_.ReadFrame(frame, dib));
    EXPECT_EQ(Stats().seeks, played.seeks + 2);
    EXPECT_GT(Stats().keptBytes, 0u);
    EXPECT_LE(Stats().keptBytes, ReaderKeepBytes());
}

// A file without an index calls every chunk a key chunk; trusting that would
// start runs at chunks that are none and decode them twice.
TEST(ClipWithoutIndex, JumpsDecodeFromTheTrueKeyOnce) {
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(fwtest::MakeTestFile("noindex.avi", "mpeg4 64x48 30 gop=10 ; rename idx1 JUNK")));
    MemorySurface surface(64, 48);
    clip.DrawFrame(27, surface, false);
    EXPECT_EQ(fwtest::FrameNumberOf(surface.Image()), 27);
    EXPECT_EQ(AVIStreamGetFrameStats(clip.FrameReader()).seeks, 1u);
}

// A container without an index is listed once while opening; the progress
// handler hears of it from 0 to 1 and may cancel, which fails with no message.
TEST(ClipListing, ReportsProgressAndCanBeCancelled) {
    const std::string path = fwtest::MakeTestFile("listed.mkv", "mpeg4 64x48 30 gop=10");
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
