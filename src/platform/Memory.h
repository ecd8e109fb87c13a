// Block copy and machine facts used by the bitmap and clip subsystems.
#pragma once

#include <cstddef>
#include <cstdint>

void RtlMoveMemory(void* destination, const void* source, std::size_t length);
// Physical memory of the machine in bytes (0 when it cannot be read).
std::int64_t PhysicalMemoryBytes();
