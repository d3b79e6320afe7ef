#include "ui/gradient.h"

#include "base/scaled.h"

// Which of a band's eight colours each pixel of the pattern takes.
static const uint8_t kDither[8][8] = {
    {0, 3, 1, 4, 2, 5, 3, 6}, {7, 4, 6, 3, 5, 2, 4, 1}, {2, 5, 3, 6, 4, 7, 5, 0}, {1, 6, 0, 5, 7, 4, 6, 3},
    {4, 7, 5, 0, 6, 1, 7, 2}, {3, 0, 2, 7, 1, 6, 0, 5}, {6, 1, 7, 2, 0, 3, 1, 4}, {5, 2, 4, 1, 3, 0, 2, 7},
};

uint8_t gradient_blue(int y, int height) {
  if (y < 0) y = 0;
  uint32_t row = static_cast<uint32_t>(y < height ? y : height), rows = static_cast<uint32_t>(height);
  // row^2 x 255 / rows^2 in two divisions by rows, each rounded down, which
  // give the same quotient; row x 255 must fit in 32 bits, as it does for
  // anything up to 16 million rows high (taller ones are scaled down).
  while (rows > 0xFFFFFF) {
    rows >>= 1;
    row >>= 1;
  }
  return static_cast<uint8_t>(255 - scaled(row, 255 * row, rows) / rows);
}

void fill_band_pattern(uint8_t* pixels, int y0, int height) {
  uint8_t blues[8];
  for (int k = 0; k < 8; ++k) blues[k] = gradient_blue(y0 + 8 * k, height);
  for (int row = 0; row < 8; ++row)
    for (int column = 0; column < 8; ++column, pixels += 3) {
      pixels[0] = blues[kDither[row][column]];
      pixels[1] = 0;
      pixels[2] = 0;
    }
}
