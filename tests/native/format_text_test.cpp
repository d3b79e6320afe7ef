// The one-argument formatter that fills the archive's texts: a message with
// a path (%s), the free space in megabytes and the disk prompt (%d, %u, %i,
// also with l).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text_format.h"

namespace {

std::string format(const char* text, const char* argument, TextArgument kind = TextArgument::kString,
                   size_t capacity = 64) {
  char out[64];
  std::memset(out, 'x', sizeof out);
  format_text(out, capacity, text, argument, kind);
  return out;
}

TEST(FormatText, FillsTheFirstConversionOnlyAndKeepsTheRestAsWritten) {
  EXPECT_EQ("Copy C:\\a to disk?", format("Copy %s to disk?", "C:\\a"));
  EXPECT_EQ("a x b 100% %d", format("a %s b %s100%% %d", "x"));
  EXPECT_EQ("50% %", format("50%% %", "x"));
  // A number text: d, u, i, with or without l; a string conversion stands.
  EXPECT_EQ("12 MB, %x, %lx", format("%lu MB, %x, %lx", "12", TextArgument::kNumber));
  EXPECT_EQ("7 and ", format("%i and %d", "7", TextArgument::kNumber));
  EXPECT_EQ("%ll%s", format("%ll%s", "7", TextArgument::kNumber));
  EXPECT_EQ("Disk 3, ", format("Disk %ld, %u", "3", TextArgument::kNumber));
}

TEST(FormatText, KeepsToItsBufferAndAlwaysTerminates) {
  EXPECT_EQ("Path: C:", format("Path: %s!", "C:\\long", TextArgument::kString, 9));
  EXPECT_EQ("", format("%s", "abc", TextArgument::kString, 1));
  EXPECT_EQ("ab", format("abcdef", "", TextArgument::kString, 3));
}

}  // namespace
