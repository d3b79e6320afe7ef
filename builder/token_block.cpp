#include "builder/token_block.h"

#include <algorithm>

extern "C" {
#include <zopfli/katajainen.h>
}

namespace {

enum : unsigned { kLitLenSymbols = 286, kDistanceSymbols = 30, kCodeLengthSymbols = 19 };

// A canonical prefix code: code lengths and the codes in writing order.
struct PrefixCode {
  unsigned lengths[kLitLenSymbols] = {};
  uint32_t codes[kLitLenSymbols] = {};
  unsigned longest = 0;
};

// Lengths of at most `limit` bits for the counts (package-merge, through
// zopfli), and the canonical codes for them. A single used symbol gets one
// code of length 1, which our decoder takes as complete.
void make_code(const size_t* counts, unsigned n, unsigned limit, PrefixCode* code) {
  ZopfliLengthLimitedCodeLengths(counts, static_cast<int>(n), static_cast<int>(limit), code->lengths);
  unsigned per_length[16] = {};
  for (unsigned s = 0; s < n; ++s) ++per_length[code->lengths[s]];
  per_length[0] = 0;
  uint32_t next[16] = {};
  for (unsigned len = 1, value = 0; len < 16; ++len) {
    value = (value + per_length[len - 1]) << 1;
    next[len] = value;
  }
  code->longest = 0;
  for (unsigned s = 0; s < n; ++s) {
    unsigned len = code->lengths[s];
    if (!len) continue;
    code->codes[s] = reverse_bits(next[len]++, len);
    code->longest = std::max(code->longest, len);
  }
}

// One item of the code-length sequence: a length 0..15, or 16, 17, 18 with
// its extra bits.
struct LengthItem {
  uint8_t symbol;
  uint8_t extra;
};

// Run-length codes the lengths: runs of zeros with 17 and 18, repeats of a
// length just written with 16 (ours repeats the previous length, which a
// 17 or 18 sets to 0, so 16 only ever follows a plain length or a 16).
std::vector<LengthItem> run_lengths(const unsigned* lengths, unsigned n) {
  std::vector<LengthItem> items;
  for (unsigned i = 0; i < n;) {
    unsigned value = lengths[i];
    unsigned run = 1;
    while (i + run < n && lengths[i + run] == value) ++run;
    i += run;
    if (value == 0) {
      while (run >= 11) {
        unsigned take = std::min(run, 138u);
        items.push_back({18, static_cast<uint8_t>(take - 11)});
        run -= take;
      }
      if (run >= 3) {
        items.push_back({17, static_cast<uint8_t>(run - 3)});
        run = 0;
      }
    } else {
      items.push_back({static_cast<uint8_t>(value), 0});
      --run;
      while (run >= 3) {
        unsigned take = std::min(run, 6u);
        items.push_back({16, static_cast<uint8_t>(take - 3)});
        run -= take;
      }
    }
    while (run-- > 0) items.push_back({static_cast<uint8_t>(value), 0});
  }
  return items;
}

unsigned code_length_extra_bits(unsigned symbol) { return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0; }

uint64_t stored_bits(size_t size, uint64_t at) {
  uint64_t bits = 0;
  size_t pieces = size == 0 ? 1 : (size + kMaxStoredLength - 1) / kMaxStoredLength;
  for (size_t piece = 0; piece < pieces; ++piece) {
    uint64_t header_end = at + bits + 4;
    bits += 4 + (8 - header_end % 8) % 8 + 16;
  }
  return bits + uint64_t(size) * 8;
}

// Writes the tokens with the given codes; returns the tail need (see
// WrittenBlock) measured from the end of the end-of-block code.
uint64_t put_tokens(BitWriter& out, const std::vector<Token>& tokens, const uint32_t* lit_codes,
                    const unsigned* lit_lengths, unsigned lit_width, const uint32_t* dist_codes,
                    const unsigned* dist_lengths, unsigned dist_width) {
  uint64_t furthest = 0;
  for (const Token& t : tokens) {
    furthest = std::max(furthest, out.position() + lit_width);
    if (t.length == 0) {
      out.put(lit_codes[t.value], lit_lengths[t.value]);
      continue;
    }
    unsigned ls = length_symbol(t.length);
    out.put(lit_codes[257 + ls], lit_lengths[257 + ls]);
    out.put(t.length - kLengthBase[ls], kLengthExtra[ls]);
    furthest = std::max(furthest, out.position() + dist_width);
    unsigned ds = distance_symbol(t.value);
    out.put(dist_codes[ds], dist_lengths[ds]);
    out.put(t.value - kDistanceBase[ds], kDistanceExtra[ds]);
  }
  out.put(lit_codes[256], lit_lengths[256]);
  uint64_t end = out.position();
  return furthest > end ? furthest - end : 0;
}

}  // namespace

