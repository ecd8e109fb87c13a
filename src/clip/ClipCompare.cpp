#include "clip/ClipCompare.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "clip/cAVI.h"
#include "media/MemoryBudgets.h"
#include "platform/mAVIDecs.h"

PairedFrames PairFrames(const cAVI& a, const cAVI& b, std::int32_t offset, std::int32_t from, std::int32_t to) {
    PairedFrames frames;
    // In 64 bits: an offset near the limits must not wrap around.
    const std::int64_t first = std::max<std::int64_t>({a.GetFirstFrame(), std::int64_t{b.GetFirstFrame()} - offset, from});
    const std::int64_t last = std::min<std::int64_t>({a.GetLastFrame(), std::int64_t{b.GetLastFrame()} - offset, to});
    if (a.GetFrameCount() <= 0 || b.GetFrameCount() <= 0 || first > last) return frames;
    frames.first = static_cast<std::int32_t>(first);
    frames.last = static_cast<std::int32_t>(last);
    return frames;
}

SideJob::SideJob() : thread_([this] { Run(); }) {}

SideJob::~SideJob() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SideJob::Start(std::function<void()> job) {
    Wait();
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void SideJob::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

void SideJob::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || job_; });
        if (stop_) return;
        std::function<void()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        job = nullptr;  // what it holds goes before the caller hears it is done
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

PicturePair DecodePair(cAVI& a, std::int32_t frameA, cAVI& b, std::int32_t frameB, SideJob* side) {
    PicturePair pair{frameA, frameB, nullptr, nullptr, false};
    pair.outside = !a.HasFrame(frameA) || !b.HasFrame(frameB);
    if (pair.outside) return pair;
    if (side) side->Start([&] { pair.b = AVIStreamGetSourcePicture(b.FrameReader(), frameB, true); });
    pair.a = AVIStreamGetSourcePicture(a.FrameReader(), frameA, true);
    if (side) side->Wait();
    else pair.b = AVIStreamGetSourcePicture(b.FrameReader(), frameB, true);
    return pair;
}

FrameMetrics MeasurePair(const PicturePair& pair, bool ssim) {
    FrameMetrics result{pair.frameA, pair.frameB, {}};
    if (pair.outside) result.metrics.reason = "no frame to compare with";
    else result.metrics = AVIComparePictures(pair.a, pair.b, ssim);
    return result;
}

PictureMetrics CompareClipFrames(cAVI& a, std::int32_t frameA, cAVI& b, std::int32_t frameB) {
    return MeasurePair(DecodePair(a, frameA, b, frameB)).metrics;
}

namespace {

// Decodes one clip's frames of a pass, `first` to `last` in order, on a
// thread of its own and at most kPassPicturesAhead pictures ahead of the
// pairs being measured, so that neither clip waits for the other's slower
// pictures. The clip is used by that thread only until the reader is gone.
class PassReader {
public:
    PassReader(cAVI& clip, std::int32_t first, std::int32_t last)
        : clip_(clip), first_(first), last_(last), thread_([this] { Run(); }) {}
    ~PassReader() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    PassReader(const PassReader&) = delete;
    PassReader& operator=(const PassReader&) = delete;

    // The picture of the next frame in order, waiting for it; null for a
    // frame outside the clip. At most last - first + 1 calls.
    SourcePicture Take() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty(); });
        SourcePicture picture = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return picture;
    }

private:
    void Run() {
        for (std::int32_t n = first_; n <= last_; ++n) {
            SourcePicture picture = clip_.HasFrame(n) ? AVIStreamGetSourcePicture(clip_.FrameReader(), n, true) : nullptr;
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < kPassPicturesAhead; });
            if (stop_) return;
            ready_.push_back(std::move(picture));
            changed_.notify_all();
        }
    }

    cAVI& clip_;
    const std::int32_t first_, last_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<SourcePicture> ready_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

std::int32_t ComparePass(cAVI& a, cAVI& b, std::int32_t offset, const PairedFrames& frames,
                         const std::function<bool(const FrameMetrics&)>& each, bool ssim) {
    if (frames.Count() <= 0) return 0;
    PassReader readerA(a, frames.first, frames.last);
    PassReader readerB(b, frames.first + offset, frames.last + offset);
    std::int32_t done = 0;
    for (std::int32_t n = frames.first; n <= frames.last; ++n) {
        PicturePair pair{n, n + offset, readerA.Take(), readerB.Take(), false};
        pair.outside = !a.HasFrame(n) || !b.HasFrame(n + offset);
        ++done;
        if (!each(MeasurePair(pair, ssim))) break;
    }
    return done;
}

namespace {

double PsnrOf(double mse, int peak) { return 10.0 * std::log10(double(unsigned(peak) * unsigned(peak)) / mse); }

}  // namespace

void MetricsSummary::Add(const FrameMetrics& frame) {
    const PictureMetrics& m = frame.metrics;
    if (!m.valid) return;
    if (frames_ == 0 || m.psnrAverage < worst_.metrics.psnrAverage) worst_ = frame;
    ++frames_;
    components_ = m.components;
    for (int c = 0; c < m.components; ++c) {
        mseSum_[c] += m.mse[c];
        peak_[c] = m.peak[c];
    }
    averagePeak_ = m.averagePeak;
    mseAverageSum_ += m.mseAverage;
    ssimSum_ += m.ssimY;
}

PictureMetrics MetricsSummary::Mean() const {
    PictureMetrics mean;
    if (frames_ == 0) {
        mean.reason = "no frames compared";
        return mean;
    }
    mean.valid = true;
    mean.components = components_;
    const double n = static_cast<double>(frames_);
    for (int c = 0; c < components_; ++c) {
        mean.mse[c] = mseSum_[c] / n;
        mean.psnr[c] = mean.mse[c] > 0 ? PsnrOf(mean.mse[c], peak_[c]) : INFINITY;
    }
    mean.mseAverage = mseAverageSum_ / n;
    mean.psnrAverage = mean.mseAverage > 0 ? PsnrOf(mean.mseAverage, averagePeak_) : INFINITY;
    mean.ssimY = ssimSum_ / n;
    return mean;
}
