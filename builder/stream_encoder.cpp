#include "builder/stream_encoder.h"

#include <libdeflate.h>
#include <zlib.h>
#include <zopfli/zopfli.h>

extern "C" {
#include <zopfli/deflate.h>
#include <zopfli/hash.h>
#include <zopfli/lz77.h>
}

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "builder/deflate_symbols.h"
#include "builder/token_block.h"

namespace {

const unsigned kMaxLitLenCodes = 286, kMaxDistanceCodes = 30;

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

// The bits [from, to) of the source, unchanged, at the writer's position.
void copy_bits(BitWriter& out, const BitReader& source, uint64_t from, uint64_t to) {
  BitReader r = source;
  r.pos = from;
  // Whole 32-bit pieces go straight into the output's bytes behind the
  // fewer than 8 bits the writer holds between puts.
  std::vector<uint8_t>& bytes = *out.out;
  size_t pieces = static_cast<size_t>((to - from) / 32), at = bytes.size();
  bytes.resize(at + pieces * 4);
  for (size_t k = 0; k < pieces; ++k, at += 4) {
    uint64_t v = out.acc | uint64_t(r.take(32)) << out.count;
    for (unsigned i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    out.acc = v >> 32;
  }
  unsigned rest = static_cast<unsigned>(to - r.pos);
  if (rest > 0) out.put(r.take(rest), rest);
}

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
  const uint8_t* original;  // what the deflate stream decodes to
  size_t original_size;
  size_t produced = 0;  // bytes of the original the blocks so far decode to
  TranscodeOptions options;
  StreamEncodeStats stats;
  // Where the header of the block written last starts in the output, and how
  // many bits past its end-of-block code the decoder may ask for while
  // decoding it (see transcode_blocks).
  uint64_t header_at = 0;
  uint64_t tail_need = 0;
};

// Bits past `end` that a lookup at `at` of up to `width` bits may ask for.
inline uint64_t reach_past(uint64_t at, unsigned width, uint64_t end) {
  return at + width > end ? at + width - end : 0;
}

// Walks the literal/length/distance data of one block up to and including
// its end-of-block code, checking every literal and match against the
// original. With `fixed_bits`, it receives the size of the same data in
// fixed codes; with `rewrite`, the data is written again in fixed codes.
// *reach receives the furthest bit, counted from the end of the block, that
// a decoder looking up as many bits as the longest code of a table may ask
// for (positions in the input, or in the rewritten output). With `tokens`,
// the literals and matches are collected there.
int walk_codes(Transcoder& t, const HuffmanTable& litlen, const HuffmanTable& distance, BitWriter* rewrite,
               uint64_t* fixed_bits, uint64_t* reach, std::vector<Token>* tokens = nullptr) {
  // The reader, the count and the cost stay in registers during the walk,
  // one symbol after another depending on them.
  BitReader in = t.in;
  size_t produced = t.produced;
  uint64_t cost = 0;
  auto done = [&](int r) {
    t.in.pos = in.pos;
    t.produced = produced;
    return r;
  };
  unsigned litlen_width = rewrite ? 9 : litlen.max_length;
  unsigned distance_width = rewrite ? 5 : distance.max_length;
  uint64_t furthest = 0;  // absolute
  for (;;) {
    unsigned sym;
    uint64_t at = rewrite ? rewrite->position() : in.pos;
    if (!decode_symbol(in, litlen, &sym) || in.overrun()) return done(kEncodeBadDeflate);
    // The end-of-block code is exempt: the decoder's tables end exactly at it.
    if (sym != 256) furthest = std::max(furthest, at + litlen_width);
    if (sym < 256) {
      if (produced >= t.original_size || t.original[produced] != sym) return done(kEncodeBadDeflate);
      ++produced;
      if (tokens) tokens->push_back({0, static_cast<uint16_t>(sym)});
      if (fixed_bits) cost += fixed_length(sym);
      if (rewrite) rewrite->put(fixed_code(sym), fixed_length(sym));
      continue;
    }
    if (sym == 256) {
      if (rewrite) rewrite->put(fixed_code(sym), fixed_length(sym));
      if (fixed_bits) *fixed_bits = cost + fixed_length(sym);
      uint64_t end = rewrite ? rewrite->position() : in.pos;
      *reach = furthest > end ? furthest - end : 0;
      return done(kEncodeOk);
    }
    if (sym > 285) return done(kEncodeBadDeflate);
    unsigned length_extra = kLengthExtra[sym - 257];
    uint32_t length_bits = in.take(length_extra);
    size_t length = kLengthBase[sym - 257] + length_bits;
    unsigned dsym;
    uint64_t distance_at = rewrite ? rewrite->position() + fixed_length(sym) + length_extra : in.pos;
    furthest = std::max(furthest, distance_at + distance_width);
    if (!decode_symbol(in, distance, &dsym) || dsym >= 30) return done(kEncodeBadDeflate);
    unsigned distance_extra = kDistanceExtra[dsym];
    uint32_t distance_bits = in.take(distance_extra);
    size_t dist = kDistanceBase[dsym] + distance_bits;
    if (in.overrun() || dist > produced + t.options.history || length > t.original_size - produced)
      return done(kEncodeBadDeflate);
    // out[p + i] = out[p + i - dist] for every i holds exactly when the
    // original agrees with itself shifted by dist over the whole length.
    if (memcmp(t.original + produced, t.original + produced - dist, length) != 0) return done(kEncodeBadDeflate);
    produced += length;
    if (tokens) tokens->push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(dist)});
    if (fixed_bits) cost += fixed_length(sym) + length_extra + 5 + distance_extra;
    if (rewrite) {
      rewrite->put(fixed_code(sym), fixed_length(sym));
      rewrite->put(length_bits, length_extra);
      rewrite->put(reverse_bits(dsym, 5), 5);
      rewrite->put(distance_bits, distance_extra);
    }
  }
}

