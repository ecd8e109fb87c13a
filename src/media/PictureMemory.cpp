#include "media/PictureMemory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <deque>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>
#include <utility>

#include "media/MemoryBudgets.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

#if defined(__SANITIZE_ADDRESS__)
// Under the address sanitizer each block is an allocation of its own, with
// the sanitizer's guard zones around it. Freed blocks wait, poisoned, to be
// taken again by size, up to kCheckedIdleBytes (MemoryBudgets.h): the
// sanitizer's allocator maps every big allocation afresh, and fresh pages
// cost more than the checks.
class CheckedBlocks {
public:
    void* Allocate(std::size_t bytes) {
        const std::size_t size = RoundUp(bytes, 64);
        {
            std::lock_guard lock(mutex_);
            auto& list = free_[size];
            if (!list.empty()) {
                void* block = list.back();
                list.pop_back();
                idle_ -= size;
                ASAN_UNPOISON_MEMORY_REGION(block, size);
                return block;
            }
        }
        return std::aligned_alloc(64, size);
    }

    void Free(void* block, std::size_t bytes) {
        const std::size_t size = RoundUp(bytes, 64);
        {
            std::lock_guard lock(mutex_);
            if (idle_ + size <= std::min(kCheckedIdleBytes, IdlePictureBudget())) {
                ASAN_POISON_MEMORY_REGION(block, size);
                free_[size].push_back(block);
                idle_ += size;
                return;
            }
        }
        std::free(block);
    }

