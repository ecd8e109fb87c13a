#include "media/FrameTable.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "media/AviHeaders.h"
#include "media/DemuxSource.h"
#include "media/NalUnits.h"
#include "media/SampleTimes.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

constexpr std::int64_t kNoSlot = std::numeric_limits<std::int64_t>::max();

// The demuxer reads only stream `keep` from here on; every stream when `keep` is -1.
void ReadOnlyStream(AVFormatContext* fmt, int keep) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = keep < 0 || static_cast<int>(i) == keep ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

// ---- Slots -------------------------------------------------------------------

// Gives every packet its slot under `rule`, from `times` (the presentation
// time of each packet, in frames of the stream's time base, for frame slots).
// Discard packets take the slot of the next shown packet.
void AssignSlots(std::vector<TablePacket>& packets, PositionRule rule, const std::vector<std::int64_t>& times) {
    // A packet presented at a frame slot an earlier packet already holds is
    // taken for one without a picture (an access unit of parameter sets or
    // an end of sequence): it is decoded like a discard packet and takes no
    // position, until PlacePicturesInSharedSlots finds a picture in it.
    if (rule == PositionRule::FrameSlots) {
        std::unordered_set<std::int64_t> taken;
        for (std::size_t i = 0; i < packets.size(); ++i) {
            TablePacket& p = packets[i];
            if (!p.discard && !taken.insert(times[i]).second && !p.sharedSlot) p.discard = p.sharedSlot = true;
        }
    }
    std::vector<std::int64_t> slots;
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (!packets[i].discard) slots.push_back(rule == PositionRule::FrameSlots ? times[i] : 0);
    // The decoder delivers pictures in presentation order: the j-th shown
    // packet's picture is the j-th earliest. Two pictures in one frame slot:
    // the later one takes the next slot.
    std::sort(slots.begin(), slots.end());
    const std::int64_t first = slots.empty() ? 0 : slots.front();
    for (std::size_t j = 0; j < slots.size(); ++j)
        slots[j] = j == 0 ? 0 : std::max(slots[j] - first, slots[j - 1] + 1);
    std::int64_t next = kNoSlot;
    std::size_t shown = slots.size();
    for (std::size_t i = packets.size(); i-- > 0;) {
        if (!packets[i].discard) next = slots[--shown];
        packets[i].slot = next;
    }
}

// Timestamps count whole frames when the time base is exactly one frame. A
// millisecond time base is the container's clock (Matroska, WebM, FLV, ASF),
// even where the demuxer, knowing no better, guessed 1000 frames a second.
bool CountsFrames(const AVStream* st) {
    if (st->time_base.num == 1 && st->time_base.den == 1000) return false;
    const AVRational rate = st->r_frame_rate.num > 0 ? st->r_frame_rate : st->avg_frame_rate;
    return rate.num > 0 && rate.den > 0 && av_cmp_q(av_inv_q(st->time_base), rate) == 0;
}

// ---- AVI: chunks read straight from the file -------------------------------

class AviChunks : public FrameTable {
public:
    AviChunks(std::shared_ptr<DemuxSource> source, std::vector<TablePacket> chunks, std::vector<std::uint8_t> palette,
              std::vector<PaletteChange> changes)
        : source_(std::move(source)), url_(source_->format->url ? source_->format->url : ""),
          fileSize_(source_->fileSize) {
        packets_ = std::move(chunks);
        rule_ = PositionRule::Chunks;
        streamPalette_ = std::move(palette);
        paletteChanges_ = std::move(changes);
    }

    bool Read(PacketIndex index, AVPacket* packet) override {
        const TablePacket& c = packets_[index];
        const std::int64_t payload = c.pos + 8;
        if (payload < 0 || (fileSize_ > 0 && payload + c.size > fileSize_)) return false;
        AVIOContext* io = Io();
        if (!io || av_new_packet(packet, c.size) < 0) return false;
        if (avio_seek(io, payload, SEEK_SET) < 0 || avio_read(io, packet->data, c.size) != c.size) {
            av_packet_unref(packet);
            return false;
        }
        return true;
    }

    std::shared_ptr<FrameTable> Reopened() const override {
        return std::make_shared<AviChunks>(*this);  // without the shared demuxer
    }

