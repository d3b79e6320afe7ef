// 24-bit Windows bitmaps (.bmp) of the driver's screenshots: written from a
// captured image, read back to check single pixels. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels top row first, three bytes R, G, B each, no padding.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Rows of a 24-bit DIB (B, G, R, rows padded to four bytes), top row first.
bool image_from_dib_rows(const uint8_t* rows, size_t size, int32_t width, int32_t height, Image& image);

std::vector<uint8_t> encode_bmp(const Image& image);

// Accepts uncompressed 24-bit bitmaps, bottom-up or top-down; refuses any
// header, size or offset that does not fit in the bytes given.
bool decode_bmp(const uint8_t* data, size_t size, Image& image);

// 0xRRGGBB of the pixel; false outside the image.
bool pixel_at(const Image& image, int32_t x, int32_t y, uint32_t& colour);

// The smallest box [left, right) x [top, bottom) that holds every pixel of
// the colour (within the tolerance) inside the rectangle x0..x1, y0..y1
// (far edges excluded, cut to the image); false when there is none.
struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
bool colour_box(const Image& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour,
                int32_t tolerance, Box& box);

// Every channel within the tolerance.
bool colour_close(uint32_t a, uint32_t b, int32_t tolerance);
