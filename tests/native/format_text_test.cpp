// The one-argument formatter that fills the archive's texts: a message with
// a path (%s), the free space in megabytes (%lu and the like) and the disk
// prompt (%d and the like).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/path_strings.h"

namespace {

std::string format(const char* text, const char* argument, const char* conversions = "s", size_t capacity = 64) {
  char out[64];
  std::memset(out, 'x', sizeof out);
  format_text(out, capacity, text, argument, conversions);
  return out;
}

TEST(FormatText, FillsTheFirstConversionOnlyAndKeepsTheRestAsWritten) {
  EXPECT_EQ("Copy C:\\a to disk?", format("Copy %s to disk?", "C:\\a"));
  EXPECT_EQ("a x b 100% %d", format("a %s b %s100%% %d", "x"));
  EXPECT_EQ("50% %", format("50%% %", "x"));
  // A number text: d, u, i, with or without l.
  EXPECT_EQ("12 MB, %x, %lx", format("%lu MB, %x, %lx", "12", "ldui"));
  EXPECT_EQ("7 and ", format("%i and %d", "7", "ldui"));
  EXPECT_EQ("%ll%s", format("%ll%s", "7", "ldui"));
  // The disk prompt knows no l: "%ld" stands as written.
  EXPECT_EQ("Disk %ld, 3", format("Disk %ld, %u", "3", "diu"));
}

TEST(FormatText, KeepsToItsBufferAndAlwaysTerminates) {
  EXPECT_EQ("Path: C:", format("Path: %s!", "C:\\long", "s", 9));
  EXPECT_EQ("", format("%s", "abc", "s", 1));
  EXPECT_EQ("ab", format("abcdef", "", "s", 3));
}

}  // namespace
