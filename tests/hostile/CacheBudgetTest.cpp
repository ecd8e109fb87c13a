// A long HD clip drawn frame by frame with the cache on: the cache keeps its
// budget, the process keeps its size, and every frame still shows its number.
#include <gtest/gtest.h>

#include "ClipMaker.h"
#include "HostileSupport.h"
#include "TestUtil.h"
#include "clip/cAVI.h"
#include "platform/mAVIDecs.h"

using namespace hostile;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 240;
constexpr std::int64_t kFrameBytes = std::int64_t{kWidth} * 3 * kHeight;
constexpr std::int64_t kBudget = std::int64_t{64} << 20;
// The frame reader's own store of decoded pictures, kept small here so that
// what the measure shows is the cache's share.
constexpr std::size_t kReaderStore = 32u << 20;
// Decoder, converter, surface and allocator overhead beyond the two budgets.
constexpr std::int64_t kSlack = std::int64_t{128} << 20;

class CacheBudget : public testing::Test {
protected:
    void SetUp() override {
        fwtest::ClipSpec spec;
        spec.encoder = "mpeg4";
        spec.width = kWidth;
        spec.height = kHeight;
        spec.frames = kFrames;
        spec.gop = 25;
        path_ = fwtest::TempDir() + "/hd.avi";
        ASSERT_TRUE(fwtest::MakeClip(path_, spec));
        AVISetReaderSettings(0, kReaderStore);
        cAVI::SetCatchBudget(kBudget);
    }
    void TearDown() override { AVISetReaderSettings(0, kReaderKeepBytes); }

    // Draws `frame` with the cache on and checks the picture and the budget.
    void Draw(cAVI& clip, MemorySurface& surface, std::int32_t frame) {
        clip.DrawFrame(frame, surface, true);
        EXPECT_EQ(fwtest::FrameNumberOf(surface.Image()), frame);
        EXPECT_LE(cAVI::GetCatchTotal(), kBudget);
    }

    std::string path_;
};

TEST_F(CacheBudget, LongHdClipKeepsTheBudgetAndTheProcessBounded) {
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path_));
    ASSERT_EQ(clip.GetLastFrame(), kFrames - 1);
    MemorySurface surface(kWidth, kHeight);
    ResetPeakMemory();
    const std::int64_t start = ResidentMemoryBytes();
    for (std::int32_t frame = 0; frame < kFrames; ++frame) Draw(clip, surface, frame);
    const std::int64_t cached = kBudget / kFrameBytes;
    EXPECT_EQ(clip.CachedFrameCount(), cached);
    EXPECT_EQ(clip.GetCatchSize(), cached * kFrameBytes);

    // Again, backwards: the cached frames come from the cache, the others decode.
    for (std::int32_t frame = kFrames - 1; frame >= 0; frame -= 7) Draw(clip, surface, frame);
    EXPECT_EQ(clip.GetCatchSize(), cached * kFrameBytes);

    const std::int64_t peak = PeakMemoryBytes();
    const std::int64_t bound = kBudget + static_cast<std::int64_t>(kReaderStore) + kSlack + SanitizerSlack();
    std::cout << "resident at start " << start / 1024 << " KB, peak " << peak / 1024 << " KB, end "
              << ResidentMemoryBytes() / 1024 << " KB; " << kFrames << " frames of " << kFrameBytes
              << " bytes would be " << kFrames * kFrameBytes / 1024 << " KB\n";
    if (start > 0 && peak > 0) {
        EXPECT_LE(peak - start, bound);
    }
    clip.ClearCatch();
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
}

}  // namespace
