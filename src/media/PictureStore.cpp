#include "media/PictureStore.h"

#include <algorithm>
#include <atomic>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
}

#include "media/MemoryBudgets.h"
#include "media/PictureMemory.h"

namespace {

// Kept pictures of every store. Stores live on several threads (a reader's
// decode-ahead worker has one too).
std::atomic<std::size_t> g_keptBytes{0};

// A picture block's buffer carries its size as the opaque value; blocks a
// decoder writes into carry this bit as well (sizes are multiples of 64).
constexpr std::uintptr_t kDecodedHere = 1;

void ReleasePictureBlock(void* opaque, std::uint8_t* data) {
    FreePictureBlock(data, reinterpret_cast<std::uintptr_t>(opaque) & ~kDecodedHere);
}

// Whether `frame` lies in a block a decoder wrote into through
// GetPictureMemoryBuffer: keeping it then only takes a reference.
bool DecodedInPictureMemory(const AVFrame* frame) {
    return frame->buf[0] && !frame->buf[1] &&
           (reinterpret_cast<std::uintptr_t>(av_buffer_get_opaque(frame->buf[0])) & kDecodedHere) != 0;
}

constexpr std::size_t kPlaneAlign = 64;  // as libavcodec aligns the planes of its own buffers

// Zeroes the planes of `frame`, `sizes` bytes each.
void ClearPlanes(AVFrame* frame, const std::size_t sizes[4]) {
    for (int p = 0; p < 4; ++p)
        if (frame->data[p] && sizes[p]) std::memset(frame->data[p], 0, sizes[p]);
}

// libavcodec's own buffer, its planes zeroed when `clear`.
int DefaultBuffer(AVCodecContext* codec, AVFrame* frame, int flags, bool clear) {
    const int result = avcodec_default_get_buffer2(codec, frame, flags);
    if (result < 0 || !clear) return result;
    std::size_t sizes[4] = {};
    const ptrdiff_t linesizes[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], frame->linesize[3]};
    if (av_image_fill_plane_sizes(sizes, static_cast<AVPixelFormat>(frame->format), frame->height, linesizes) >= 0)
        ClearPlanes(frame, sizes);
    return result;
}

// The linesizes and plane sizes libavcodec's own buffers would have for a
// picture of `frame`'s size: dimensions aligned as the codec needs, each
// linesize a multiple of the codec's stride alignment. False for a format
// without such planes.
bool PictureLayout(const AVCodecContext* codec, const AVFrame* frame, ptrdiff_t linesizes[4], std::size_t sizes[4]) {
    const auto format = static_cast<AVPixelFormat>(frame->format);
    int width = frame->width, height = frame->height;
    int strideAlign[AV_NUM_DATA_POINTERS] = {};
    if (format != codec->pix_fmt || width <= 0 || height <= 0) return false;
    avcodec_align_dimensions2(const_cast<AVCodecContext*>(codec), &width, &height, strideAlign);
    int lines[4] = {};
    for (bool aligned = false; !aligned;) {
        if (av_image_fill_linesizes(lines, format, width) < 0) return false;
        width += width & ~(width - 1);  // a wider row for the next try, if one is needed
        aligned = true;
        for (int p = 0; p < 4; ++p)
            if (strideAlign[p] > 0 && lines[p] % strideAlign[p] != 0) aligned = false;
    }
    for (int p = 0; p < 4; ++p) linesizes[p] = lines[p];
    return av_image_fill_plane_sizes(sizes, format, height, linesizes) >= 0;
}

}  // namespace

int GetPictureMemoryBuffer(AVCodecContext* codec, AVFrame* frame, int flags, bool clear) {
    std::size_t sizes[4] = {};
    ptrdiff_t linesizes[4] = {};
    if (codec->hw_frames_ctx || !(codec->codec->capabilities & AV_CODEC_CAP_DR1) ||
        !PictureLayout(codec, frame, linesizes, sizes))
        return DefaultBuffer(codec, frame, flags, clear);
    // Each plane followed by the slack libavcodec gives its own (vector
    // loads past the end), each starting on a 64-byte boundary.
    std::size_t offsets[4] = {}, bytes = 0;
    for (int p = 0; p < 4 && sizes[p]; ++p) {
        offsets[p] = bytes;
        bytes += FFALIGN(sizes[p] + 16 + kPlaneAlign - 1, kPlaneAlign);
    }
    auto* block = static_cast<std::uint8_t*>(AllocatePictureBlock(bytes));
    if (!block) return AVERROR(ENOMEM);
    frame->buf[0] = av_buffer_create(block, bytes, ReleasePictureBlock,
                                     reinterpret_cast<void*>(static_cast<std::uintptr_t>(bytes) | kDecodedHere), 0);
    if (!frame->buf[0]) {
        FreePictureBlock(block, bytes);
        return AVERROR(ENOMEM);
    }
    for (int p = 0; p < AV_NUM_DATA_POINTERS; ++p) {
        const bool used = p < 4 && sizes[p];
        frame->data[p] = used ? block + offsets[p] : nullptr;
        frame->linesize[p] = used ? static_cast<int>(linesizes[p]) : 0;
    }
    frame->extended_data = frame->data;
    if (clear) ClearPlanes(frame, sizes);
    return 0;
}

// The one block a copy of `src` takes; 0 when its format has no such layout.
std::size_t BlockBytes(const AVFrame* src) {
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(src->format), src->width, src->height, 64);
    // Padding past the last row, as the decoder's own buffers have, for the
    // converter's vector loads.
    return size > 0 ? static_cast<std::size_t>(size) + 64 + AV_INPUT_BUFFER_PADDING_SIZE : 0;
}

std::size_t CopiedBytes(const AVFrame* src) {
    if (DecodedInPictureMemory(src)) return FrameBytes(src);
    const std::size_t block = BlockBytes(src);
    return block ? sizeof(AVFrame) + block : FrameBytes(src);
}

libav::FramePtr CopyToPictureMemory(const AVFrame* src) {
    if (DecodedInPictureMemory(src)) return libav::FramePtr(av_frame_clone(src));
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
    while ((bytes_ > limit || g_keptBytes > AllReadersKeepBytes()) && uses_.size() > 1) {
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