// Notes a written block for the closing check and the counts.
void note_block(Transcoder& t, const WrittenBlock& block) {
  t.header_at = block.header_at;
  t.tail_need = block.tail_need;
  if (block.type == kTypeStored) t.stats.stored_blocks += block.stored_pieces;
  if (block.type == kTypeFixed) ++t.stats.fixed_blocks;
  if (block.type == kTypeDynamic) ++t.stats.dynamic_blocks;
}

void write_stored(Transcoder& t, const uint8_t* data, size_t size, uint32_t last) {
  WrittenBlock block;
  write_stored_blocks(t.out, data, size, last, &block);
  note_block(t, block);
}

// Reads a stored block's header and checks its bytes; *bytes receives
// where they are in the input.
int read_stored(Transcoder& t, const uint8_t** bytes, uint32_t* length) {
  t.in.pos = (t.in.pos + 7) & ~uint64_t(7);
  if (t.in.pos + 32 > t.in.end) return kEncodeBadDeflate;
  uint32_t len = t.in.take(16);
  uint32_t nlen = t.in.take(16);
  if ((len ^ nlen) != 0xFFFF) return kEncodeBadDeflate;
  size_t byte = static_cast<size_t>(t.in.pos >> 3);
  if (len > t.in.size - byte || len > t.original_size - t.produced) return kEncodeBadDeflate;
  if (memcmp(t.in.data + byte, t.original + t.produced, len) != 0) return kEncodeBadDeflate;
  *bytes = t.in.data + byte;
  *length = len;
  t.in.pos += uint64_t(len) * 8;
  t.produced += len;
  return kEncodeOk;
}

int copy_stored(Transcoder& t, uint32_t last) {
  const uint8_t* bytes;
  uint32_t len;
  int r = read_stored(t, &bytes, &len);
  if (r == kEncodeOk) write_stored(t, bytes, len, last);
  return r;
}

int copy_fixed(Transcoder& t, uint32_t last) {
  uint64_t start = t.in.pos;
  int r = walk_codes(t, fixed_litlen_table(), fixed_distance_table(), nullptr, nullptr, &t.tail_need);
  if (r) return r;
  t.header_at = t.out.position();
  t.out.put(kTypeFixed | last, 4);
  copy_bits(t.out, t.in, start, t.in.pos);
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
    walk_codes(t, litlen, distance, &t.out, nullptr, &t.tail_need);
    t.in.pos = data_end;
    ++t.stats.fixed_blocks;
  } else {
    write_stored(t, t.original + produced_start, size, last);
  }
}

