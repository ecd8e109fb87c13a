// Opening a stream's decoder the one way the engine does, and the first
// picture a stream decodes to: its size is the frame size, whatever the
// container's header says.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "media/FrameTable.h"
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
constexpr PacketIndex kMaxReorderDelay = 16;

// Readies `packet`, read for packet `index` of a table (`entry`), to be sent
// as readers send packets: it carries its index as timestamps, so that each
// picture tells which packet it came from, and the table's key and discard
// flags in place of the demuxer's.
void TagTablePacket(AVPacket* packet, PacketIndex index, const TablePacket& entry);

// What a decoder learns only from a stream's first packet and needs wherever
// a run starts: the name and build x264 writes into its first picture (an SEI
// message), from which the H.264 decoder takes workarounds for that encoder's
// known faults (before build 151, lossless 4:4:4 intra prediction). Decoded
// from a later key without it, such a stream's pictures differ from a decode
// from the start. The NAL unit framed as the stream frames its own (a length
// prefix in MP4 and Matroska, a start code in a byte stream), to put before a
// later key packet's data; empty when there is none.
std::vector<std::uint8_t> EncoderNotes(const AVCodecParameters* codec, const AVPacket* first);

// Whether `packet` of an H.264 or HEVC stream holds a coded picture (a slice
// NAL unit), where an access unit may hold only parameter sets or an end of
// sequence; false for every other codec, whose packets are not looked into.
bool HoldsCodedPicture(const AVCodecParameters* codec, const AVPacket* packet);

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
