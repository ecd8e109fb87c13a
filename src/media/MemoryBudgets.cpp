#include "media/MemoryBudgets.h"

#include <unistd.h>

#include <algorithm>

std::int64_t MachineMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::int64_t>(pages) * pageSize;
}

std::size_t ReaderKeepBytes() {
    static const std::size_t budget = [] {
        const auto share = static_cast<std::size_t>(static_cast<double>(MachineMemoryBytes()) * kReaderKeepShareOfMemory);
        return std::clamp(share, kReaderKeepMinBytes, kReaderKeepMaxBytes);
    }();
    return budget;
}

std::size_t AllReadersKeepBytes() { return 2 * ReaderKeepBytes(); }

std::size_t AheadBudgetBytes() {
    static const std::size_t budget = [] {
        const std::int64_t machine = MachineMemoryBytes();
        if (machine <= 0) return kAheadMaxBytes / 4;
        return std::min(kAheadMaxBytes, static_cast<std::size_t>(static_cast<double>(machine) * kAheadShareOfMemory));
    }();
    return budget;
}

std::size_t IdlePictureBudget() { return ReaderKeepBytes() + AheadBudgetBytes(); }
