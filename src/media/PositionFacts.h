// What the frame table tells about each position, without decoding: which
// packet carries the picture shown there, its timestamps, byte position and
// size, whether it is a key frame or repeats an earlier position's picture;
// and what the stream's parameters tell about its pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/FrameTable.h"

struct AVStream;

// The facts of one position. Positions count from 0 (the service adds the
// stream's first frame number). Timestamps are in the stream's time base,
// TablePacket::kNoTime where the demuxer gives none.
struct FrameFacts {
    std::int64_t position = -1;     // -1: outside the stream
    bool repeat = false;            // no picture of its own
    std::int64_t repeatOf = -1;     // the position whose picture it shows, when repeat
    bool key = false;               // the picture is a key frame
    std::int64_t pts = TablePacket::kNoTime;
    std::int64_t dts = TablePacket::kNoTime;
    double seconds = -1.0;          // presentation time, -1 when not known
    std::int64_t packetPos = -1;    // the picture's packet as the demuxer reports it, -1 for a repeat
    std::int32_t packetSize = 0;
    int timeBaseNum = 0, timeBaseDen = 1;
};

// The stream's picture format, as its parameters give it; names as FFmpeg
// spells them ("yuv420p10le", "bt709", "tv"), "unknown" where unspecified.
struct StreamFacts {
    std::string codec, profile, pixelFormat;
    int bitDepth = 0;  // bits of the first component, 0 when unknown
    std::string matrix, range, primaries, transfer, fieldOrder;
    int sarNum = 0, sarDen = 1;  // sample aspect ratio, 0/1 when unknown
    int timeBaseNum = 0, timeBaseDen = 1;
};

// What the decoder said of a picture's fields; known once it was decoded.
struct PictureFields {
    bool known = false;
    bool interlaced = false;
    bool topFieldFirst = false;
    bool repeatField = false;  // the picture's repeat-field flag (repeat_pict)
};

// The picture format as the decoder last delivered it, for streams whose
// parameters leave it open until a picture is decoded. Values are FFmpeg's
// enumerations; `format` -1 until a picture has been decoded.
struct DecodedFormat {
    int format = -1, profile = -99;  // FF_PROFILE_UNKNOWN
    int colorspace = 2, range = 0, primaries = 2, transfer = 2;  // unspecified
    int sarNum = 0, sarDen = 1;
};

class PositionFacts {
public:
    // Reads the stream's presentation times first where the table lacks them
    // (FrameTable::FillPresentationTimes).
    PositionFacts(std::shared_ptr<FrameTable> table, int timeBaseNum, int timeBaseDen);
    std::int64_t Count() const { return count_; }
    FrameFacts At(std::int64_t position) const;
    // Positions whose own picture is a key frame, in order.
    std::vector<std::int64_t> KeyPositions() const;

private:
    void SortByTimeWithinRuns(const std::vector<TablePacket>& packets);
    void SortAsMpegDecoderDelivers(const std::vector<TablePacket>& packets);
    std::shared_ptr<FrameTable> table_;
    int tbNum_, tbDen_;
    std::int64_t count_ = 0;
    std::vector<PacketIndex> picture_;  // by rank of delivery: the packet whose picture it is
    std::vector<int> rank_;             // by packet: its rank of delivery, -1 for discard packets
};

// The stream's parameters, completed where they leave a value open by what
// the decoder reported of its pictures (`decoded`, may be null).
StreamFacts DescribeStream(const AVStream* stream, const DecodedFormat* decoded);
