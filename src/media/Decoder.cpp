#include "media/Decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "media/MemoryBudgets.h"
#include "media/PictureStore.h"

namespace {

int DefaultThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

// Decoders report errors through libav's log, from the thread that met them,
// with their context (or a frame thread's copy of it, which shares its
// opaque pointer). Only tallies registered here are counted into.
std::mutex g_talliesMutex;
std::unordered_set<const void*> g_tallies;

// Whether the codec's decoder conceals every part of a picture that damage
// kept it from decoding, from the pictures around it: libavcodec's error
// resilience (H.264 and the MPEG video family).
bool ConcealsDamage(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MPEG4:
        case AV_CODEC_ID_H263:
        case AV_CODEC_ID_H263P:
        case AV_CODEC_ID_H263I:
        case AV_CODEC_ID_FLV1:
        case AV_CODEC_ID_MSMPEG4V1:
        case AV_CODEC_ID_MSMPEG4V2:
        case AV_CODEC_ID_MSMPEG4V3:
        case AV_CODEC_ID_WMV1:
        case AV_CODEC_ID_WMV2:
        case AV_CODEC_ID_RV10:
        case AV_CODEC_ID_RV20:
            return true;
        default:
            return false;
    }
}

// Damage as a decoder reports it. One that conceals damage reports each
// picture it patches up, at info level, also where the damage it found (a
// slice missing) was reported as no error; errors alone are no sign there: a
// run from a key of an open GOP reports references missing for pictures it
// never shows. Any other reports damage as an error.
bool IsDamage(const AVCodecContext* codec, int level, const char* format) {
    if (!ConcealsDamage(codec->codec_id)) return level <= AV_LOG_ERROR;
    return level <= AV_LOG_INFO && format && std::strncmp(format, "concealing ", 11) == 0;
}

void CountingLog(void* object, int level, const char* format, va_list args) {
    const auto* codec = static_cast<const AVCodecContext*>(object);
    if (object && *static_cast<const AVClass* const*>(object) == avcodec_get_class() && IsDamage(codec, level, format)) {
        void* opaque = codec->opaque;
        std::lock_guard lock(g_talliesMutex);
        if (opaque && g_tallies.count(opaque)) static_cast<DecodeErrors*>(opaque)->Add();
    }
    av_log_default_callback(object, level, format, args);
}

int PictureBuffer(AVCodecContext* codec, AVFrame* frame, int flags) {
    return GetPictureMemoryBuffer(codec, frame, flags, false);
}
int ClearedPictureBuffer(AVCodecContext* codec, AVFrame* frame, int flags) {
    return GetPictureMemoryBuffer(codec, frame, flags, true);
}

// Both buffer callbacks may be called from any frame thread (picture memory
// takes a lock). Until libavcodec 60 a frame thread otherwise asks the thread
// feeding the decoder for each buffer and waits until that thread is back in
// libavcodec: while it converts a picture, decoding stands still.
void AllowBuffersFromEveryThread([[maybe_unused]] AVCodecContext* codec) {
#if LIBAVCODEC_VERSION_MAJOR < 60
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    codec->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

}  // namespace

DecodeErrors::DecodeErrors() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(CountingLog); });
    std::lock_guard lock(g_talliesMutex);
    g_tallies.insert(this);
}

void DecodeErrors::AddRefusal(const AVCodecContext* codec) {
    if (!ConcealsDamage(codec->codec_id)) Add();
}

DecodeErrors::~DecodeErrors() {
    std::lock_guard lock(g_talliesMutex);
    g_tallies.erase(this);
}

bool FrameThreadsExact(AVCodecID codec) {
    switch (codec) {
        // The VP3 family's frame threads hand a picture to the next thread
        // before its edges are final: pictures then differ from run to run.
        case AV_CODEC_ID_THEORA:
        case AV_CODEC_ID_VP3:
        case AV_CODEC_ID_VP4:
            return false;
        default:
            return true;
    }
}

libav::CodecPtr OpenDecoder(const AVCodecParameters* par, AVRational timeBase, int threads, int flags,
                            DecodeErrors* errors, bool frameThreads) {
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) return nullptr;
    libav::CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), par) < 0) return nullptr;
    codec->pkt_timebase = timeBase;
    codec->flags |= flags;
    codec->opaque = errors;
    codec->get_buffer2 = ConcealsDamage(par->codec_id) ? PictureBuffer : ClearedPictureBuffer;
    AllowBuffersFromEveryThread(codec.get());
    // A damaged picture header can claim any size; the decoder refuses
    // pictures larger than the largest frame the reader converts.
    codec->max_pixels = kMaxFramePixels;
    codec->thread_count = threads > 0 ? threads : DefaultThreads();
    codec->thread_type = frameThreads && FrameThreadsExact(par->codec_id) ? FF_THREAD_FRAME | FF_THREAD_SLICE
                                                                          : FF_THREAD_SLICE;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;
    return codec;
}
