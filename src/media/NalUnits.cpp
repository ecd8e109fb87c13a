#include "media/NalUnits.h"

#include <string_view>

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
