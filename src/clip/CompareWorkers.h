// Comparison off the caller's thread. Each worker owns its two clips (opened
// by the caller, handed over, and used from then on by the worker's thread
// only) and reports through a callback that runs on the worker's thread: the
// caller forwards the result to where it belongs. Destroying a worker stops
// it and waits for its thread; no callback runs after that. Both run below
// the priority of the threads that decode and show the frames being looked
// at, so that measuring never slows a step.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "clip/ClipCompare.h"

class cAVI;

// Measures the frame pair asked for last: a request replaces one still
// waiting, so a caller stepping quickly never queues work. A request may
// bring the pair's decoded pictures (the caller decoded them anyway);
// otherwise the worker decodes them with its own clips.
class FrameMetricsWorker {
public:
    using Done = std::function<void(const FrameMetrics&)>;
    FrameMetricsWorker(std::unique_ptr<cAVI> a, std::unique_ptr<cAVI> b, Done done);
    ~FrameMetricsWorker();
    FrameMetricsWorker(const FrameMetricsWorker&) = delete;
    FrameMetricsWorker& operator=(const FrameMetricsWorker&) = delete;

    void Request(std::int32_t frameA, std::int32_t frameB, SourcePicture a = nullptr, SourcePicture b = nullptr);

private:
    void Run();

    std::unique_ptr<cAVI> a_, b_;
    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<PicturePair> pending_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

// Measures the PSNRs of every paired frame in order (no SSIM) and reports
// them in batches with the share done (0..1); the last report has a share of 1.
// Hold() pauses it for a moment: the window calls it on every step, so the
// pass takes no time from the frames the user is looking at.
class ComparePassWorker {
public:
    using Report = std::function<void(std::vector<FrameMetrics> batch, double done)>;
    ComparePassWorker(std::unique_ptr<cAVI> a, std::unique_ptr<cAVI> b, std::int32_t offset, PairedFrames frames,
                      Report report);
    ~ComparePassWorker();
    ComparePassWorker(const ComparePassWorker&) = delete;
    ComparePassWorker& operator=(const ComparePassWorker&) = delete;

    void Hold();

private:
    void Run();
    bool WaitWhileHeld();  // false once stopped

    std::unique_ptr<cAVI> a_, b_;
    std::int32_t offset_;
    PairedFrames frames_;
    Report report_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point heldUntil_;
    bool stop_ = false;
    std::thread thread_;
};
