// The symbols that deflate and our stream format share: the length and
// distance alphabets, the fixed literal/length code, the two orders in
// which a dynamic block lists its code-length code lengths, and a writer of
// bits least significant first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

inline const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                           33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which the code-length code lengths are listed: deflate's,
// and ours.
inline const uint8_t kDeflateOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
inline const uint8_t kStreamOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// Block types of our format and the last-block bit of its 4-bit header.
enum : uint32_t { kTypeFixed = 5, kTypeDynamic = 6, kTypeStored = 7, kLastBlock = 8 };
enum : size_t { kMaxStoredLength = 65535 };

inline uint32_t low_mask(unsigned n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1; }

inline uint32_t reverse_bits(uint32_t code, unsigned n) {
  uint32_t r = 0;
  for (unsigned i = 0; i < n; ++i) r |= ((code >> i) & 1u) << (n - 1 - i);
  return r;
}

// The symbol (0..28, for 257 + symbol) of a match length 3..258, and of a
// distance 1..32768 (0..29).
inline unsigned length_symbol(unsigned length) {
  unsigned s = 28;
  while (kLengthBase[s] > length) --s;
  return s;
}
inline unsigned distance_symbol(unsigned distance) {
  unsigned s = 29;
  while (kDistanceBase[s] > distance) --s;
  return s;
}

// The fixed literal/length code: length and code bits in writing order.
inline unsigned fixed_length(unsigned sym) { return sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8; }
inline uint32_t fixed_code(unsigned sym) {
  uint32_t code = sym < 144 ? 0x30 + sym : sym < 256 ? 0x190 + (sym - 144) : sym < 280 ? sym - 256 : 0xC0 + (sym - 280);
  return reverse_bits(code, fixed_length(sym));
}

struct BitWriter {
  std::vector<uint8_t>* out;
  uint64_t acc = 0;
  unsigned count = 0;

  void put(uint32_t bits, unsigned n) {  // n <= 32
    acc |= static_cast<uint64_t>(bits & low_mask(n)) << count;
    count += n;
    while (count >= 8) {
      out->push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      count -= 8;
    }
  }
  void align() {
    if (count > 0) out->push_back(static_cast<uint8_t>(acc));
    acc = 0;
    count = 0;
  }
  void put_bytes(const uint8_t* p, size_t n) { out->insert(out->end(), p, p + n); }
  uint64_t position() const { return uint64_t(out->size()) * 8 + count; }
  void clear_bit(uint64_t at) {
    uint64_t flushed = uint64_t(out->size()) * 8;
    if (at >= flushed)
      acc &= ~(uint64_t(1) << (at - flushed));
    else
      (*out)[at / 8] &= static_cast<uint8_t>(~(1u << (at % 8)));
  }
};
