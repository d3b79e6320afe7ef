#include "archive/lzma_decoder.h"

#include <new>

#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "base/memory.h"

namespace {

// Where each group of probabilities starts, in 16-bit units.
enum : uint32_t {
  kIsMatch = 0,         // 12 states x 16 position states
  kIsRep = 192,         // 12 each: IsRep, IsRepG0, IsRepG1, IsRepG2
  kIsRep0Long = 240,    // 12 x 16
  kPosSlot = 432,       // 4 length states x 64
  kSpecPos = 688,       // the reversed trees of slots 4 to 13, counted from 1
  kAlign = 803,         // 16
  kLength = 819,        // 514: choice, choice 2, 16 x 8 low, 16 x 8 mid, 256 high
  kRepLength = 1333,    // 514
  kLiteral = 1847,      // 0x300 per literal state
};

uint32_t next_byte(LzmaDecoder* d) {
  uint8_t b = 0;
  // Past the end of the stream the input reads as zeros, which is
  // harmless for the bounded work left, and the stream has failed.
  if (!fetch_byte(d->in, &b)) d->bad = true;
  return b;
}

void normalize(LzmaDecoder* d) {
  if (d->range < (1u << 24)) {
    d->range <<= 8;
    d->code = (d->code << 8) | next_byte(d);
  }
}

uint32_t bit(LzmaDecoder* d, uint16_t* p) {
  uint32_t bound = (d->range >> 11) * *p, b = d->code >= bound;
  if (b) {
    d->range -= bound;
    d->code -= bound;
    *p -= *p >> 5;
  } else {
    d->range = bound;
    *p += (2048 - *p) >> 5;
  }
  normalize(d);
  return b;
}

// A tree of `bits` levels whose node m has its children at 2m and 2m + 1;
// `reverse`: the first bit is the least significant one.
uint32_t tree(LzmaDecoder* d, uint16_t* p, uint32_t bits, bool reverse = false) {
  uint32_t m = 1, symbol = 0;
  for (uint32_t i = 0; i < bits; ++i) {
    uint32_t b = bit(d, p + m);
    m = m * 2 + b;
    symbol |= b << i;
  }
  return reverse ? symbol : m - (1u << bits);
}

uint32_t length(LzmaDecoder* d, uint16_t* p, uint32_t pos_state) {
  if (!bit(d, p)) return tree(d, p + 2 + pos_state * 8, 3);
  if (!bit(d, p + 1)) return 8 + tree(d, p + 130 + pos_state * 8, 3);
  return 16 + tree(d, p + 258, 8);
}

uint32_t distance(LzmaDecoder* d, uint32_t len) {
  uint32_t slot = tree(d, d->probs + kPosSlot + (len < 3 ? len : 3) * 64, 6);
  if (slot < 4) return slot;
  uint32_t n = (slot >> 1) - 1, dist = (2 | (slot & 1)) << n;
  if (slot < 14) return dist + tree(d, d->probs + kSpecPos + dist - slot, n, true);
  uint32_t direct = 0;
  for (n -= 4; n; --n) {
    d->range >>= 1;
    uint32_t b = d->code >= d->range;
    if (b) d->code -= d->range;
    direct = direct * 2 + b;
    normalize(d);
  }
  return dist + (direct << 4) + tree(d, d->probs + kAlign, 4, true);
}

// The byte `back` + 1 places behind the next one; the caller has checked
// that the dictionary holds it.
uint8_t history(LzmaDecoder* d, uint32_t back) {
  uint32_t at = d->pos - back - 1;
  if (at >= d->dict_size) at += d->dict_size;
  return d->dict[at];
}

// Hands the bytes since the last flush to the sink.
void flush(LzmaDecoder* d) {
  uint32_t count = static_cast<uint32_t>(d->dict + d->pos - d->flushed);
  if (d->sink && count && !d->sink->write(d->flushed, count)) d->bad = true;
  d->flushed = d->dict + d->pos;
}

void put(LzmaDecoder* d, uint8_t byte) {
  d->dict[d->pos++] = byte;
  ++d->total;
  if (d->pos < d->dict_size) return;
  // A sink sums each piece in groups of 4 from the piece's start: the
  // last 1 to 3 bytes of the dictionary wait in the 4 bytes before it,
  // to be handed on with what follows them at its start.
  uint32_t keep = static_cast<uint32_t>(d->dict + d->dict_size - d->flushed) & 3;
  d->pos -= keep;
  flush(d);
  uint8_t* front = d->dict - keep;
  for (uint32_t i = 0; i < keep; ++i) front[i] = d->dict[d->pos + i];
  d->flushed = front;
  d->pos = 0;
  d->full = true;
}

}  // namespace

