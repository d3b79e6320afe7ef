// value x factor / divisor as the 32-bit programs compute it, with one
// multiplication and one division instruction: the results of 64-bit
// arithmetic, also where the product passes 32 bits, and no fault where a
// value beyond its divisor would make the quotient overflow.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/scaled.h"
#include "ui/gradient.h"

namespace {

uint32_t reference(uint64_t value, uint64_t factor, uint64_t divisor) {
  return static_cast<uint32_t>(value * factor / divisor);
}

TEST(Scaled, GivesTheQuotientOf64BitArithmetic) {
  EXPECT_EQ(0u, scaled(0, 100, 7));
  EXPECT_EQ(42u, scaled(3, 100, 7));  // 300 / 7, rounded down
  EXPECT_EQ(100u, scaled(7, 100, 7));
  // Products past 32 bits: a huge list's percentage, a start percentage
  // taken back over many records.
  EXPECT_EQ(reference(4000000000u, 100, 4000000001u), scaled(4000000000u, 100, 4000000001u));
  EXPECT_EQ(99u, scaled(4000000000u, 100, 4000000001u));
  EXPECT_EQ(reference(123456789u, 4000000000u, 987654321u), scaled(123456789u, 4000000000u, 987654321u));
  for (uint32_t divisor : {1u, 3u, 1000u, 65537u, 0x7FFFFFFFu, 0xFFFFFFFFu})
    for (uint32_t value : {0u, 1u, divisor / 3, divisor / 2, divisor - 1, divisor})
      for (uint32_t factor : {1u, 100u, 255u, 0xFFFFFFu, 0xFFFFFFFFu})
        ASSERT_EQ(reference(value, factor, divisor), scaled(value, factor, divisor))
            << value << " x " << factor << " / " << divisor;
}

TEST(Scaled, HoldsAValueBeyondItsDivisorToIt) {
  // 5 x 100 / 4 would be 125: a count past its total shows as all of it.
  EXPECT_EQ(100u, scaled(5, 100, 4));
  // Unheld, the quotient would not fit in 32 bits and the division would fault.
  EXPECT_EQ(0xFFFFFFFFu, scaled(0xFFFFFFFFu, 0xFFFFFFFFu, 1));
}

TEST(Scaled, GradientOfTallScreensAsIn64Bits) {
  for (int height : {1, 2, 768, 8192, 65535, 100000, 0xFFFFFF}) {
    for (int y : {0, 1, height / 3, height / 2, height - 1, height}) {
      uint64_t row = static_cast<uint64_t>(y), rows = static_cast<uint64_t>(height);
      ASSERT_EQ(static_cast<uint8_t>(255 - row * row * 255 / (rows * rows)), gradient_blue(y, height))
          << y << " of " << height;
    }
  }
}

}  // namespace
