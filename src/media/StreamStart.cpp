#include "media/StreamStart.h"

#include <algorithm>

#include "media/Decoder.h"
#include "media/DemuxSource.h"

namespace {

// Packets the first picture may take to come out: B-frame delays, pictures
// that cannot be decoded before the first key frame of a cut stream.
constexpr int kFirstPictureWithin = 256;

// How far past the first key frame the start of a stream is decoded to find
// the packets that deliver no picture: leading pictures follow their key
// within a reorder delay, and the packets after that show whether every
// packet delivers a picture of its own.
constexpr PacketIndex kStartProbeReach = 2 * kMaxReorderDelay;

}  // namespace

std::shared_ptr<FrameTable> MakeFrameTable(std::shared_ptr<DemuxSource> source, int streamIndex,
                                           std::int64_t aviFirstTimestamp, const ProgressHandler& progress,
                                           bool& cancelled) {
    AVStream* st = source->format->streams[streamIndex];
    const ListedPackets listed = ListPackets(source, streamIndex, aviFirstTimestamp, progress, cancelled);
    const std::shared_ptr<FrameTable>& table = listed.table;
    if (!table) return nullptr;
    // Every decoder of the stream starts with the delay found. The MP4
    // demuxer reckons it from the sample table it read at open, not from
    // fragments it had not read then; the other demuxers are probed.
    using From = ListedPackets::From;
    const bool unprobed = listed.from == From::AviChunks || listed.from == From::Fragments;
    if (unprobed && st->codecpar->codec_id == AV_CODEC_ID_H264)
        st->codecpar->video_delay = ProbedReorderDelay(*table, st->codecpar, st->time_base);
    if (listed.from == From::AviChunks) return table;
    table->PlacePicturesInSharedSlots(st->codecpar);
    // A stream cut in the middle of a GOP starts with packets whose pictures
    // the decoder never delivers: positions count pictures, not packets. A
    // sample table's presentation times are read only when asked for
    // (FillPresentationTimes); an edit list makes leading pictures discard
    // packets.
    const bool timesKnown = listed.from != From::SampleTable;
    table->ShowNoPictureFor(PicturelessStart(*table, st->codecpar, st->time_base, timesKnown));
    if (table->PositionCount() <= 0) return nullptr;
    return table;
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
