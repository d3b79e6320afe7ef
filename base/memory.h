// Heap allocation into pointer slots, with one retry after compacting the heap.
#pragma once
#include <cstddef>
#include <cstdint>

bool alloc_block_raw(size_t size, void** slot);
bool alloc_zeroed_raw(size_t size, void** slot);
void free_block_raw(void** slot);
// Room for `wanted` bytes in the block in *slot of *capacity bytes, `used`
// of which are kept: the capacity doubles, from `first` for a block not yet
// there. False without the memory; the block stays as it was.
bool grow_block_raw(void** slot, uint32_t used, uint32_t* capacity, uint32_t wanted, uint32_t first);

template <typename T>
bool alloc_block(size_t size, T** slot) { return alloc_block_raw(size, reinterpret_cast<void**>(slot)); }
template <typename T>
bool alloc_zeroed(size_t size, T** slot) { return alloc_zeroed_raw(size, reinterpret_cast<void**>(slot)); }
template <typename T>
void free_block(T** slot) { free_block_raw(reinterpret_cast<void**>(slot)); }
template <typename T>
bool grow_block(T** slot, uint32_t used, uint32_t* capacity, uint32_t wanted, uint32_t first) {
  return grow_block_raw(reinterpret_cast<void**>(slot), used, capacity, wanted, first);
}
