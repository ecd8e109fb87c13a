// A plain sequential decode of a clip, independent of the frame engine: the
// demuxer's packets of the first video stream in file order, every picture
// the decoder delivers converted to bottom-up BGR24 the way the engine's
// packed bitmaps are laid out. Picture j belongs to the j-th packet; a
// position shows the picture of the last packet at or before it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtest {

struct ReferenceClip {
    int width = 0;
    int height = 0;
    std::vector<std::int64_t> packetPositions;  // stream position of each non-empty chunk
    std::vector<std::uint64_t> pictureHashes;   // one per delivered picture
    std::string decoder;

    // The hash of what `position` (0-based from the stream start) must show;
    // 0 when there is none.
    std::uint64_t HashAt(std::int64_t position) const;
};

bool DecodeReference(const std::string& path, ReferenceClip& out);
std::uint64_t HashBytes(const std::uint8_t* data, std::size_t size);

}  // namespace fwtest
