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
