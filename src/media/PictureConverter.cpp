#include "media/PictureConverter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

bool IsYuv(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && d->nb_components >= 3 && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// A picture like `like` (format and size) whose every byte is pseudo-random.
libav::FramePtr RandomPicture(const AVFrame* like) {
    libav::FramePtr picture(av_frame_alloc());
    if (!picture) return nullptr;
    picture->format = like->format;
    picture->width = like->width;
    picture->height = like->height;
    if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
    std::uint32_t state = 0x9E3779B9u;
    for (AVBufferRef* buffer : picture->buf) {
        for (std::size_t i = 0; buffer && i < buffer->size; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            buffer->data[i] = static_cast<std::uint8_t>(state);
        }
    }
    return picture;
}

}  // namespace

PictureConverter::PictureConverter(int width, int height)
    : width_(width), height_(height), rowBytes_((width * 3 + 3) & ~3) {}

bool PictureConverter::Convert(const AVFrame* picture, std::uint8_t* pixels) {
    return Prepare(picture) && ConvertWith(mode_, picture, pixels);
}

bool PictureConverter::ConvertWith(Mode mode, const AVFrame* picture, std::uint8_t* pixels) {
    switch (mode) {
        case Mode::Straight: return ConvertStraight(picture, pixels);
        case Mode::Flipped: return ConvertFlipped(picture, pixels);
        case Mode::ThroughFrame: break;
    }
    return ConvertThroughFrame(picture, pixels);
}

// Tagged colour matrices and full-range YUV are honoured, as a player does;
// untagged, RGB and grey pictures take the converter's own defaults. The
// details are set whenever they differ from the context's, so that a stream
// whose tags stop goes back to the defaults.
bool PictureConverter::Prepare(const AVFrame* picture) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    // Compared here rather than by sws_getCachedContext, which takes a
    // context made for a full-range format (yuvj420p: the converter notes it
    // as yuv420p and full range) for another and makes a new one every time.
    const Source source{picture->format, picture->width, picture->height};
    const bool fresh = !sws_ || source != source_;
    if (fresh) {
        // A picture of another size than the stream's frame (a stream joined
        // from two, a damaged header) is scaled to it as the ffmpeg program
        // scales it, with the same filter.
        sws_.reset(sws_getContext(source.width, source.height, format, width_, height_, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                  nullptr, nullptr, nullptr));
        if (!sws_) return false;
        source_ = source;
        space_ = SWS_CS_DEFAULT;  // what a new context converts with
        fullRange_ = 0;
    }
    const int space = picture->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : picture->colorspace;
    const int full = picture->color_range == AVCOL_RANGE_JPEG;
    if (IsYuv(format) && (space != space_ || full != fullRange_)) {
        sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(space), full, sws_getCoefficients(SWS_CS_DEFAULT),
                                 1, 0, 1 << 16, 1 << 16);
        space_ = space;
        fullRange_ = full;
    }
    if (fresh) mode_ = ModeFor(picture);
    return true;
}

// The verdict depends only on the conversion, not on the pictures, so each
// conversion is probed once in the process's life.
PictureConverter::Mode PictureConverter::ModeFor(const AVFrame* like) {
    using Conversion = std::array<int, 7>;
    static std::mutex mutex;
    static std::map<Conversion, Mode> verdicts;
    const Conversion conversion = {like->format, like->width, like->height, width_, height_, space_, fullRange_};
    {
        std::lock_guard lock(mutex);
        if (auto it = verdicts.find(conversion); it != verdicts.end()) return it->second;
    }
    const Mode mode = ProbeMode(like);
    std::lock_guard lock(mutex);
    return verdicts[conversion] = mode;
}

