// The background gradient: pure blue at the top, black at the bottom edge,
// quadratic in between, and the dithered pattern of each 8-row band.
#include <gtest/gtest.h>

#include <cstdint>

#include "ui/gradient.h"

namespace {

TEST(Gradient, RunsQuadraticallyFromPureBlueToBlack) {
  EXPECT_EQ(255, gradient_blue(0, 64));
  EXPECT_EQ(192, gradient_blue(32, 64));  // halfway down, a quarter is gone
  EXPECT_EQ(8, gradient_blue(63, 64));    // 255 - 63^2 x 255 / 64^2
  EXPECT_EQ(0, gradient_blue(64, 64));
  EXPECT_EQ(0, gradient_blue(500, 64));  // rows past the bottom stay black
  for (int y = 1; y <= 768; ++y) ASSERT_LE(gradient_blue(y, 768), gradient_blue(y - 1, 768)) << y;
  // Tall screens: y^2 x 255 no longer fits in 32 bits.
  EXPECT_EQ(1, gradient_blue(8191, 8192));
  EXPECT_EQ(192, gradient_blue(4096, 8192));
}

TEST(Gradient, BandPatternsTakeTheirColoursFromTheDitherTable) {
  uint8_t pixels[kBandPatternBytes];
  const int height = 256, y0 = 64;
  fill_band_pattern(pixels, y0, height);
  auto blue_at = [&](int row, int column) { return pixels[(row * 8 + column) * 3]; };
  auto colour = [&](int k) { return gradient_blue(y0 + 8 * k, height); };
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(0, pixels[3 * i + 1]);
    ASSERT_EQ(0, pixels[3 * i + 2]);
  }
  // Spot checks against the table: row 0 is 0 3 1 4 2 5 3 6, row 7 is
  // 5 2 4 1 3 0 2 7 (stored row 0 is the pattern's bottom row).
  EXPECT_EQ(colour(0), blue_at(0, 0));
  EXPECT_EQ(colour(3), blue_at(0, 1));
  EXPECT_EQ(colour(6), blue_at(0, 7));
  EXPECT_EQ(colour(7), blue_at(1, 0));
  EXPECT_EQ(colour(0), blue_at(2, 7));
  EXPECT_EQ(colour(0), blue_at(3, 2));
  EXPECT_EQ(colour(5), blue_at(7, 0));
  EXPECT_EQ(colour(0), blue_at(7, 5));
  EXPECT_EQ(colour(7), blue_at(7, 7));
  // Each colour takes eight of the 64 pixels.
  for (int k = 0; k < 8; ++k) {
    int count = 0;
    for (int row = 0; row < 8; ++row)
      for (int column = 0; column < 8; ++column) count += blue_at(row, column) == colour(k);
    EXPECT_EQ(8, count) << k;
  }
}

TEST(Gradient, TheLastBandMixesInBlackBelowTheBottom) {
  uint8_t pixels[kBandPatternBytes];
  fill_band_pattern(pixels, 248, 256);
  int brightest = 0;
  for (int i = 0; i < 64; ++i) brightest = pixels[3 * i] > brightest ? pixels[3 * i] : brightest;
  EXPECT_EQ(gradient_blue(248, 256), brightest);
  EXPECT_LE(brightest, 16);
  EXPECT_EQ(0, pixels[3 * 1]);  // index 3: row 272, below the bottom
}

}  // namespace
