// Shortcut files read on the host (kestrel try): where they lead, and
// hostile bytes that must be refused without reading past them.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/shell_link.h"
#include "tests/native/shell_link_bytes.h"

namespace {

bool parse(const Bytes& b, ShellLink* link, std::string* why) {
  return parse_shell_link(b.data(), b.size(), link, why);
}

TEST(ShellLink, ReadsWhereASetupsShortcutLeads) {
  ShellLink link;
  std::string why;
  ASSERT_TRUE(parse(shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\""), &link, &why)) << why;
  EXPECT_EQ(link.target, "C:\\Program Files\\Demo\\Viewer.exe");
  EXPECT_EQ(link.arguments, "/menu \"a b\"");
  EXPECT_EQ(link.working_folder, "C:\\Program Files\\Demo");
  EXPECT_EQ(link.icon, "C:\\Program Files\\Demo\\Viewer.exe");
  EXPECT_EQ(link.icon_index, 2);
}

TEST(ShellLink, ReadsAnsiStringsAUnicodePathASuffixAndAShare) {
  // ANSI string data, a path in code page 1252 with a suffix.
  Bytes b = shortcut_header(kLinkHasInfo | kLinkHasRelative | kLinkHasArgs, 0);
  Bytes info = local_link_info("C:\\Caf\xE9\\", "bin\\x.exe");
  b.insert(b.end(), info.begin(), info.end());
  put_counted(&b, "..\\x.exe", false);
  put_counted(&b, "-v", false);
  ShellLink link;
  std::string why;
  ASSERT_TRUE(parse(b, &link, &why)) << why;
  EXPECT_EQ(link.target, "C:\\Caf\xC3\xA9\\bin\\x.exe");
  EXPECT_EQ(link.relative_path, "..\\x.exe");
  EXPECT_EQ(link.arguments, "-v");

  // The Unicode path of a longer link-information header wins.
  Bytes wide = shortcut_header(kLinkHasInfo, 0);
  Bytes w;
  put32(&w, 0);
  put32(&w, 0x24);
  put32(&w, 1);
  put32(&w, 0);
  put32(&w, 0x24);  // ANSI path
  put32(&w, 0);
  put32(&w, 0);
  put32(&w, 0x26);  // Unicode path
  put32(&w, 0);
  put_ansi(&w, "");
  put_ansi(&w, "");
  for (char c : std::string("D:\\w.exe")) w.insert(w.end(), {static_cast<uint8_t>(c), 0});
  w.insert(w.end(), {0, 0});
  set32(&w, 0, static_cast<uint32_t>(w.size()));
  wide.insert(wide.end(), w.begin(), w.end());
  ASSERT_TRUE(parse(wide, &link, &why)) << why;
  EXPECT_EQ(link.target, "D:\\w.exe");

  // A target on a share: the share's name and the suffix.
  Bytes net = shortcut_header(kLinkHasInfo, 0);
  Bytes n;
  put32(&n, 0);
  put32(&n, 0x1C);
  put32(&n, 2);  // CommonNetworkRelativeLinkAndPathSuffix
  put32(&n, 0);
  put32(&n, 0);
  put32(&n, 0x1C);  // network link
  put32(&n, 0);     // suffix, set below
  put32(&n, 0);     // link size, set below
  put32(&n, 0);
  put32(&n, 0x14);  // share name offset
  put32(&n, 0);
  put32(&n, 0);
  put_ansi(&n, "\\\\server\\share");
  set32(&n, 0x1C, static_cast<uint32_t>(n.size() - 0x1C));
  set32(&n, 24, static_cast<uint32_t>(n.size()));
  put_ansi(&n, "tool.exe");
  set32(&n, 0, static_cast<uint32_t>(n.size()));
  net.insert(net.end(), n.begin(), n.end());
  ASSERT_TRUE(parse(net, &link, &why)) << why;
  EXPECT_EQ(link.target, "\\\\server\\share\\tool.exe");
}

TEST(ShellLink, RefusesWhatIsNotAShortcutOrDoesNotFit) {
  ShellLink link;
  std::string why;
  EXPECT_FALSE(parse(Bytes{}, &link, &why));
  EXPECT_EQ(why, "not a shortcut file");
  Bytes other = shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\"");
  other[4] ^= 1;
  EXPECT_FALSE(parse(other, &link, &why));
  EXPECT_EQ(why, "not a shortcut file");

  const struct {
    size_t at;
    uint32_t value;
    const char* why;
  } damage[] = {
      {0x4C, 0xFFFF, "the item list does not fit"},           // item list size
      {0x54, 0xFFFFFF, "the link information does not fit"},  // link information size
      {0x54 + 4, 0x1000, "the link information's header does not fit"},
      {0x54 + 16, 0x1000, "the local path does not fit"},   // local path offset
      {0x54 + 24, 0x1000, "the path suffix does not fit"},  // suffix offset
  };
  for (const auto& d : damage) {
    Bytes b = shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\"");
    ASSERT_EQ(b[0x4C], 6);  // the item list of 6 bytes ends at 0x54
    if (d.at == 0x4C) {
      b[0x4C] = 0xFF;
      b[0x4D] = 0xFF;
    } else {
      set32(&b, d.at, d.value);
    }
    EXPECT_FALSE(parse(b, &link, &why)) << d.why;
    EXPECT_EQ(why, d.why);
  }
  // A path without its terminator inside the link information.
  Bytes b = shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\"");
  size_t info_end = 0x54 + (b[0x54] | b[0x55] << 8);
  b[info_end - 1] = 'x';  // the suffix's terminator
  EXPECT_FALSE(parse(b, &link, &why));
  // A string count beyond the end of the file.
  b = shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\"");
  b.resize(b.size() - 4 - 2 * strlen("C:\\Program Files\\Demo\\Viewer.exe"));
  EXPECT_FALSE(parse(b, &link, &why));
  EXPECT_EQ(why, "the icon location does not fit");
}

// Every cut of a shortcut, and every byte of it damaged in several ways,
// is read or refused without reading past the bytes.
TEST(ShellLink, HostileBytesAreRefusedWithinTheirBounds) {
  Bytes whole = shortcut_bytes("C:\\Program Files\\Demo\\Viewer.exe", "/menu \"a b\"");
  for (size_t n = 0; n < whole.size() - 4; ++n) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
    ShellLink link;
    std::string why;
    EXPECT_FALSE(parse(cut, &link, &why)) << n;
  }
  for (size_t i = 0; i < whole.size(); ++i)
    for (uint8_t v : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
      Bytes damaged = whole;
      damaged[i] = v;
      ShellLink link;
      std::string why;
      parse(damaged, &link, &why);
    }
}

}  // namespace
