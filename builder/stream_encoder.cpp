#include "builder/stream_encoder.h"

#include <libdeflate.h>
#include <zopfli/zopfli.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which the code-length code lengths are listed: deflate's,
// and ours.
const uint8_t kDeflateOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint8_t kStreamOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

const uint32_t kTypeFixed = 5, kTypeDynamic = 6, kTypeStored = 7, kLastBlock = 8;
const unsigned kMaxLitLenCodes = 286, kMaxDistanceCodes = 30;
const size_t kMaxStoredLength = 65535;

inline uint32_t low_mask(unsigned n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1; }

inline uint32_t reverse_bits(uint32_t code, unsigned n) {
  uint32_t r = 0;
  for (unsigned i = 0; i < n; ++i) r |= ((code >> i) & 1u) << (n - 1 - i);
  return r;
}

// Reads a byte range as deflate bits, least significant bit first. Reads
// past the end yield zeros; the caller checks overrun() before trusting what
// it decoded.
struct BitReader {
  const uint8_t* data;
  size_t size;
  uint64_t pos;  // in bits
  uint64_t end;  // in bits

  uint32_t peek(unsigned n) const {  // n <= 32
    size_t byte = static_cast<size_t>(pos >> 3);
    uint64_t v = 0;
    if (byte + 8 <= size) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      memcpy(&v, data + byte, 8);
#else
      for (size_t i = 0; i < 8; ++i) v |= static_cast<uint64_t>(data[byte + i]) << (8 * i);
#endif
    } else if (byte < size) {
      size_t avail = size - byte < 8 ? size - byte : 8;
      for (size_t i = 0; i < avail; ++i) v |= static_cast<uint64_t>(data[byte + i]) << (8 * i);
    }
    return static_cast<uint32_t>(v >> (pos & 7)) & low_mask(n);
  }
  uint32_t take(unsigned n) {
    uint32_t v = peek(n);
    pos += n;
    return v;
  }
  bool overrun() const { return pos > end; }
};

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
  // The bits [from, to) of the source, unchanged, at the current position.
  void copy_bits(const BitReader& source, uint64_t from, uint64_t to) {
    BitReader r = source;
    r.pos = from;
    while (to - r.pos >= 32) put(r.take(32), 32);
    unsigned rest = static_cast<unsigned>(to - r.pos);
    if (rest > 0) put(r.take(rest), rest);
  }
};

enum CodeShape { kCodeEmpty, kCodeComplete, kCodeSingleBit, kCodeIncomplete, kCodeOversubscribed };

// Whether our decoder takes a code of this shape: complete, or the single
// code of length 1 it accepts as complete.
inline bool decoder_accepts(CodeShape shape) { return shape == kCodeComplete || shape == kCodeSingleBit; }

// A decoding table indexed by the next max_length bits; each entry holds
// symbol << 4 | code length, 0 where no code starts.
struct HuffmanTable {
  std::vector<uint16_t> entries;
  unsigned max_length = 0;
};

