#include "tests/driver/bitmap.h"

namespace {

// Larger pictures than any screen are refused before any size arithmetic.
const int32_t max_side = 32768;

size_t stride_of(int32_t width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

uint32_t read_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

bool valid_size(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= max_side && height <= max_side;
}

}  // namespace

bool image_from_dib_rows(const uint8_t* rows, size_t size, int32_t width, int32_t height, Image& image) {
  if (!valid_size(width, height)) return false;
  size_t stride = stride_of(width);
  if (size / stride < static_cast<size_t>(height)) return false;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  uint8_t* out = image.rgb.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = rows + stride * y;
    for (int32_t x = 0; x < width; ++x) {
      *out++ = row[x * 3 + 2];
      *out++ = row[x * 3 + 1];
      *out++ = row[x * 3];
    }
  }
  return true;
}

std::vector<uint8_t> encode_bmp(const Image& image) {
  std::vector<uint8_t> out;
  if (!valid_size(image.width, image.height) ||
      image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3)
    return out;
  size_t stride = stride_of(image.width);
  uint32_t pixels = static_cast<uint32_t>(stride * image.height);
  out.reserve(54 + pixels);
  out.push_back('B');
  out.push_back('M');
  put_u32(out, 54 + pixels);
  put_u32(out, 0);
  put_u32(out, 54);
  put_u32(out, 40);
  put_u32(out, static_cast<uint32_t>(image.width));
  put_u32(out, static_cast<uint32_t>(image.height));  // bottom-up, as most readers expect
  put_u16(out, 1);
  put_u16(out, 24);
  put_u32(out, 0);  // BI_RGB
  put_u32(out, pixels);
  put_u32(out, 2835);  // 72 dpi
  put_u32(out, 2835);
  put_u32(out, 0);
  put_u32(out, 0);
  for (int32_t y = image.height - 1; y >= 0; --y) {
    const uint8_t* row = image.rgb.data() + static_cast<size_t>(y) * image.width * 3;
    for (int32_t x = 0; x < image.width; ++x) {
      out.push_back(row[x * 3 + 2]);
      out.push_back(row[x * 3 + 1]);
      out.push_back(row[x * 3]);
    }
    for (size_t pad = static_cast<size_t>(image.width) * 3; pad < stride; ++pad) out.push_back(0);
  }
  return out;
}

bool decode_bmp(const uint8_t* data, size_t size, Image& image) {
  if (size < 54 || data[0] != 'B' || data[1] != 'M') return false;
  uint32_t offset = read_u32(data + 10);
  uint32_t header = read_u32(data + 14);
  if (header < 40 || header > size - 14) return false;
  int32_t width = static_cast<int32_t>(read_u32(data + 18));
  int32_t height = static_cast<int32_t>(read_u32(data + 22));
  if (read_u16(data + 26) != 1 || read_u16(data + 28) != 24 || read_u32(data + 30) != 0) return false;
  bool top_down = height < 0;
  if (top_down) {
    if (height == INT32_MIN) return false;
    height = -height;
  }
  if (!valid_size(width, height)) return false;
  size_t stride = stride_of(width);
  if (offset < static_cast<size_t>(header) + 14 || offset > size || (size - offset) / stride < static_cast<size_t>(height)) return false;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    int32_t stored = top_down ? y : height - 1 - y;
    const uint8_t* row = data + offset + stride * stored;
    uint8_t* out = image.rgb.data() + static_cast<size_t>(y) * width * 3;
    for (int32_t x = 0; x < width; ++x) {
      out[x * 3] = row[x * 3 + 2];
      out[x * 3 + 1] = row[x * 3 + 1];
      out[x * 3 + 2] = row[x * 3];
    }
  }
  return true;
}

bool pixel_at(const Image& image, int32_t x, int32_t y, uint32_t& colour) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
  const uint8_t* p = image.rgb.data() + (static_cast<size_t>(y) * image.width + x) * 3;
  colour = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  return true;
}

bool colour_close(uint32_t a, uint32_t b, int32_t tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    int32_t d = static_cast<int32_t>((a >> shift) & 0xFF) - static_cast<int32_t>((b >> shift) & 0xFF);
    if (d < 0) d = -d;
    if (d > tolerance) return false;
  }
  return true;
}

bool colour_box(const Image& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour,
                int32_t tolerance, Box& box) {
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > image.width) x1 = image.width;
  if (y1 > image.height) y1 = image.height;
  bool found = false;
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = x0; x < x1; ++x) {
      uint32_t pixel = 0;
      pixel_at(image, x, y, pixel);
      if (!colour_close(pixel, colour, tolerance)) continue;
      if (!found) box = Box{x, y, x + 1, y + 1};
      found = true;
      if (x < box.left) box.left = x;
      if (x >= box.right) box.right = x + 1;
      box.bottom = y + 1;
    }
  }
  return found;
}