    AviChunks(const AviChunks& other) : FrameTable(other), url_(other.url_), fileSize_(other.fileSize_) {}

private:
    // The shared demuxer's, or a reopened copy's own.
    AVIOContext* Io() {
        if (source_) return source_->format->pb;
        if (!own_) {
            AVIOContext* io = nullptr;
            if (avio_open(&io, url_.c_str(), AVIO_FLAG_READ) < 0) return nullptr;
            own_.reset(io);
        }
        return own_.get();
    }

    std::shared_ptr<DemuxSource> source_;
    std::string url_;
    std::int64_t fileSize_ = 0;
    libav::IoPtr own_;
};

// The index the demuxer read from the file ('idx1' or OpenDML 'indx').
std::vector<TablePacket> ChunksFromIndex(AVStream* st, std::int64_t firstTimestamp) {
    std::vector<TablePacket> chunks;
    const int count = avformat_index_get_entries_count(st);
    chunks.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->size <= 0) continue;
        const bool key = (e->flags & AVINDEX_KEYFRAME) != 0;
        chunks.push_back({e->pos, e->size, e->timestamp - firstTimestamp, e->timestamp, key, false});
        chunks.back().pts = chunks.back().dts = e->timestamp;  // a chunk's time is its place in the stream
    }
    return chunks;
}

// The entries of an AVI file's 'idx1' (16 bytes each), and where its 'movi'
// list's data starts; no entries when the file has none.
std::vector<std::uint8_t> ReadIdx1(AVIOContext* io, std::int64_t& movi) {
    std::vector<std::uint8_t> index;
    std::uint8_t head[12];
    movi = -1;
    if (avio_seek(io, 0, SEEK_SET) < 0 || avio_read(io, head, 12) != 12 || AV_RL32(head) != FourCC('R', 'I', 'F', 'F'))
        return index;
    const std::int64_t riffEnd = 8 + static_cast<std::int64_t>(AV_RL32(head + 4));
    const std::int64_t fileSize = avio_size(io);
    for (std::int64_t at = 12; at + 8 <= riffEnd && avio_seek(io, at, SEEK_SET) >= 0;) {
        const int got = avio_read(io, head, 12);
        if (got < 8) break;
        const std::int64_t size = AV_RL32(head + 4);
        if (got == 12 && AV_RL32(head) == FourCC('L', 'I', 'S', 'T') && AV_RL32(head + 8) == FourCC('m', 'o', 'v', 'i'))
            movi = at + 8;
        if (AV_RL32(head) == FourCC('i', 'd', 'x', '1') && movi >= 0) {
            const std::int64_t room = fileSize > 0 ? std::max<std::int64_t>(0, fileSize - at - 8) : size;
            index.resize(static_cast<std::size_t>(std::min(size, room)) / 16 * 16);
            const int read = avio_seek(io, at + 8, SEEK_SET) < 0 ? 0 : avio_read(io, index.data(), static_cast<int>(index.size()));
            index.resize(static_cast<std::size_t>(std::max(read, 0)) / 16 * 16);
            return index;
        }
        at += 8 + size + (size & 1);
    }
    return index;
}

// The palette changes ('##pc' chunks) of AVI stream `stream` that the file's
// 'idx1' lists, each placed at the first of `chunks` after it. The demuxer
// hands them only to the packets it reads itself.
std::vector<PaletteChange> PaletteChangesFromIdx1(AVIOContext* io, int stream, const std::vector<TablePacket>& chunks) {
    std::vector<PaletteChange> changes;
    std::int64_t movi = -1;
    const std::vector<std::uint8_t> index = io && !chunks.empty() ? ReadIdx1(io, movi) : std::vector<std::uint8_t>{};
    const std::uint32_t ckid = FourCC(static_cast<char>('0' + stream / 10 % 10), static_cast<char>('0' + stream % 10), 'p', 'c');
    std::int64_t base = -1;  // offsets count from 'movi' or from the file's start
    std::vector<std::uint8_t> body(4 + 4 * 256);
    for (std::size_t e = 0; e < index.size(); e += 16) {
        const std::uint8_t* entry = index.data() + e;
        const std::int64_t offset = AV_RL32(entry + 8);
        if (base < 0) {
            std::uint8_t seen[4] = {};
            const bool relative = avio_seek(io, movi + offset, SEEK_SET) >= 0 && avio_read(io, seen, 4) == 4 &&
                                  std::memcmp(seen, entry, 4) == 0;
            base = relative ? movi : 0;
        }
        const std::uint32_t size = AV_RL32(entry + 12);
        if (AV_RL32(entry) != ckid || size < 4 || size > body.size()) continue;
        const std::int64_t pos = base + offset;
        const int length = static_cast<int>(size);
        if (avio_seek(io, pos + 8, SEEK_SET) < 0 || avio_read(io, body.data(), length) != length) continue;
        const auto next = std::upper_bound(chunks.begin(), chunks.end(), pos,
                                           [](std::int64_t p, const TablePacket& c) { return p < c.pos; });
        if (next == chunks.end()) continue;
        PaletteChange change;
        change.at = static_cast<PacketIndex>(next - chunks.begin());
        change.first = body[0];
        const int count = std::min<int>(body[1] ? body[1] : 256, (length - 4) / 4);
        for (int k = 0; k < count && change.first + k < 256; ++k)
            change.colours.push_back(0xFF000000u | AV_RB32(body.data() + 4 + 4 * k) >> 8);
        changes.push_back(std::move(change));
    }
    return changes;
}

