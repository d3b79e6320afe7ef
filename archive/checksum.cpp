#include "archive/checksum.h"

#include "archive/format.h"
#include "base/memory.h"

static inline uint32_t rotate_left(uint32_t value) { return (value << 1) | (value >> 31); }

uint32_t checksum_block(const uint8_t* data, uint32_t length, uint32_t seed) {
  uint32_t value = seed;
  uint32_t words = length / 4;
  for (uint32_t i = 0; i < words; ++i) value = rotate_left(value) + get_u32(data + 4 * i);
  for (uint32_t i = words * 4; i < length; ++i) value = rotate_left(value) + data[i];
  return value;
}

uint32_t checksum_file(FileHandle file) {
  enum : uint32_t { kChunk = 16384 };  // a multiple of 4, so chunks join seamlessly
  uint32_t length = file_length(file);
  uint32_t value = 0;
  uint8_t* buffer = nullptr;
  if (!alloc_zeroed(kChunk, &buffer)) return 0;
  while (length > 0) {
    uint32_t chunk = length < kChunk ? length : kChunk;
    // A failed read is not reported: the zeroed or stale bytes give a sum
    // that the caller's comparison with the stored one rejects.
    read_exact(file, buffer, chunk);
    value = checksum_block(buffer, chunk, value);
    length -= chunk;
  }
  free_block(&buffer);
  return value;
}
