// The block decoder: stored, fixed and dynamic blocks, and the loop that
// turns literal/length/distance codes into output.
#include <cstring>

#include "archive/decompressor.h"
#include "base/memory.h"

// On x86-64 Linux hosts the code loop also comes in a BMI2 build, chosen
// at load time: its shifts and bit extractions take one instruction each.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define KESTREL_BIT_TARGETS __attribute__((target_clones("default", "bmi2")))
#else
#define KESTREL_BIT_TARGETS
#endif

namespace {

// Bits one code at a time may need: a literal/length code with its extra
// bits and a distance code with its extra bits.
enum : uint32_t { kStepBits = 15 + 5 + 15 + 13, kCopyOvershoot = 40 };

// The fast loop is built where the bit buffer is one register. In 32-bit
// code, the setup program's, each of its 64-bit shifts takes a register
// pair and a branch: there it would cost a kilobyte of the program for a
// speed that the file writes of an installation hide.
constexpr bool kFastLoop = sizeof(void*) >= 8;

inline void store_u64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// The value of a length or distance entry: its base plus the extra bits
// that follow its code in `saved`, the bit buffer before the entry's drop.
inline uint32_t entry_amount(CodeEntry e, uint64_t saved) {
  // A code and its extra bits take at most 15 + 13 bits.
  return entry_value(e) + (low_bits(saved, entry_drop(e) & 31) >> entry_extra_shift(e));
}

// A copy whose source lies in the window, with room behind its end: it
// may write up to kCopyOvershoot bytes past it, which later output
// overwrites. Whole words where the source is a word or more behind, a byte
// broadcast for distance 1, bytes otherwise.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
  uint8_t* const end = out + length;
  const uint8_t* src = out - distance;
  if (distance >= 8) {
    // Most matches are short: five words cover them without a test.
    for (int word = 0; word < 5; ++word) store_u64(out + 8 * word, load_le64(src + 8 * word));
    out += 40;
    src += 40;
    while (out < end) {
      store_u64(out, load_le64(src));
      out += 8;
      src += 8;
    }
  } else if (distance == 1) {
    uint64_t v = 0x0101010101010101ull * *src;
    for (int word = 0; word < 5; ++word) store_u64(out + 8 * word, v);
    out += 40;
    while (out < end) {
      store_u64(out, v);
      out += 8;
    }
  } else {
    // Close behind: each byte may repeat one just written.
    do *out++ = *src++;
    while (out < end);
  }
}

