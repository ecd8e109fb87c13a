// Two clips compared frame by frame: frame N of clip A against frame
// N + offset of clip B, over the frames both have.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "media/PictureMetrics.h"

class cAVI;

// The frames of A, first..last, whose partner N + offset lies in B, within
// from..to of A; false when there are none.
struct PairedFrames {
    std::int32_t first = 0;
    std::int32_t last = -1;
    std::int32_t Count() const { return last >= first ? last - first + 1 : 0; }
};
PairedFrames PairFrames(const cAVI& a, const cAVI& b, std::int32_t offset, std::int32_t from, std::int32_t to);

// The metrics of frame `frameA` of `a` against frame `frameB` of `b`, on the
// decoded pictures; frames outside their clips give an invalid result.
PictureMetrics CompareClipFrames(cAVI& a, std::int32_t frameA, cAVI& b, std::int32_t frameB);

// One frame's metrics, as a pass reports them.
struct FrameMetrics {
    std::int32_t frameA = 0;
    std::int32_t frameB = 0;
    PictureMetrics metrics;
};

// One job at a time on a thread of its own, for a caller that does
// something else meanwhile and then waits for it (the window reads B's frame
// here while it draws A's). Start waits for the job before, if any.
class SideJob {
public:
    SideJob();
    ~SideJob();
    SideJob(const SideJob&) = delete;
    SideJob& operator=(const SideJob&) = delete;

    void Start(std::function<void()> job);
    // Returns once the job started last has run (at once when there is none).
    void Wait();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;  // the job not yet taken up
    bool busy_ = false;          // from Start until the job has run
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

// The decoded pictures of a frame pair, to be measured on any thread with
// MeasurePair; a frame outside its clip has no picture.
struct PicturePair {
    std::int32_t frameA = 0;
    std::int32_t frameB = 0;
    SourcePicture a, b;
    bool outside = false;  // a frame lies outside its clip
};
// With `side`, B's picture is decoded there while A's is decoded here.
PicturePair DecodePair(cAVI& a, std::int32_t frameA, cAVI& b, std::int32_t frameB, SideJob* side = nullptr);
FrameMetrics MeasurePair(const PicturePair& pair, bool ssim = true);

// Measures every paired frame of A in order and hands each result to `each`;
// stops early when `each` returns false. Returns the frames measured. Each
// clip decodes on a thread of its own, a few pictures ahead; pairs are
// measured, and `each` runs, on the calling thread.
std::int32_t ComparePass(cAVI& a, cAVI& b, std::int32_t offset, const PairedFrames& frames,
                         const std::function<bool(const FrameMetrics&)>& each, bool ssim = true);

// What a pass adds up to: PSNR of the mean MSE per component (as ffmpeg's
// psnr filter sums up), the mean SSIM, and the frame with the lowest average
// PSNR (the first of equals).
class MetricsSummary {
public:
    void Add(const FrameMetrics& frame);
    std::int64_t Frames() const { return frames_; }
    PictureMetrics Mean() const;
    const FrameMetrics& Worst() const { return worst_; }

private:
    std::int64_t frames_ = 0;
    std::array<double, 4> mseSum_{};
    double mseAverageSum_ = 0;
    double ssimSum_ = 0;
    std::array<int, 4> peak_{};
    int averagePeak_ = 0;
    int components_ = 0;
    FrameMetrics worst_;
};
