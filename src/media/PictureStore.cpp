#include "media/PictureStore.h"

#include <algorithm>
#include <atomic>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "media/MemoryBudgets.h"
#include "media/PictureMemory.h"

namespace {

// Kept pictures of every store. Stores live on several threads (a reader's
// decode-ahead worker has one too).
std::atomic<std::size_t> g_keptBytes{0};

void ReleasePictureBlock(void* opaque, std::uint8_t* data) {
    FreePictureBlock(data, reinterpret_cast<std::uintptr_t>(opaque));
}

}  // namespace

// The one block a copy of `src` takes; 0 when its format has no such layout.
std::size_t BlockBytes(const AVFrame* src) {
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(src->format), src->width, src->height, 64);
    // Padding past the last row, as the decoder's own buffers have, for the
    // converter's vector loads.
    return size > 0 ? static_cast<std::size_t>(size) + 64 + AV_INPUT_BUFFER_PADDING_SIZE : 0;
}

std::size_t CopiedBytes(const AVFrame* src) {
    const std::size_t block = BlockBytes(src);
    return block ? sizeof(AVFrame) + block : FrameBytes(src);
}

libav::FramePtr CopyToPictureMemory(const AVFrame* src) {
    const auto format = static_cast<AVPixelFormat>(src->format);
    const std::size_t bytes = BlockBytes(src);
    if (bytes == 0) return libav::FramePtr(av_frame_clone(src));
    auto* block = static_cast<std::uint8_t*>(AllocatePictureBlock(bytes));
    if (!block) return nullptr;
    libav::FramePtr dst(av_frame_alloc());
    AVBufferRef* buffer = av_buffer_create(block, static_cast<int>(bytes), ReleasePictureBlock,
                                           reinterpret_cast<void*>(static_cast<std::uintptr_t>(bytes)), 0);
    if (!dst || !buffer) {
        if (buffer) av_buffer_unref(&buffer);
        else FreePictureBlock(block, bytes);
        return nullptr;
    }
    dst->buf[0] = buffer;
    dst->format = src->format;
    dst->width = src->width;
    dst->height = src->height;
    if (av_image_fill_arrays(dst->data, dst->linesize, block, format, src->width, src->height, 64) < 0 ||
        av_frame_copy(dst.get(), src) < 0 || av_frame_copy_props(dst.get(), src) < 0)
        return nullptr;
    return dst;
}

std::size_t FrameBytes(const AVFrame* f) {
    std::size_t bytes = sizeof(AVFrame);
    for (const AVBufferRef* b : f->buf)
        if (b) bytes += b->size;
    return bytes;
}

AVFrame* PictureStore::Find(PacketIndex packet) {
    auto it = entries_.find(packet);
    if (it == entries_.end()) return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return it->second.frame.get();
}

void PictureStore::Keep(PacketIndex packet, libav::FramePtr copy, std::size_t limit) {
    if (budget_ == 0 || !copy) return;
    limit = std::min(limit, budget_);
    if (entries_.count(packet)) return;
    const std::size_t bytes = FrameBytes(copy.get());
    uses_.push_front(packet);
    entries_.emplace(packet, Entry{std::move(copy), bytes, uses_.begin()});
    bytes_ += bytes;
    g_keptBytes += bytes;
    while ((bytes_ > limit || g_keptBytes > kAllReadersKeepBytes) && uses_.size() > 1) {
        auto victim = entries_.find(uses_.back());
        bytes_ -= victim->second.bytes;
        g_keptBytes -= victim->second.bytes;
        entries_.erase(victim);
        uses_.pop_back();
    }
}

void PictureStore::ForgetFrom(PacketIndex first) {
    for (auto it = uses_.begin(); it != uses_.end();) {
        const auto entry = entries_.find(*it);
        if (*it < first || entry == entries_.end()) {
            ++it;
            continue;
        }
        bytes_ -= entry->second.bytes;
        g_keptBytes -= entry->second.bytes;
        entries_.erase(entry);
        it = uses_.erase(it);
    }
}

void PictureStore::Clear() {
    g_keptBytes -= bytes_;
    entries_.clear();
    uses_.clear();
    bytes_ = 0;
}
