#include "archive/bitmap.h"

#include "archive/format.h"

enum : uint32_t { kFileHeaderSize = 14, kInfoHeaderSize = 40, kUncompressed = 0 };

bool check_bitmap(const uint8_t* block, uint32_t length, BitmapLayout* out) {
  if (!block || length < kFileHeaderSize + kInfoHeaderSize) return false;
  const uint8_t* header = block + kFileHeaderSize;
  uint32_t header_size = get_u32(header);
  int32_t width = static_cast<int32_t>(get_u32(header + 4));
  int32_t height = static_cast<int32_t>(get_u32(header + 8));
  uint16_t planes = get_u16(header + 12);
  uint16_t bit_count = get_u16(header + 14);
  uint32_t compression = get_u32(header + 16);
  uint32_t used_colours = get_u32(header + 32);
  // The drawing finds the colour table behind the header's own size and
  // decodes compressed bits without a bound, so only the plain layout is taken.
  if (header_size != kInfoHeaderSize || planes != 1 || compression != kUncompressed) return false;
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32)
    return false;
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  uint64_t colours = used_colours != 0 ? used_colours : (bit_count <= 8 ? 1u << bit_count : 0);
  uint64_t table_end = kFileHeaderSize + kInfoHeaderSize + 4 * colours;
  uint64_t stride = (static_cast<uint64_t>(width) * bit_count + 31) / 32 * 4;
  if (table_end > length || stride * rows > length - table_end) return false;
  out->header_offset = kFileHeaderSize;
  out->colours_offset = kFileHeaderSize + kInfoHeaderSize;
  out->colour_count = static_cast<uint32_t>(colours);
  out->bits_offset = static_cast<uint32_t>(table_end);
  out->width = width;
  out->height = static_cast<int32_t>(rows);
  out->bit_count = bit_count;
  return true;
}