// An AVI stream's colours, which stand after its format block; none for a
// stream of more than 8 bits.
std::vector<std::uint8_t> PaletteOfFormat(const AVCodecParameters* par) {
    const int bits = par->bits_per_coded_sample;
    if (bits <= 0 || bits > 8 || par->extradata_size < 4) return {};
    const int entries = std::min(1 << bits, par->extradata_size / 4);
    std::vector<std::uint8_t> palette(AVPALETTE_SIZE, 0);
    const std::uint8_t* src = par->extradata + par->extradata_size - 4 * entries;
    for (int i = 0; i < entries; ++i) {
        const std::uint32_t argb = 0xFF000000u | src[4 * i] | src[4 * i + 1] << 8 | src[4 * i + 2] << 16;
        std::memcpy(palette.data() + 4 * i, &argb, 4);
    }
    return palette;
}

// A file without an index: walk the packets once to list the chunks. The
// demuxer then calls every chunk a key chunk, so none is trusted as one but the
// first; a packet's position is that of its payload, 8 bytes into the chunk.
std::vector<TablePacket> ChunksFromScan(AVFormatContext* fmt, int streamIndex, std::int64_t firstTimestamp) {
    std::vector<TablePacket> chunks;
    ReadOnlyStream(fmt, streamIndex);
    libav::PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_seek_frame(fmt, streamIndex, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE) < 0) {
        avio_seek(fmt->pb, 0, SEEK_SET);
    }
    std::int64_t position = 0;
    while (pkt && av_read_frame(fmt, pkt.get()) >= 0) {
        if (pkt->stream_index == streamIndex && pkt->size > 0 && pkt->pos >= 0) {
            const std::int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : position;
            chunks.push_back({pkt->pos - 8, pkt->size, ts - firstTimestamp, ts, chunks.empty(), false});
            chunks.back().pts = chunks.back().dts = ts;
            position = ts + 1;
        }
        av_packet_unref(pkt.get());
    }
    ReadOnlyStream(fmt, -1);
    return chunks;
}

// ---- Every other container: packets read through the demuxer ----------------

// The colours `packet` carries (AV_PKT_DATA_PALETTE); none when it carries none.
std::vector<std::uint8_t> PaletteOf(const AVPacket* packet) {
    std::size_t size = 0;
    const std::uint8_t* colours = av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, &size);
    return colours && size == AVPALETTE_SIZE ? std::vector<std::uint8_t>(colours, colours + size) : std::vector<std::uint8_t>{};
}

// The timestamp a packet is sought by: its decode time where the demuxer gives one.
std::int64_t SeekTimestamp(std::int64_t dts, std::int64_t pts) { return dts != AV_NOPTS_VALUE ? dts : pts; }

// Runs read consecutive packets, which the demuxer gives in order. A run that
// starts elsewhere seeks the demuxer and recognises the packets it gives by
// their position and size, so timestamps that jump or restart do not matter.
class DemuxedPackets : public FrameTable {
public:
    DemuxedPackets(std::shared_ptr<DemuxSource> source, int streamIndex, std::vector<TablePacket> packets,
                   PositionRule rule, const std::vector<std::int64_t>& times)
        : source_(std::move(source)), url_(source_->format->url ? source_->format->url : ""),
          iformat_(source_->format->iformat), stream_(streamIndex),
          streamId_(source_->format->streams[streamIndex]->id), held_(av_packet_alloc()) {
        packets_ = std::move(packets);
        rule_ = rule;
        slotTimes_ = times;
        AssignSlots(packets_, rule_, slotTimes_);
        for (PacketIndex i = 0; i < static_cast<PacketIndex>(packets_.size()); ++i) {
            byPos_.emplace(packets_[i].pos, i);
            known_ = known_ && packets_[i].pos >= 0;
        }
        ReadOnlyStream(source_->format.get(), stream_);
    }

