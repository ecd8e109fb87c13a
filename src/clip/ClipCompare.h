// Two clips compared frame by frame: frame N of clip A against frame
// N + offset of clip B, over the frames both have.
#pragma once

#include <cstdint>
#include <functional>

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

// The decoded pictures of a frame pair, to be measured on any thread with
// MeasurePair; a frame outside its clip has no picture.
struct PicturePair {
    std::int32_t frameA = 0;
    std::int32_t frameB = 0;
    SourcePicture a, b;
    bool outside = false;  // a frame lies outside its clip
};
PicturePair DecodePair(cAVI& a, std::int32_t frameA, cAVI& b, std::int32_t frameB);
FrameMetrics MeasurePair(const PicturePair& pair, bool ssim = true);

// Measures every paired frame of A in order and hands each result to `each`;
// stops early when `each` returns false. Returns the frames measured. A
// pair is measured on a second thread while the next one decodes; `each`
// runs on the calling thread.
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
