// Heap allocation into pointer slots, with one retry after compacting the heap.
#pragma once
#include <cstddef>

bool alloc_block_raw(size_t size, void** slot);
bool alloc_zeroed_raw(size_t size, void** slot);
void free_block_raw(void** slot);

template <typename T>
bool alloc_block(size_t size, T** slot) { return alloc_block_raw(size, reinterpret_cast<void**>(slot)); }
template <typename T>
bool alloc_zeroed(size_t size, T** slot) { return alloc_zeroed_raw(size, reinterpret_cast<void**>(slot)); }
template <typename T>
void free_block(T** slot) { free_block_raw(reinterpret_cast<void**>(slot)); }
