#include "platform/Memory.h"

#include <malloc.h>
#include <unistd.h>

#include <cstring>

void RtlMoveMemory(void* destination, const void* source, std::size_t length) {
    std::memmove(destination, source, length);
}

std::int64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::int64_t>(pages) * pageSize;
}

void KeepFreedMemoryForReuse() {
    static const bool once = [] {
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        return true;
    }();
    (void)once;
}
