// Owning handles for the libav objects the reference loops use.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace bench {

struct LibavCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
template <class T>
using Ptr = std::unique_ptr<T, LibavCloser>;

// An input context closes with avformat_close_input, an output one frees.
struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

}  // namespace bench
