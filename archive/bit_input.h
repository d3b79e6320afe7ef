// The bit input of a stream: a 64-bit buffer of bits fetched from the input
// reader and not yet used, the next bit in bit 0. At the end of the input
// zero bytes are put behind it so that table lookups can go on; consuming
// one of their bits means the input ran out.
#pragma once
#include <cstdint>
#include <cstring>

#include "archive/input_reader.h"

struct BitInput {
  InputReader input;
  uint64_t buffer = 0;
  uint32_t count = 0;    // valid bits in buffer, padding included
  uint32_t padding = 0;  // zero bits behind the end of the input
};

// Eight bytes as a little-endian word.
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

inline uint32_t low_bits(uint64_t buffer, uint32_t n) { return static_cast<uint32_t>(buffer) & ((1u << n) - 1); }

inline void reset_bits(BitInput& b) {
  b.buffer = 0;
  b.count = b.padding = 0;
}

// The rest of need_bits: a byte at a time near the end of the input
// buffer, and padding behind the end of the input.
bool need_bits_slow(BitInput& b, uint32_t n);

// Makes at least n (<= 56) bits available. False: a data-area read failed
// and the stream is abandoned.
inline bool need_bits(BitInput& b, uint32_t n) {
  if (b.count >= n) return true;
  if (b.input.available < 8 || b.padding) return need_bits_slow(b, n);
  // Whole bytes only; the bits above them repeat the next input bytes and
  // are ORed in again unchanged.
  b.buffer |= load_le64(b.input.next) << b.count;
  uint32_t taken = (63 - b.count) >> 3;
  b.input.next += taken;
  b.input.available -= taken;
  b.count |= 56;
  return true;
}

inline bool ran_out(const BitInput& b) { return b.count < b.padding; }

inline void drop_bits(BitInput& b, uint32_t n) {
  b.buffer >>= n;
  b.count -= n;
}

// False when the input ended first or was abandoned.
inline bool take_bits(BitInput& b, uint32_t n, uint32_t* value) {
  if (!need_bits(b, n)) return false;
  *value = low_bits(b.buffer, n);
  drop_bits(b, n);
  return !ran_out(b);
}

// Hands the whole bytes that the buffer holds unused back to the input
// reader, so that end_input gives them back to the file. The reader's read
// pointer is not used again.
inline void give_back_bits(BitInput& b) {
  uint32_t real = b.count > b.padding ? b.count - b.padding : 0;
  b.input.available += real >> 3;
  reset_bits(b);
}
