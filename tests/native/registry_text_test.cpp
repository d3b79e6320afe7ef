// Wine's registry files read on the host (kestrel try).
#include <gtest/gtest.h>

#include <cstring>

#include "cli/registry_text.h"

namespace {

bool parse(const std::string& text, RegistryText* out, std::string* why) {
  return parse_registry_text(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out, why);
}

std::vector<uint8_t> utf16(const std::string& ascii, bool terminated) {
  std::vector<uint8_t> out;
  for (char c : ascii) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
  if (terminated) out.insert(out.end(), {0, 0});
  return out;
}

// An excerpt in the form Wine 8 saves, with every kind of value it writes.
const char kSystemReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Demo Product 1.0] 1796731263\n"
    "#time=1dd870afc1f079e\n"
    "\"DisplayName\"=hex(1):44,00,65,00,6d,00,6f,00\n"
    "\"QuietUninstallString\"=\"\\\"C:\\\\Program Files\\\\Demo\\\\Uninstall.exe\\\" /SILENT\"\n"
    "@=\"default\"\n"
    "\n"
    "[Software\\\\Odd \\[name\\]] 1796731263\n"
    "#class=\"thing\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Path\"=str(2):\"%SystemRoot%\\\\x\"\n"
    "\"Names\"=str(7):\"a\\0b\\0\"\n"
    "\"Text\"=\"tab\\there\\nline, caf\\xe9, euro \\x20ac0 and \\101\"\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
    "  18,19,1a,1b,1c,1d,1e,1f,20,21\n"
    "\"Odd\"=hex(6):01,02\n"
    "\n"
    "[Software\\\\Empty] 1796731263\n"
    "#time=1dd870afc1f079e\n"
    "#link\n"
    "\n"
    "a line of a kind this reader does not know\n";

TEST(RegistryText, ReadsEveryKindOfValueWineWrites) {
  RegistryText text;
  std::string why;
  ASSERT_TRUE(parse(kSystemReg, &text, &why)) << why;
  ASSERT_EQ(text.keys.size(), 3u);
  EXPECT_EQ(text.keys[0], "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo Product 1.0");
  EXPECT_EQ(text.keys[1], "Software\\Odd [name]");
  EXPECT_EQ(text.keys[2], "Software\\Empty");
  ASSERT_EQ(text.values.size(), 9u);

  // A string written without its terminating zero (as the setup writes
  // Add/Remove values) is kept as Wine stores it: typed hex.
  const RegistryValue& display = text.values[0];
  EXPECT_EQ(display.key, text.keys[0]);
  EXPECT_EQ(display.name, "DisplayName");
  EXPECT_EQ(display.type, kRegSz);
  EXPECT_EQ(display.data, utf16("Demo", false));
  std::string s;
  ASSERT_TRUE(registry_string(display, &s));
  EXPECT_EQ(s, "Demo");

  ASSERT_TRUE(registry_string(text.values[1], &s));
  EXPECT_EQ(s, "\"C:\\Program Files\\Demo\\Uninstall.exe\" /SILENT");
  EXPECT_EQ(text.values[1].data, utf16(s, true));
  EXPECT_EQ(text.values[2].name, "");
  ASSERT_TRUE(registry_string(text.values[2], &s));
  EXPECT_EQ(s, "default");

  EXPECT_EQ(text.values[3].type, kRegDword);
  EXPECT_EQ(text.values[3].data, (std::vector<uint8_t>{42, 0, 0, 0}));
  EXPECT_EQ(text.values[4].type, kRegExpandSz);
  ASSERT_TRUE(registry_string(text.values[4], &s));
  EXPECT_EQ(s, "%SystemRoot%\\x");
  EXPECT_EQ(text.values[5].type, kRegMultiSz);
  EXPECT_FALSE(registry_string(text.values[5], &s));
  // Escapes: C escapes, \x with up to four digits, octal.
  ASSERT_TRUE(registry_string(text.values[6], &s));
  EXPECT_EQ(s,
            "tab\there\nline, caf\xC3\xA9, euro \xE2\x82\xAC"
            "0 and A");
  // Hex data continues over lines that end in a backslash.
  EXPECT_EQ(text.values[7].type, kRegBinary);
  ASSERT_EQ(text.values[7].data.size(), 34u);
  EXPECT_EQ(text.values[7].data[33], 0x21);
  EXPECT_EQ(text.values[8].type, 6u);
  EXPECT_EQ(text.values[8].data, (std::vector<uint8_t>{1, 2}));
}