// Decodes literal/length and distance codes up to the end of the block.
// False: a data error, a failed write or an abandoned input.
//
// The fast loop (64-bit code only) runs while the input buffer holds 16
// bytes and the window has room for a longest copy: the bit buffer is then
// topped up without a test for the end of the input, no padding can be met
// and no room needs making. Each round looks up the next literal/length
// entry before it copies, so that the lookup overlaps the copy. Everything
// else goes one code at a time through the careful loop, which then hands
// back to the fast one.
KESTREL_BIT_TARGETS bool decode_codes(Decompressor& d, const CodeEntry* literals, const CodeEntry* distances) {
  const uint32_t literal_mask = (1u << kLiteralRootBits) - 1;
  const uint32_t distance_mask = (1u << kDistanceRootBits) - 1;
  BitInput& b = d.bits;
  OutputWindow& w = d.window;
  uint8_t* const base = w.buffer;
  uint8_t* const full = base + w.end;
  // A longest copy that starts before here ends inside the buffer, its
  // overshoot included.
  const uint32_t fast_room = kMaxCopy + kCopyOvershoot;
  uint8_t* const fast_end = base + (w.end > fast_room ? w.end - fast_room : 0);
  uint64_t bits = b.buffer;
  uint32_t count = b.count;
  const uint8_t* next = b.input.next;
  const uint8_t* in_end = next + b.input.available;
  uint8_t* out = base + w.position;
  const uint8_t* first = base + w.first;
  bool ok = false;

  auto store = [&] {
    b.buffer = bits;
    b.count = static_cast<uint8_t>(count);
    b.input.next = next;
    b.input.available = static_cast<uint32_t>(in_end - next);
    w.position = static_cast<uint32_t>(out - base);
  };
  auto load = [&] {
    bits = b.buffer;
    count = b.count;
    next = b.input.next;
    in_end = next + b.input.available;
    out = base + w.position;
    first = base + w.first;
  };
  // Whole bytes only; the bits above them repeat the next input bytes and
  // are ORed in again unchanged.
  auto refill = [&] {
    bits |= load_le64(next) << static_cast<uint8_t>(count);
    next += (63 - static_cast<uint8_t>(count)) >> 3;
    count |= 56;
  };
  auto consume = [&](uint32_t n) {
    bits >>= n;
    count -= n;
  };
  // An entry's drop: the fast loop subtracts the whole entry from the
  // count, whose low byte alone is kept right (the borrow goes into the
  // bits above it, which refill and the careful loop ignore).
  auto drop_entry = [&](CodeEntry e) {
    bits >>= static_cast<uint8_t>(e);
    count -= e;
  };

  for (;;) {
    if (kFastLoop && in_end - next >= 16 && out < fast_end) {
      // A round reads at most 16 bytes ahead.
      const uint8_t* const in_fast_end = in_end - 16;
      refill();
      CodeEntry e = literals[bits & literal_mask];
      // Each round starts with at least 56 bits: every way through it ends
      // with a refill.
      do {
        // The entry's bits go at once, whatever it is, so that the next
        // lookup need not wait for the tests below. A link drops its root
        // bits; the end of block and an invalid code end the loop anyway.
        uint64_t saved = bits;
        drop_entry(e);
        if (e & kEntryLiteral) {
          // Literals in the root table take at most its width, 10 bits: of
          // the 56 bits, four literals leave enough for the next lookup.
          *out++ = static_cast<uint8_t>(entry_value(e));
          e = literals[bits & literal_mask];
          for (int more = 3; more > 0 && (e & kEntryLiteral); --more) {
            drop_entry(e);
            *out++ = static_cast<uint8_t>(entry_value(e));
            e = literals[bits & literal_mask];
          }
          refill();
          continue;
        }
        if (e & kEntrySpecial) {
          if (e & kEntryLink) {
            e = literals[entry_value(e) + low_bits(bits, entry_code_bits(e))];
            saved = bits;
            drop_entry(e);
            if (e & kEntryLiteral) {
              *out++ = static_cast<uint8_t>(entry_value(e));
              e = literals[bits & literal_mask];
              refill();
              continue;
            }
          }
          if (e & kEntrySpecial) {
            ok = (e & kEntryEnd) != 0;
            goto done;
          }
        }
        uint32_t length = entry_amount(e, saved);

        e = distances[bits & distance_mask];
        if (e & kEntrySpecial) {
          if (!(e & kEntryLink)) goto done;
          drop_entry(e);
          e = distances[entry_value(e) + low_bits(bits, entry_code_bits(e))];
          if (e & kEntrySpecial) goto done;
        }
        saved = bits;
        drop_entry(e);
        uint32_t distance = entry_amount(e, saved);
        refill();
        e = literals[bits & literal_mask];
        if (distance > static_cast<uint32_t>(out - first)) {
          store();
          bool copied = copy_exact(w, distance, length);
          load();
          if (!copied) goto done;
          continue;
        }
        copy_match(out, distance, length);
        out += length;
      } while (next <= in_fast_end && out < fast_end);
    }

    // One code, carefully.
    store();
    bool more = need_bits(b, kStepBits);
    load();
    if (!more) break;
    CodeEntry e = literals[bits & literal_mask];
    if (e & kEntryLink) {
      consume(entry_drop(e));
      e = literals[entry_value(e) + low_bits(bits, entry_code_bits(e))];
    }
    uint64_t saved = bits;
    consume(entry_drop(e));
    if (count < b.padding) break;
    if (e & kEntryLiteral) {
      if (out == full) {
        store();
        bool room = make_room(w);
        load();
        if (!room) break;
      }
      *out++ = static_cast<uint8_t>(entry_value(e));
      continue;
    }
    if (e & kEntrySpecial) {
      ok = (e & kEntryEnd) != 0;
      break;
    }
    uint32_t length = entry_amount(e, saved);
    e = distances[bits & distance_mask];
    if (e & kEntryLink) {
      consume(entry_drop(e));
      e = distances[entry_value(e) + low_bits(bits, entry_code_bits(e))];
    }
    if (e & kEntrySpecial) break;
    saved = bits;
    consume(entry_drop(e));
    if (count < b.padding) break;
    uint32_t distance = entry_amount(e, saved);
    if (distance <= static_cast<uint32_t>(out - first) && out + length + kCopyOvershoot <= full) {
      copy_match(out, distance, length);
      out += length;
      continue;
    }
    store();
    bool copied = copy_exact(w, distance, length);
    load();
    if (!copied) break;
  }
done:
  store();
  return ok;
}

