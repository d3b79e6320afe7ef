// Decoding tables for canonical prefix codes: one root table indexed by the
// first bits of a code, and a sub-table for every root prefix shared by
// longer codes. Everything lives in one allocation; a link entry names its
// sub-table by entry index, so the table is freed with one call.
#include <cstring>

#include "app/memory.h"
#include "archive/decompressor.h"

namespace {

enum : uint32_t { kMaxCodeBits = 16, kMaxSymbols = 320 };

CodeEntry symbol_entry(uint32_t symbol, uint32_t s, const uint16_t* bases, const uint16_t* extras, uint32_t bits) {
  CodeEntry e;
  e.bits = static_cast<uint8_t>(bits);
  if (symbol < s) {
    e.op = symbol == 256 ? kOpEndOfBlock : kOpLiteral;
    e.value = static_cast<uint16_t>(symbol);
  } else {
    e.op = static_cast<uint8_t>(extras[symbol - s] & 0xFF);
    e.value = bases[symbol - s];
  }
  return e;
}

// Walks the codes in canonical order (by length, then by symbol) and places
// them. With spare codes every new table is first
// filled with invalid entries; a complete code reaches every slot. Codes
// arrive least significant bit first, so each code is kept bit-reversed and
// indexes the table directly. `count` holds the codes per length with the
// spare codes of an incomplete code added at the longest length, so that
// every sub-table is sized for the whole prefix it serves.
void place_codes(const uint8_t* lengths, const uint16_t* sorted, uint32_t used_symbols, const uint32_t* count,
                 uint32_t root, uint32_t max, uint32_t s, const uint16_t* bases, const uint16_t* extras, bool spare,
                 CodeEntry* out) {
  uint32_t remaining[kMaxCodeBits + 1];
  std::memcpy(remaining, count, sizeof remaining);
  const uint32_t root_size = 1u << root;
  uint32_t size = root_size;  // entries used
  uint32_t code = 0;
  uint32_t prefix = root_size;  // none yet
  uint32_t sub_start = 0, sub_width = 0;
  if (spare)
    for (uint32_t i = 0; i < root_size; ++i) out[i] = CodeEntry{kOpInvalid, 0, 0};
  for (uint32_t k = 0; k < used_symbols; ++k) {
    uint32_t symbol = sorted[k];
    uint32_t len = lengths[symbol];
    if (len <= root) {
      CodeEntry e = symbol_entry(symbol, s, bases, extras, len);
      for (uint32_t i = code; i < root_size; i += 1u << len) out[i] = e;
    } else {
      uint32_t p = code & (root_size - 1);
      if (p != prefix) {
        // The smallest width at which the codes of this prefix fill the
        // sub-table.
        uint32_t width = len - root;
        int32_t left = 1 << width;
        while (width + root < max) {
          left -= static_cast<int32_t>(remaining[width + root]);
          if (left <= 0) break;
          ++width;
          left <<= 1;
        }
        prefix = p;
        sub_start = size;
        sub_width = width;
        size += 1u << width;
        out[p] = CodeEntry{static_cast<uint8_t>(kOpLiteral + width), static_cast<uint8_t>(root),
                           static_cast<uint16_t>(sub_start)};
        if (spare)
          for (uint32_t i = 0; i < (1u << width); ++i) out[sub_start + i] = CodeEntry{kOpInvalid, 0, 0};
      }
      CodeEntry e = symbol_entry(symbol, s, bases, extras, len - root);
      for (uint32_t i = code >> root; i < (1u << sub_width); i += 1u << (len - root)) out[sub_start + i] = e;
    }
    --remaining[len];
    // Next code of the same length, counted in reversed bit order.
    uint32_t step = 1u << (len - 1);
    while (code & step) step >>= 1;
    code = step ? (code & (step - 1)) + step : 0;
  }
}

}  // namespace

int build_code_table(const uint8_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases, const uint16_t* extras,
                     CodeEntry** table, uint32_t* width) {
  *table = nullptr;
  uint32_t count[kMaxCodeBits + 1] = {};
  if (n > kMaxSymbols) return kCodeOversubscribed;
  for (uint32_t i = 0; i < n; ++i) {
    if (lengths[i] > kMaxCodeBits) return kCodeOversubscribed;
    ++count[lengths[i]];
  }
  if (count[0] == n) {
    *width = 0;
    return kCodeComplete;
  }
  uint32_t min = 1, max = kMaxCodeBits;
  while (count[min] == 0) ++min;
  while (count[max] == 0) --max;
  uint32_t root = *width;
  if (root < min) root = min;
  if (root > max) root = max;

  // Kraft check: codes left over at each length.
  int32_t left = 1 << min;
  for (uint32_t len = min; len < max; ++len) {
    left -= static_cast<int32_t>(count[len]);
    if (left < 0) return kCodeOversubscribed;
    left *= 2;
  }
  left -= static_cast<int32_t>(count[max]);
  if (left < 0) return kCodeOversubscribed;
  uint32_t spare = static_cast<uint32_t>(left);
  count[max] += spare;

  uint32_t offset[kMaxCodeBits + 2] = {};
  for (uint32_t len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + (len == max ? count[len] - spare : count[len]);
  uint16_t sorted[kMaxSymbols];
  for (uint32_t i = 0; i < n; ++i)
    if (lengths[i]) sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);
  uint32_t used_symbols = n - count[0];

  // Room for the root and, at most, a sub-table of the largest width for
  // every long code (or every root slot, whichever is fewer).
  uint32_t long_codes = 0;
  for (uint32_t len = root + 1; len <= max; ++len) long_codes += count[len];
  if (long_codes > (1u << root)) long_codes = 1u << root;
  uint32_t bound = (1u << root) + (long_codes << (max - root));
  CodeEntry* entries = nullptr;
  if (!alloc_block(bound * sizeof(CodeEntry), &entries)) return kCodeNoMemory;
  place_codes(lengths, sorted, used_symbols, count, root, max, s, bases, extras, spare != 0, entries);
  *table = entries;
  *width = root;
  return spare && max != 1 ? kCodeIncomplete : kCodeComplete;
}

void free_code_table(CodeEntry** table) { free_block(table); }
