// The blue gradient of the full-screen background: row colours and the
// dithered 8 x 8 pattern of each band of 8 rows.
#pragma once
#include <cstdint>

enum : uint32_t { kBandPatternBytes = 192 };

// Blue of row y of a gradient `height` (> 0) rows high: 255 at the top,
// falling quadratically to 0 at row `height` and below.
uint8_t gradient_blue(int y, int height);
// The 24-bit pattern (bottom-up, 3 bytes blue, green, red per pixel) of the
// band that starts at row y0: stored row r, column c takes the colour of
// row y0 + 8k, with k from the dither table at (r, c).
void fill_band_pattern(uint8_t* pixels, int y0, int height);