    std::size_t Idle() {
        std::lock_guard lock(mutex_);
        return idle_;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::size_t, std::vector<void*>> free_;
    std::size_t idle_ = 0;
};

CheckedBlocks& Blocks() {
    static CheckedBlocks* blocks = new CheckedBlocks;  // lives as long as any picture may
    return *blocks;
}
#else
// Elsewhere blocks are carved from slabs.
constexpr std::size_t kSlabBytes = 64u << 20;
constexpr std::size_t kGrain = 4096;
// Fresh blocks of at least this size are faulted in ahead, one at a time.
constexpr std::size_t kPrepareFrom = 1u << 20;
// Smaller ones are faulted in ahead by this much of their slab.
constexpr std::size_t kSmallWindow = 4u << 20;

constexpr std::size_t kHugePage = 2u << 20;
// What the page-size probe maps of each kind per round.
constexpr std::size_t kProbeBytes = 4u << 20;

// An anonymous mapping of `bytes` that starts on a huge-page boundary, in
// transparent huge pages where `huge`, else in ordinary pages.
std::uint8_t* Map(std::size_t bytes, bool huge) {
    const std::size_t span = bytes + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto* start = static_cast<std::uint8_t*>(raw);
    auto* aligned = reinterpret_cast<std::uint8_t*>(RoundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
    if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = span - static_cast<std::size_t>(aligned - start) - bytes;
    if (tail > 0) munmap(aligned + bytes, tail);
    madvise(aligned, bytes, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    return aligned;
}

// Seconds to map kProbeBytes of fresh memory of one page kind, fault it in
// ahead and write a byte to each small page of it; infinite where that
// cannot be done.
double FreshMemorySeconds(bool huge) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::uint8_t* memory = Map(kProbeBytes, huge);
    if (!memory) return std::numeric_limits<double>::infinity();
    const bool populated = madvise(memory, kProbeBytes, MADV_POPULATE_WRITE) == 0;
    for (std::size_t at = 0; at < kProbeBytes; at += kGrain) static_cast<volatile std::uint8_t*>(memory)[at] = 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    munmap(memory, kProbeBytes);
    return populated ? seconds : std::numeric_limits<double>::infinity();
}

// Whether fresh picture memory costs less in transparent huge pages. Virtual
// machines differ by an order of magnitude either way: on one, 1 GB of huge
// pages faulted in and written took 1.8-2.2 s against 0.4-0.7 s in small
// pages; on another, small pages took 1.5-2.8 s per GB, a fault into the host
// for each on its first write even after faulting in ahead, and huge pages
// 1.6-2.1 s per GB the first time and 0.1 s once the host had backed them
// (4 MB each: 12 ms against 0.6 ms). Each kind is measured twice,
// alternately, so that both the memory the host has yet to back and the
// memory it has are counted.
bool HugePagesAreCheaper() {
    double small = 0;
    double huge = 0;
    for (int round = 0; round < 2; ++round) {
        small += FreshMemorySeconds(false);
        huge += FreshMemorySeconds(true);
    }
    return huge < small;
}

// Blocks of up to half a slab are carved from slabs; larger ones are mapped
// alone. After handing out fresh memory for a big block, the heap has a
// thread of its own fault in the memory the next block of that size will
// take (MADV_POPULATE_WRITE), so that a caller taking block after block that
// it keeps (a frame cache filling while a clip plays) does not wait for the
// kernel to clear its pages. That is one block's pages ahead at most. Small
// blocks (a short GOP's pictures kept by a reader jumping about) come many at
// a time: the thread keeps kSmallWindow of the slab ahead of them faulted in.
class SlabHeap {
public:
    void* Allocate(std::size_t bytes) {
        const std::size_t size = RoundUp(bytes, kGrain);
        if (size > kSlabBytes / 2) return Map(size, huge_);
        std::lock_guard lock(mutex_);
        auto& list = free_[size];
        if (!list.empty()) {
            void* block = list.back();
            list.pop_back();
            idle_ -= std::min(idle_, size);
            return block;
        }
        if (!current_ || used_ + size > kSlabBytes) {
            if (current_ && used_ < kSlabBytes) LeaveTail(current_ + used_, current_ + kSlabBytes);
            current_ = next_ ? next_ : Map(kSlabBytes, huge_);
            next_ = nullptr;
            preparedTo_ = nullptr;
            used_ = 0;
            if (!current_) return nullptr;
        }
        void* block = current_ + used_;
        used_ += size;
        if (size >= kPrepareFrom) PrepareNext(size);
        else PrepareWindow();
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
        if (idle_ + size > IdlePictureBudget()) {
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
    struct Region {
        std::uint8_t* at = nullptr;
        std::size_t bytes = 0;
    };

    // Gives back the pages of a slab's unused tail, `from` to `end`, also
    // those the preparing thread is asked to fault in there or faults in
    // now (a region may begin in blocks handed out and end in the tail);
    // with mutex_ held.
    void LeaveTail(std::uint8_t* from, std::uint8_t* end) {
        madvise(from, end - from, MADV_DONTNEED);
        const auto enters = [&](const Region& r) { return r.at < end && r.at + r.bytes > from; };
        if (enters(request_)) request_.bytes = request_.at < from ? static_cast<std::size_t>(from - request_.at) : 0;
        if (enters(inFlight_)) dropFrom_ = std::max(inFlight_.at, from);
    }

    // Has the memory the next fresh block of `size` takes faulted in, with
    // mutex_ held.
    void PrepareNext(std::size_t size) {
        if (!preparing_) return;
        std::uint8_t* at = current_ + used_;
        if (used_ + size > kSlabBytes) {
            if (!next_) next_ = Map(kSlabBytes, huge_);
            if (!next_) return;
            at = next_;
        }
        Request({at, size});
    }

    // Small blocks: has the next kSmallWindow bytes of the slab faulted in,
    // asked for half a window at a time, with mutex_ held. Small pictures
    // come in runs (a jump decodes several and its reader keeps them), faster
    // than one at a time could be asked for.
    void PrepareWindow() {
        std::uint8_t* const next = current_ + used_;
        std::uint8_t* const end = current_ + kSlabBytes;
        std::uint8_t* const from = preparedTo_ > next ? preparedTo_ : next;
        if (from >= end || static_cast<std::size_t>(from - next) >= kSmallWindow / 2) return;
        const std::size_t bytes = std::min(static_cast<std::size_t>(next + kSmallWindow - from),
                                           static_cast<std::size_t>(end - from));
        if (Request({from, bytes})) preparedTo_ = from + bytes;
    }

    // Hands `region` to the preparing thread, started when first needed, in
    // place of a request it has not taken yet; false where it cannot run.
    bool Request(Region region) {
        if (!preparing_) return false;
        if (!started_) {
            try {
                std::thread(&SlabHeap::Prepare, this).detach();  // the heap lives as long as the process
            } catch (const std::system_error&) {
                preparing_ = false;
                return false;
            }
            started_ = true;
        }
        request_ = region;
        requested_.notify_one();
        return true;
    }

    // The preparing thread. The region it faults in may be handed out
    // meanwhile: faulting in keeps the contents, so that does no harm.
    void Prepare() {
        huge_ = HugePagesAreCheaper();
        std::unique_lock lock(mutex_);
        for (;;) {
            requested_.wait(lock, [&] { return request_.bytes > 0; });
            inFlight_ = std::exchange(request_, Region{});
            dropFrom_ = nullptr;
            lock.unlock();
            const bool ok = madvise(inFlight_.at, inFlight_.bytes, MADV_POPULATE_WRITE) == 0 || errno != EINVAL;
            lock.lock();
            if (dropFrom_) madvise(dropFrom_, inFlight_.at + inFlight_.bytes - dropFrom_, MADV_DONTNEED);
            inFlight_ = Region{};
            if (!ok) preparing_ = false;  // a kernel without it
        }
    }

    std::mutex mutex_;
    std::uint8_t* current_ = nullptr;
    std::uint8_t* next_ = nullptr;  // the slab after current_, once mapped
    std::size_t used_ = 0;
    std::size_t idle_ = 0;  // bytes of free blocks still holding their pages
    std::unordered_map<std::size_t, std::deque<void*>> free_;
    bool preparing_ = true;  // false where the kernel cannot fault in ahead
    std::atomic<bool> huge_ = false;  // slabs in huge pages, as the preparing thread finds cheaper
    bool started_ = false;   // the preparing thread
    std::uint8_t* preparedTo_ = nullptr;  // the end of the small blocks' window asked for in current_
    Region request_;    // what the preparing thread is to fault in next
    Region inFlight_;   // what it faults in now
    std::uint8_t* dropFrom_ = nullptr;  // where inFlight_ enters a tail given back meanwhile
    std::condition_variable requested_;
};

SlabHeap& Blocks() {
    static SlabHeap* heap = new SlabHeap;  // lives as long as any picture may
    return *heap;
}
#endif  // __SANITIZE_ADDRESS__

}  // namespace

void* AllocatePictureBlock(std::size_t bytes) { return bytes == 0 ? nullptr : Blocks().Allocate(bytes); }

void FreePictureBlock(void* block, std::size_t bytes) {
    if (block) Blocks().Free(block, bytes);
}

std::size_t IdlePictureBytes() { return Blocks().Idle(); }

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