// The code tables of a dynamic deflate block and where its code lengths
// lie in the input.
struct DynamicHeader {
  unsigned hlit, hdist;
  uint8_t clc_lengths[19];
  CodeShape clc_shape, litlen_shape, distance_shape;
  HuffmanTable litlen, distance;
  uint64_t lengths_start;
  uint64_t clc_furthest;  // the furthest bit a code-length lookup may ask for
};

int read_dynamic_header(Transcoder& t, DynamicHeader* h) {
  unsigned hlit = t.in.take(5) + 257;
  unsigned hdist = t.in.take(5) + 1;
  unsigned hclen = t.in.take(4) + 4;
  uint8_t* clc_lengths = h->clc_lengths;
  std::fill(clc_lengths, clc_lengths + 19, 0);
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

  h->hlit = hlit;
  h->hdist = hdist;
  h->clc_shape = clc_shape;
  h->litlen_shape = build_table(lengths, hlit, &h->litlen);
  h->distance_shape = build_table(lengths + hlit, hdist, &h->distance);
  if (h->litlen_shape == kCodeOversubscribed || h->distance_shape == kCodeOversubscribed) return kEncodeBadDeflate;
  h->lengths_start = lengths_start;
  h->clc_furthest = clc_furthest;
  return kEncodeOk;
}

int copy_dynamic(Transcoder& t, uint32_t last) {
  DynamicHeader h;
  int r = read_dynamic_header(t, &h);
  if (r) return r;
  const HuffmanTable& litlen = h.litlen;
  const HuffmanTable& distance = h.distance;
  uint64_t data_start = t.in.pos;
  size_t produced_start = t.produced;
  bool accepted = h.hlit <= kMaxLitLenCodes && h.hdist <= kMaxDistanceCodes && decoder_accepts(h.clc_shape) &&
                  decoder_accepts(h.litlen_shape) &&
                  (h.distance_shape == kCodeEmpty || decoder_accepts(h.distance_shape));
  // Only a block to be written again needs its size in fixed codes.
  uint64_t fixed_bits = 0, data_reach;
  r = walk_codes(t, litlen, distance, nullptr, accepted ? nullptr : &fixed_bits, &data_reach);
  if (r) return r;
  if (!accepted) {
    rewrite_block(t, litlen, distance, data_start, produced_start, fixed_bits, last);
    return kEncodeOk;
  }
  t.tail_need = std::max(data_reach, reach_past(h.clc_furthest, 0, t.in.pos));
  unsigned listed = 19;
  while (listed > 4 && h.clc_lengths[kStreamOrder[listed - 1]] == 0) --listed;
  t.header_at = t.out.position();
  t.out.put(kTypeDynamic | last, 4);
  t.out.put(h.hlit - 257, 5);
  t.out.put(h.hdist - 1, 5);
  t.out.put(listed - 4, 4);
  for (unsigned k = 0; k < listed; ++k) t.out.put(h.clc_lengths[kStreamOrder[k]], 3);
  copy_bits(t.out, t.in, h.lengths_start, t.in.pos);
  ++t.stats.dynamic_blocks;
  return kEncodeOk;
}

