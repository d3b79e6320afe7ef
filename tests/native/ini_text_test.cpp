// INI files read on the host (kestrel try) as Windows' profile routines
// see them.
#include <gtest/gtest.h>

#include "cli/ini_text.h"

namespace {

std::vector<IniFileEntry> parse(const std::string& text) {
  return parse_ini_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string joined(const std::vector<IniFileEntry>& entries) {
  std::string out;
  for (const IniFileEntry& e : entries) out += "[" + e.section + "]" + e.key + (e.has_value ? "=" + e.value : "") + "|";
  return out;
}

TEST(IniText, SectionsKeysAndValuesTrimmedCommentsLeftOut) {
  EXPECT_EQ(joined(parse("top=1\r\n; a comment\r\n  [ Viewer ]  \r\n Greeting = Hello there \r\n"
                         "\r\nFlag\r\n[Other]\nkey=a=b\n=empty key\n[Open\nx=1")),
            "[]top=1|[Viewer]Greeting=Hello there|[Viewer]Flag|[Other]key=a=b|[Other]=empty key|[Open]x=1|");
  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse("\n\n;only\n[s]\n").empty());
}

TEST(IniText, ReadsTheEncodingsWindowsWrites) {
  std::string utf16 = std::string("\xFF\xFE", 2);
  for (char c : std::string("[S]\r\nk=caf\xE9\r\n")) utf16 += std::string(1, c) + std::string(1, '\0');
  EXPECT_EQ(joined(parse(utf16)), "[S]k=caf\xC3\xA9|");
  EXPECT_EQ(joined(parse("\xEF\xBB\xBF[S]\nk=caf\xC3\xA9\n")), "[S]k=caf\xC3\xA9|");
  EXPECT_EQ(joined(parse("[S]\nk=caf\xE9 \x80\n")), "[S]k=caf\xC3\xA9 \xE2\x82\xAC|");
}

}  // namespace
