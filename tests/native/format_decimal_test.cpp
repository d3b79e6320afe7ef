// Numbers written by the setup programs' own decimal formatter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/path_strings.h"

namespace {

std::string decimal(unsigned long value, unsigned min_digits, size_t capacity = 16) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  format_decimal(buffer, capacity, value, min_digits);
  return buffer;
}

TEST(FormatDecimal, WritesEveryDigitAndPadsWithZeros) {
  EXPECT_EQ("0", decimal(0, 1));
  EXPECT_EQ("7", decimal(7, 0));
  EXPECT_EQ("4294967295", decimal(4294967295ul, 1));
  EXPECT_EQ("07", decimal(7, 2));
  EXPECT_EQ("123", decimal(123, 2));
  EXPECT_EQ("00042", decimal(42, 5));
}

TEST(FormatDecimal, KeepsToItsBufferAndAlwaysTerminates) {
  EXPECT_EQ("12", decimal(12345, 1, 3));
  EXPECT_EQ("", decimal(9, 1, 1));
  char untouched = 'x';
  format_decimal(&untouched, 0, 9, 1);
  EXPECT_EQ('x', untouched);
}

}  // namespace
