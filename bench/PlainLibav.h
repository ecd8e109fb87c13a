// The reference a viewer reaches with libavformat and libavcodec alone: no
// frame numbering of its own, no cache, nothing kept between requests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One non-empty video packet as the demuxer hands it out.
struct PlainChunk {
    std::int64_t ts = 0;    // its timestamp (the AVI's frame number), for seeking
    std::int64_t slot = 0;  // the position it is shown from: an AVI's frame number, else its rank
    bool key = false;
};

// Keeps libav's warnings about damaged input off the report.
void QuietPlainLibav();
// Decoder threads a frame reader uses by default: one per core, at most 8.
int DefaultDecoderThreads();
// avformat_open_input + avformat_find_stream_info of one file, in ms; NaN when
// it fails. A container that carries no complete index (anything but AVI, MP4
// and MOV) also has all its packets read, as ffprobe -count_packets does.
double PlainOpenMs(const std::string& path);
// The non-empty video chunks of the first video stream, in file order.
std::vector<PlainChunk> PlainChunks(const std::string& path);
// A send/receive decode loop over the whole stream converting every picture to
// bottom-up BGR24; `positions` frame positions over the loop's time.
double PlainSeqFps(const std::string& path, int threads, std::int64_t positions);
// Per position (0-based): seek to the key chunk at or before it, decode up to
// it, convert only it; one thread. Mean ms per position.
double BoundRandMs(const std::string& path, const std::vector<PlainChunk>& chunks,
                   const std::vector<std::int64_t>& positions);
// The packet (index into `chunks`) whose picture position `position` shows.
int ChunkAt(const std::vector<PlainChunk>& chunks, std::int64_t position);

}  // namespace bench
