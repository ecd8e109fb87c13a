// Opening a stream's decoder the one way the engine does, and counting the
// errors it reports as it decodes.
#pragma once

#include <atomic>
#include <cstdint>

#include "media/Libav.h"

// Whether the codec's frame-threaded decoder gives the same pictures as one
// thread. Where it does not, the engine decodes with slice threads only.
bool FrameThreadsExact(AVCodecID codec);

// The errors a decoder reports while it decodes, from whichever of its
// threads meets them. A damaged picture comes out as the decoder conceals the
// damage, and frame threads conceal it otherwise than one thread does (each
// thread remembers other pictures); a reader that learns its threaded decoder
// met damage decodes that part again on one thread. It must outlive the
// decoders that count into it.
class DecodeErrors {
public:
    DecodeErrors();
    ~DecodeErrors();
    DecodeErrors(const DecodeErrors&) = delete;
    DecodeErrors& operator=(const DecodeErrors&) = delete;
    // Errors reported so far. A picture the decoder delivers comes after the
    // errors met in decoding it and the pictures it refers to.
    std::uint64_t Count() const { return count_.load(std::memory_order_acquire); }
    void Add() { count_.fetch_add(1, std::memory_order_release); }
    // A decoding call of `codec` that failed: the decoder refused a packet
    // (VP9 refuses a damaged one without a word in the log). Damage where
    // its errors are (see IsDamage in Decoder.cpp).
    void AddRefusal(const AVCodecContext* codec);

private:
    std::atomic<std::uint64_t> count_{0};
};

// A decoder for `codec` on `threads` threads (0: one per core, at most 8),
// refusing pictures larger than the engine converts, with AV_CODEC_FLAG_s
// `flags` besides, counting its errors into `errors` when given; null when
// libav has none or cannot open it. Its threads decode several pictures at
// once where the codec can and `frameThreads` allows (each picture then comes
// out a few packets late), else the slices of one picture at once. A codec
// whose decoder does not conceal damage (HEVC, VP8, VP9, MJPEG, ...) gets
// pictures that start as zeros: the part damage kept it from decoding would
// otherwise keep what the picture's memory held before, which depends on
// every picture decoded before it.
libav::CodecPtr OpenDecoder(const AVCodecParameters* codec, AVRational timeBase, int threads, int flags = 0,
                            DecodeErrors* errors = nullptr, bool frameThreads = true);

// Packets a decoder may take in before it delivers a picture it holds back
// for reordering (H.264's and HEVC's largest picture buffer).
constexpr int kMaxReorderDelay = 16;
