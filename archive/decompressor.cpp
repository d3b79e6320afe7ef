// The block decoder, the 32 KiB window that is also the output buffer, the
// sinks, and the input reader that keeps the file right behind the stream.
#include "archive/decompressor.h"

#include <cstring>

#include "app/memory.h"
#include "archive/data_area.h"

// ---------------------------------------------------------------------------
// Input

InputReader::~InputReader() { end_input(*this); }

bool begin_input(InputReader& in, FileHandle file, uint32_t compressed_length) {
  if (file == INVALID_FILE_HANDLE) return false;
  if (!alloc_zeroed(kInputChunk, &in.buffer)) return false;
  in.next = in.buffer;
  in.available = 0;
  in.compressed_left = compressed_length;
  in.from_data_area = compressed_length != 0;
  in.failed = false;
  in.file = file;
  return true;
}

void end_input(InputReader& in) {
  free_block(&in.buffer);
  if (in.file != INVALID_FILE_HANDLE && in.available > 0) {
    skip_file(in.file, -static_cast<int32_t>(in.available));
    // The reader counts what it handed out; these bytes are unread again.
    if (in.from_data_area && in.file == data_file) volume_left += in.available;
  }
  in.next = nullptr;
  in.available = 0;
  in.file = INVALID_FILE_HANDLE;
}

void refill_input(InputReader& in) {
  in.next = in.buffer;
  in.available = 0;
  if (!in.buffer) return;
  if (!in.from_data_area) {
    in.available = read_some(in.file, in.buffer, kInputChunk);
    return;
  }
  // A data-area stream ends at its compressed length: reading on would take
  // the next item's bytes.
  if (in.failed || in.compressed_left == 0) return;
  uint32_t chunk = in.compressed_left < kInputChunk ? in.compressed_left : kInputChunk;
  // A change of volume inside read_data replaces the reader's handle.
  bool volume_file = in.file == data_file;
  uint32_t got = 0;
  int r = read_data(in.file, in.buffer, chunk, &got);
  if (volume_file) in.file = data_file;
  if (r != 0) {
    in.failed = true;
    return;
  }
  in.available = got;
  in.compressed_left -= got;
}

bool fetch_byte(InputReader& in, uint8_t* byte) {
  if (in.available == 0) refill_input(in);
  if (in.available == 0) return false;
  *byte = *in.next++;
  --in.available;
  return true;
}

// ---------------------------------------------------------------------------
// Sinks

bool MemorySink::write(const uint8_t* data, uint32_t count) {
  uint32_t n = count < left_ ? count : left_;
  if (n) std::memcpy(next_, data, n);
  next_ += n;
  left_ -= n;
  produced_ += n;
  return n == count;
}

bool FileSink::write(const uint8_t* data, uint32_t count) {
  if (file_ != INVALID_FILE_HANDLE) write_all(file_, data, count);
  return true;
}

// ---------------------------------------------------------------------------
// Bits

