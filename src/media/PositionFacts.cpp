#include "media/PositionFacts.h"

#include <algorithm>

#include "media/Libav.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

PositionFacts::PositionFacts(std::shared_ptr<FrameTable> table, int timeBaseNum, int timeBaseDen)
    : table_(std::move(table)), tbNum_(timeBaseNum), tbDen_(timeBaseDen > 0 ? timeBaseDen : 1) {
    const std::vector<TablePacket>& packets = table_->Packets();
    // An AVI chunk's picture is the chunk's own; elsewhere the decoder
    // delivers pictures in presentation order, so the j-th picture delivered
    // is that of the packet with the j-th earliest presentation time.
    const bool byTime = table_->Rule() != PositionRule::Chunks;
    if (byTime) table_->FillPresentationTimes();
    rank_.assign(packets.size(), -1);
    for (PacketIndex i = 0; i < static_cast<PacketIndex>(packets.size()); ++i)
        if (!packets[i].discard) {
            rank_[i] = static_cast<int>(picture_.size());
            picture_.push_back(i);
        }
    const bool allTimed = std::all_of(picture_.begin(), picture_.end(),
                                      [&](PacketIndex i) { return packets[i].pts != TablePacket::kNoTime; });
    const bool allTyped = std::all_of(picture_.begin(), picture_.end(),
                                      [&](PacketIndex i) { return packets[i].codedType != 0; });
    if (byTime && allTimed) SortByTimeWithinRuns(packets);
    else if (byTime && allTyped) SortAsMpegDecoderDelivers(packets);
    count_ = table_->PositionCount();
}

// MPEG-1/2 video whose packets do not all carry a presentation time (MPEG-PS
// stamps only some): the decoder delivers each B-picture at once and holds
// each I- or P-picture back until the next one comes, or the stream ends.
void PositionFacts::SortAsMpegDecoderDelivers(const std::vector<TablePacket>& packets) {
    std::vector<PacketIndex> delivered;
    delivered.reserve(picture_.size());
    PacketIndex held = -1;
    for (PacketIndex i : picture_) {
        if (packets[i].codedType == TablePacket::kCodedB) {
            delivered.push_back(i);
            continue;
        }
        if (held >= 0) delivered.push_back(held);
        held = i;
    }
    if (held >= 0) delivered.push_back(held);
    picture_ = std::move(delivered);
}

// Presentation order by pts, run by run: where decode times go back (a file
// joined from two, a recording that restarted its clock), the decoder goes on
// delivering pictures in stream order, so a later run's pictures come after
// every picture of the run before, whatever their times.
void PositionFacts::SortByTimeWithinRuns(const std::vector<TablePacket>& packets) {
    const auto earlier = [&](PacketIndex a, PacketIndex b) { return packets[a].pts < packets[b].pts; };
    auto begin = picture_.begin();
    for (auto it = picture_.begin(); it != picture_.end(); ++it) {
        const bool restarts = it != begin && packets[*it].dts != TablePacket::kNoTime &&
                              packets[*(it - 1)].dts != TablePacket::kNoTime && packets[*it].dts < packets[*(it - 1)].dts;
        if (!restarts) continue;
        std::stable_sort(begin, it, earlier);
        begin = it;
    }
    std::stable_sort(begin, picture_.end(), earlier);
}