void write_stored_blocks(BitWriter& out, const uint8_t* bytes, size_t size, uint32_t last, WrittenBlock* block) {
  block->type = kTypeStored;
  block->tail_need = 0;
  block->stored_pieces = 0;
  do {
    size_t piece = std::min(size, static_cast<size_t>(kMaxStoredLength));
    size -= piece;
    block->header_at = out.position();
    out.put(kTypeStored | (size == 0 ? last : 0), 4);
    out.align();
    out.put(static_cast<uint32_t>(piece), 16);
    out.put_bytes(bytes, piece);
    bytes += piece;
    ++block->stored_pieces;
  } while (size > 0);
}

WrittenBlock write_token_block(BitWriter& out, const std::vector<Token>& tokens, const uint8_t* bytes, size_t size,
                               uint32_t last) {
  size_t lit_counts[kLitLenSymbols] = {};
  size_t dist_counts[kDistanceSymbols] = {};
  uint64_t extra_bits = 0;
  uint64_t fixed_bits = 4 + fixed_length(256);
  for (const Token& t : tokens) {
    if (t.length == 0) {
      ++lit_counts[t.value];
      fixed_bits += fixed_length(t.value);
      continue;
    }
    unsigned ls = length_symbol(t.length), ds = distance_symbol(t.value);
    ++lit_counts[257 + ls];
    ++dist_counts[ds];
    extra_bits += kLengthExtra[ls] + kDistanceExtra[ds];
    fixed_bits += fixed_length(257 + ls) + kLengthExtra[ls] + 5 + kDistanceExtra[ds];
  }
  lit_counts[256] = 1;

  PrefixCode lit, dist, lengths_code;
  make_code(lit_counts, kLitLenSymbols, 15, &lit);
  make_code(dist_counts, kDistanceSymbols, 15, &dist);
  unsigned hlit = kLitLenSymbols, hdist = kDistanceSymbols;
  while (hlit > 257 && lit.lengths[hlit - 1] == 0) --hlit;
  while (hdist > 1 && dist.lengths[hdist - 1] == 0) --hdist;
  unsigned all_lengths[kLitLenSymbols + kDistanceSymbols];
  std::copy(lit.lengths, lit.lengths + hlit, all_lengths);
  std::copy(dist.lengths, dist.lengths + hdist, all_lengths + hlit);
  std::vector<LengthItem> items = run_lengths(all_lengths, hlit + hdist);
  size_t item_counts[kCodeLengthSymbols] = {};
  for (const LengthItem& item : items) ++item_counts[item.symbol];
  make_code(item_counts, kCodeLengthSymbols, 7, &lengths_code);
  unsigned listed = kCodeLengthSymbols;
  while (listed > 4 && lengths_code.lengths[kStreamOrder[listed - 1]] == 0) --listed;

  uint64_t dynamic_bits = 4 + 5 + 5 + 4 + 3 * listed + extra_bits;
  for (const LengthItem& item : items)
    dynamic_bits += lengths_code.lengths[item.symbol] + code_length_extra_bits(item.symbol);
  for (unsigned s = 0; s < kLitLenSymbols; ++s) dynamic_bits += uint64_t(lit_counts[s]) * lit.lengths[s];
  for (unsigned s = 0; s < kDistanceSymbols; ++s) dynamic_bits += uint64_t(dist_counts[s]) * dist.lengths[s];

  WrittenBlock block;
  uint64_t stored = stored_bits(size, out.position());
  if (stored < dynamic_bits && stored < fixed_bits) {
    write_stored_blocks(out, bytes, size, last, &block);
    return block;
  }
  block.header_at = out.position();
  if (fixed_bits <= dynamic_bits) {
    block.type = kTypeFixed;
    out.put(kTypeFixed | last, 4);
    uint32_t fixed_codes[288], fixed_distance_codes[30];
    unsigned fixed_lengths[288], five[30];
    for (unsigned s = 0; s < 288; ++s) {
      fixed_codes[s] = fixed_code(s);
      fixed_lengths[s] = fixed_length(s);
    }
    for (unsigned s = 0; s < 30; ++s) {
      fixed_distance_codes[s] = reverse_bits(s, 5);
      five[s] = 5;
    }
    block.tail_need = put_tokens(out, tokens, fixed_codes, fixed_lengths, 9, fixed_distance_codes, five, 5);
    return block;
  }
  block.type = kTypeDynamic;
  out.put(kTypeDynamic | last, 4);
  out.put(hlit - 257, 5);
  out.put(hdist - 1, 5);
  out.put(listed - 4, 4);
  for (unsigned k = 0; k < listed; ++k) out.put(lengths_code.lengths[kStreamOrder[k]], 3);
  uint64_t header_furthest = 0;
  for (const LengthItem& item : items) {
    header_furthest = std::max(header_furthest, out.position() + lengths_code.longest);
    out.put(lengths_code.codes[item.symbol], lengths_code.lengths[item.symbol]);
    out.put(item.extra, code_length_extra_bits(item.symbol));
  }
  uint64_t tail = put_tokens(out, tokens, lit.codes, lit.lengths, lit.longest, dist.codes, dist.lengths, dist.longest);
  uint64_t end = out.position();
  block.tail_need = std::max(tail, header_furthest > end ? header_furthest - end : 0);
  return block;
}