    // A reopened copy: the same packets, its own demuxer from its first read.
    DemuxedPackets(const DemuxedPackets& other)
        : FrameTable(other), url_(other.url_), iformat_(other.iformat_), stream_(other.stream_),
          streamId_(other.streamId_), byPos_(other.byPos_), known_(other.known_), held_(av_packet_alloc()),
          timesFilled_(true) {}

    std::shared_ptr<FrameTable> Reopened() const override { return std::make_shared<DemuxedPackets>(*this); }

    void KeepPalette(std::vector<std::uint8_t> palette) { streamPalette_ = std::move(palette); }

    bool Read(PacketIndex index, AVPacket* packet) override {
        if (!held_ || (!Demuxer() && !Reopen())) return false;
        const bool readOn = cursor_ >= 0 && index >= cursor_ && index - cursor_ <= kReadAhead;
        if (!readOn && !SeekBefore(index)) return false;
        for (;;) {
            PacketIndex at = heldIndex_;
            if (at >= 0) {
                av_packet_move_ref(packet, held_.get());
                heldIndex_ = -1;
            } else {
                if (!ReadOwn(packet)) {
                    cursor_ = -1;
                    return false;
                }
                at = Identify(packet, cursor_);
                if (at < 0) {
                    av_packet_unref(packet);
                    continue;
                }
            }
            cursor_ = at + 1;
            if (at == index) return true;
            if (at > index) {
                // The demuxer does not give packet `index`: keep what it gave for the next request.
                av_packet_unref(held_.get());
                av_packet_move_ref(held_.get(), packet);
                heldIndex_ = at;
                cursor_ = at;
                return false;
            }
            av_packet_unref(packet);
        }
    }

    void FillPresentationTimes() override {
        if (timesFilled_) return;
        timesFilled_ = true;
        const bool missing = std::any_of(packets_.begin(), packets_.end(),
                                         [](const TablePacket& p) { return p.pts == TablePacket::kNoTime; });
        if (!missing || !known_ || !SeekBefore(0)) return;
        // SeekBefore left the first known packet held; every packet read is
        // recognised by its position and size, whatever order it comes in.
        AVPacket* packet = held_.get();
        PacketIndex at = heldIndex_;
        do {
            if (at < 0) at = Identify(packet, -1);
            if (at >= 0) packets_[at].pts = packet->pts;
            av_packet_unref(packet);
            at = -1;
        } while (ReadOwn(packet));
        heldIndex_ = cursor_ = -1;
    }

private:
    static constexpr PacketIndex kReadAhead = 256;  // reading on is cheaper than a seek up to here
    static constexpr int kIdentifyWithin = 64;      // packets read after a seek to find a known one

    // The demuxer packets are read through: the shared one, or one of the
    // table's own once reading had to start again from the file's start.
    AVFormatContext* Demuxer() const { return own_ ? own_.get() : source_ ? source_->format.get() : nullptr; }

    bool ReadOwn(AVPacket* packet) {
        while (av_read_frame(Demuxer(), packet) >= 0) {
            if (packet->stream_index == stream_) NotePalette(packet);
            if (packet->stream_index == stream_ && packet->size > 0) return true;
            av_packet_unref(packet);
        }
        return false;
    }

    // Which table packet `packet` is, when `expected` is the one due; -1 for
    // none (a packet cut short by a seek into its middle). Without positions
    // packets are counted from the start. The packet due may come without
    // its position: after a seek the ASF demuxer gives none for the frames
    // that follow the first in the same data packet.
    PacketIndex Identify(const AVPacket* packet, PacketIndex expected) const {
        const auto same = [&](PacketIndex i) { return packets_[i].pos == packet->pos && packets_[i].size == packet->size; };
        const auto due = [&](PacketIndex i) { return same(i) || (packet->pos < 0 && packets_[i].size == packet->size); };
        if (expected >= 0 && expected < static_cast<PacketIndex>(packets_.size()) && (!known_ || due(expected)))
            return expected;
        // An edit list may show the same sample twice (two edits over it):
        // the demuxer's timestamp tells the copies apart.
        PacketIndex found = -1;
        auto [first, last] = byPos_.equal_range(packet->pos);
        for (; known_ && first != last; ++first) {
            const PacketIndex i = first->second;
            if (!same(i)) continue;
            if (packets_[i].ts == SeekTimestamp(packet->dts, packet->pts)) return i;
            if (found < 0 || i < found) found = i;
        }
        return found;
    }

