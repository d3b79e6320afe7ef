#include "tests/native/png_reader.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool no(std::string* why, const std::string& what) {
  *why = what;
  return false;
}

int paeth(int a, int b, int c) {
  int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

bool decode_png(const uint8_t* data, size_t size, Image& image, std::string* why) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 || memcmp(data, kSignature, 8)) return no(why, "no PNG signature");
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> compressed;
  bool ended = false;
  for (size_t at = 8; !ended;) {
    if (size - at < 12) return no(why, "a chunk is cut off");
    uint32_t length = be32(data + at);
    if (length > size - at - 12) return no(why, "a chunk is longer than the file");
    std::string type(reinterpret_cast<const char*>(data + at + 4), 4);
    const uint8_t* body = data + at + 8;
    if (crc32(0, data + at + 4, length + 4) != be32(body + length)) return no(why, "the CRC of " + type + " is wrong");
    if (type == "IHDR") {
      if (length != 13) return no(why, "IHDR is not 13 bytes");
      width = be32(body);
      height = be32(body + 4);
      if (body[8] != 8 || body[9] != 2 || body[10] || body[11] || body[12])
        return no(why, "not 8-bit RGB without interlacing");
    } else if (type == "IDAT") {
      compressed.insert(compressed.end(), body, body + length);
    } else if (type == "IEND") {
      ended = true;
    }
    at += 12 + length;
  }
  if (!width || !height || width > 32768 || height > 32768) return no(why, "no IHDR or a bad size");
  size_t row = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> raw((row + 1) * height + 1);
  uLongf got = raw.size();
  if (uncompress(raw.data(), &got, compressed.data(), compressed.size()) != Z_OK) return no(why, "zlib refuses the data");
  if (got != (row + 1) * height) return no(why, "the image data is " + std::to_string(got) + " bytes");
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.rgb.assign(row * height, 0);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = raw.data() + (row + 1) * y;
    uint8_t* out = image.rgb.data() + row * y;
    const uint8_t* up = y ? out - row : nullptr;
    for (size_t x = 0; x < row; ++x) {
      int a = x >= 3 ? out[x - 3] : 0, b = up ? up[x] : 0, c = up && x >= 3 ? up[x - 3] : 0;
      int predicted = 0;
      switch (in[0]) {
        case 0: break;
        case 1: predicted = a; break;
        case 2: predicted = b; break;
        case 3: predicted = (a + b) / 2; break;
        case 4: predicted = paeth(a, b, c); break;
        default: return no(why, "unknown filter " + std::to_string(in[0]));
      }
      out[x] = static_cast<uint8_t>(in[1 + x] + predicted);
    }
  }
  return true;
}