// A block that starts within the window the deflate stream was primed
// with: checked like every block, but only what it makes from the window's
// end on is written, as a block of its own with codes for that part.
int cut_block(Transcoder& t, uint32_t type, uint32_t last) {
  size_t start = t.produced;
  std::vector<Token> tokens;
  int r = kEncodeBadDeflate;
  uint64_t reach;
  if (type == 0) {
    const uint8_t* bytes;
    uint32_t len;
    r = read_stored(t, &bytes, &len);
    for (uint32_t i = 0; r == kEncodeOk && i < len; ++i) tokens.push_back({0, bytes[i]});
  } else if (type == 1) {
    r = walk_codes(t, fixed_litlen_table(), fixed_distance_table(), nullptr, nullptr, &reach, &tokens);
  } else if (type == 2) {
    DynamicHeader h;
    r = read_dynamic_header(t, &h);
    if (r == kEncodeOk) r = walk_codes(t, h.litlen, h.distance, nullptr, nullptr, &reach, &tokens);
  }
  if (r) return r;
  size_t skip = t.options.skip;
  if (t.produced <= skip) return kEncodeOk;
  std::vector<Token> kept;
  size_t at = start;
  for (const Token& token : tokens) {
    size_t length = token.length ? token.length : 1;
    if (at >= skip) {
      kept.push_back(token);
    } else if (at + length > skip) {
      // A match across the window's end keeps its distance; a rest too
      // short for a match becomes literals.
      size_t rest = at + length - skip;
      if (rest >= 3)
        kept.push_back({static_cast<uint16_t>(rest), token.value});
      else
        for (size_t i = 0; i < rest; ++i) kept.push_back({0, t.original[skip + i]});
    }
    at += length;
  }
  note_block(t, write_token_block(t.out, kept, t.original + skip, t.produced - skip, last));
  ++t.stats.cut_blocks;
  return kEncodeOk;
}

