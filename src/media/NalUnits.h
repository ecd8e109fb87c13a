// What the engine reads from H.264 and HEVC packets itself, without decoding.
#pragma once

#include <cstdint>
#include <vector>

#include "media/Libav.h"

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