CodeShape build_table(const uint8_t* lengths, unsigned n, HuffmanTable* table) {
  unsigned count[16] = {0};
  unsigned used = 0;
  for (unsigned i = 0; i < n; ++i) {
    ++count[lengths[i]];
    if (lengths[i]) ++used;
  }
  table->entries.clear();
  table->max_length = 0;
  if (used == 0) return kCodeEmpty;
  unsigned max = 15;
  while (count[max] == 0) --max;
  int left = 1;
  for (unsigned len = 1; len <= 15; ++len) {
    left = left * 2 - static_cast<int>(count[len]);
    if (left < 0) return kCodeOversubscribed;
  }
  CodeShape shape = left == 0 ? kCodeComplete : (used == 1 && max == 1) ? kCodeSingleBit : kCodeIncomplete;

  uint32_t next[16] = {0};
  uint32_t code = 0;
  count[0] = 0;
  for (unsigned len = 1; len <= 15; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  table->max_length = max;
  table->entries.assign(size_t(1) << max, 0);
  for (unsigned sym = 0; sym < n; ++sym) {
    unsigned len = lengths[sym];
    if (!len) continue;
    uint32_t index = reverse_bits(next[len]++, len);
    for (; index < table->entries.size(); index += 1u << len) table->entries[index] = static_cast<uint16_t>(sym << 4 | len);
  }
  return shape;
}

inline bool decode_symbol(BitReader& in, const HuffmanTable& table, unsigned* sym) {
  if (table.max_length == 0) return false;
  uint16_t e = table.entries[in.peek(table.max_length)];
  if (e == 0) return false;
  in.pos += e & 15;
  *sym = e >> 4;
  return true;
}

// The fixed literal/length code: length and code bits in writing order.
inline unsigned fixed_length(unsigned sym) { return sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8; }
inline uint32_t fixed_code(unsigned sym) {
  uint32_t code = sym < 144 ? 0x30 + sym : sym < 256 ? 0x190 + (sym - 144) : sym < 280 ? sym - 256 : 0xC0 + (sym - 280);
  return reverse_bits(code, fixed_length(sym));
}

const HuffmanTable& fixed_litlen_table() {
  static const HuffmanTable table = [] {
    uint8_t lengths[288];
    for (unsigned i = 0; i < 288; ++i) lengths[i] = static_cast<uint8_t>(fixed_length(i));
    HuffmanTable t;
    build_table(lengths, 288, &t);
    return t;
  }();
  return table;
}

const HuffmanTable& fixed_distance_table() {
  static const HuffmanTable table = [] {
    uint8_t lengths[32];
    memset(lengths, 5, sizeof lengths);
    HuffmanTable t;
    build_table(lengths, 32, &t);
    return t;
  }();
  return table;
}

struct Transcoder {
  BitReader in;
  BitWriter out;
  const uint8_t* original;
  size_t original_size;
  size_t produced;  // bytes of the original the blocks so far decode to
  StreamEncodeStats stats;
  // Where the header of the block written last starts in the output, and how
  // many bits past its end-of-block code the decoder may ask for while
  // decoding it (see finish_stream).
  uint64_t header_at;
  uint64_t tail_need;
};

// Bits past `end` that a lookup at `at` of up to `width` bits may ask for.
inline uint64_t reach_past(uint64_t at, unsigned width, uint64_t end) {
  return at + width > end ? at + width - end : 0;
}

// Walks the literal/length/distance data of one block up to and including
// its end-of-block code, checking every literal and match against the
// original. *fixed_bits receives the size of the same data in fixed codes;
// with `rewrite`, the data is written again in fixed codes. *reach receives
// the furthest bit, counted from the end of the block, that a decoder
// looking up as many bits as the longest code of a table may ask for
// (positions in the input, or in the rewritten output).
int walk_codes(Transcoder& t, const HuffmanTable& litlen, const HuffmanTable& distance, BitWriter* rewrite,
               uint64_t* fixed_bits, uint64_t* reach) {
  uint64_t cost = 0;
  unsigned litlen_width = rewrite ? 9 : litlen.max_length;
  unsigned distance_width = rewrite ? 5 : distance.max_length;
  uint64_t furthest = 0;  // absolute
  for (;;) {
    unsigned sym;
    uint64_t at = rewrite ? rewrite->position() : t.in.pos;
    if (!decode_symbol(t.in, litlen, &sym) || t.in.overrun()) return kEncodeBadDeflate;
    // The end-of-block code is exempt: the decoder's tables end exactly at it.
    if (sym != 256) furthest = std::max(furthest, at + litlen_width);
    if (sym < 256) {
      if (t.produced >= t.original_size || t.original[t.produced] != sym) return kEncodeBadDeflate;
      ++t.produced;
      cost += fixed_length(sym);
      if (rewrite) rewrite->put(fixed_code(sym), fixed_length(sym));
      continue;
    }
    if (sym == 256) {
      cost += fixed_length(sym);
      if (rewrite) rewrite->put(fixed_code(sym), fixed_length(sym));
      *fixed_bits = cost;
      uint64_t end = rewrite ? rewrite->position() : t.in.pos;
      *reach = furthest > end ? furthest - end : 0;
      return kEncodeOk;
    }
    if (sym > 285) return kEncodeBadDeflate;
    unsigned length_extra = kLengthExtra[sym - 257];
    uint32_t length_bits = t.in.take(length_extra);
    size_t length = kLengthBase[sym - 257] + length_bits;
    unsigned dsym;
    uint64_t distance_at = rewrite ? rewrite->position() + fixed_length(sym) + length_extra : t.in.pos;
    furthest = std::max(furthest, distance_at + distance_width);
    if (!decode_symbol(t.in, distance, &dsym) || dsym >= 30) return kEncodeBadDeflate;
    unsigned distance_extra = kDistanceExtra[dsym];
    uint32_t distance_bits = t.in.take(distance_extra);
    size_t dist = kDistanceBase[dsym] + distance_bits;
    if (t.in.overrun() || dist > t.produced || length > t.original_size - t.produced) return kEncodeBadDeflate;
    // out[p + i] = out[p + i - dist] for every i holds exactly when the
    // original agrees with itself shifted by dist over the whole length.
    if (memcmp(t.original + t.produced, t.original + t.produced - dist, length) != 0) return kEncodeBadDeflate;
    t.produced += length;
    cost += fixed_length(sym) + length_extra + 5 + distance_extra;
    if (rewrite) {
      rewrite->put(fixed_code(sym), fixed_length(sym));
      rewrite->put(length_bits, length_extra);
      rewrite->put(reverse_bits(dsym, 5), 5);
      rewrite->put(distance_bits, distance_extra);
    }
  }
}

void write_stored(Transcoder& t, const uint8_t* data, size_t size, uint32_t last) {
  do {
    size_t piece = size < kMaxStoredLength ? size : kMaxStoredLength;
    size -= piece;
    t.header_at = t.out.position();
    t.tail_need = 0;
    t.out.put(kTypeStored | (size == 0 ? last : 0), 4);
    t.out.align();
    t.out.put(static_cast<uint32_t>(piece), 16);
    t.out.put_bytes(data, piece);
    data += piece;
    ++t.stats.stored_blocks;
  } while (size > 0);
}

int copy_stored(Transcoder& t, uint32_t last) {
  t.in.pos = (t.in.pos + 7) & ~uint64_t(7);
  if (t.in.pos + 32 > t.in.end) return kEncodeBadDeflate;
  uint32_t len = t.in.take(16);
  uint32_t nlen = t.in.take(16);
  if ((len ^ nlen) != 0xFFFF) return kEncodeBadDeflate;
  size_t byte = static_cast<size_t>(t.in.pos >> 3);
  if (len > t.in.size - byte || len > t.original_size - t.produced) return kEncodeBadDeflate;
  if (memcmp(t.in.data + byte, t.original + t.produced, len) != 0) return kEncodeBadDeflate;
  write_stored(t, t.in.data + byte, len, last);
  t.in.pos += uint64_t(len) * 8;
  t.produced += len;
  return kEncodeOk;
}

int copy_fixed(Transcoder& t, uint32_t last) {
  uint64_t start = t.in.pos;
  uint64_t fixed_bits;
  int r = walk_codes(t, fixed_litlen_table(), fixed_distance_table(), nullptr, &fixed_bits, &t.tail_need);
  if (r) return r;
  t.header_at = t.out.position();
  t.out.put(kTypeFixed | last, 4);
  t.out.copy_bits(t.in, start, t.in.pos);
  ++t.stats.fixed_blocks;
  return kEncodeOk;
}

// A block our decoder would refuse, written again from the same symbols in
// fixed codes, or stored when that is smaller.
void rewrite_block(Transcoder& t, const HuffmanTable& litlen, const HuffmanTable& distance, uint64_t data_start,
                   size_t produced_start, uint64_t fixed_bits, uint32_t last) {
  size_t size = t.produced - produced_start;
  uint64_t pieces = size == 0 ? 1 : (size + kMaxStoredLength - 1) / kMaxStoredLength;
  uint64_t stored_bits = pieces * (4 + 7 + 16) + uint64_t(size) * 8;
  ++t.stats.rewritten_blocks;
  if (4 + fixed_bits <= stored_bits) {
    uint64_t data_end = t.in.pos;
    t.in.pos = data_start;
    t.produced = produced_start;
    t.header_at = t.out.position();
    t.out.put(kTypeFixed | last, 4);
    // The same walk succeeded a moment ago.
    walk_codes(t, litlen, distance, &t.out, &fixed_bits, &t.tail_need);
    t.in.pos = data_end;
    ++t.stats.fixed_blocks;
  } else {
    write_stored(t, t.original + produced_start, size, last);
  }
}

int copy_dynamic(Transcoder& t, uint32_t last) {
  unsigned hlit = t.in.take(5) + 257;
  unsigned hdist = t.in.take(5) + 1;
  unsigned hclen = t.in.take(4) + 4;
  uint8_t clc_lengths[19] = {0};
  for (unsigned i = 0; i < hclen; ++i) clc_lengths[kDeflateOrder[i]] = static_cast<uint8_t>(t.in.take(3));
  HuffmanTable clc;
  CodeShape clc_shape = build_table(clc_lengths, 19, &clc);
  if (clc_shape == kCodeOversubscribed || clc_shape == kCodeEmpty) return kEncodeBadDeflate;

  uint64_t lengths_start = t.in.pos;
  uint64_t clc_furthest = 0;
  uint8_t lengths[288 + 32];
  unsigned total = hlit + hdist;
  unsigned i = 0;
  while (i < total) {
    unsigned sym;
    clc_furthest = std::max(clc_furthest, t.in.pos + clc.max_length);
    if (!decode_symbol(t.in, clc, &sym) || t.in.overrun()) return kEncodeBadDeflate;
    if (sym < 16) {
      lengths[i++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint8_t value = 0;
    unsigned count;
    if (sym == 16) {
      if (i == 0) return kEncodeBadDeflate;
      value = lengths[i - 1];
      count = 3 + t.in.take(2);
    } else if (sym == 17) {
      count = 3 + t.in.take(3);
    } else {
      count = 11 + t.in.take(7);
    }
    if (count > total - i) return kEncodeBadDeflate;
    memset(lengths + i, value, count);
    i += count;
  }

  HuffmanTable litlen, distance;
  CodeShape litlen_shape = build_table(lengths, hlit, &litlen);
  CodeShape distance_shape = build_table(lengths + hlit, hdist, &distance);
  if (litlen_shape == kCodeOversubscribed || distance_shape == kCodeOversubscribed) return kEncodeBadDeflate;
  uint64_t data_start = t.in.pos;
  size_t produced_start = t.produced;
  uint64_t fixed_bits, data_reach;
  int r = walk_codes(t, litlen, distance, nullptr, &fixed_bits, &data_reach);
  if (r) return r;

  bool accepted = hlit <= kMaxLitLenCodes && hdist <= kMaxDistanceCodes && decoder_accepts(clc_shape) &&
                  decoder_accepts(litlen_shape) && (distance_shape == kCodeEmpty || decoder_accepts(distance_shape));
  if (!accepted) {
    rewrite_block(t, litlen, distance, data_start, produced_start, fixed_bits, last);
    return kEncodeOk;
  }
  t.tail_need = std::max(data_reach, reach_past(clc_furthest, 0, t.in.pos));
  unsigned listed = 19;
  while (listed > 4 && clc_lengths[kStreamOrder[listed - 1]] == 0) --listed;
  t.header_at = t.out.position();
  t.out.put(kTypeDynamic | last, 4);
  t.out.put(hlit - 257, 5);
  t.out.put(hdist - 1, 5);
  t.out.put(listed - 4, 4);
  for (unsigned k = 0; k < listed; ++k) t.out.put(clc_lengths[kStreamOrder[k]], 3);
  t.out.copy_bits(t.in, lengths_start, t.in.pos);
  ++t.stats.dynamic_blocks;
  return kEncodeOk;
}

int transcode_blocks(Transcoder& t) {
  for (;;) {
    uint32_t final_block = t.in.take(1);
    uint32_t type = t.in.take(2);
    uint32_t last = final_block ? kLastBlock : 0;
    int r = type == 0 ? copy_stored(t, last)
            : type == 1 ? copy_fixed(t, last)
            : type == 2 ? copy_dynamic(t, last)
                        : static_cast<int>(kEncodeBadDeflate);
    if (r) return r;
    if (t.in.overrun()) return kEncodeBadDeflate;
    if (final_block) break;
  }
  // A decoder looks up as many bits as its tables are wide before it knows
  // how long a code is; only the end-of-block code is built not to
  // overreach. Should a lookup in the final block reach past the byte that
  // holds its last bit, a decoder that gives back only its unread input
  // buffer (not whole bytes left in its bit buffer) would keep the byte
  // behind the stream. An empty stored block then ends the stream instead:
  // it is read with exact bit counts only.
  if (t.tail_need > (8 - t.out.count) % 8) {
    t.out.clear_bit(t.header_at + 3);
    write_stored(t, t.original, 0, kLastBlock);
    ++t.stats.closing_blocks;
  }
  // The deflate stream must end in its last byte and reproduce all of the
  // original.
  if ((t.in.pos + 7) / 8 != t.in.size || t.produced != t.original_size) return kEncodeBadDeflate;
  t.out.align();
  return kEncodeOk;
}

int deflate_with_libdeflate(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* deflate) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  if (!compressor) return kEncodeNoMemory;
  deflate->resize(libdeflate_deflate_compress_bound(compressor, size));
  size_t n = libdeflate_deflate_compress(compressor, data, size, deflate->data(), deflate->size());
  libdeflate_free_compressor(compressor);
  // The buffer holds the worst case, so 0 cannot mean "too small".
  if (n == 0) return kEncodeNoMemory;
  deflate->resize(n);
  return kEncodeOk;
}

}  // namespace

int transcode_deflate(const uint8_t* deflate, size_t deflate_size, const uint8_t* original, size_t original_size,
                      std::vector<uint8_t>* out, StreamEncodeStats* stats) {
  size_t out_start = out->size();
  Transcoder t{BitReader{deflate, deflate_size, 0, uint64_t(deflate_size) * 8}, BitWriter{out}, original,
               original_size, 0, StreamEncodeStats{}, 0, 0};
  int r = transcode_blocks(t);
  if (r) {
    out->resize(out_start);
    return r;
  }
  if (stats) *stats = t.stats;
  return kEncodeOk;
}

int encode_stream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out, StreamEncodeStats* stats) {
  if (level < kStreamLevelMin || level > kStreamLevelMax) return kEncodeBadLevel;
  static const uint8_t kNothing = 0;
  if (size == 0) data = &kNothing;
  std::vector<uint8_t> deflate;
  int r = deflate_with_libdeflate(data, size, level == kStreamLevelMax ? kStreamLevelDefault : level, &deflate);
  if (r) return r;
  if (level != kStreamLevelMax) return transcode_deflate(deflate.data(), deflate.size(), data, size, out, stats);

  // Zopfli usually wins, but not on every input: keep the smaller stream.
  std::vector<uint8_t> best;
  StreamEncodeStats best_stats;
  r = transcode_deflate(deflate.data(), deflate.size(), data, size, &best, &best_stats);
  if (r) return r;
  ZopfliOptions options;
  ZopfliInitOptions(&options);
  unsigned char* zopfli = nullptr;
  size_t zopfli_size = 0;
  ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, data, size, &zopfli, &zopfli_size);
  std::vector<uint8_t> other;
  StreamEncodeStats other_stats;
  r = zopfli ? transcode_deflate(zopfli, zopfli_size, data, size, &other, &other_stats) : kEncodeNoMemory;
  free(zopfli);
  if (r) return r;
  if (other.size() < best.size()) {
    best.swap(other);
    best_stats = other_stats;
  }
  out->insert(out->end(), best.begin(), best.end());
  if (stats) *stats = best_stats;
  return kEncodeOk;
}
