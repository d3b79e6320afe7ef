#include "archive/bit_input.h"

bool need_bits_slow(BitInput& b, uint32_t n) {
  while (b.count < n) {
    uint8_t byte;
    // Once the input has ended nothing more is fetched, so that padding is
    // never followed by real bytes.
    if (b.padding == 0 && fetch_byte(b.input, &byte)) {
      b.buffer |= static_cast<uint64_t>(byte) << b.count;
    } else {
      if (b.input.failed) return false;
      // Bits above the count may repeat input bytes read ahead; the padding
      // must be zeros.
      b.buffer &= (static_cast<uint64_t>(1) << b.count) - 1;
      b.padding += 8;
    }
    b.count += 8;
  }
  return true;
}
