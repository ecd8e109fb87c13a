// The demuxer of one open file, shared by its file, stream and reader handles
// and by the frame table that reads packets through it. Internal to the
// platform library.
#pragma once

#include <cstdint>

#include "platform/Libav.h"

struct DemuxSource {
    libav::FormatPtr format;
    std::int64_t fileSize = 0;
};