    // Seeks so that the demuxer's next packet of the stream is a known one at
    // or before `index` (held until read): by the packet's timestamp, or from
    // the start where timestamps do not lead there.
    bool SeekBefore(PacketIndex index) {
        av_packet_unref(held_.get());
        heldIndex_ = -1;
        if (known_ && index > 0 && SeekTo(packets_[index].ts, false) && FindAtOrBefore(index)) return true;
        if (SeekTo(packets_[0].ts, true) && FindAtOrBefore(index)) return true;
        // Timestamps that restart or that the demuxer does not index, and a
        // demuxer that cannot start again by bytes: a fresh one reads from
        // the start.
        if (Reopen() && FindAtOrBefore(index)) return true;
        cursor_ = -1;
        return false;
    }

    // By timestamp `ts`; `orStart`: by bytes to the file's start when that fails.
    bool SeekTo(std::int64_t ts, bool orStart) {
        AVFormatContext* fmt = Demuxer();
        if (orStart && !known_) {
            // Without positions to recognise packets by, only the file's
            // start is a known place: the first packet's timestamp may come
            // again later (a file joined from two), where a seek by it lands.
            if (av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE) < 0) return false;
            cursor_ = 0;
            return true;
        }
        const bool seeked = ts != AV_NOPTS_VALUE && av_seek_frame(fmt, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0;
        if (!seeked && (!orStart || av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE) < 0)) return false;
        cursor_ = -1;
        return true;
    }

    bool Reopen() {
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, url_.c_str(), iformat_, nullptr) < 0) return false;
        libav::FormatPtr fresh(raw);
        const auto hasStream = [&] { return static_cast<int>(fresh->nb_streams) > stream_; };
        // A container without a header (MPEG-PS, FLV) makes its streams as
        // it meets their packets: opened as the file was, the stream has the
        // same index.
        if (!hasStream() && avformat_find_stream_info(fresh.get(), nullptr) < 0) return false;
        if (!hasStream() || fresh->streams[stream_]->id != streamId_) return false;
        ReadOnlyStream(fresh.get(), stream_);
        own_ = std::move(fresh);
        cursor_ = 0;
        return true;
    }

    // Reads until a known packet at or before `index` comes (held until read).
    bool FindAtOrBefore(PacketIndex index) {
        for (int n = 0; n < kIdentifyWithin && ReadOwn(held_.get()); ++n) {
            const PacketIndex found = Identify(held_.get(), cursor_);
            if (found >= 0 && found <= index) {
                heldIndex_ = cursor_ = found;
                return true;
            }
            av_packet_unref(held_.get());
            if (found > index) break;
        }
        return false;
    }

    std::shared_ptr<DemuxSource> source_;  // null in a reopened copy
    std::string url_;
    const AVInputFormat* iformat_ = nullptr;
    libav::FormatPtr own_;  // see Demuxer()
    int stream_;
    int streamId_;  // the container's id of the stream, to find it again in a fresh demuxer
    std::unordered_multimap<std::int64_t, PacketIndex> byPos_;
    bool known_ = true;           // every packet has a byte position to recognise it by
    PacketIndex cursor_ = -1;     // the packet the demuxer gives next, -1 when not known
    libav::PacketPtr held_;       // a packet read ahead while seeking
    PacketIndex heldIndex_ = -1;  // which one it is, -1 when none is held
    bool timesFilled_ = false;
};

