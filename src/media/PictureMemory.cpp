#include "media/PictureMemory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <deque>
#include <unordered_map>

#include "media/MemoryBudgets.h"

namespace {

constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kSlabBytes = 64u << 20;
constexpr std::size_t kGrain = 4096;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseSlabs = false;  // keep the sanitizer's view of every block
#else
constexpr bool kUseSlabs = true;
#endif

std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// An anonymous mapping of `bytes` starting on a huge-page boundary.
std::uint8_t* MapAligned(std::size_t bytes) {
    const std::size_t span = bytes + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto* start = static_cast<std::uint8_t*>(raw);
    auto* aligned = reinterpret_cast<std::uint8_t*>(RoundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
    if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = span - static_cast<std::size_t>(aligned - start) - bytes;
    if (tail > 0) munmap(aligned + bytes, tail);
    madvise(aligned, bytes, MADV_HUGEPAGE);
    return aligned;
}

class SlabHeap {
public:
    void* Allocate(std::size_t bytes) {
        const std::size_t size = RoundUp(bytes, kGrain);
        if (size > kSlabBytes / 2) return MapAligned(size);
        std::lock_guard lock(mutex_);
        auto& list = free_[size];
        if (!list.empty()) {
            void* block = list.back();
            list.pop_back();
            idle_ -= std::min(idle_, size);
            return block;
        }
        if (!current_ || used_ + size > kSlabBytes) {
            current_ = MapAligned(kSlabBytes);  // the old slab's tail is left unused
            used_ = 0;
            if (!current_) return nullptr;
        }
        void* block = current_ + used_;
        used_ += size;
        return block;
    }

    void Free(void* block, std::size_t bytes) {
        const std::size_t size = RoundUp(bytes, kGrain);
        if (size > kSlabBytes / 2) {
            munmap(block, size);
            return;
        }
        std::lock_guard lock(mutex_);
        // Blocks that keep their pages are handed out first (from the back).
        if (idle_ + size > kIdlePictureBytes) {
            madvise(block, size, MADV_DONTNEED);
            free_[size].push_front(block);
        } else {
            idle_ += size;
            free_[size].push_back(block);
        }
    }

    std::size_t Idle() {
        std::lock_guard lock(mutex_);
        return idle_;
    }

private:
    std::mutex mutex_;
    std::uint8_t* current_ = nullptr;
    std::size_t used_ = 0;
    std::size_t idle_ = 0;  // bytes of free blocks still holding their pages
    std::unordered_map<std::size_t, std::deque<void*>> free_;
};

SlabHeap& Heap() {
    static SlabHeap* heap = new SlabHeap;  // lives as long as any picture may
    return *heap;
}

}  // namespace

void* AllocatePictureBlock(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    if (!kUseSlabs) return std::aligned_alloc(64, RoundUp(bytes, 64));
    return Heap().Allocate(bytes);
}

void FreePictureBlock(void* block, std::size_t bytes) {
    if (!block) return;
    if (!kUseSlabs) {
        std::free(block);
        return;
    }
    Heap().Free(block, bytes);
}

std::size_t IdlePictureBytes() { return kUseSlabs ? Heap().Idle() : 0; }

std::shared_ptr<std::uint8_t[]> MakePictureBuffer(std::size_t bytes) {
    auto* block = static_cast<std::uint8_t*>(AllocatePictureBlock(bytes));
    if (!block) return nullptr;
    try {
        return std::shared_ptr<std::uint8_t[]>(block, [bytes](std::uint8_t* p) { FreePictureBlock(p, bytes); });
    } catch (const std::bad_alloc&) {
        FreePictureBlock(block, bytes);
        return nullptr;
    }
}