int transcode_blocks(Transcoder& t) {
  for (;;) {
    uint32_t final_block = t.in.take(1);
    uint32_t type = t.in.take(2);
    uint32_t last = final_block && !t.options.more_follows ? static_cast<uint32_t>(kLastBlock) : 0;
    int r = t.produced < t.options.skip ? cut_block(t, type, last)
            : type == 0                 ? copy_stored(t, last)
            : type == 1                 ? copy_fixed(t, last)
            : type == 2                 ? copy_dynamic(t, last)
                                        : static_cast<int>(kEncodeBadDeflate);
    if (r) return r;
    if (t.in.overrun()) return kEncodeBadDeflate;
    if (final_block) break;
  }
  if (t.options.more_follows) {
    // An empty stored block ends the part on a byte boundary, where the
    // next part's first block header starts.
    write_stored(t, t.original, 0, 0);
    if ((t.in.pos + 7) / 8 != t.in.size || t.produced != t.original_size) return kEncodeBadDeflate;
    return kEncodeOk;
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

// zlib's lazy parse of data[0..size), primed with the `window` bytes
// before it, as raw deflate.
int deflate_with_zlib(const uint8_t* data, size_t window, size_t size, std::vector<uint8_t>* deflate) {
  z_stream z{};
  // Level 6 with the larger symbol buffer: on the parts it is chosen for,
  // level 9's longer hash chains cost 40 % more time for 0.08 %, and the
  // larger buffer lets blocks follow a mix of incompressible and repetitive
  // stretches more closely.
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return kEncodeNoMemory;
  int r = window ? deflateSetDictionary(&z, data - window, static_cast<uInt>(window)) : Z_OK;
  if (r == Z_OK) {
    deflate->resize(deflateBound(&z, static_cast<uLong>(size)));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = deflate->data();
    z.avail_out = static_cast<uInt>(deflate->size());
    r = ::deflate(&z, Z_FINISH);
    deflate->resize(z.total_out);
  }
  deflateEnd(&z);
  // The buffer holds deflateBound, so anything but the end means memory.
  return r == Z_STREAM_END ? kEncodeOk : kEncodeNoMemory;
}

}  // namespace

int transcode_deflate(const uint8_t* deflate, size_t deflate_size, const uint8_t* original, size_t original_size,
                      std::vector<uint8_t>* out, StreamEncodeStats* stats, const TranscodeOptions& options) {
  size_t out_start = out->size();
  if (options.skip > original_size) return kEncodeBadDeflate;
  Transcoder t{BitReader{deflate, deflate_size, 0, uint64_t(deflate_size) * 8}, BitWriter{out}, original,
               original_size, 0, options, StreamEncodeStats{}};
  int r = transcode_blocks(t);
  if (r) {
    out->resize(out_start);
    return r;
  }
  if (stats) *stats = t.stats;
  return kEncodeOk;
}

namespace {

enum : size_t { kPrimingWindow = 32768 };

// Where zopfli pays at the maximum level, measured on the benchmark corpus
// (PE files, documents, small sources): on inputs of 512 KiB and more it
// saved nothing over libdeflate 12 for most of the time spent; below, five
// iterations instead of fifteen cost 0.03 % in size and most of the time
// goes into its block splitting anyway.
enum : size_t { kZopfliLimit = 512 << 10 };
enum : int { kZopfliIterations = 5 };
// Zopfli tries every point to split a block of fewer than 1024 LZ77
// symbols at, which made the small items of the corpus cost more than all
// the rest; below 4 KiB splitting saved 0.005 % of the corpus for two
// thirds of the time. From 4 KiB on, blocks are split as zopfli splits
// them, except that every search narrows down from nine points, as
// zopfli's own does on long blocks: 0.01 % larger, three times faster.
enum : size_t { kZopfliSplitFrom = 4 << 10 };

struct SplitSearch {
  const ZopfliLZ77Store* lz77;
  size_t start, end;
  double cost_at(size_t i) const {
    return ZopfliCalculateBlockSizeAutoType(lz77, start, i) + ZopfliCalculateBlockSizeAutoType(lz77, i, end);
  }
};

// The symbol in (from, to) where splitting costs least, found by narrowing
// nine evenly spread points; *cost receives the cost of that split.
size_t cheapest_split(const SplitSearch& search, size_t from, size_t to, double* cost) {
  enum : size_t { kPoints = 9 };
  size_t best_at = from;
  double best = 1e30;
  while (to - from > kPoints) {
    size_t at[kPoints];
    double value[kPoints];
    size_t k_best = 0;
    for (size_t k = 0; k < kPoints; ++k) {
      at[k] = from + (k + 1) * ((to - from) / (kPoints + 1));
      value[k] = search.cost_at(at[k]);
      if (value[k] < value[k_best]) k_best = k;
    }
    if (value[k_best] > best) break;
    from = k_best == 0 ? from : at[k_best - 1];
    to = k_best == kPoints - 1 ? to : at[k_best + 1];
    best_at = at[k_best];
    best = value[k_best];
  }
  *cost = best;
  return best_at;
}

// Where zopfli's block splitting would start blocks in data[0..size), from
// its greedy parse: the longest block not yet found unsplittable is split
// where it costs least, up to options.blocksplittingmax blocks. The first
// start is 0.
std::vector<size_t> zopfli_block_starts(const ZopfliOptions& options, const uint8_t* data, size_t size) {
  ZopfliBlockState state;
  ZopfliInitBlockState(&options, 0, size, 0, &state);
  ZopfliHash hash;
  ZopfliAllocHash(ZOPFLI_WINDOW_SIZE, &hash);
  ZopfliLZ77Store lz77;
  ZopfliInitLZ77Store(data, &lz77);
  ZopfliLZ77Greedy(&state, data, 0, size, &lz77, &hash);
  std::vector<size_t> splits;  // symbol indices, sorted
  std::vector<char> settled(lz77.size + 1, 0);
  size_t start = 0, end = lz77.size;
  for (size_t blocks = 1; lz77.size >= 10 && blocks < static_cast<size_t>(options.blocksplittingmax);) {
    double split_cost;
    size_t at = cheapest_split(SplitSearch{&lz77, start, end}, start + 1, end, &split_cost);
    if (split_cost > ZopfliCalculateBlockSizeAutoType(&lz77, start, end) || at == start + 1 || at == end) {
      settled[start] = 1;
    } else {
      splits.insert(std::upper_bound(splits.begin(), splits.end(), at), at);
      ++blocks;
    }
    size_t longest = 0;
    for (size_t k = 0; k <= splits.size(); ++k) {
      size_t s = k == 0 ? 0 : splits[k - 1], e = k == splits.size() ? lz77.size - 1 : splits[k];
      if (!settled[s] && e - s > longest) start = s, end = e, longest = e - s;
    }
    if (longest < 10) break;
  }
  std::vector<size_t> starts = {0};
  for (size_t at : splits) starts.push_back(lz77.pos[at]);
  ZopfliCleanLZ77Store(&lz77);
  ZopfliCleanHash(&hash);
  ZopfliCleanBlockState(&state);
  return starts;
}

// Zopfli's deflate of data[0..size), one block for each range between
// consecutive `starts`, into a malloc'ed buffer.
void zopfli_blocks(const ZopfliOptions& options, const uint8_t* data, size_t size, const std::vector<size_t>& starts,
                   unsigned char** out, size_t* out_size) {
  ZopfliOptions one_block = options;
  one_block.blocksplitting = 0;
  unsigned char bit = 0;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] : size;
    ZopfliDeflatePart(&one_block, 2, k + 1 == starts.size(), data, starts[k], end, &bit, out, out_size);
  }
}

