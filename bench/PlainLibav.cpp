#include "PlainLibav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <memory>
#include <thread>

#include "LibavPtr.h"
#include "Measure.h"

namespace bench {
namespace {

using FormatPtr = std::unique_ptr<AVFormatContext, InputCloser>;

// One opened file with a decoder and a bottom-up BGR24 target picture.
struct Input {
    FormatPtr format;
    Ptr<AVCodecContext> codec;
    Ptr<AVPacket> packet{av_packet_alloc()};
    Ptr<AVFrame> frame{av_frame_alloc()};
    Ptr<SwsContext> sws;
    std::vector<std::uint8_t> bgr;
    int stream = -1;
    int width = 0;
    int height = 0;
    int rowBytes = 0;
};

FormatPtr OpenFormat(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    FormatPtr format(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return nullptr;
    return format;
}

bool OpenDecoder(Input& in, int threads) {
    const AVCodecParameters* par = in.format->streams[in.stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) return false;
    in.codec.reset(avcodec_alloc_context3(decoder));
    if (!in.codec || avcodec_parameters_to_context(in.codec.get(), par) < 0) return false;
    in.codec->pkt_timebase = in.format->streams[in.stream]->time_base;
    in.codec->thread_count = threads;
    in.codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    return avcodec_open2(in.codec.get(), decoder, nullptr) >= 0;
}

bool OpenInput(Input& in, const std::string& path, int threads) {
    in.format = OpenFormat(path);
    if (!in.format) return false;
    in.stream = av_find_best_stream(in.format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (in.stream < 0 || !OpenDecoder(in, threads)) return false;
    in.width = in.codec->width;
    in.height = in.codec->height;
    in.rowBytes = static_cast<int>(PaddedRowBytes(in.width));
    // The converter may store a little past a row's end; the last row it
    // writes is the buffer's first.
    in.bgr.assign(static_cast<std::size_t>(in.rowBytes) * in.height + 64, 0);
    return in.width > 0 && in.height > 0;
}

bool Convert(Input& in, const AVFrame* f) {
    in.sws.reset(sws_getCachedContext(in.sws.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                      in.width, in.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr,
                                      nullptr));
    if (!in.sws) return false;
    std::uint8_t* dst[4] = {in.bgr.data() + static_cast<std::size_t>(in.rowBytes) * (in.height - 1)};
    int stride[4] = {-in.rowBytes};
    return sws_scale(in.sws.get(), f->data, f->linesize, 0, f->height, dst, stride) > 0;
}

bool IsVideoPayload(const Input& in) { return in.packet->stream_index == in.stream && in.packet->size > 0; }

std::int64_t TimestampOf(const AVPacket* p) { return p->dts != AV_NOPTS_VALUE ? p->dts : p->pts; }

// Receives every picture the decoder has ready and converts each.
void ConvertReady(Input& in) {
    while (avcodec_receive_frame(in.codec.get(), in.frame.get()) >= 0) {
        Convert(in, in.frame.get());
        av_frame_unref(in.frame.get());
    }
}

// Sends one picture's worth of input; at the end, the end-of-stream packet.
// Returns false once nothing is left to send.
bool SendNext(Input& in, bool& ended, std::int64_t* sentTs) {
    if (ended) return false;
    for (;;) {
        if (av_read_frame(in.format.get(), in.packet.get()) < 0) {
            ended = true;
            avcodec_send_packet(in.codec.get(), nullptr);
            return true;
        }
        const bool video = IsVideoPayload(in);
        if (video) {
            if (sentTs) *sentTs = TimestampOf(in.packet.get());
            avcodec_send_packet(in.codec.get(), in.packet.get());
        }
        av_packet_unref(in.packet.get());
        if (video) return true;
    }
}

int IndexOf(const std::vector<PlainChunk>& chunks, std::int64_t ts) {
    auto it = std::find_if(chunks.begin(), chunks.end(), [ts](const PlainChunk& c) { return c.ts == ts; });
    return static_cast<int>(it - chunks.begin());
}

// Decodes from the seek point until the picture of chunk `target` comes out
// (the j-th picture belongs to the j-th chunk sent) and converts only that one.
void DecodeOnly(Input& in, const std::vector<PlainChunk>& chunks, int target) {
    bool ended = false;
    int wanted = -1;
    int received = 0;
    for (;;) {
        while (avcodec_receive_frame(in.codec.get(), in.frame.get()) >= 0) {
            const bool hit = received++ == wanted;
            if (hit) Convert(in, in.frame.get());
            av_frame_unref(in.frame.get());
            if (hit) return;
        }
        std::int64_t ts = AV_NOPTS_VALUE;
        if (!SendNext(in, ended, &ts)) return;
        if (wanted < 0 && ts != AV_NOPTS_VALUE) wanted = target - IndexOf(chunks, ts);
    }
}

// A demuxer that cannot seek (Matroska without cues) reads from the start
// once the file is opened again, as a player must do; the stream's index
// stays, so no stream info is read.
bool ReopenAtStart(Input& in, const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
    in.format.reset(raw);
    return in.stream < static_cast<int>(raw->nb_streams);
}

}  // namespace

void QuietPlainLibav() { av_log_set_level(AV_LOG_QUIET); }

int DefaultDecoderThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

int ChunkAt(const std::vector<PlainChunk>& chunks, std::int64_t position) {
    auto it = std::upper_bound(chunks.begin(), chunks.end(), position,
                               [](std::int64_t p, const PlainChunk& c) { return p < c.slot; });
    return it == chunks.begin() ? 0 : static_cast<int>(it - chunks.begin()) - 1;
}

double PlainOpenMs(const std::string& path) {
    Stopwatch watch;
    FormatPtr format = OpenFormat(path);
    if (!format) return kMissing;
    const std::string name = format->iformat->name;
    if (name != "avi" && name.find("mp4") == std::string::npos) {
        Ptr<AVPacket> packet(av_packet_alloc());
        while (av_read_frame(format.get(), packet.get()) >= 0) av_packet_unref(packet.get());
    }
    return watch.Ms();
}

std::vector<PlainChunk> PlainChunks(const std::string& path) {
    Input in;
    std::vector<PlainChunk> chunks;
    in.format = OpenFormat(path);
    if (!in.format) return chunks;
    in.stream = av_find_best_stream(in.format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const bool avi = std::string(in.format->iformat->name) == "avi";
    while (in.stream >= 0 && av_read_frame(in.format.get(), in.packet.get()) >= 0) {
        const std::int64_t ts = TimestampOf(in.packet.get());
        const auto rank = static_cast<std::int64_t>(chunks.size());
        if (IsVideoPayload(in)) chunks.push_back({ts, avi ? ts : rank, (in.packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(in.packet.get());
    }
    return chunks;
}

double PlainSeqFps(const std::string& path, int threads, std::int64_t positions) {
    Input in;
    if (!OpenInput(in, path, threads)) return kMissing;
    Stopwatch watch;
    bool ended = false;
    while (SendNext(in, ended, nullptr)) ConvertReady(in);
    return static_cast<double>(positions) / watch.Seconds();
}

double BoundRandMs(const std::string& path, const std::vector<PlainChunk>& chunks,
                   const std::vector<std::int64_t>& positions) {
    Input in;
    if (chunks.empty() || positions.empty() || !OpenInput(in, path, 1)) return kMissing;
    Stopwatch watch;
    for (const std::int64_t position : positions) {
        const int target = ChunkAt(chunks, position);
        int key = target;
        while (key > 0 && !chunks[key].key) --key;
        avcodec_flush_buffers(in.codec.get());
        if (av_seek_frame(in.format.get(), in.stream, chunks[key].ts, AVSEEK_FLAG_BACKWARD) < 0 &&
            (key != 0 || !ReopenAtStart(in, path)))
            return kMissing;
        DecodeOnly(in, chunks, target);
    }
    return watch.Ms() / static_cast<double>(positions.size());
}

}  // namespace bench
