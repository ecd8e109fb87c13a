// What decoding a stream's first packets tells, and the frame table of a
// stream finished with it: the first picture's size (the frame size, whatever
// the container's header says), the packets at the start that deliver no
// picture, and the reorder delay a decoder learns only as it goes.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "media/FrameTable.h"
#include "media/Libav.h"

struct DemuxSource;

// The table of stream `streamIndex` (ListPackets), finished: an H.264 stream
// opened without probing (AVI, and MP4 read from fragments) gets the reorder
// delay its first packets show, and a table of any other container but AVI
// takes the packets at its start that deliver no picture out of the
// positions. Null when the stream has no pictures or when `progress`
// cancelled the pass; `cancelled` tells which.
std::shared_ptr<FrameTable> MakeFrameTable(std::shared_ptr<DemuxSource> source, int streamIndex,
                                           std::int64_t aviFirstTimestamp, const ProgressHandler& progress,
                                           bool& cancelled);

struct PictureShape {
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
};

// The size of the first picture a plain decode of `table` from its first
// packet delivers: as the codec's parser reads it where it can (no decoding),
// otherwise decoded (one thread, so the first picture comes out as soon as it
// can); nothing when no picture comes out of the first packets.
std::optional<PictureShape> FirstPictureShape(FrameTable& table, const AVCodecParameters* codec,
                                              AVRational timeBase);

// The packets at the start of `table` for which a plain decode from its first
// packet delivers no picture: those before the first key frame of a stream
// cut in the middle of a GOP, and the leading pictures of an open GOP whose
// references were cut off. Decodes only where the table shows such packets may
// be there, up to a little past the first key frame; nothing where packets
// after that do not each deliver a picture of their own (field pictures).
// `timesKnown`: the table's packets carry the demuxer's presentation times;
// else the first packets are read for them.
std::vector<PacketIndex> PicturelessStart(FrameTable& table, const AVCodecParameters* codec, AVRational timeBase,
                                          bool timesKnown);

// The reorder delay a one-thread decode of the stream's first packets comes
// to (at least the one `codec` states). An H.264 decoder learns it as it goes
// where the sequence header leaves it out (no VUI bitstream restriction): it
// drops the pictures that come out of order before it has learnt it, and on
// frame threads at other points than on one. A decoder given it from the start
// drops none, whichever packet its run starts at.
int ProbedReorderDelay(FrameTable& table, const AVCodecParameters* codec, AVRational timeBase);