FrameFacts PositionFacts::At(std::int64_t position) const {
    FrameFacts f;
    f.timeBaseNum = tbNum_;
    f.timeBaseDen = tbDen_;
    if (position < 0 || position >= count_) return f;
    const std::vector<TablePacket>& packets = table_->Packets();
    // The packet shown at `position`: the last whose slot is at or before it.
    auto it = std::upper_bound(packets.begin(), packets.end(), position,
                               [](std::int64_t p, const TablePacket& c) { return p < c.slot; });
    PacketIndex shown = static_cast<PacketIndex>(it - packets.begin()) - 1;
    while (shown > 0 && rank_[shown] < 0) --shown;
    if (shown < 0 || rank_[shown] < 0) return f;
    const TablePacket& own = packets[picture_[rank_[shown]]];
    const double tb = static_cast<double>(tbNum_) / tbDen_;
    f.position = position;
    f.repeat = packets[shown].slot != position;
    if (f.repeat) {
        f.repeatOf = packets[shown].slot;
        // Repeats occur where a slot is one frame of the time base.
        if (own.pts != TablePacket::kNoTime) f.seconds = static_cast<double>(own.pts + position - f.repeatOf) * tb;
        return f;
    }
    f.key = own.key;
    f.pts = own.pts;
    f.dts = own.dts;
    if (own.pts != TablePacket::kNoTime) f.seconds = static_cast<double>(own.pts) * tb;
    // AVI positions are those of chunk headers; the demuxer reports the payload's.
    f.packetPos = table_->Rule() == PositionRule::Chunks ? own.pos + 8 : own.pos;
    f.packetSize = own.size;
    return f;
}

std::vector<std::int64_t> PositionFacts::KeyPositions() const {
    std::vector<std::int64_t> keys;
    const std::vector<TablePacket>& packets = table_->Packets();
    for (PacketIndex i = 0; i < static_cast<PacketIndex>(packets.size()); ++i)
        if (rank_[i] >= 0 && packets[picture_[rank_[i]]].key && packets[i].slot < count_)
            keys.push_back(packets[i].slot);
    return keys;
}

namespace {

std::string Named(const char* name) { return name ? name : "unknown"; }

}  // namespace

StreamFacts DescribeStream(const AVStream* st, const DecodedFormat* decoded) {
    const AVCodecParameters* par = st->codecpar;
    const bool seen = decoded && decoded->format >= 0;
    // A parameter the container leaves open, as the decoder found it.
    const auto pick = [&](int given, int unspecified, int found) { return given != unspecified || !seen ? given : found; };
    StreamFacts s;
    s.codec = Named(avcodec_get_name(par->codec_id));
    s.profile = Named(avcodec_profile_name(par->codec_id, pick(par->profile, FF_PROFILE_UNKNOWN, seen ? decoded->profile : 0)));
    const int format = pick(par->format, AV_PIX_FMT_NONE, seen ? decoded->format : 0);
    const AVPixFmtDescriptor* pix = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    s.pixelFormat = pix ? pix->name : "unknown";
    s.bitDepth = pix ? pix->comp[0].depth : 0;
    s.matrix = Named(av_color_space_name(static_cast<AVColorSpace>(
        pick(par->color_space, AVCOL_SPC_UNSPECIFIED, seen ? decoded->colorspace : 0))));
    s.range = Named(av_color_range_name(static_cast<AVColorRange>(
        pick(par->color_range, AVCOL_RANGE_UNSPECIFIED, seen ? decoded->range : 0))));
    s.primaries = Named(av_color_primaries_name(static_cast<AVColorPrimaries>(
        pick(par->color_primaries, AVCOL_PRI_UNSPECIFIED, seen ? decoded->primaries : 0))));
    s.transfer = Named(av_color_transfer_name(static_cast<AVColorTransferCharacteristic>(
        pick(par->color_trc, AVCOL_TRC_UNSPECIFIED, seen ? decoded->transfer : 0))));
    switch (par->field_order) {
        case AV_FIELD_PROGRESSIVE: s.fieldOrder = "progressive"; break;
        case AV_FIELD_TT: s.fieldOrder = "tt"; break;
        case AV_FIELD_BB: s.fieldOrder = "bb"; break;
        case AV_FIELD_TB: s.fieldOrder = "tb"; break;
        case AV_FIELD_BT: s.fieldOrder = "bt"; break;
        default: s.fieldOrder = "unknown"; break;
    }
    const AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0) s.sarNum = sar.num, s.sarDen = sar.den;
    else if (seen && decoded->sarNum > 0 && decoded->sarDen > 0) s.sarNum = decoded->sarNum, s.sarDen = decoded->sarDen;
    s.timeBaseNum = st->time_base.num;
    s.timeBaseDen = st->time_base.den;
    return s;
}
