#include "platform/Memory.h"

#include <malloc.h>

#include <cstring>

#include "media/MemoryBudgets.h"

void RtlMoveMemory(void* destination, const void* source, std::size_t length) {
    std::memmove(destination, source, length);
}

std::int64_t PhysicalMemoryBytes() { return MachineMemoryBytes(); }

void KeepFreedMemoryForReuse() {
    static const bool once = [] {
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        return true;
    }();
    (void)once;
}