namespace {

// Bits a fast decoding step may use: a literal/length code with its extra
// bits and a distance code with its extra bits.
enum : uint32_t { kStepBits = 15 + 5 + 15 + 13, kMaxCopy = 258, kMaxExtraBits = 13 };

inline uint32_t low_bits(uint64_t buffer, uint32_t n) { return static_cast<uint32_t>(buffer) & ((1u << n) - 1); }

inline uint64_t load_u64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Makes at least n (<= 56) bits available, a byte at a time. At the end of
// the input zero bytes are put behind it so that table lookups can go on;
// consuming one of their bits is caught by ran_out. False: a data-area read
// failed and the stream is abandoned.
bool need_bits(Decompressor& d, uint32_t n) {
  while (d.bit_count < n) {
    uint8_t byte;
    // Once the input has ended nothing more is fetched, so that padding is
    // never followed by real bytes.
    if (d.padding_bits == 0 && fetch_byte(d.input, &byte)) {
      d.bit_buffer |= static_cast<uint64_t>(byte) << d.bit_count;
    } else {
      if (d.input.failed) return false;
      d.bit_buffer &= (static_cast<uint64_t>(1) << d.bit_count) - 1;
      d.padding_bits += 8;
    }
    d.bit_count += 8;
  }
  return true;
}

inline bool ran_out(const Decompressor& d) { return d.bit_count < d.padding_bits; }

inline void drop_bits(Decompressor& d, uint32_t n) {
  d.bit_buffer >>= n;
  d.bit_count -= n;
}

// False when the input ended first or was abandoned.
bool take_bits(Decompressor& d, uint32_t n, uint32_t* value) {
  if (!need_bits(d, n)) return false;
  *value = low_bits(d.bit_buffer, n);
  drop_bits(d, n);
  return !ran_out(d);
}

// Hands the whole bytes that the bit buffer holds unused back to the input,
// so that end_input gives them back to the file. The read pointer is not
// used again.
void give_back_bits(Decompressor& d) {
  uint32_t real = d.bit_count > d.padding_bits ? d.bit_count - d.padding_bits : 0;
  d.input.available += real >> 3;
  d.bit_buffer = 0;
  d.bit_count = d.padding_bits = 0;
}

// ---------------------------------------------------------------------------
// Window

inline bool flush_window(Decompressor& d) {
  d.window_filled = true;
  return d.sink->write(d.window, kWindowSize);
}

// A copy whose source or destination wraps around the window's end. A
// source before the stream's first byte reads as zeros: the window starts
// out zero-filled in effect, without clearing 32 KiB for every stream.
bool copy_wrapping(Decompressor& d, uint32_t distance, uint32_t length) {
  uint8_t* w = d.window;
  uint32_t pos = d.window_position;
  uint32_t source = (pos - distance) & (kWindowSize - 1);
  while (length) {
    uint32_t chunk = kWindowSize - (source > pos ? source : pos);
    if (chunk > length) chunk = length;
    if (!d.window_filled && source >= pos) {
      std::memset(w + pos, 0, chunk);
    } else if (source + chunk <= pos || pos + chunk <= source) {
      std::memcpy(w + pos, w + source, chunk);
    } else {
      // Overlapping from behind repeats the bytes just written.
      for (uint32_t i = 0; i < chunk; ++i) w[pos + i] = w[source + i];
    }
    pos += chunk;
    source += chunk;
    length -= chunk;
    if (pos == kWindowSize) {
      if (!flush_window(d)) return false;
      pos = 0;
    }
    if (source == kWindowSize) source = 0;
  }
  d.window_position = pos;
  return true;
}

// Copies inside the window without wrapping. Bytes are never written past
// the copy's end: they may still hold the previous lap that a later copy
// reads. With the source at least 8 bytes behind, 8-byte moves only read
// bytes already final, and the last move may overlap the one before it.
inline void copy_match(uint8_t* dst, uint32_t distance, uint32_t length) {
  const uint8_t* src = dst - distance;
  if (distance >= 8) {
    if (length >= 8) {
      uint8_t* end = dst + length;
      do {
        std::memcpy(dst, src, 8);
        dst += 8;
        src += 8;
      } while (dst + 8 < end);
      std::memcpy(end - 8, end - 8 - distance, 8);
    } else if (length >= 4) {
      std::memcpy(dst, src, 4);
      std::memcpy(dst + length - 4, src + length - 4, 4);
    } else {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
  } else if (distance == 1) {
    std::memset(dst, *src, length);
  } else {
    // Close behind: each byte may repeat one just written.
    while (length--) *dst++ = *src++;
  }
}

// ---------------------------------------------------------------------------
// Blocks

// Decodes literal/length and distance codes up to the end of the block.
// False: a data error, a failed write or an abandoned input.
//
// The fast loop runs while the input buffer holds 8 bytes and the window has
// room for a longest copy: the bit buffer is then topped up without a test
// for the end of the input, no padding can be met and nothing needs
// flushing. Everything else goes one code at a time through the careful
// loop, which then hands back to the fast one.
bool decode_codes(Decompressor& d, const CodeEntry* literals, uint32_t literal_width, const CodeEntry* distances,
                  uint32_t distance_width) {
  if (!literals) return false;
  const uint32_t literal_mask = (1u << literal_width) - 1;
  const uint32_t distance_mask = (1u << distance_width) - 1;
  uint64_t bits = d.bit_buffer;
  uint32_t count = d.bit_count;
  const uint8_t* next = d.input.next;
  uint32_t available = d.input.available;
  uint8_t* const window = d.window;
  uint32_t pos = d.window_position;
  uint32_t padding = d.padding_bits;
  bool ok = false;

  auto store = [&] {
    d.bit_buffer = bits;
    d.bit_count = count;
    d.input.next = next;
    d.input.available = available;
    d.window_position = pos;
  };
  auto load = [&] {
    bits = d.bit_buffer;
    count = d.bit_count;
    next = d.input.next;
    available = d.input.available;
    pos = d.window_position;
    padding = d.padding_bits;
  };
  auto consume = [&](uint32_t n) {
    bits >>= n;
    count -= n;
  };

  for (;;) {
    while (available >= 8 && pos < kWindowSize - kMaxCopy) {
      // Whole bytes only; the bits above them repeat the next byte and are
      // ORed in again unchanged.
      bits |= load_u64(next) << count;
      uint32_t taken = (63 - count) >> 3;
      next += taken;
      available -= taken;
      count |= 56;
      CodeEntry e = literals[bits & literal_mask];
      if (e.op == kOpLiteral) {
        // A literal leaves at least 41 bits: enough for a second literal,
        // not for a length and distance.
        consume(e.bits);
        window[pos++] = static_cast<uint8_t>(e.value);
        e = literals[bits & literal_mask];
        if (e.op != kOpLiteral) continue;
        consume(e.bits);
        window[pos++] = static_cast<uint8_t>(e.value);
        continue;
      }
      if (e.op > kOpLiteral) {
        if (e.op == kOpInvalid) goto done;
        consume(e.bits);
        e = literals[e.value + low_bits(bits, e.op - kOpLiteral)];
      }
      consume(e.bits);
      if (e.op == kOpLiteral) {
        window[pos++] = static_cast<uint8_t>(e.value);
        continue;
      }
      if (e.op > kMaxExtraBits) {
        ok = e.op == kOpEndOfBlock;
        goto done;
      }
      uint32_t length = e.value + low_bits(bits, e.op);
      consume(e.op);
      if (!distances) goto done;
      e = distances[bits & distance_mask];
      if (e.op > kOpLiteral) {
        if (e.op == kOpInvalid) goto done;
        consume(e.bits);
        e = distances[e.value + low_bits(bits, e.op - kOpLiteral)];
      }
      consume(e.bits);
      if (e.op > kMaxExtraBits) goto done;
      uint32_t distance = e.value + low_bits(bits, e.op);
      consume(e.op);
      if (distance <= pos) {
        copy_match(window + pos, distance, length);
        pos += length;
      } else {
        store();
        bool copied = copy_wrapping(d, distance, length);
        load();
        if (!copied) goto done;
      }
    }

    // One code, carefully.
    if (count < kStepBits) {
      store();
      bool more = need_bits(d, kStepBits);
      load();
      if (!more) break;
    }
    CodeEntry e = literals[bits & literal_mask];
    while (e.op > kOpLiteral) {
      if (e.op == kOpInvalid) goto done;
      consume(e.bits);
      e = literals[e.value + low_bits(bits, e.op - kOpLiteral)];
    }
    consume(e.bits);
    if (count < padding) break;
    if (e.op == kOpLiteral) {
      window[pos++] = static_cast<uint8_t>(e.value);
      if (pos == kWindowSize) {
        if (!flush_window(d)) break;
        pos = 0;
      }
      continue;
    }
    if (e.op > kMaxExtraBits) {
      ok = e.op == kOpEndOfBlock;
      break;
    }
    uint32_t length = e.value + low_bits(bits, e.op);
    consume(e.op);
    if (!distances) break;
    e = distances[bits & distance_mask];
    while (e.op > kOpLiteral) {
      if (e.op == kOpInvalid) goto done;
      consume(e.bits);
      e = distances[e.value + low_bits(bits, e.op - kOpLiteral)];
    }
    consume(e.bits);
    uint32_t distance = e.value + low_bits(bits, e.op);
    consume(e.op);
    if (count < padding) break;
    if (distance <= pos && pos + length < kWindowSize) {
      copy_match(window + pos, distance, length);
      pos += length;
    } else {
      store();
      bool copied = copy_wrapping(d, distance, length);
      load();
      if (!copied) break;
    }
  }
done:
  store();
  return ok;
}

int fixed_block(Decompressor& d) {
  if (!d.fixed_literal) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    // The whole fixed literal/length code fits one 9-bit lookup.
    uint32_t width = 9;
    int r = build_code_table(lengths, 288, 257, d.length_bases, d.length_extra, &d.fixed_literal, &width);
    if (r != kCodeComplete) {
      free_code_table(&d.fixed_literal);
      return r;
    }
    d.fixed_literal_width = width;
    std::memset(lengths, 5, 30);
    width = 5;
    // Two of the 32 five-bit codes are unused: incomplete is expected.
    r = build_code_table(lengths, 30, 0, d.distance_bases, d.distance_extra, &d.fixed_distance, &width);
    if (r == kCodeOversubscribed || r == kCodeNoMemory) {
      free_code_table(&d.fixed_literal);
      return r;
    }
    d.fixed_distance_width = width;
  }
  return decode_codes(d, d.fixed_literal, d.fixed_literal_width, d.fixed_distance, d.fixed_distance_width)
             ? kStreamOk
             : kStreamDataError;
}

int dynamic_block(Decompressor& d) {
  uint32_t literal_count, distance_count, length_count;
  if (!take_bits(d, 5, &literal_count) || !take_bits(d, 5, &distance_count) || !take_bits(d, 4, &length_count))
    return kStreamDataError;
  literal_count += 257;
  distance_count += 1;
  length_count += 4;
  if (literal_count > 286 || distance_count > 30) return kStreamDataError;

  uint8_t lengths[286 + 30];
  uint8_t code_lengths[19] = {};
  for (uint32_t i = 0; i < length_count; ++i) {
    uint32_t v;
    if (!take_bits(d, 3, &v)) return kStreamDataError;
    code_lengths[d.code_length_order[i]] = static_cast<uint8_t>(v);
  }
  CodeEntry* table = nullptr;
  uint32_t width = 7;
  int r = build_code_table(code_lengths, 19, 19, nullptr, nullptr, &table, &width);
  if (r != kCodeComplete) {
    free_code_table(&table);
    return r;
  }
  // A code-length code without any code cannot give the lengths.
  if (!table) return kStreamDataError;

  // Code lengths are at most 7 bits, within the root width: one lookup each.
  uint32_t total = literal_count + distance_count;
  uint32_t previous = 0;
  int result = kStreamOk;
  for (uint32_t i = 0; i < total && result == kStreamOk;) {
    if (!need_bits(d, width)) {
      result = kStreamDataError;
      break;
    }
    CodeEntry e = table[low_bits(d.bit_buffer, width)];
    if (e.op == kOpInvalid) {
      result = kStreamDataError;
      break;
    }
    drop_bits(d, e.bits);
    if (ran_out(d)) {
      result = kStreamDataError;
      break;
    }
    uint32_t symbol = e.value, repeat = 0, fill = 0, extra;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      previous = symbol;
      continue;
    }
    if (symbol == 16) {
      if (!take_bits(d, 2, &extra)) result = kStreamDataError;
      repeat = 3 + extra;
      fill = previous;
    } else if (symbol == 17) {
      if (!take_bits(d, 3, &extra)) result = kStreamDataError;
      repeat = 3 + extra;
      previous = 0;
    } else {
      if (!take_bits(d, 7, &extra)) result = kStreamDataError;
      repeat = 11 + extra;
      previous = 0;
    }
    if (result == kStreamOk && i + repeat > total) result = kStreamDataError;
    if (result == kStreamOk) {
      std::memset(lengths + i, static_cast<int>(fill), repeat);
      i += repeat;
    }
  }
  free_code_table(&table);
  if (result != kStreamOk) return result;

