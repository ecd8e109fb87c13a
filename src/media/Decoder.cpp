#include "media/Decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "media/MemoryBudgets.h"
#include "media/PictureStore.h"

namespace {

// Calls `visit(at, size)` for each NAL unit of an H.264 packet: length-prefixed
// (`lengthSize` bytes, big-endian) or, when `lengthSize` is 0, after start codes.
template <typename Visit>
void EachNalUnit(const std::uint8_t* data, std::size_t size, int lengthSize, Visit visit) {
    if (lengthSize > 0) {
        for (std::size_t at = 0; at + lengthSize <= size;) {
            std::size_t length = 0;
            for (int i = 0; i < lengthSize; ++i) length = length << 8 | data[at + i];
            at += lengthSize;
            if (length > size - at) return;
            visit(at, length);
            at += length;
        }
        return;
    }
    const auto startAfter = [&](std::size_t from) {
        for (std::size_t i = from; i + 3 <= size; ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
        return size;
    };
    for (std::size_t at = startAfter(0); at < size;) {
        std::size_t next = startAfter(at);
        std::size_t end = next < size ? next - 3 : size;
        while (end > at && data[end - 1] == 0) --end;  // the zero byte of a four-byte start code
        visit(at, end - at);
        at = next;
    }
}

int DefaultThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

// Packets the first picture may take to come out: B-frame delays, pictures
// that cannot be decoded before the first key frame of a cut stream.
constexpr int kFirstPictureWithin = 256;

// How far past the first key frame the start of a stream is decoded to find
// the packets that deliver no picture: leading pictures follow their key
// within a reorder delay, and the packets after that show whether every
// packet delivers a picture of its own.
constexpr PacketIndex kStartProbeReach = 2 * kMaxReorderDelay;

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

namespace {

// The size of the length prefix before each NAL unit of an H.264 or HEVC
// packet, as avcC and hvcC extradata give it (they start with version 1); 0
// for a byte stream, whose units follow start codes.
int NalLengthSize(const AVCodecParameters* par) {
    const int sizeAt = par->codec_id == AV_CODEC_ID_HEVC ? 21 : 4;
    const bool lengthPrefixed = par->extradata_size > sizeAt && par->extradata[0] == 1;
    return lengthPrefixed ? (par->extradata[sizeAt] & 3) + 1 : 0;
}

}  // namespace

std::vector<std::uint8_t> EncoderNotes(const AVCodecParameters* par, const AVPacket* first) {
    std::vector<std::uint8_t> notes;
    if (par->codec_id != AV_CODEC_ID_H264 || !first || !first->data) return notes;
    const int lengthSize = NalLengthSize(par);
    constexpr std::string_view kX264 = "x264 - core ";
    EachNalUnit(first->data, static_cast<std::size_t>(first->size), lengthSize, [&](std::size_t at, std::size_t size) {
        const std::string_view unit(reinterpret_cast<const char*>(first->data + at), size);
        if (!notes.empty() || size == 0 || (first->data[at] & 0x1F) != 6 || unit.find(kX264) == unit.npos) return;
        for (int i = lengthSize - 1; i >= 0; --i) notes.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
        if (lengthSize == 0) notes.insert(notes.end(), {0, 0, 0, 1});
        notes.insert(notes.end(), first->data + at, first->data + at + size);
    });
    return notes;
}

bool HoldsCodedPicture(const AVCodecParameters* par, const AVPacket* packet) {
    const bool hevc = par->codec_id == AV_CODEC_ID_HEVC;
    if ((par->codec_id != AV_CODEC_ID_H264 && !hevc) || !packet || !packet->data) return false;
    bool slice = false;
    const auto size = static_cast<std::size_t>(packet->size);
    EachNalUnit(packet->data, size, NalLengthSize(par), [&](std::size_t at, std::size_t unitSize) {
        if (unitSize == 0) return;
        const int type = hevc ? packet->data[at] >> 1 & 0x3F : packet->data[at] & 0x1F;
        slice = slice || (hevc ? type < 32 : type >= 1 && type <= 5);
    });
    return slice;
}

namespace {

struct ParserCloser {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

// The picture size the codec's parser reads off the sequence header in the
// stream's extradata and first packet, as the decoder sizes its pictures
// (H.264 and HEVC cropped, MPEG-4 from the object layer); nothing where the
// parser reports none, or where the container states another size: the H.264
// decoder crops its pictures to a container's size that is a little smaller
// than the stream's (a MOV of 640x465 pictures coded 640x466), which the
// parser does not, so there the decoder is asked.
std::optional<PictureShape> ParsedShape(FrameTable& table, const AVCodecParameters* par) {
    std::unique_ptr<AVCodecParserContext, ParserCloser> parser(av_parser_init(par->codec_id));
    libav::CodecPtr context(avcodec_alloc_context3(nullptr));
    libav::PacketPtr packet(av_packet_alloc());
    if (!parser || !context || !packet || avcodec_parameters_to_context(context.get(), par) < 0 ||
        table.Packets().empty() || !table.Read(0, packet.get()))
        return std::nullopt;
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    std::uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser.get(), context.get(), &out, &outSize, packet->data, packet->size, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    // Parsers that read a size either report it or give it to the context
    // when the container left it out.
    int width = parser->width, height = parser->height;
    if ((width <= 0 || height <= 0) && par->width <= 0) width = context->width, height = context->height;
    if (width <= 0 || height <= 0) return std::nullopt;
    if (par->width > 0 && par->height > 0 && (par->width != width || par->height != height)) return std::nullopt;
    return PictureShape{width, height, static_cast<AVPixelFormat>(parser->format)};
}

}  // namespace

std::optional<PictureShape> FirstPictureShape(FrameTable& table, const AVCodecParameters* par, AVRational timeBase) {
    if (std::optional<PictureShape> parsed = ParsedShape(table, par)) return parsed;
    // Low delay: the first picture comes out as soon as it is decoded, not
    // when the reorder buffer fills; only its size counts here.
    libav::CodecPtr codec = OpenDecoder(par, timeBase, 1, AV_CODEC_FLAG_LOW_DELAY);
    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    if (!codec || !packet || !frame) return std::nullopt;
    const int count = std::min(static_cast<int>(table.Packets().size()), kFirstPictureWithin);
    bool flushed = false;
    for (PacketIndex next = 0;;) {
        const libav::Step step = libav::Translate(avcodec_receive_frame(codec.get(), frame.get()));
        if (step == libav::Step::Ok) {
            if (frame->width > 0 && frame->height > 0)
                return PictureShape{frame->width, frame->height, static_cast<AVPixelFormat>(frame->format)};
            av_frame_unref(frame.get());
        } else if (step != libav::Step::NeedInput || flushed) {
            return std::nullopt;
        } else if (next < count) {
            // A packet that cannot be read or that the decoder refuses gives no picture; the stream goes on.
            if (table.Read(next++, packet.get())) avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
        } else {
            flushed = true;
            avcodec_send_packet(codec.get(), nullptr);
        }
    }
    return std::nullopt;
}

void TagTablePacket(AVPacket* packet, PacketIndex index, const TablePacket& entry) {
    packet->pts = packet->dts = index;
    packet->flags &= ~(AV_PKT_FLAG_KEY | AV_PKT_FLAG_DISCARD);
    if (entry.key) packet->flags |= AV_PKT_FLAG_KEY;
    if (entry.discard) packet->flags |= AV_PKT_FLAG_DISCARD;
}

namespace {

// Whether packets after the first key frame, within a reorder delay, are
// presented before it (or may be: no time to tell): an open GOP's leading
// pictures, which refer to pictures before the key. In MPEG-1/2 video those
// are the B-pictures that follow the key picture straight away.
bool MayLead(FrameTable& table, PacketIndex key, bool timesKnown) {
    const std::vector<TablePacket>& packets = table.Packets();
    const auto end = std::min<PacketIndex>(static_cast<PacketIndex>(packets.size()), key + 1 + kMaxReorderDelay);
    // A sample table's packets learn their times when they are read.
    libav::PacketPtr packet(timesKnown ? nullptr : av_packet_alloc());
    const auto timeOf = [&](PacketIndex i) {
        std::int64_t time = packets[i].pts;
        if (packet && table.Read(i, packet.get())) time = packet->pts, av_packet_unref(packet.get());
        return time;
    };
    const std::int64_t keyTime = timeOf(key);
    for (PacketIndex i = key + 1; i < end; ++i) {
        if (packets[i].discard) continue;
        if (packets[i].key) return false;
        if (packets[i].codedType != 0) return packets[i].codedType == TablePacket::kCodedB;
        const std::int64_t time = timeOf(i);
        if (keyTime == TablePacket::kNoTime || time == TablePacket::kNoTime || time < keyTime) return true;
    }
    return false;
}

// Which of packets 0 to `last` a decode from the first packet delivers a
// picture for, each packet carrying its index as timestamps as a reader's do.
std::vector<bool> DeliveredUpTo(FrameTable& table, const AVCodecParameters* par, AVRational timeBase, PacketIndex last) {
    std::vector<bool> delivered(static_cast<std::size_t>(last) + 1, false);
    libav::CodecPtr codec = OpenDecoder(par, timeBase, 1);
    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    if (!codec || !packet || !frame) return {};
    const std::vector<TablePacket>& packets = table.Packets();
    bool flushed = false;
    for (PacketIndex next = 0;;) {
        const libav::Step step = libav::Translate(avcodec_receive_frame(codec.get(), frame.get()));
        if (step == libav::Step::Ok) {
            if (frame->pts >= 0 && frame->pts <= last) delivered[static_cast<std::size_t>(frame->pts)] = true;
            av_frame_unref(frame.get());
        } else if (step != libav::Step::NeedInput || flushed) {
            return delivered;
        } else if (next <= last) {
            const PacketIndex index = next++;
            if (table.Read(index, packet.get())) {
                TagTablePacket(packet.get(), index, packets[index]);
                avcodec_send_packet(codec.get(), packet.get());  // a refused packet gives no picture
            }
            av_packet_unref(packet.get());
        } else {
            flushed = true;
            avcodec_send_packet(codec.get(), nullptr);
        }
    }
}

}  // namespace

std::vector<PacketIndex> PicturelessStart(FrameTable& table, const AVCodecParameters* par, AVRational timeBase,
                                          bool timesKnown) {
    const std::vector<TablePacket>& packets = table.Packets();
    const auto count = static_cast<PacketIndex>(packets.size());
    PacketIndex key = 0;
    while (key < count && (!packets[key].key || packets[key].discard)) ++key;
    if (key == count || (key == 0 && !MayLead(table, key, timesKnown))) return {};
    const PacketIndex last = std::min(count - 1, key + kStartProbeReach);
    const std::vector<bool> delivered = DeliveredUpTo(table, par, timeBase, last);
    if (delivered.empty()) return {};
    for (PacketIndex i = key + kMaxReorderDelay; i <= last; ++i)
        if (!packets[i].discard && !delivered[static_cast<std::size_t>(i)]) return {};
    std::vector<PacketIndex> none;
    for (PacketIndex i = 0; i < key + kMaxReorderDelay && i <= last; ++i)
        if (!packets[i].discard && !delivered[static_cast<std::size_t>(i)]) none.push_back(i);
    return none;
}

int ProbedReorderDelay(FrameTable& table, const AVCodecParameters* par, AVRational timeBase) {
    libav::CodecPtr codec = OpenDecoder(par, timeBase, 1);
    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    if (!codec || !packet || !frame) return par->video_delay;
    // As ffmpeg probes a stream on opening it: from the first packet until 7
    // pictures came out (18 at a delay of 3, 20 at more).
    int pictures = 0;
    const auto settled = [&] { return pictures >= (codec->has_b_frames < 3 ? 7 : codec->has_b_frames < 4 ? 18 : 20); };
    const PacketIndex reach = std::min(static_cast<PacketIndex>(table.Packets().size()), kStartProbeReach);
    for (PacketIndex next = 0; next < reach && !settled(); ++next) {
        if (table.Read(next, packet.get())) avcodec_send_packet(codec.get(), packet.get());  // a refused one gives none
        av_packet_unref(packet.get());
        while (libav::Translate(avcodec_receive_frame(codec.get(), frame.get())) == libav::Step::Ok) {
            ++pictures;
            av_frame_unref(frame.get());
        }
    }
    return std::max(par->video_delay, codec->has_b_frames);
}
