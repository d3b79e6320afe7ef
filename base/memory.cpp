#include "base/memory.h"

#include <cstdlib>
#include <cstring>

#include "base/platform.h"

bool alloc_block_raw(size_t size, void** slot) {
  void* p = std::malloc(size ? size : 1);
  if (!p) {
    compact_heap();
    p = std::malloc(size ? size : 1);
  }
  *slot = p;
  return p != nullptr;
}

bool alloc_zeroed_raw(size_t size, void** slot) {
  if (!alloc_block_raw(size, slot)) return false;
  std::memset(*slot, 0, size);
  return true;
}

void free_block_raw(void** slot) {
  if (*slot) {
    std::free(*slot);
    *slot = nullptr;
  }
}

bool grow_block_raw(void** slot, uint32_t used, uint32_t* capacity, uint32_t wanted, uint32_t first) {
  if (wanted <= *capacity) return true;
  uint32_t size = *capacity ? *capacity : first;
  // Doubling stops where it would pass 32 bits.
  while (size < wanted) size = size < 0x80000000u ? size * 2 : wanted;
  void* bytes = nullptr;
  if (!alloc_block_raw(size, &bytes)) return false;
  if (used) std::memcpy(bytes, *slot, used);
  free_block_raw(slot);
  *slot = bytes;
  *capacity = size;
  return true;
}