int lzma_begin(LzmaDecoder** decoder, uint8_t properties, uint32_t dict_size, FileHandle input, uint32_t length) {
  uint32_t lc = properties % 9, lp = properties / 9 % 5, pb = properties / 45;
  if (pb > 4 || lc + lp > 4 || dict_size - kLzmaMinDictionary > kLzmaMaxDictionary - kLzmaMinDictionary || length < 5) return kStreamDataError;
  uint32_t probs = kLiteral + (0x300u << (lc + lp));
  uint8_t* memory = nullptr;
  if (!alloc_block(sizeof(LzmaDecoder) + probs * 2 + 4 + dict_size, &memory)) return kStreamNoMemory;
  LzmaDecoder* d = new (memory) LzmaDecoder();
  *decoder = d;
  d->probs = reinterpret_cast<uint16_t*>(d + 1);
  for (uint32_t i = 0; i < probs; ++i) d->probs[i] = 1024;
  d->dict = reinterpret_cast<uint8_t*>(d->probs + probs) + 4;
  d->flushed = d->dict;
  d->dict_size = dict_size;
  d->lc = lc;
  d->lp_mask = (1u << lp) - 1;
  d->pb_mask = (1u << pb) - 1;
  d->range = 0xFFFFFFFF;
  if (!begin_input(d->in, input, length)) {
    lzma_end(decoder);
    return kStreamNoMemory;
  }
  // The first byte of the range coder is always 0.
  d->bad = next_byte(d) != 0;
  for (int i = 0; i < 4; ++i) d->code = (d->code << 8) | next_byte(d);
  if (d->bad) {
    lzma_end(decoder);
    return kStreamDataError;
  }
  return 0;
}

bool lzma_read(LzmaDecoder* d, OutputSink* sink, uint32_t count) {
  d->sink = sink;
  uint16_t* p = d->probs;
  for (; count && !d->bad; --count) {
    if (d->pending) {
      --d->pending;
      put(d, history(d, d->rep[0]));
      continue;
    }
    uint32_t s = d->state, pos_state = d->total & d->pb_mask, at = (s << 4) + pos_state;
    if (!bit(d, p + kIsMatch + at)) {
      // A literal, coded against the byte at rep0 after a match.
      uint32_t prev = d->pos || d->full ? history(d, 0) : 0;
      uint16_t* lit = p + kLiteral + 0x300 * ((((d->total & d->lp_mask) << d->lc) + (prev >> (8 - d->lc))));
      uint32_t symbol = 1, match = s >= 7 ? history(d, d->rep[0]) : 0, matching = s >= 7;
      while (symbol < 0x100) {
        uint32_t match_bit = (match >> 7) & 1, index = symbol;
        match <<= 1;
        if (matching) index += (1 + match_bit) << 8;
        uint32_t b = bit(d, lit + index);
        symbol = symbol * 2 + b;
        if (b != match_bit) matching = 0;
      }
      put(d, static_cast<uint8_t>(symbol));
      d->state = s < 4 ? 0 : s < 10 ? s - 3 : s - 6;
      continue;
    }
    uint32_t len;
    if (bit(d, p + kIsRep + s)) {
      if (!bit(d, p + kIsRep + 12 + s)) {
        if (!bit(d, p + kIsRep0Long + at)) {
          // One byte from rep0.
          d->state = s < 7 ? 9 : 11;
          len = 1;
          goto check;
        }
      } else {
        uint32_t dist;
        if (!bit(d, p + kIsRep + 24 + s)) {
          dist = d->rep[1];
        } else {
          if (!bit(d, p + kIsRep + 36 + s)) {
            dist = d->rep[2];
          } else {
            dist = d->rep[3];
            d->rep[3] = d->rep[2];
          }
          d->rep[2] = d->rep[1];
        }
        d->rep[1] = d->rep[0];
        d->rep[0] = dist;
      }
      len = length(d, p + kRepLength, pos_state) + 2;
      d->state = s < 7 ? 8 : 11;
    } else {
      d->rep[3] = d->rep[2];
      d->rep[2] = d->rep[1];
      d->rep[1] = d->rep[0];
      len = length(d, p + kLength, pos_state);
      d->rep[0] = distance(d, len);
      len += 2;
      d->state = s < 7 ? 7 : 10;
    }
  check:
    // A distance beyond what was decoded (the end marker among them) is
    // a data error: every item's length is known.
    if (d->rep[0] >= (d->full ? d->dict_size : d->pos)) d->bad = true;
    d->pending = len;
    ++count;
  }
  flush(d);
  return !d->bad;
}

void lzma_end(LzmaDecoder** decoder) {
  if (!*decoder) return;
  end_input((*decoder)->in);
  free_block(decoder);
}

LzmaDecoder* SolidStream;

void close_data_file() {
  // The stream's input gives its unread bytes back to the file first.
  lzma_end(&SolidStream);
  if (data_file != INVALID_FILE_HANDLE) close_file(data_file);
  data_file = INVALID_FILE_HANDLE;
}
