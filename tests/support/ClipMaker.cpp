#include "ClipMaker.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

extern "C" {
#include <libavutil/opt.h>
}

#include "LibavPtr.h"

namespace fwtest {

namespace {

constexpr int kGrid = 4;  // 4 x 4 cells carry 16 bits

// 3 x 5 digit glyphs, one row per 3 bits, top row first.
constexpr unsigned short kGlyphs[10] = {075557, 022222, 071747, 071717, 055711,
                                        074717, 074757, 071111, 075757, 075717};

struct Layout {
    int gridTop;  // first row of the cell grid (top-down)
    int gridHeight;
};

Layout LayoutFor(int height) {
    if (height >= 96) return {height / 2, height - height / 2};
    return {0, height};
}

void FillRect(std::vector<std::uint8_t>& rgb, int stride, int x0, int y0, int w, int h, std::uint8_t v) {
    for (int y = y0; y < y0 + h; ++y)
        std::fill_n(rgb.begin() + static_cast<std::ptrdiff_t>(y) * stride + x0 * 3, w * 3, v);
}

void DrawDigits(std::vector<std::uint8_t>& rgb, int stride, int width, int bandHeight, int number) {
    const std::string text = std::to_string(number);
    const int n = static_cast<int>(text.size());
    const int scale = std::max(1, std::min(width / (n * 4 + 1), bandHeight / 7));
    int x = (width - (n * 4 - 1) * scale) / 2;
    const int y = (bandHeight - 5 * scale) / 2;
    for (char c : text) {
        const unsigned glyph = kGlyphs[c - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph >> ((4 - row) * 3 + (2 - col)) & 1)
                    FillRect(rgb, stride, x + col * scale, y + row * scale, scale, scale, 255);
        x += 4 * scale;
    }
}

// Top-down BGR24 picture of `number`.
std::vector<std::uint8_t> DrawPicture(int width, int height, int number) {
    const int stride = width * 3;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(stride) * height, 40);
    const Layout layout = LayoutFor(height);
    if (layout.gridTop > 0) DrawDigits(rgb, stride, width, layout.gridTop, number);
    for (int bit = 0; bit < kGrid * kGrid; ++bit) {
        const int cx = bit % kGrid, cy = bit / kGrid;
        const int x0 = cx * width / kGrid, x1 = (cx + 1) * width / kGrid;
        const int y0 = layout.gridTop + cy * layout.gridHeight / kGrid;
        const int y1 = layout.gridTop + (cy + 1) * layout.gridHeight / kGrid;
        FillRect(rgb, stride, x0, y0, x1 - x0, y1 - y0, (number >> bit & 1) ? 235 : 20);
    }
    return rgb;
}

AVPixelFormat PixelFormatFor(const AVCodec* codec) {
    if (codec->id == AV_CODEC_ID_RAWVIDEO) return AV_PIX_FMT_BGR24;
    if (codec->id == AV_CODEC_ID_MJPEG) return AV_PIX_FMT_YUVJ420P;
    const AVPixelFormat* formats = codec->pix_fmts;
    if (!formats) return AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == AV_PIX_FMT_YUV420P) return *f;
    return formats[0];
}

Ptr<AVCodecContext> OpenEncoder(const AVCodec* codec, const ClipSpec& spec) {
    Ptr<AVCodecContext> ctx(avcodec_alloc_context3(codec));
    ctx->width = spec.width;
    ctx->height = spec.height;
    ctx->time_base = AVRational{spec.scale, spec.rate};
    ctx->framerate = AVRational{spec.rate, spec.scale};
    ctx->pix_fmt = PixelFormatFor(codec);
    ctx->gop_size = spec.gop;
    ctx->max_b_frames = spec.bFrames;
    ctx->thread_count = 1;
    if (codec->id == AV_CODEC_ID_MPEG4 || codec->id == AV_CODEC_ID_MSMPEG4V3 || codec->id == AV_CODEC_ID_MJPEG) {
        ctx->qmin = 2;
        ctx->qmax = 4;
    }
    if (codec->id == AV_CODEC_ID_H264) {
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "crf", "12", 0);
    }
    for (const auto& [key, value] : spec.options) av_opt_set(ctx->priv_data, key.c_str(), value.c_str(), 0);
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
    return ctx;
}

class Writer {
public:
    Writer(AVFormatContext* oc, AVStream* st, AVCodecContext* enc, const ClipSpec& spec)
        : oc_(oc), st_(st), enc_(enc), empty_(spec.emptyPositions.begin(), spec.emptyPositions.end()) {}

    bool Drain() {
        Ptr<AVPacket> pkt(av_packet_alloc());
        while (avcodec_receive_packet(enc_, pkt.get()) == 0) {
            while (empty_.count(position_)) ++position_;
            pkt->stream_index = st_->index;
            pkt->pts = pkt->dts = av_rescale_q(position_++, enc_->time_base, st_->time_base);
            pkt->duration = 0;
            if (av_interleaved_write_frame(oc_, pkt.get()) < 0) return false;
        }
        return true;
    }

private:
    AVFormatContext* oc_;
    AVStream* st_;
    AVCodecContext* enc_;
    std::set<int> empty_;
    int position_ = 0;
};

