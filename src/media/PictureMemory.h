// Memory for decoded and converted pictures. Frames are large and come and
// go all the time; fresh pages cost a fault each on first touch, which on some
// machines dwarfs decoding. Blocks are carved from slabs, freed blocks are
// reused, and fresh memory is faulted in ahead on a thread of its own: the
// next big block's, or a few megabytes ahead of small ones. That thread
// first measures whether fresh memory costs less in huge pages or in
// ordinary ones, and slabs mapped after that take the cheaper kind.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A block of at least `bytes` bytes, 64-byte aligned; null when none can be had.
void* AllocatePictureBlock(std::size_t bytes);
// Returns a block from AllocatePictureBlock with the same `bytes`.
void FreePictureBlock(void* block, std::size_t bytes);

// Bytes of freed blocks that still hold their pages, at most IdlePictureBudget().
std::size_t IdlePictureBytes();

// A shared byte array in picture memory.
std::shared_ptr<std::uint8_t[]> MakePictureBuffer(std::size_t bytes);