// MP4, MOV and 3GP: the sample table the demuxer read at open, edit lists
// applied (samples cut by an edit are kept as discard packets). Fragmented
// files index their samples only as they are read: no table then.
std::shared_ptr<FrameTable> FromSampleTable(std::shared_ptr<DemuxSource> source, AVStream* st) {
    const int count = avformat_index_get_entries_count(st);
    if (count <= 0 || st->nb_frames <= 0 || count < st->nb_frames) return nullptr;
    if (source->format->url && HasMovieFragments(source->format->url)) return nullptr;
    const PositionRule rule = CountsFrames(st) ? PositionRule::FrameSlots : PositionRule::Ranks;
    // The index holds decode times; frame slots are presentation times.
    const std::unordered_map<std::int64_t, std::int64_t> offsets =
        rule == PositionRule::FrameSlots ? CompositionOffsets(source->format->url, st->id)
                                         : std::unordered_map<std::int64_t, std::int64_t>{};
    std::vector<TablePacket> packets;
    std::vector<std::int64_t> times;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->size <= 0) continue;
        packets.push_back({e->pos, e->size, 0, e->timestamp, (e->flags & AVINDEX_KEYFRAME) != 0,
                           (e->flags & AVINDEX_DISCARD_FRAME) != 0});
        packets.back().dts = e->timestamp;
        const auto offset = offsets.find(e->pos);
        times.push_back(e->timestamp + (offset != offsets.end() ? offset->second : 0));
    }
    return std::make_shared<DemuxedPackets>(std::move(source), st->index, std::move(packets), rule, times);
}

// Calls the progress handler at most every 16 ms; false when it cancels.
class Progress {
public:
    explicit Progress(const ProgressHandler& handler) : handler_(handler) {}
    bool Report(double done, bool force = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!handler_ || (!force && now - last_ < std::chrono::milliseconds(16))) return true;
        last_ = now;
        return handler_(std::clamp(done, 0.0, 1.0));
    }

private:
    const ProgressHandler& handler_;
    std::chrono::steady_clock::time_point last_{};
};

// The picture coding type of the first picture header in an MPEG-1/2 video
// packet (the 3 bits after its 10-bit temporal reference), 0 when it has none.
std::uint8_t MpegPictureType(const std::uint8_t* data, int size) {
    for (int i = 0; i + 5 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0)
            return static_cast<std::uint8_t>((data[i + 5] >> 3) & 7);
    return 0;
}

// Whether decoding can start anew at an APNG frame the demuxer calls a key
// frame for covering the whole canvas. It cannot when the frame is blended
// over the canvas before it, nor when it hands that canvas back to the frame
// after it (dispose op "previous"). The packet starts with the frame's fcTL
// chunk: length, type, then 26 bytes whose last two are those ops.
bool ApngStartsAnew(const std::uint8_t* data, int size) {
    constexpr std::uint8_t kDisposePrevious = 2, kBlendSource = 0;
    if (size < 34 || std::memcmp(data + 4, "fcTL", 4) != 0) return false;
    return data[32] != kDisposePrevious && data[33] == kBlendSource;
}

bool IsMpegVideo(const AVCodecParameters* par) {
    return par->codec_id == AV_CODEC_ID_MPEG1VIDEO || par->codec_id == AV_CODEC_ID_MPEG2VIDEO;
}

// Any other container: one pass over the file lists the stream's packets,
// reading them without decoding.
std::shared_ptr<FrameTable> FromPass(std::shared_ptr<DemuxSource> source, AVStream* st,
                                     const ProgressHandler& handler, bool& cancelled) {
    AVFormatContext* fmt = source->format.get();
    ReadOnlyStream(fmt, st->index);
    libav::PacketPtr pkt(av_packet_alloc());
    std::vector<TablePacket> packets;
    std::vector<std::int64_t> times;
    bool allTimed = true;
    const bool mpegVideo = IsMpegVideo(st->codecpar);
    const bool apng = st->codecpar->codec_id == AV_CODEC_ID_APNG;
    Progress progress(handler);
    const double size = source->fileSize > 0 ? static_cast<double>(source->fileSize) : 0.0;
    bool going = progress.Report(0.0, true);
    std::vector<std::uint8_t> palette;  // the demuxer gives it once, here
    while (going && pkt && av_read_frame(fmt, pkt.get()) >= 0) {
        if (pkt->stream_index == st->index && palette.empty()) palette = PaletteOf(pkt.get());
        if (pkt->stream_index == st->index && pkt->size > 0) {
            packets.push_back({pkt->pos, pkt->size, 0, SeekTimestamp(pkt->dts, pkt->pts),
                               (pkt->flags & AV_PKT_FLAG_KEY) != 0, (pkt->flags & AV_PKT_FLAG_DISCARD) != 0});
            packets.back().pts = pkt->pts;
            packets.back().dts = pkt->dts;
            if (mpegVideo) packets.back().codedType = MpegPictureType(pkt->data, pkt->size);
            if (apng && packets.size() > 1)
                packets.back().key = packets.back().key && ApngStartsAnew(pkt->data, pkt->size);
            times.push_back(pkt->pts);
            allTimed = allTimed && pkt->pts != AV_NOPTS_VALUE;
        }
        av_packet_unref(pkt.get());
        if (size > 0) going = progress.Report(static_cast<double>(avio_tell(fmt->pb)) / size);
    }
    if (!going || !progress.Report(1.0, true)) {
        cancelled = true;
        return nullptr;
    }
    const PositionRule rule = CountsFrames(st) && allTimed ? PositionRule::FrameSlots : PositionRule::Ranks;
    auto table = std::make_shared<DemuxedPackets>(std::move(source), st->index, std::move(packets), rule, times);
    table->KeepPalette(std::move(palette));
    return table;
}

