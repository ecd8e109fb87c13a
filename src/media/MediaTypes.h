// Facts the engine reports about frames and readers, and how it reports
// progress; the AVI file service passes them on as they are.
#pragma once

#include <cstdint>
#include <functional>

// What a frame position shows, for a readout beside the picture: Key when the
// position's own chunk or packet is a key frame, Repeat when it shows the
// picture of an earlier position (an empty chunk or frame slot), otherwise the
// picture type the decoder reported once the position has been decoded, and
// Unknown before that. Costs no decoding.
enum class FrameKind : char { Unknown = 0, Key = 'K', Repeat = 'R', I = 'I', P = 'P', B = 'B' };

// What a frame reader has done so far, for tools, tests and benchmarks.
struct FrameReaderStats {
    std::uint64_t requests = 0;     // AVIStreamGetFrame calls
    std::uint64_t packetsSent = 0;  // chunks handed to the decoder
    std::uint64_t picturesOut = 0;  // pictures the decoder delivered
    std::uint64_t seeks = 0;        // decoder restarts at a key chunk
    std::uint64_t conversions = 0;  // pictures converted to the packed bitmap
    std::uint64_t keptBytes = 0;    // decoded pictures the reader keeps now
    std::uint64_t aheadServed = 0;  // requests a decode-ahead worker's picture answered
    std::uint64_t aheadBytes = 0;   // pictures the reader's worker holds now
    std::uint64_t aheadDecoded = 0; // pictures the reader's worker has decoded
};

// Long operations call it now and then with the fraction done, from 0 to 1, on
// the calling thread; returning false cancels the operation.
using ProgressHandler = std::function<bool(double done)>;
