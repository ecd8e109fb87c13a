// The demuxer of one open file, shared by its file, stream and reader handles
// and by the frame table that reads packets through it.
#pragma once

#include <cstdint>

#include "media/Libav.h"

#include <string_view>

struct DemuxSource {
    libav::FormatPtr format;
    std::int64_t fileSize = 0;
};

// MP4, MOV and 3GP describe their streams and every sample in their header.
inline bool CarriesSampleTable(const AVFormatContext* format) {
    return std::string_view(format->iformat->name).find("mp4") != std::string_view::npos;
}
