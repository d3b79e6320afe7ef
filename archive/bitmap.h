// The bitmap files the archive carries (background tile, wizard picture):
// where their parts lie, checked against the block that holds them.
#pragma once
#include <cstdint>

struct BitmapLayout {
  uint32_t header_offset;   // the 40-byte information header, behind the file header
  uint32_t colours_offset;  // colour table of colour_count 4-byte entries
  uint32_t colour_count;
  uint32_t bits_offset;
  int32_t width;
  int32_t height;  // rows, positive also for a top-down bitmap
  uint16_t bit_count;
};

// False for a block that is no uncompressed bitmap with a 40-byte header,
// or whose colour table or pixels would pass its end.
bool check_bitmap(const uint8_t* block, uint32_t length, BitmapLayout* out);
