// The comparison workers: what they report, and that stopping them at any
// moment is clean (run many times, and under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "clip/CompareWorkers.h"
#include "clip/cAVI.h"
#include "platform/mAVIDecs.h"

namespace {

class CompareWorkers : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // One decoding thread per reader: the threads here are the workers'
        // and the test's own, so ThreadSanitizer judges only them (libavcodec's
        // frame threads hand pictures over through atomics it cannot see).
        AVISetReaderSettings(1, ReaderKeepBytes());
        dir_ = fwtest::TempDir();
        ASSERT_TRUE(fwtest::MakeClip(dir_ + "/a.avi", "ffv1 64x48 30 pix=yuv420p"));
        ASSERT_TRUE(fwtest::MakeClip(dir_ + "/b.mkv", "libx264 64x48 30 -crf=30"));
    }
    static std::unique_ptr<cAVI> Open(const char* name) {
        auto clip = std::make_unique<cAVI>();
        EXPECT_TRUE(clip->LoadAVI(dir_ + "/" + name));
        return clip;
    }
    static inline std::string dir_;
};

TEST_F(CompareWorkers, TheLastRequestIsAnsweredAndMatchesAMeasurementOnThisThread) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FrameMetrics> results;
    {
        FrameMetricsWorker worker(Open("a.avi"), Open("b.mkv"), [&](const FrameMetrics& m) {
            std::lock_guard lock(mutex);
            results.push_back(m);
            changed.notify_all();
        });
        for (int n = 0; n < 20; ++n) worker.Request(n, n + 2);
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return !results.empty() && results.back().frameA == 19;
        }));
    }
    const FrameMetrics& last = results.back();
    EXPECT_EQ(last.frameB, 21);
    ASSERT_TRUE(last.metrics.valid) << last.metrics.reason;
    const auto a = Open("a.avi"), b = Open("b.mkv");
    const PictureMetrics here = CompareClipFrames(*a, 19, *b, 21);
    EXPECT_EQ(last.metrics.psnrAverage, here.psnrAverage);
    EXPECT_EQ(last.metrics.ssimY, here.ssimY);
}

TEST_F(CompareWorkers, APassReportsEveryPairedFrameOnceAndEndsWithAllDone) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int32_t> frames;
    double done = 0;
    const auto a = Open("a.avi"), b = Open("b.mkv");
    const PairedFrames paired = PairFrames(*a, *b, -4, 0, 1000);
    ASSERT_EQ(paired.first, 4);
    ASSERT_EQ(paired.last, 29);
    ComparePassWorker pass(Open("a.avi"), Open("b.mkv"), -4, paired, [&](std::vector<FrameMetrics> batch, double share) {
        std::lock_guard lock(mutex);
        for (const FrameMetrics& f : batch) frames.push_back(f.frameA);
        done = share;
        changed.notify_all();
    });
    // Held while a user steps, it goes on once the steps stop.
    pass.Hold();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return done == 1.0; }));
    ASSERT_EQ(frames.size(), 26u);
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], 4 + static_cast<int>(i));
}

// The window reads B's frame on a side job while it reads A's itself.
TEST_F(CompareWorkers, ASideJobReadsOneClipWhileThisThreadReadsTheOther) {
    const auto a = Open("a.avi"), b = Open("b.mkv");
    SideJob side;
    for (std::int32_t n = 29; n >= 18; --n) {  // back over B's key frame at 24
        MemorySurface surfaceA(64, 48), surfaceB(64, 48);
        side.Start([&] { b->DrawFrame(n, surfaceB, false); });
        a->DrawFrame(n, surfaceA, false);
        side.Wait();
        EXPECT_EQ(fwtest::FrameNumberOf(surfaceA.Image()), n);
        EXPECT_EQ(fwtest::FrameNumberOf(surfaceB.Image()), n);
    }
}

TEST_F(CompareWorkers, StoppingAtAnyMomentEndsCleanly) {
    for (int round = 0; round < 6; ++round) {
        std::atomic<int> reports = 0;
        {
            ComparePassWorker pass(Open("a.avi"), Open("b.mkv"), 0, {0, 29},
                                   [&](std::vector<FrameMetrics>, double) { ++reports; });
            FrameMetricsWorker worker(Open("a.avi"), Open("b.mkv"), [&](const FrameMetrics&) { ++reports; });
            worker.Request(round, round);
            std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        }
        const int after = reports;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(reports, after);  // nothing reports once the workers are gone
    }
}

}  // namespace
