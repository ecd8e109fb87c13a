// Owning handles for libav objects and the one place where AVERROR codes are
// turned into our own results.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
#include <libavutil/frame.h>
}

#include <memory>

namespace libav {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ParametersFreer {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
struct IoCloser {
    void operator()(AVIOContext* io) const { avio_closep(&io); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFreer>;
using IoPtr = std::unique_ptr<AVIOContext, IoCloser>;

// What a send/receive step means to the frame reader.
enum class Step { Ok, NeedInput, Ended, Failed };

inline Step Translate(int averror) {
    if (averror >= 0) return Step::Ok;
    if (averror == AVERROR(EAGAIN)) return Step::NeedInput;
    if (averror == AVERROR_EOF) return Step::Ended;
    return Step::Failed;
}

}  // namespace libav
