#include "clip/CompareWorkers.h"

#include <chrono>

#include "clip/cAVI.h"
#include "platform/Threads.h"

FrameMetricsWorker::FrameMetricsWorker(std::unique_ptr<cAVI> a, std::unique_ptr<cAVI> b, Done done)
    : a_(std::move(a)), b_(std::move(b)), done_(std::move(done)), thread_([this] { Run(); }) {}

FrameMetricsWorker::~FrameMetricsWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void FrameMetricsWorker::Request(std::int32_t frameA, std::int32_t frameB, SourcePicture a, SourcePicture b) {
    {
        std::lock_guard lock(mutex_);
        pending_ = PicturePair{frameA, frameB, std::move(a), std::move(b), false};
    }
    wake_.notify_one();
}

void FrameMetricsWorker::Run() {
    LowerThreadPriority();
    for (;;) {
        PicturePair job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || pending_; });
            if (stop_) return;
            job = std::move(*pending_);
            pending_.reset();
        }
        if (!job.a || !job.b) job = DecodePair(*a_, job.frameA, *b_, job.frameB);
        done_(MeasurePair(job));
    }
}

ComparePassWorker::ComparePassWorker(std::unique_ptr<cAVI> a, std::unique_ptr<cAVI> b, std::int32_t offset,
                                     PairedFrames frames, Report report)
    : a_(std::move(a)), b_(std::move(b)), offset_(offset), frames_(frames), report_(std::move(report)),
      thread_([this] { Run(); }) {}

ComparePassWorker::~ComparePassWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

// A quarter of a second without a step: the user has stopped, or plays slowly.
void ComparePassWorker::Hold() {
    constexpr auto kQuiet = std::chrono::milliseconds(250);
    std::lock_guard lock(mutex_);
    heldUntil_ = std::chrono::steady_clock::now() + kQuiet;
}

bool ComparePassWorker::WaitWhileHeld() {
    std::unique_lock lock(mutex_);
    while (!stop_ && std::chrono::steady_clock::now() < heldUntil_) wake_.wait_until(lock, heldUntil_);
    return !stop_;
}

void ComparePassWorker::Run() {
    LowerThreadPriority();  // and the decoding threads the pass starts
    // Batches of about a tenth of a second keep the caller's queue short.
    using Clock = std::chrono::steady_clock;
    constexpr auto kBatchTime = std::chrono::milliseconds(100);
    std::vector<FrameMetrics> batch;
    auto batchStart = Clock::now();
    const double total = frames_.Count();
    std::int64_t done = 0;
    ComparePass(*a_, *b_, offset_, frames_, [&](const FrameMetrics& frame) {
        batch.push_back(frame);
        ++done;
        if (Clock::now() - batchStart >= kBatchTime) {
            report_(std::move(batch), done / total);
            batch.clear();
            batchStart = Clock::now();
        }
        return WaitWhileHeld();
    }, false);
    bool stopped = false;
    {
        std::lock_guard lock(mutex_);
        stopped = stop_;
    }
    if (!stopped) report_(std::move(batch), 1.0);
}
