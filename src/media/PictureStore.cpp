#include "media/PictureStore.h"

#include <algorithm>
#include <atomic>

#include "media/MemoryBudgets.h"

namespace {

// Kept pictures of every store; readers on other threads (comparison) share it.
std::atomic<std::size_t> g_keptBytes = 0;

}  // namespace

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

void PictureStore::Clear() {
    g_keptBytes -= bytes_;
    entries_.clear();
    uses_.clear();
    bytes_ = 0;
}
