// Decoded pictures a frame reader keeps from earlier runs, by the packet
// they belong to, within a budget of bytes per store and for all stores
// together (MemoryBudgets.h).
#pragma once

#include <cstddef>
#include <list>
#include <unordered_map>

#include "media/FrameTable.h"
#include "media/Libav.h"

// Bytes a decoded picture holds: the frame and every buffer it refers to.
std::size_t FrameBytes(const AVFrame* frame);
// A decoder's buffers (its get_buffer2) in picture memory: each picture in
// one block laid out as libavcodec lays out its own (aligned dimensions and
// linesizes, slack past each plane), so that keeping a decoded picture takes
// a reference where it would otherwise take a copy, and a block the picture
// no longer needs goes back to picture memory, not to a pool of the decoder's.
// `clear` zeroes the planes first, for codecs that may leave parts of a
// damaged picture unwritten. Codecs that cannot decode into buffers of the
// caller's get libavcodec's own.
int GetPictureMemoryBuffer(AVCodecContext* codec, AVFrame* frame, int flags, bool clear);
// `frame` in picture memory: a new reference to it when a decoder wrote it
// there (GetPictureMemoryBuffer), otherwise a copy whose planes live in one
// block, padded past the last row as a decoder's buffers are; null when
// memory runs out.
libav::FramePtr CopyToPictureMemory(const AVFrame* frame);
// What FrameBytes counts of what CopyToPictureMemory returns for `frame`.
std::size_t CopiedBytes(const AVFrame* frame);

// Decoded pictures kept from earlier runs, so a step back or a return to a
// recent frame only converts. Bounded by bytes; least recently used go first.
class PictureStore {
public:
    explicit PictureStore(std::size_t budget) : budget_(budget) {}
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;
    ~PictureStore() { Clear(); }
    AVFrame* Find(PacketIndex packet);
    bool Has(PacketIndex packet) const { return entries_.count(packet) != 0; }
    // Keeps `frame`, then forgets the least recently used pictures until at
    // most `limit` (and the store's budget) bytes remain.
    void Keep(PacketIndex packet, libav::FramePtr frame, std::size_t limit);
    void Clear();
    // Forgets the pictures kept at `first` and after.
    void ForgetFrom(PacketIndex first);
    std::size_t Bytes() const { return bytes_; }

private:
    struct Entry {
        libav::FramePtr frame;
        std::size_t bytes = 0;
        std::list<PacketIndex>::iterator use;
    };
    std::size_t budget_;
    std::size_t bytes_ = 0;
    std::unordered_map<PacketIndex, Entry> entries_;
    std::list<PacketIndex> uses_;  // most recent first
};