// The converter's vector stores may run past a row's last pixel, and where
// the stride leaves no room for a whole last block it may stop short of it.
// Written with a negative stride, the overrun lands on the row written just
// before; written in memory order from the picture read bottom row first, it
// lands on the row written next, or in the slack; but reading the picture
// upside down may pair chroma rows differently. Which conversions suffer
// depends on the path the converter picks for the format, size and processor
// at hand, so rather than predict it, a random picture of the stream's format
// is converted each way whenever the converter changes, and a direct way is
// kept only when it gives the pixels of the conversion through a frame and
// writes nothing past its slack.
PictureConverter::Mode PictureConverter::ProbeMode(const AVFrame* like) {
    const libav::FramePtr probe = RandomPicture(like);
    const std::size_t imageBytes = static_cast<std::size_t>(rowBytes_) * static_cast<std::size_t>(height_);
    std::vector<std::uint8_t> expected(imageBytes, 0);
    if (!probe || !ConvertThroughFrame(probe.get(), expected.data())) return Mode::ThroughFrame;
    constexpr std::uint8_t kUntouched = 0xA5;
    for (const Mode mode : {Mode::Straight, Mode::Flipped}) {
        std::vector<std::uint8_t> trial(imageBytes + 4096, kUntouched);
        std::fill_n(trial.begin(), imageBytes, 0);
        if (ConvertWith(mode, probe.get(), trial.data()) &&
            std::all_of(trial.begin() + imageBytes + kSlackBytes, trial.end(), [](auto b) { return b == kUntouched; }) &&
            std::memcmp(expected.data(), trial.data(), imageBytes) == 0)
            return mode;
    }
    return Mode::ThroughFrame;
}

bool PictureConverter::ConvertStraight(const AVFrame* picture, std::uint8_t* pixels) {
    std::uint8_t* lastRow = pixels + static_cast<std::size_t>(rowBytes_) * static_cast<std::size_t>(height_ - 1);
    std::uint8_t* dst[4] = {lastRow, nullptr, nullptr, nullptr};
    const int dstStride[4] = {-rowBytes_, 0, 0, 0};
    return sws_scale(sws_.get(), picture->data, picture->linesize, 0, picture->height, dst, dstStride) > 0;
}

// The picture's planes are read from their last row up, so the bitmap's rows
// are written in memory order; each row's overrun lands on its own padding,
// zeroed again, and on the next row, written after it.
bool PictureConverter::ConvertFlipped(const AVFrame* picture, std::uint8_t* pixels) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d) return false;
    const std::uint8_t* src[4] = {picture->data[0], picture->data[1], picture->data[2], picture->data[3]};
    int srcStride[4] = {picture->linesize[0], picture->linesize[1], picture->linesize[2], picture->linesize[3]};
    for (int p = 0; p < av_pix_fmt_count_planes(format) && p < 4; ++p) {
        const int rows = p == 1 || p == 2 ? AV_CEIL_RSHIFT(picture->height, d->log2_chroma_h) : picture->height;
        src[p] += static_cast<std::ptrdiff_t>(rows - 1) * srcStride[p];
        srcStride[p] = -srcStride[p];
    }
    std::uint8_t* dst[4] = {pixels, nullptr, nullptr, nullptr};
    const int dstStride[4] = {rowBytes_, 0, 0, 0};
    if (sws_scale(sws_.get(), src, srcStride, 0, picture->height, dst, dstStride) <= 0) return false;
    const int padding = rowBytes_ - width_ * 3;
    for (int y = 0; padding > 0 && y < height_; ++y)
        std::memset(pixels + static_cast<std::size_t>(y) * rowBytes_ + width_ * 3, 0, padding);
    return true;
}

// The converter writes a picture exactly into a frame laid out as libav lays
// out its own: rows padded to the widest vector the processor has and slack
// after the last row. From there the rows are copied bottom-up.
bool PictureConverter::ConvertThroughFrame(const AVFrame* picture, std::uint8_t* pixels) {
    if (!topDown_) {
        libav::FramePtr frame(av_frame_alloc());
        if (!frame) return false;
        frame->format = AV_PIX_FMT_BGR24;
        frame->width = width_;
        frame->height = height_;
        if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
        topDown_ = std::move(frame);
    }
    if (sws_scale(sws_.get(), picture->data, picture->linesize, 0, picture->height, topDown_->data,
                  topDown_->linesize) <= 0)
        return false;
    const std::size_t rowPixelBytes = static_cast<std::size_t>(width_) * 3;
    for (int y = 0; y < height_; ++y)
        std::memcpy(pixels + static_cast<std::size_t>(height_ - 1 - y) * rowBytes_,
                    topDown_->data[0] + static_cast<std::ptrdiff_t>(y) * topDown_->linesize[0], rowPixelBytes);
    return true;
}
