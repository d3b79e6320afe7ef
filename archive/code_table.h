// Decoding tables for the canonical prefix codes of the stream format. A
// table is a root indexed by the first bits of a code (first-arriving bit
// in bit 0) with a sub-table for every root prefix that longer codes share.
#pragma once
#include <cstdint>

// One table entry, packed into 32 bits so that a lookup is a single load
// and a length or distance takes its extra bits with the same drop:
//   bits 0-7    bits to drop: the code's own bits within this table, plus
//               the extra bits of a length or distance
//   bits 8-11   the code's own bits (where the extra bits start); for a
//               link, the width of the sub-table
//   bit  12     literal, or plain symbol of the code-length code
//   bit  13     end of block
//   bit  14     link: the next (bits 8-11) bits index the sub-table that
//               starts at entry (bits 16-31) of the same table
//   bit  15     not a length or distance: literal, end of block, link or
//               invalid code (an entry with none of bits 12-14)
//   bits 16-31  literal byte, plain symbol, base length or distance, or
//               the sub-table's first entry
typedef uint32_t CodeEntry;
enum : uint32_t {
  kEntryLiteral = 1u << 12,
  kEntryEnd = 1u << 13,
  kEntryLink = 1u << 14,
  kEntrySpecial = 1u << 15,
  kEntryInvalid = kEntrySpecial,
};

inline uint32_t entry_drop(CodeEntry e) { return e & 0xFF; }
inline uint32_t entry_code_bits(CodeEntry e) { return (e >> 8) & 0xF; }
inline uint32_t entry_value(CodeEntry e) { return e >> 16; }
inline uint32_t entry_extra_bits(CodeEntry e) { return entry_drop(e) - entry_code_bits(e); }
// The code bits of a length or distance entry, whose flags are all clear:
// one byte to extract.
inline uint32_t entry_extra_shift(CodeEntry e) { return static_cast<uint8_t>(e >> 8); }

// What a symbol at or above the table's plain symbols decodes to: its base
// value and extra-bit count (a count above 13 makes the symbol invalid).
struct SymbolValue {
  uint16_t base;
  uint8_t extra;
};

// Results of build_code_table.
enum : int { kCodeComplete = 0, kCodeIncomplete = 1, kCodeOversubscribed = 2, kCodeNoMemory = 3 };

// The root widths of the decoder's tables, and room for the largest table
// of each kind. A sub-table of width w holds at least w + 1 codes (one of each
// length up to the longest, which comes twice), so with codes of up to 15
// bits the sub-tables of 286 literal/length symbols take at most 47 x 32 + 4
// entries beyond a 10-bit root, those of 30 distance symbols 3 x 128 + 32
// beyond an 8-bit root.
enum : uint32_t {
  kLiteralRootBits = 10,
  kDistanceRootBits = 8,
  kCodeLengthRootBits = 7,
  kLiteralTableSize = 1024 + 47 * 32 + 4,
  kDistanceTableSize = 256 + 3 * 128 + 32,
  kCodeLengthTableSize = 128,
};

// Turns code lengths (0..15, 0 = absent) of symbols 0..n-1 into `table`,
// which has room for `capacity` entries, with a root of `root` bits: every
// table of a kind has the same root, so the decoder masks its lookups with
// a constant. Symbols below s are plain (256 is the end of block when
// s > 256); symbol v >= s decodes to values[v - s]. All lengths 0 give a
// root of invalid entries. An incomplete code whose codes all fit the root
// gets invalid entries for its spare codes; one that would need sub-tables
// is not built (the decoder refuses it anyway). A single code of length 1
// counts as complete.
int build_code_table(const uint8_t* lengths, uint32_t n, uint32_t s, const SymbolValue* values, CodeEntry* table,
                     uint32_t capacity, uint32_t root);
