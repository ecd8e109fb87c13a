// Every memory budget of the program, and how they relate.
//
//  - Frame cache ("Catch"): the frames the clips keep as bitmaps, all clips
//    together at most kCatchShareOfMemory of the machine's memory; past it a
//    frame is drawn but not kept.
//  - Kept pictures: decoded pictures a frame reader keeps so that stepping
//    back or returning to a recent frame only converts; each reader at most
//    kReaderKeepBytes, all readers together at most kAllReadersKeepBytes, so
//    that many open clips do not each hold a whole budget. While a clip plays
//    straight on, a reader keeps only its newest picture.
//  - Idle picture memory: blocks freed by kept pictures and frames stay with
//    the process up to kIdlePictureBytes, one reader's whole keep budget, so
//    that a reader refilling its pictures touches no fresh pages.
//  - Frame size: no frame over kMaxFramePixels or kMaxFrameSide pixels a
//    side is decoded, and none whose bitmap would take more than
//    kFrameShareOfMemory of the machine's memory, so that a small file cannot
//    make every frame cost gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr double kCatchShareOfMemory = 0.5;
inline constexpr std::size_t kReaderKeepBytes = std::size_t{256} << 20;
inline constexpr std::size_t kAllReadersKeepBytes = 2 * kReaderKeepBytes;
inline constexpr std::size_t kIdlePictureBytes = kReaderKeepBytes;
inline constexpr std::int32_t kMaxFrameSide = 32768;
inline constexpr std::int64_t kMaxFramePixels = std::int64_t{1} << 25;  // 8K UHD fits
inline constexpr double kFrameShareOfMemory = 0.25;