bool Fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "MakeClip %s: %s\n", path.c_str(), what);
    return false;
}

}  // namespace

bool MakeClip(const std::string& path, const ClipSpec& spec) {
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.encoder.c_str());
    if (!codec) return Fail("no such encoder", path);
    Ptr<AVCodecContext> enc = OpenEncoder(codec, spec);
    if (!enc) return Fail("encoder did not open", path);
    AVFormatContext* rawOc = nullptr;
    if (avformat_alloc_output_context2(&rawOc, nullptr, "avi", path.c_str()) < 0) return Fail("no muxer", path);
    std::unique_ptr<AVFormatContext, OutputCloser> oc(rawOc);
    AVStream* st = avformat_new_stream(oc.get(), nullptr);
    avcodec_parameters_from_context(st->codecpar, enc.get());
    st->time_base = enc->time_base;
    AVStream* audio = nullptr;
    if (spec.withAudio) {
        audio = avformat_new_stream(oc.get(), nullptr);
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        audio->codecpar->sample_rate = 8000;
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
        audio->codecpar->bits_per_coded_sample = 16;
        audio->codecpar->block_align = 2;
        audio->time_base = AVRational{1, 8000};
    }
    if (avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return Fail("cannot write", path);
    if (avformat_write_header(oc.get(), nullptr) < 0) return Fail("header", path);

    Writer writer(oc.get(), st, enc.get(), spec);
    Ptr<AVFrame> frame(av_frame_alloc());
    frame->format = enc->pix_fmt;
    frame->width = spec.width;
    frame->height = spec.height;
    av_frame_get_buffer(frame.get(), 0);
    Ptr<SwsContext> sws(sws_getContext(spec.width, spec.height, AV_PIX_FMT_BGR24, spec.width, spec.height,
                                       enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
    const int samplesPerFrame = static_cast<int>(8000LL * spec.scale / spec.rate);
    for (int k = 0; k < spec.frames; ++k) {
        const std::vector<std::uint8_t> rgb = DrawPicture(spec.width, spec.height, k);
        const uint8_t* src[4] = {rgb.data()};
        int srcStride[4] = {spec.width * 3};
        av_frame_make_writable(frame.get());
        sws_scale(sws.get(), src, srcStride, 0, spec.height, frame->data, frame->linesize);
        frame->pts = k;
        if (avcodec_send_frame(enc.get(), frame.get()) < 0 || !writer.Drain()) return Fail("encode", path);
        if (audio && samplesPerFrame > 0) {
            Ptr<AVPacket> apkt(av_packet_alloc());
            av_new_packet(apkt.get(), samplesPerFrame * 2);
            std::fill_n(apkt->data, apkt->size, 0);
            apkt->stream_index = audio->index;
            apkt->pts = apkt->dts = av_rescale_q(static_cast<int64_t>(k) * samplesPerFrame, AVRational{1, 8000},
                                                 audio->time_base);
            av_interleaved_write_frame(oc.get(), apkt.get());
        }
    }
    avcodec_send_frame(enc.get(), nullptr);
    if (!writer.Drain()) return Fail("flush", path);
    if (av_write_trailer(oc.get()) < 0) return Fail("trailer", path);
    return true;
}

int FrameNumberOfDIB(const std::uint8_t* bgr, int width, int height) {
    if (!bgr || width < kGrid || height < kGrid) return -1;
    const int stride = (width * 3 + 3) & ~3;
    const Layout layout = LayoutFor(height);
    int number = 0;
    for (int bit = 0; bit < kGrid * kGrid; ++bit) {
        const int cx = bit % kGrid, cy = bit / kGrid;
        const int x = (2 * cx + 1) * width / (2 * kGrid);
        const int y = layout.gridTop + (2 * cy + 1) * layout.gridHeight / (2 * kGrid);
        const std::uint8_t* p = bgr + static_cast<std::size_t>(height - 1 - y) * stride + x * 3;
        const int luma = (p[0] + 2 * p[1] + p[2]) / 4;
        if (luma > 200) number |= 1 << bit;
        else if (luma > 60) return -1;  // neither black nor white: not one of ours
    }
    return number;
}

int FrameNumberOf(const PersistentImage& image) {
    const int width = image.Width(), height = image.Height();
    if (width < kGrid || height < kGrid) return -1;
    // The image is top-down; turn it into the bottom-up layout the reader uses.
    const int stride = (width * 3 + 3) & ~3;
    std::vector<std::uint8_t> dib(static_cast<std::size_t>(stride) * height);
    for (int y = 0; y < height; ++y)
        std::copy_n(image.Row(y), width * 3, dib.begin() + static_cast<std::ptrdiff_t>(height - 1 - y) * stride);
    return FrameNumberOfDIB(dib.data(), width, height);
}

std::vector<int> ExpectedNumbers(const ClipSpec& spec) {
    std::set<int> empty(spec.emptyPositions.begin(), spec.emptyPositions.end());
    std::vector<int> numbers;
    int picture = -1;
    for (int position = 0; picture < spec.frames - 1 || empty.count(position); ++position) {
        if (!empty.count(position)) ++picture;
        numbers.push_back(std::max(picture, 0));
    }
    return numbers;
}

}  // namespace fwtest