// The parse a part of a large input takes at the default levels.
enum PartParse { kParseNearOptimal, kParseLazy, kParseFast };

// Judged on four slices of 32 KiB spread over the part, each compressed
// alone. Where zlib finds nothing to gain in any of them, the part is
// taken as incompressible: libdeflate's fastest level takes less than
// half the time of either parser there and still catches what little
// repeats. Otherwise
// zlib's lazy parse is taken where it serves as well as libdeflate's
// near-optimal parser at `level`: on machine code and text the
// near-optimal parser saves 3 to 6 % and takes less time than zlib's deep
// hash chains; where incompressible stretches alternate with repetitive
// ones both come out within a percent of each other and zlib takes half
// the time. The slices see no history, which flatters the near-optimal
// parser a little: it is kept unless zlib comes within 1/64.
PartParse part_parse(const uint8_t* data, size_t size, int level) {
  enum : size_t { kSlices = 4, kSlice = 32 << 10 };
  if (size < kSlices * kSlice) return kParseNearOptimal;
  const uint8_t* slices[kSlices];
  for (size_t k = 0; k < kSlices; ++k) slices[k] = data + (size - kSlice) * k / (kSlices - 1);
  size_t lazy = 0, near_optimal = 0;
  bool incompressible = true;
  std::vector<uint8_t> deflate;
  for (const uint8_t* slice : slices) {
    if (deflate_with_zlib(slice, 0, kSlice, &deflate) != kEncodeOk) return kParseNearOptimal;
    lazy += deflate.size();
    if (deflate.size() < kSlice) incompressible = false;
  }
  if (incompressible) return kParseFast;
  for (const uint8_t* slice : slices) {
    if (deflate_with_libdeflate(slice, kSlice, level, &deflate) != kEncodeOk) return kParseNearOptimal;
    near_optimal += deflate.size();
  }
  return near_optimal + lazy / 64 >= lazy ? kParseLazy : kParseNearOptimal;
}

