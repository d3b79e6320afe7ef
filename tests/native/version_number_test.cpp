// Dotted versions as the setup compares an installed product's with its
// own, and as the builder accepts them with a product_id.
#include <gtest/gtest.h>

#include "base/version_number.h"

namespace {

int sign(int n) { return n < 0 ? -1 : n > 0 ? 1 : 0; }
int order(const char* a, const char* b) { return sign(compare_versions(a, b)); }

TEST(VersionNumber, ComparesPartByPartAsNumbers) {
  EXPECT_EQ(-1, order("1.0", "2.0"));
  EXPECT_EQ(1, order("2.0", "1.0"));
  EXPECT_EQ(1, order("2.10", "2.9"));
  EXPECT_EQ(-1, order("1.9.9", "1.10"));
  EXPECT_EQ(0, order("1.0", "1.0"));
  // Parts longer than any machine word still compare as numbers.
  EXPECT_EQ(1, order("1.123456789012345678901", "1.99999999999999999999"));
  EXPECT_EQ(-1, order("4294967295", "4294967296"));
}

TEST(VersionNumber, MissingPartsAndLeadingZerosCountAsNothing) {
  EXPECT_EQ(0, order("1", "1.0.0"));
  EXPECT_EQ(0, order("1.0.0.0", "1"));
  EXPECT_EQ(-1, order("1", "1.0.1"));
  EXPECT_EQ(0, order("01.002", "1.2"));
  EXPECT_EQ(0, order("1.00", "1.0"));
  EXPECT_EQ(0, order("", "0"));
}

TEST(VersionNumber, WhatIsNotADigitEndsTheVersion) {
  EXPECT_EQ(-1, order("abc", "1.0"));
  EXPECT_EQ(0, order("2.0 beta", "2.0"));
  EXPECT_EQ(0, order("2.", "2"));
  EXPECT_EQ(0, order("2.x.7", "2"));
}

TEST(VersionNumber, AcceptsOnlyNumbersBetweenSingleDots) {
  for (const char* good : {"1", "2.0", "10.4.1.7", "007"}) EXPECT_TRUE(is_version_number(good)) << good;
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "2.0 beta", "v2", "1.0-rc1", " 1"})
    EXPECT_FALSE(is_version_number(bad)) << bad;
}

}  // namespace
