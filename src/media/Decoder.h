// Opening a stream's decoder the one way the engine does, and the first
// picture a stream decodes to: its size is the frame size, whatever the
// container's header says.
#pragma once

#include <optional>

#include "media/FrameTable.h"
#include "media/Libav.h"

// Whether the codec's frame-threaded decoder gives the same pictures as one
// thread. Where it does not, the engine decodes with slice threads only.
bool FrameThreadsExact(AVCodecID codec);

// A decoder for `codec` on `threads` threads (0: one per core, at most 8),
// refusing pictures larger than the engine converts, with AV_CODEC_FLAG_s
// `flags` besides; null when libav has none or cannot open it.
libav::CodecPtr OpenDecoder(const AVCodecParameters* codec, AVRational timeBase, int threads, int flags = 0);

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
