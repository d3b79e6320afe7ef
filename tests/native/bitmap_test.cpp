// Bitmap files from the archive: the parts of a sound file are found, and
// any file whose table or pixels would pass its block is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "archive/bitmap.h"

namespace {

void put_u16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// File header, 40-byte information header, `colours` table entries and
// `pixel_bytes` of bits.
std::vector<uint8_t> bitmap_file(int32_t width, int32_t height, uint16_t bits, uint32_t used, uint32_t colours,
                                 uint32_t pixel_bytes) {
  std::vector<uint8_t> b(14 + 40 + 4 * colours + pixel_bytes);
  b[0] = 'B';
  b[1] = 'M';
  put_u32(b, 14, 40);
  put_u32(b, 18, static_cast<uint32_t>(width));
  put_u32(b, 22, static_cast<uint32_t>(height));
  put_u16(b, 26, 1);
  put_u16(b, 28, bits);
  put_u32(b, 46, used);
  return b;
}

bool check(const std::vector<uint8_t>& file, BitmapLayout* layout) {
  return check_bitmap(file.data(), static_cast<uint32_t>(file.size()), layout);
}

TEST(Bitmap, FindsTheTableAndThePixels) {
  BitmapLayout layout;
  // 8 bits, no used-colours count: a full table of 256 entries; rows of 4 bytes.
  std::vector<uint8_t> eight = bitmap_file(3, 2, 8, 0, 256, 8);
  ASSERT_TRUE(check(eight, &layout));
  EXPECT_EQ(14u, layout.header_offset);
  EXPECT_EQ(54u, layout.colours_offset);
  EXPECT_EQ(256u, layout.colour_count);
  EXPECT_EQ(54u + 1024u, layout.bits_offset);
  EXPECT_EQ(3, layout.width);
  EXPECT_EQ(2, layout.height);
  EXPECT_EQ(8, layout.bit_count);
  // A used-colours count sizes the table.
  std::vector<uint8_t> sixteen = bitmap_file(3, 2, 8, 16, 16, 8);
  ASSERT_TRUE(check(sixteen, &layout));
  EXPECT_EQ(16u, layout.colour_count);
  EXPECT_EQ(54u + 64u, layout.bits_offset);
  // More than 8 bits: no table; a top-down bitmap has positive rows.
  std::vector<uint8_t> top_down = bitmap_file(3, -2, 24, 0, 0, 24);
  ASSERT_TRUE(check(top_down, &layout));
  EXPECT_EQ(0u, layout.colour_count);
  EXPECT_EQ(54u, layout.bits_offset);
  EXPECT_EQ(2, layout.height);
  // 1 bit: two colours, rows padded to 4 bytes.
  std::vector<uint8_t> mono = bitmap_file(33, 3, 1, 0, 2, 24);
  ASSERT_TRUE(check(mono, &layout));
  EXPECT_EQ(62u, layout.bits_offset);
}

TEST(Bitmap, PixelsOrTablesPastTheBlockAreRefused) {
  BitmapLayout layout;
  std::vector<uint8_t> fits = bitmap_file(3, 2, 24, 0, 0, 24);
  EXPECT_TRUE(check_bitmap(fits.data(), static_cast<uint32_t>(fits.size()), &layout));
  EXPECT_FALSE(check_bitmap(fits.data(), static_cast<uint32_t>(fits.size() - 1), &layout));
  EXPECT_FALSE(check(bitmap_file(3, 200, 24, 0, 0, 24), &layout));           // rows for 2 only
  EXPECT_FALSE(check(bitmap_file(3, -200, 24, 0, 0, 24), &layout));
  EXPECT_FALSE(check(bitmap_file(2, 1, 8, 0, 16, 4), &layout));              // 256 colours needed
  EXPECT_FALSE(check(bitmap_file(2, 1, 8, 0x40000000, 256, 4), &layout));    // 4 x count wraps in 32 bits
  EXPECT_FALSE(check(bitmap_file(0x40000000, 1, 32, 0, 0, 16), &layout));    // stride wraps in 32 bits
  EXPECT_FALSE(check(bitmap_file(0x7FFFFFFF, 0x7FFFFFFF, 32, 0, 0, 16), &layout));
  EXPECT_FALSE(check(std::vector<uint8_t>(53, 0), &layout));
  EXPECT_FALSE(check_bitmap(nullptr, 100, &layout));
}

TEST(Bitmap, OnlyThePlainLayoutIsTaken) {
  BitmapLayout layout;
  std::vector<uint8_t> rle = bitmap_file(2, 1, 8, 0, 256, 4);
  put_u32(rle, 30, 1);  // run-length coded
  EXPECT_FALSE(check(rle, &layout));
  std::vector<uint8_t> v5 = bitmap_file(2, 1, 24, 0, 0, 200);
  put_u32(v5, 14, 124);  // a larger header moves the table
  EXPECT_FALSE(check(v5, &layout));
  std::vector<uint8_t> planes = bitmap_file(2, 1, 24, 0, 0, 8);
  put_u16(planes, 26, 2);
  EXPECT_FALSE(check(planes, &layout));
  for (uint16_t bits : {0, 2, 7, 12, 48}) EXPECT_FALSE(check(bitmap_file(2, 1, bits, 0, 0, 64), &layout)) << bits;
  EXPECT_FALSE(check(bitmap_file(0, 1, 24, 0, 0, 8), &layout));
  EXPECT_FALSE(check(bitmap_file(-2, 1, 24, 0, 0, 8), &layout));
  EXPECT_FALSE(check(bitmap_file(2, 0, 24, 0, 0, 8), &layout));
  EXPECT_FALSE(check(bitmap_file(2, INT32_MIN, 24, 0, 0, 8), &layout));
}

}  // namespace