// Part [start, end) of data, primed with up to 32 KiB before it; with
// `more_follows` it ends on a byte boundary, ready for the next part.
// `choose_parse` lets the part take a cheaper parse where it serves as
// well (see part_parse).
int encode_part(const uint8_t* data, size_t start, size_t end, int level, bool more_follows, bool choose_parse,
                std::vector<uint8_t>* out, StreamEncodeStats* stats) {
  size_t window = std::min(start, static_cast<size_t>(kPrimingWindow));
  const uint8_t* from = data + start - window;
  size_t size = end - start;
  std::vector<uint8_t> deflate;
  PartParse parse = choose_parse ? part_parse(data + start, size, level) : kParseNearOptimal;
  if (parse == kParseLazy) {
    int r = deflate_with_zlib(data + start, window, size, &deflate);
    if (r) return r;
    TranscodeOptions primed;
    primed.history = window;
    primed.more_follows = more_follows;
    r = transcode_deflate(deflate.data(), deflate.size(), data + start, size, out, stats, primed);
    if (r == kEncodeOk && stats) stats->lazy_parts = 1;
    return r;
  }
  int parse_level = parse == kParseFast ? kStreamLevelMin : level == kStreamLevelMax ? kStreamLevelDefault : level;
  int r = deflate_with_libdeflate(from, window + size, parse_level, &deflate);
  if (r) return r;
  TranscodeOptions cut;
  cut.skip = window;
  cut.more_follows = more_follows;
  if (level != kStreamLevelMax || size >= kZopfliLimit) {
    r = transcode_deflate(deflate.data(), deflate.size(), from, window + size, out, stats, cut);
    if (r == kEncodeOk && stats && parse == kParseFast) stats->fast_parts = 1;
    return r;
  }

  // Zopfli usually wins, but not on every input: keep the smaller stream.
  std::vector<uint8_t> best;
  StreamEncodeStats best_stats;
  r = transcode_deflate(deflate.data(), deflate.size(), from, window + size, &best, &best_stats, cut);
  if (r) return r;
  ZopfliOptions options;
  ZopfliInitOptions(&options);
  options.numiterations = kZopfliIterations;
  unsigned char* zopfli = nullptr;
  size_t zopfli_size = 0;
  if (window == 0) {
    std::vector<size_t> starts = {0};
    if (size >= kZopfliSplitFrom) starts = zopfli_block_starts(options, data + start, size);
    zopfli_blocks(options, data + start, size, starts, &zopfli, &zopfli_size);
  } else {
    unsigned char bit = 0;
    ZopfliDeflatePart(&options, 2, 1, from, window, window + size, &bit, &zopfli, &zopfli_size);
  }
  TranscodeOptions primed;
  primed.history = window;
  primed.more_follows = more_follows;
  std::vector<uint8_t> other;
  StreamEncodeStats other_stats;
  r = zopfli ? transcode_deflate(zopfli, zopfli_size, data + start, size, &other, &other_stats, primed)
             : kEncodeNoMemory;
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

int encode_in_parts(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out,
                    StreamEncodeStats* stats) {
  size_t parts = (size + kStreamPartSize - 1) / kStreamPartSize;
  int part_level = level == kStreamLevelMax ? level : std::min(level, static_cast<int>(kStreamPartLevel));
  std::vector<std::vector<uint8_t>> streams(parts);
  std::vector<StreamEncodeStats> part_stats(parts);
  std::vector<char> done(parts, 0);
  std::atomic<size_t> next{0};
  std::atomic<int> failure{kEncodeOk};
  // Finished parts join the output in order while later ones are still
  // being compressed, so that only the last one is copied at the end. A
  // stream hardly grows beyond its input.
  size_t joined = 0;
  std::mutex joining;
  size_t out_start = out->size();
  out->reserve(out_start + size + size / 64 + 1024);
  auto work = [&] {
    for (size_t k; failure == kEncodeOk && (k = next++) < parts;) {
      size_t start = k * kStreamPartSize;
      int r = encode_part(data, start, std::min(size, start + kStreamPartSize), part_level, k + 1 < parts,
                          part_level == kStreamPartLevel, &streams[k], &part_stats[k]);
      if (r) failure = r;
      std::lock_guard<std::mutex> lock(joining);
      done[k] = 1;
      for (; failure == kEncodeOk && joined < parts && done[joined]; ++joined) {
        out->insert(out->end(), streams[joined].begin(), streams[joined].end());
        std::vector<uint8_t>().swap(streams[joined]);
      }
    }
  };
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < cores && i < parts; ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  if (failure != kEncodeOk) {
    out->resize(out_start);
    return failure;
  }
  StreamEncodeStats total;
  for (size_t k = 0; k < parts; ++k) {
    const StreamEncodeStats& p = part_stats[k];
    total.stored_blocks += p.stored_blocks;
    total.fixed_blocks += p.fixed_blocks;
    total.dynamic_blocks += p.dynamic_blocks;
    total.rewritten_blocks += p.rewritten_blocks;
    total.closing_blocks += p.closing_blocks;
    total.cut_blocks += p.cut_blocks;
    total.lazy_parts += p.lazy_parts;
    total.fast_parts += p.fast_parts;
  }
  total.parts = static_cast<uint32_t>(parts);
  if (stats) *stats = total;
  return kEncodeOk;
}

}  // namespace

int encode_stream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out, StreamEncodeStats* stats) {
  if (level < kStreamLevelMin || level > kStreamLevelMax) return kEncodeBadLevel;
  static const uint8_t kNothing = 0;
  if (size == 0) data = &kNothing;
  if (size > kStreamPartSize) return encode_in_parts(data, size, level, out, stats);
  return encode_part(data, 0, size, level, false, false, out, stats);
}