int fixed_block(Decompressor& d) {
  DecodeTables& t = *d.tables;
  if (!d.fixed_built) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    int r = build_code_table(lengths, 288, 257, d.length_values, t.fixed_literal, kLiteralTableSize,
                             kLiteralRootBits);
    if (r != kCodeComplete) return r;
    std::memset(lengths, 5, 30);
    // Two of the 32 five-bit codes are unused: incomplete is expected.
    r = build_code_table(lengths, 30, 0, d.distance_values, t.fixed_distance, kDistanceTableSize,
                         kDistanceRootBits);
    if (r == kCodeOversubscribed || r == kCodeNoMemory) return r;
    d.fixed_built = true;
  }
  return decode_codes(d, t.fixed_literal, t.fixed_distance) ? kStreamOk : kStreamDataError;
}

int dynamic_block(Decompressor& d) {
  BitInput& b = d.bits;
  DecodeTables& t = *d.tables;
  uint32_t literal_count, distance_count, length_count;
  if (!take_bits(b, 5, &literal_count) || !take_bits(b, 5, &distance_count) || !take_bits(b, 4, &length_count))
    return kStreamDataError;
  literal_count += 257;
  distance_count += 1;
  length_count += 4;
  if (literal_count > 286 || distance_count > 30) return kStreamDataError;

  uint8_t lengths[286 + 30];
  uint8_t code_lengths[19] = {};
  for (uint32_t i = 0; i < length_count; ++i) {
    uint32_t v;
    if (!take_bits(b, 3, &v)) return kStreamDataError;
    code_lengths[d.code_length_order[i]] = static_cast<uint8_t>(v);
  }
  int r = build_code_table(code_lengths, 19, 19, nullptr, t.code_length, kCodeLengthTableSize, kCodeLengthRootBits);
  if (r != kCodeComplete) return r;

  // Code lengths are at most 7 bits, within the root width: one lookup
  // each. A code-length code without any code finds invalid entries only.
  const uint32_t width = kCodeLengthRootBits;
  uint32_t total = literal_count + distance_count;
  uint32_t previous = 0;
  for (uint32_t i = 0; i < total;) {
    if (!need_bits(b, width)) return kStreamDataError;
    CodeEntry e = t.code_length[low_bits(b.buffer, width)];
    if (!(e & kEntryLiteral)) return kStreamDataError;
    drop_bits(b, entry_drop(e));
    if (ran_out(b)) return kStreamDataError;
    uint32_t symbol = entry_value(e), repeat, fill = 0, extra;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      previous = symbol;
      continue;
    }
    if (symbol == 16) {
      if (!take_bits(b, 2, &extra)) return kStreamDataError;
      repeat = 3 + extra;
      fill = previous;
    } else if (symbol == 17) {
      if (!take_bits(b, 3, &extra)) return kStreamDataError;
      repeat = 3 + extra;
      previous = 0;
    } else {
      if (!take_bits(b, 7, &extra)) return kStreamDataError;
      repeat = 11 + extra;
      previous = 0;
    }
    if (i + repeat > total) return kStreamDataError;
    std::memset(lengths + i, static_cast<int>(fill), repeat);
    i += repeat;
  }

  r = build_code_table(lengths, literal_count, 257, d.length_values, t.literal, kLiteralTableSize, kLiteralRootBits);
  if (r != kCodeComplete) return r;
  // Without distance codes the table holds invalid entries only: every
  // length code is then a data error.
  r = build_code_table(lengths + literal_count, distance_count, 0, d.distance_values, t.distance, kDistanceTableSize,
                       kDistanceRootBits);
  if (r != kCodeComplete) return r;
  return decode_codes(d, t.literal, t.distance) ? kStreamOk : kStreamDataError;
}

