#include "cli/png_image.h"

#include <cstring>

namespace {

const int32_t kMaxSide = 32768;
const uint32_t kWindow = 32768;  // deflate's largest distance
const int kMaxMatch = 258;
const int kHashBits = 16;
// How many earlier places with the same three bytes are tried: screenshots
// are mostly runs and repeated rows, found at the first or second try.
const int kChainTries = 24;

uint32_t crc_table[256];

void make_crc_table() {
  if (crc_table[1]) return;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    crc_table[n] = c;
  }
}

uint32_t crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  while (n--) c = crc_table[(c ^ *p++) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void put_u32_be(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  put_u32_be(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_u32_be(out, crc32(out.data() + start, out.size() - start));
}

// Deflate's bits, least significant first; Huffman codes go in reversed.
struct BitWriter {
  std::vector<uint8_t>& out;
  uint32_t buffer = 0;
  int count = 0;
  void bits(uint32_t value, int n) {
    buffer |= value << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  }
  void code(uint32_t code, int n) {
    uint32_t reversed = 0;
    for (int i = 0; i < n; ++i) reversed |= ((code >> i) & 1) << (n - 1 - i);
    bits(reversed, n);
  }
  void flush() {
    if (count) out.push_back(static_cast<uint8_t>(buffer));
    buffer = 0;
    count = 0;
  }
};

// The fixed literal/length code.
void symbol(BitWriter& w, int s) {
  if (s < 144) w.code(0x30 + s, 8);
  else if (s < 256) w.code(0x190 + (s - 144), 9);
  else if (s < 280) w.code(s - 256, 7);
  else w.code(0xC0 + (s - 280), 8);
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

void match(BitWriter& w, int length, uint32_t distance) {
  int l = 28;
  while (kLengthBase[l] > length) --l;
  symbol(w, 257 + l);
  w.bits(static_cast<uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
  int d = 29;
  while (kDistanceBase[d] > distance) --d;
  w.code(static_cast<uint32_t>(d), 5);
  w.bits(distance - kDistanceBase[d], d < 4 ? 0 : d / 2 - 1);
}

uint32_t hash3(const uint8_t* p) {
  return ((static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2]) * 2654435761u) >>
         (32 - kHashBits);
}

// A zlib stream of `data` in one fixed-code block.
std::vector<uint8_t> zlib_compress(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {0x78, 0x01};
  BitWriter w{out};
  w.bits(1, 1);  // the last block
  w.bits(1, 2);  // fixed codes
  std::vector<uint32_t> head(1u << kHashBits, 0), previous(kWindow, 0);  // places + 1; 0 is none
  size_t n = data.size();
  const uint8_t* d = data.data();
  auto insert = [&](size_t at) {
    uint32_t h = hash3(d + at);
    previous[at % kWindow] = head[h];
    head[h] = static_cast<uint32_t>(at + 1);
  };
  size_t i = 0;
  while (i < n) {
    int best = 0;
    size_t best_from = 0;
    if (i + 3 <= n) {
      size_t limit = n - i < static_cast<size_t>(kMaxMatch) ? n - i : kMaxMatch;
      uint32_t candidate = head[hash3(d + i)];
      for (int tries = 0; candidate && tries < kChainTries; ++tries) {
        size_t from = candidate - 1;
        if (i - from > kWindow) break;
        int length = 0;
        while (static_cast<size_t>(length) < limit && d[from + length] == d[i + length]) ++length;
        if (length > best) {
          best = length;
          best_from = from;
          if (static_cast<size_t>(length) == limit) break;
        }
        uint32_t next = previous[from % kWindow];
        if (next >= candidate) break;  // the slot was taken by a later place
        candidate = next;
      }
    }
    if (best >= 3) {
      match(w, best, static_cast<uint32_t>(i - best_from));
      for (size_t end = i + static_cast<size_t>(best); i < end; ++i)
        if (i + 3 <= n) insert(i);
    } else {
      symbol(w, d[i]);
      if (i + 3 <= n) insert(i);
      ++i;
    }
  }
  symbol(w, 256);
  w.flush();
  uint32_t a = 1, b = 0;
  for (size_t k = 0; k < n; ++k) {
    a = (a + d[k]) % 65521;
    b = (b + a) % 65521;
  }
  put_u32_be(out, b << 16 | a);
  return out;
}

}  // namespace

std::vector<uint8_t> encode_png(int32_t width, int32_t height, const uint8_t* rgb) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return {};
  make_crc_table();
  // Each row with the filter Sub: flat areas and horizontal gradients
  // become runs of one byte, and a row like the one above a repeat.
  size_t row = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> filtered;
  filtered.reserve((row + 1) * height);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* p = rgb + row * y;
    filtered.push_back(1);
    for (size_t x = 0; x < row; ++x) filtered.push_back(static_cast<uint8_t>(p[x] - (x >= 3 ? p[x - 3] : 0)));
  }
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  put_u32_be(header, static_cast<uint32_t>(width));
  put_u32_be(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", zlib_compress(filtered));
  chunk(out, "IEND", {});
  return out;
}