TEST(RegistryText, DescribesValuesForPeople) {
  RegistryText text;
  std::string why;
  ASSERT_TRUE(parse(kSystemReg, &text, &why)) << why;
  EXPECT_EQ(describe_registry_value(text.values[0]), "\"Demo\" (no terminator)");
  EXPECT_EQ(describe_registry_value(text.values[1]),
            "\"\\\"C:\\\\Program Files\\\\Demo\\\\Uninstall.exe\\\" /SILENT\"");
  EXPECT_EQ(describe_registry_value(text.values[3]), "dword 0x0000002a (42)");
  EXPECT_EQ(describe_registry_value(text.values[4]), "expandable \"%SystemRoot%\\\\x\"");
  EXPECT_EQ(describe_registry_value(text.values[5]), "multi-string \"a\" \"b\"");
  // Control characters cannot reach the terminal.
  EXPECT_EQ(describe_registry_value(text.values[6]).substr(0, 16), "\"tab\\x09here\\x0A");
  // Long binary data is cut short, with its size.
  std::string blob = describe_registry_value(text.values[7]);
  EXPECT_EQ(blob.substr(0, 12), "hex 00 01 02");
  EXPECT_NE(blob.find(" 1f ... (34 bytes)"), std::string::npos) << blob;
  EXPECT_EQ(describe_registry_value(text.values[8]), "hex(6) 01 02");
}

// Texts as Wine saves them with and without their terminator: a quoted
// string has one, typed hex holds exactly the bytes that were written.
TEST(RegistryText, TellsATextWithItsTerminatorFromOneWithout) {
  RegistryText text;
  std::string why;
  ASSERT_TRUE(parse("WINE REGISTRY Version 2\n"
                    "[Software\\\\Kestrel] 1796731263\n"
                    "\"Quoted\"=\"ab\"\n"
                    "\"Bare\"=hex(1):61,00,62,00\n"
                    "\"Twice\"=hex(1):61,00,62,00,00,00,00,00\n"
                    "\"EmptyBare\"=hex(1):\n"
                    "\"EmptyQuoted\"=\"\"\n",
                    &text, &why))
      << why;
  ASSERT_EQ(text.values.size(), 5u);
  const struct {
    std::vector<uint8_t> data;
    std::string text;
    bool terminated;
    const char* described;
  } expected[] = {
      {utf16("ab", true), "ab", true, "\"ab\""},
      {utf16("ab", false), "ab", false, "\"ab\" (no terminator)"},
      {utf16(std::string("ab\0", 3), true), std::string("ab\0", 3), true, "\"ab\\x00\""},  // one zero terminates
      {{}, "", false, "\"\" (no terminator)"},
      {{0, 0}, "", true, "\"\""},
  };
  for (size_t i = 0; i < text.values.size(); ++i) {
    const RegistryValue& v = text.values[i];
    EXPECT_EQ(v.data, expected[i].data) << v.name;
    std::string s;
    bool terminated = !expected[i].terminated;
    ASSERT_TRUE(registry_string(v, &s, &terminated)) << v.name;
    EXPECT_EQ(s, expected[i].text) << v.name;
    EXPECT_EQ(terminated, expected[i].terminated) << v.name;
    EXPECT_EQ(describe_registry_value(v), expected[i].described) << v.name;
  }
}

TEST(RegistryText, RefusesWhatIsNotARegistryFileOrCannotBeRead) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"", "not a Wine registry file"},
      {"REGEDIT4\n[x]\n", "not a Wine registry file"},
      {"WINE REGISTRY Version 2\n\"a\"=\"b\"\n", "line 2: a value before the first key"},
      {"WINE REGISTRY Version 2\n[Software\\\\x\n", "line 2: a key name without its closing bracket"},
      {"WINE REGISTRY Version 2\n[k]\n\"a=\"b\"\n", "line 3: a value without \"=\""},
      {"WINE REGISTRY Version 2\n[k]\n\"a\n", "line 3: a value name without its closing quote"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=\"open\n", "line 3: a string without its closing quote"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=\"ends in a backslash\\", "line 3: a string without its closing quote"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=dword:12\n", "line 3: a dword that is not 8 hex digits"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=hex:0g\n", "line 3: hex data that cannot be read"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=hex:01,\\\n", "line 3: hex data that cannot be read"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=hex(:01\n", "line 3: a value type that cannot be read"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=str(1)\"x\"\n", "line 3: a typed string that cannot be read"},
      {"WINE REGISTRY Version 2\n[k]\n\"a\"=b\n", "line 3: a value of a kind Wine does not write"},
  };
  for (const auto& c : cases) {
    RegistryText text;
    std::string why;
    EXPECT_FALSE(parse(c.text, &text, &why)) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
}

// Every cut of a real file, and every byte of it damaged, is read or
// refused: never read past the end.
TEST(RegistryText, DamagedFilesAreReadOrRefusedWithinTheirBytes) {
  std::string whole = kSystemReg;
  for (size_t n = 0; n <= whole.size(); ++n) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
    RegistryText text;
    std::string why;
    parse_registry_text(cut.data(), cut.size(), &text, &why);
  }
  const uint8_t replacements[] = {0, '\\', '"', '[', ']', '\n', '=', 'x', ':', ','};
  for (size_t i = 0; i < whole.size(); ++i)
    for (uint8_t r : replacements) {
      std::vector<uint8_t> damaged(whole.begin(), whole.end());
      damaged[i] = r;
      RegistryText text;
      std::string why;
      if (parse_registry_text(damaged.data(), damaged.size(), &text, &why))
        for (const RegistryValue& v : text.values) describe_registry_value(v);
    }
}

}  // namespace