bool IsAvi(const AVFormatContext* fmt) { return std::string_view(fmt->iformat->name) == "avi"; }

}  // namespace

void FrameTable::NotePalette(const AVPacket* packet) {
    if (streamPalette_.empty()) streamPalette_ = PaletteOf(packet);
}

void FrameTable::ShowNoPictureFor(const std::vector<PacketIndex>& packets) {
    if (packets.empty()) return;
    for (PacketIndex i : packets) packets_[i].discard = true;
    AssignSlots(packets_, rule_, slotTimes_);
}

void FrameTable::PlacePicturesInSharedSlots(const AVCodecParameters* codec) {
    libav::PacketPtr packet(av_packet_alloc());
    bool placed = false;
    for (PacketIndex i = 0; packet && i < static_cast<PacketIndex>(packets_.size()); ++i) {
        TablePacket& p = packets_[i];
        if (!p.sharedSlot || !p.discard || !Read(i, packet.get())) continue;
        if (HoldsCodedPicture(codec, packet.get())) p.discard = false, placed = true;
        av_packet_unref(packet.get());
    }
    if (placed) AssignSlots(packets_, rule_, slotTimes_);
}

std::int64_t FrameTable::PositionCount() const {
    for (auto it = packets_.rbegin(); it != packets_.rend(); ++it)
        if (!it->discard) return it->slot + 1;
    return 0;
}

ListedPackets ListPackets(std::shared_ptr<DemuxSource> source, int streamIndex, std::int64_t aviFirstTimestamp,
                          const ProgressHandler& progress, bool& cancelled) {
    cancelled = false;
    AVFormatContext* fmt = source->format.get();
    AVStream* st = fmt->streams[streamIndex];
    if (IsAvi(fmt)) {
        std::vector<TablePacket> chunks = ChunksFromIndex(st, aviFirstTimestamp);
        if (chunks.empty()) chunks = ChunksFromScan(fmt, streamIndex, aviFirstTimestamp);
        // The demuxer hands the colours and their changes only to the packets
        // it reads itself; chunks are read here straight from the file.
        std::vector<std::uint8_t> palette = PaletteOfFormat(st->codecpar);
        std::vector<PaletteChange> changes;
        if (st->codecpar->bits_per_coded_sample > 0 && st->codecpar->bits_per_coded_sample <= 8) {
            const std::int64_t where = avio_tell(fmt->pb);  // left as the demuxer had it
            changes = PaletteChangesFromIdx1(fmt->pb, streamIndex, chunks);
            avio_seek(fmt->pb, where, SEEK_SET);
        }
        auto table =
            std::make_shared<AviChunks>(std::move(source), std::move(chunks), std::move(palette), std::move(changes));
        return {std::move(table), ListedPackets::From::AviChunks};
    }
    const bool mp4Family = CarriesSampleTable(fmt);
    if (mp4Family)
        if (std::shared_ptr<FrameTable> table = FromSampleTable(source, st))
            return {std::move(table), ListedPackets::From::SampleTable};
    const auto from = mp4Family ? ListedPackets::From::Fragments : ListedPackets::From::Pass;
    return {FromPass(std::move(source), st, progress, cancelled), from};
}

void TagTablePacket(AVPacket* packet, PacketIndex index, const TablePacket& entry) {
    packet->pts = packet->dts = index;
    packet->flags &= ~(AV_PKT_FLAG_KEY | AV_PKT_FLAG_DISCARD);
    if (entry.key) packet->flags |= AV_PKT_FLAG_KEY;
    if (entry.discard) packet->flags |= AV_PKT_FLAG_DISCARD;
}