  CodeEntry* literals = nullptr;
  CodeEntry* distances = nullptr;
  uint32_t literal_width = 10, distance_width = 8;
  r = build_code_table(lengths, literal_count, 257, d.length_bases, d.length_extra, &literals, &literal_width);
  if (r != kCodeComplete) {
    free_code_table(&literals);
    return r;
  }
  r = build_code_table(lengths + literal_count, distance_count, 0, d.distance_bases, d.distance_extra, &distances,
                       &distance_width);
  if (r != kCodeComplete) {
    free_code_table(&distances);
    free_code_table(&literals);
    return r;
  }
  bool ok = decode_codes(d, literals, literal_width, distances, distance_width);
  free_code_table(&distances);
  free_code_table(&literals);
  return ok ? kStreamOk : kStreamDataError;
}

int stored_block(Decompressor& d) {
  drop_bits(d, d.bit_count & 7);
  uint32_t length;
  if (!take_bits(d, 16, &length)) return kStreamDataError;
  // First the whole bytes still in the bit buffer, then straight from the
  // input buffer.
  while (length && d.bit_count >= 8) {
    if (d.bit_count - 8 < d.padding_bits) return kStreamDataError;
    d.window[d.window_position++] = static_cast<uint8_t>(d.bit_buffer);
    drop_bits(d, 8);
    --length;
    if (d.window_position == kWindowSize) {
      if (!flush_window(d)) return kStreamDataError;
      d.window_position = 0;
    }
  }
  if (length == 0) return kStreamOk;
  // The buffer is empty now; the bits above it repeat bytes that are about
  // to be taken directly.
  d.bit_buffer = 0;
  InputReader& in = d.input;
  while (length) {
    if (in.available == 0) refill_input(in);
    if (in.available == 0 || d.padding_bits) return kStreamDataError;
    uint32_t n = in.available;
    if (n > length) n = length;
    if (n > kWindowSize - d.window_position) n = kWindowSize - d.window_position;
    std::memcpy(d.window + d.window_position, in.next, n);
    in.next += n;
    in.available -= n;
    length -= n;
    d.window_position += n;
    if (d.window_position == kWindowSize) {
      if (!flush_window(d)) return kStreamDataError;
      d.window_position = 0;
    }
  }
  return kStreamOk;
}