int stored_block(Decompressor& d) {
  BitInput& b = d.bits;
  OutputWindow& w = d.window;
  drop_bits(b, b.count & 7);
  uint32_t length;
  if (!take_bits(b, 16, &length)) return kStreamDataError;
  // First the whole bytes still in the bit buffer, then straight from the
  // input buffer.
  while (length && b.count >= 8) {
    if (b.count - 8 < b.padding) return kStreamDataError;
    if (w.position == w.end && !make_room(w)) return kStreamDataError;
    w.buffer[w.position++] = static_cast<uint8_t>(b.buffer);
    drop_bits(b, 8);
    --length;
  }
  if (length == 0) return kStreamOk;
  // The buffer is empty now; the bits above it repeat bytes that are about
  // to be taken directly.
  b.buffer = 0;
  InputReader& in = b.input;
  while (length) {
    if (in.available == 0) refill_input(in);
    if (in.available == 0 || b.padding) return kStreamDataError;
    if (w.position == w.end && !make_room(w)) return kStreamDataError;
    uint32_t n = in.available;
    if (n > length) n = length;
    if (n > w.end - w.position) n = w.end - w.position;
    std::memcpy(w.buffer + w.position, in.next, n);
    in.next += n;
    in.available -= n;
    length -= n;
    w.position += n;
  }
  return kStreamOk;
}

void fill_constant_tables(Decompressor& d) {
  for (uint32_t i = 0; i < 19; ++i) d.code_length_order[i] = static_cast<uint8_t>(i < 3 ? 18 - i : i - 3);
  uint32_t base = 3;
  for (uint32_t i = 0; i < 28; ++i) {
    uint32_t extra = i < 8 ? 0 : (i - 4) / 4;
    d.length_values[i] = SymbolValue{static_cast<uint16_t>(base), static_cast<uint8_t>(extra)};
    base += 1u << extra;
  }
  d.length_values[28] = SymbolValue{258, 0};
  // 286 and 287 exist only in the fixed code and must not decode.
  d.length_values[29] = d.length_values[30] = SymbolValue{0, 100};
  base = 1;
  for (uint32_t i = 0; i < 30; ++i) {
    uint32_t extra = i < 4 ? 0 : (i - 2) / 2;
    d.distance_values[i] = SymbolValue{static_cast<uint16_t>(base), static_cast<uint8_t>(extra)};
    base += 1u << extra;
  }
}

}  // namespace

int decode_stream(Decompressor& d) {
  fill_constant_tables(d);
  d.fixed_built = false;
  reset_bits(d.bits);
  // In front of a sink the window comes first in the allocation; into
  // memory the caller has set it up on its buffer.
  uint32_t window_bytes = d.sink ? static_cast<uint32_t>(kWindowEnd) : 0;
  if (!alloc_block(window_bytes + sizeof(DecodeTables), &d.memory)) return kStreamNoMemory;
  if (d.sink) start_window(d.window, d.memory, d.sink);
  d.tables = reinterpret_cast<DecodeTables*>(d.memory + window_bytes);

  int result = kStreamOk;
  uint32_t last = 0;
  do {
    uint32_t header;
    if (!take_bits(d.bits, 4, &header)) {
      result = kStreamDataError;
      break;
    }
    last = header >> 3;
    switch (header & 7) {
      case 5: result = fixed_block(d); break;
      case 6: result = dynamic_block(d); break;
      case 7: result = stored_block(d); break;
      default: result = kStreamBadBlock; break;
    }
  } while (!last && result == kStreamOk && !d.bits.input.failed);
  if (d.bits.input.failed) result = kStreamDataError;
  if (!finish_window(d.window, result == kStreamOk) && result == kStreamOk) result = kStreamDataError;

  free_block(&d.memory);
  d.tables = nullptr;
  give_back_bits(d.bits);
  return result;
}
