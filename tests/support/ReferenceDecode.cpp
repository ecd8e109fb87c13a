#include "ReferenceDecode.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "LibavPtr.h"

namespace fwtest {

namespace {

class Converter {
public:
    Converter(int width, int height) : width_(width), height_(height), row_((width * 3 + 3) & ~3) {
        bytes_.resize(static_cast<std::size_t>(row_) * height + 64);  // converter slack
    }
    std::uint64_t Hash(const AVFrame* f) {
        sws_.reset(sws_getCachedContext(sws_.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                        width_, height_, AV_PIX_FMT_BGR24,
                                        SWS_BICUBIC | (width_ % 2 ? SWS_ACCURATE_RND : 0), nullptr, nullptr,
                                        nullptr));
        const bool yuv = IsYuv(static_cast<AVPixelFormat>(f->format));
        const int space = f->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : f->colorspace;
        const int full = f->color_range == AVCOL_RANGE_JPEG;
        if (yuv && (space != SWS_CS_DEFAULT || full))
            sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(space), full,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        uint8_t* dst[4] = {bytes_.data() + static_cast<std::size_t>(row_) * (height_ - 1)};
        int stride[4] = {-row_};
        std::fill(bytes_.begin(), bytes_.end(), 0);
        sws_scale(sws_.get(), f->data, f->linesize, 0, f->height, dst, stride);
        return HashBytes(bytes_.data(), bytes_.size() - 64);
    }

private:
    static bool IsYuv(AVPixelFormat format) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
        return d && d->nb_components >= 3 && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    }
    int width_, height_, row_;
    std::vector<std::uint8_t> bytes_;
    Ptr<SwsContext> sws_;
};

}  // namespace

std::uint64_t HashBytes(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 1469598103934665603ULL;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ULL;
    return h ? h : 1;
}

std::uint64_t ReferenceClip::HashAt(std::int64_t position) const {
    auto it = std::upper_bound(packetPositions.begin(), packetPositions.end(), position);
    std::size_t j = it == packetPositions.begin() ? 0 : static_cast<std::size_t>(it - packetPositions.begin()) - 1;
    if (pictureHashes.empty()) return 0;
    return pictureHashes[std::min(j, pictureHashes.size() - 1)];
}

bool DecodeReference(const std::string& path, ReferenceClip& out) {
    out = ReferenceClip{};
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), av_find_input_format("avi"), nullptr) < 0) return false;
    std::unique_ptr<AVFormatContext, InputCloser> fmt(raw);
    const int index = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return false;
    const AVCodecParameters* par = fmt->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return false;
    Ptr<AVCodecContext> ctx(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(ctx.get(), par);
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
    out.width = par->width;
    out.height = std::abs(par->height);
    out.decoder = codec->name;
    Converter converter(out.width, out.height);
    Ptr<AVPacket> pkt(av_packet_alloc());
    Ptr<AVFrame> frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            out.pictureHashes.push_back(converter.Hash(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == index && pkt->size > 0) {
            out.packetPositions.push_back(pkt->dts);
            avcodec_send_packet(ctx.get(), pkt.get());
            drain();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(ctx.get(), nullptr);
    drain();
    return true;
}

}  // namespace fwtest