void fill_constant_tables(Decompressor& d) {
  for (uint32_t i = 0; i < 19; ++i) d.code_length_order[i] = static_cast<uint8_t>(i < 3 ? 18 - i : i - 3);
  uint32_t base = 3;
  for (uint32_t i = 0; i < 28; ++i) {
    uint32_t extra = i < 8 ? 0 : (i - 4) / 4;
    d.length_bases[i] = static_cast<uint16_t>(base);
    d.length_extra[i] = static_cast<uint16_t>(extra);
    base += 1u << extra;
  }
  d.length_bases[28] = 258;
  d.length_extra[28] = 0;
  // 286 and 287 exist only in the fixed code and must not decode.
  d.length_bases[29] = d.length_bases[30] = 0;
  d.length_extra[29] = d.length_extra[30] = kOpInvalid;
  base = 1;
  for (uint32_t i = 0; i < 30; ++i) {
    uint32_t extra = i < 4 ? 0 : (i - 2) / 2;
    d.distance_bases[i] = static_cast<uint16_t>(base);
    d.distance_extra[i] = static_cast<uint16_t>(extra);
    base += 1u << extra;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams

int decode_stream(Decompressor& d) {
  fill_constant_tables(d);
  d.fixed_literal = d.fixed_distance = nullptr;
  d.fixed_literal_width = d.fixed_distance_width = 0;
  d.window_position = 0;
  d.bit_buffer = 0;
  d.bit_count = d.padding_bits = 0;
  d.window_filled = false;
  if (!alloc_block(kWindowSize, &d.window)) return kStreamNoMemory;

  int result = kStreamOk;
  uint32_t last = 0;
  do {
    uint32_t header;
    if (!take_bits(d, 4, &header)) {
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
  } while (!last && result == kStreamOk && !d.input.failed);
  if (d.input.failed) result = kStreamDataError;
  if (result == kStreamOk && !d.sink->write(d.window, d.window_position)) result = kStreamDataError;

  free_code_table(&d.fixed_literal);
  free_code_table(&d.fixed_distance);
  free_block(&d.window);
  give_back_bits(d);
  return result;
}

bool decode_to_sink(OutputSink& sink, FileHandle input, uint32_t compressed_length) {
  Decompressor d;
  if (!begin_input(d.input, input, compressed_length)) return false;
  if (!sink.ready()) {
    end_input(d.input);
    return false;
  }
  d.sink = &sink;
  int result = decode_stream(d);
  bool ok = result == kStreamOk && !d.input.failed;
  end_input(d.input);
  return ok;
}

bool decode_to_memory(uint8_t* buffer, uint32_t capacity, FileHandle input, uint32_t compressed_length,
                      uint32_t* produced) {
  MemorySink sink(buffer, capacity);
  bool ok = decode_to_sink(sink, input, compressed_length);
  if (produced) *produced = sink.produced();
  return ok;
}

bool decode_to_file(FileHandle output, FileHandle input, uint32_t compressed_length) {
  FileSink sink(output);
  return decode_to_sink(sink, input, compressed_length);
}
