// Block copy and machine facts used by the bitmap and clip subsystems.
#pragma once

#include <cstddef>
#include <cstdint>

void RtlMoveMemory(void* destination, const void* source, std::size_t length);
// Physical memory of the machine in bytes (0 when it cannot be read).
std::int64_t PhysicalMemoryBytes();
// Frames are large and come and go all the time: freed blocks stay with the
// process for the next frame instead of going back to the system, whose fresh
// pages cost a fault each on first touch. Idempotent.
void KeepFreedMemoryForReuse();
