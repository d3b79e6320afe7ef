// Building a decoding table: canonical codes placed by length and symbol,
// each code bit-reversed so that it indexes the table directly.
#include "archive/code_table.h"

#include <cstring>

namespace {

enum : uint32_t { kMaxCodeBits = 15, kMaxSymbols = 320, kMaxExtraBits = 13 };

// The entry of `symbol` with `bits` code bits in its table.
CodeEntry symbol_entry(uint32_t symbol, uint32_t s, const SymbolValue* values, uint32_t bits) {
  if (symbol < s) {
    uint32_t kind = symbol == 256 ? kEntrySpecial | kEntryEnd : kEntrySpecial | kEntryLiteral;
    return symbol << 16 | kind | bits << 8 | bits;
  }
  SymbolValue v = values[symbol - s];
  if (v.extra > kMaxExtraBits) return kEntryInvalid;
  return static_cast<uint32_t>(v.base) << 16 | bits << 8 | (bits + v.extra);
}

// The code after `code` (of `len` bits, bit-reversed) in canonical order:
// add one at the first-arriving end, that is, clear the trailing run of
// ones from the top and set the zero above it.
inline uint32_t next_code(uint32_t code, uint32_t len) {
  uint32_t flipped = code ^ ((1u << len) - 1);
  if (flipped == 0) return 0;
  uint32_t bit = 1u << (31 - __builtin_clz(flipped));
  return (code & (bit - 1)) | bit;
}

}  // namespace

int build_code_table(const uint8_t* lengths, uint32_t n, uint32_t s, const SymbolValue* values, CodeEntry* table,
                     uint32_t capacity, uint32_t root) {
  uint32_t count[kMaxCodeBits + 1] = {};
  if (n > kMaxSymbols) return kCodeOversubscribed;
  // A length above 15 shows in the lengths ORed together; until then it
  // is counted as another, which does not matter.
  uint32_t all = 0;
  for (uint32_t i = 0; i < n; ++i) {
    all |= lengths[i];
    ++count[lengths[i] & kMaxCodeBits];
  }
  if (all > kMaxCodeBits) return kCodeOversubscribed;
  const uint32_t root_size = 1u << root;
  if (root_size > capacity) return kCodeNoMemory;
  if (count[0] == n) {
    // No code at all: every lookup finds an invalid entry.
    for (uint32_t i = 0; i < root_size; ++i) table[i] = kEntryInvalid;
    return kCodeComplete;
  }
  uint32_t min = 1, max = kMaxCodeBits;
  while (count[min] == 0) ++min;
  while (count[max] == 0) --max;

  // Kraft check: codes left over at each length.
  int32_t left = 1;
  for (uint32_t len = 1; len <= max; ++len) {
    left = 2 * left - static_cast<int32_t>(count[len]);
    if (left < 0) return kCodeOversubscribed;
  }
  bool incomplete = left > 0 && max != 1;
  if (left > 0 && max > root) return kCodeIncomplete;

  // Symbols sorted by code length, then by value; the absent ones first,
  // where they are passed over.
  uint32_t offset[kMaxCodeBits + 1];
  offset[0] = 0;
  for (uint32_t len = 1; len <= kMaxCodeBits; ++len) offset[len] = offset[len - 1] + count[len - 1];
  uint16_t sorted[kMaxSymbols];
  for (uint32_t i = 0; i < n; ++i) sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);
  const uint16_t* symbol = sorted + count[0];

  uint32_t code = 0;  // next code, bit-reversed
  if (left > 0) {
    // Spare codes decode as invalid; every code fits the root.
    for (uint32_t i = 0; i < root_size; ++i) table[i] = kEntryInvalid;
    for (uint32_t len = min; len <= max; ++len) {
      for (uint32_t k = count[len]; k > 0; --k) {
        CodeEntry e = symbol_entry(*symbol++, s, values, len);
        for (uint32_t i = code; i < root_size; i += 1u << len) table[i] = e;
        code = next_code(code, len);
      }
    }
    return incomplete ? kCodeIncomplete : kCodeComplete;
  }

  // Codes of up to `root` bits: each is stored once in the first 2^len
  // entries, which are doubled whenever the length grows, so that every
  // entry whose first bits are the code holds it.
  uint32_t filled = min <= root ? 1u << min : 0;
  for (uint32_t len = min; len <= root; ++len) {
    if (len > min) {
      std::memcpy(table + filled, table, filled * sizeof(CodeEntry));
      filled <<= 1;
    }
    for (uint32_t k = count[len]; k > 0; --k) {
      table[code] = symbol_entry(*symbol++, s, values, len);
      code = next_code(code, len);
    }
  }

  // Longer codes: a sub-table for each root prefix they share.
  uint32_t size = root_size;       // entries used
  uint32_t prefix = root_size;     // root slot of the current sub-table: none yet
  uint32_t sub_start = 0, sub_width = 0;
  uint32_t remaining[kMaxCodeBits + 1];
  for (uint32_t len = 0; len <= kMaxCodeBits; ++len) remaining[len] = count[len];
  for (uint32_t len = root + 1; len <= max; ++len) {
    for (; remaining[len] > 0; --remaining[len]) {
      uint32_t p = code & (root_size - 1);
      if (p != prefix) {
        // The smallest width at which the codes of this prefix fill the
        // sub-table: they come next in canonical order.
        uint32_t sub = len - root;
        int32_t room = 1 << sub;
        while (sub + root < max) {
          room -= static_cast<int32_t>(remaining[sub + root]);
          if (room <= 0) break;
          ++sub;
          room <<= 1;
        }
        if (size + (1u << sub) > capacity) return kCodeNoMemory;
        prefix = p;
        sub_start = size;
        sub_width = sub;
        size += 1u << sub;
        table[p] = sub_start << 16 | kEntrySpecial | kEntryLink | sub << 8 | root;
      }
      CodeEntry e = symbol_entry(*symbol++, s, values, len - root);
      for (uint32_t i = code >> root; i < (1u << sub_width); i += 1u << (len - root)) table[sub_start + i] = e;
      code = next_code(code, len);
    }
  }
  return kCodeComplete;
}
