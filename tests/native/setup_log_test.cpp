// The log of an unattended run: its line format, and lines written as they
// happen.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/setup_log.h"
#include "test_files.h"

namespace {

std::string line(const char* time, std::initializer_list<const char*> fields) {
  std::vector<const char*> list(fields);
  char out[256];
  size_t n = format_log_line(out, sizeof out, time, list.data(), static_cast<unsigned>(list.size()));
  EXPECT_LT(n, sizeof out);
  EXPECT_EQ(n, std::string(out).size());
  return out;
}

TEST(SetupLog, FieldsAreTabSeparatedAndEndInCrLf) {
  EXPECT_EQ("2024-05-01 12:00:00\tcreated\tC:\\Program Files\\Demo\\Viewer.exe\r\n",
            line("2024-05-01 12:00:00", {"created", "C:\\Program Files\\Demo\\Viewer.exe"}));
  EXPECT_EQ("t\tregistry\tHKCU\\Software\\Demo\t\t1.0\r\n", line("t", {"registry", "HKCU\\Software\\Demo", "", "1.0"}));
}

TEST(SetupLog, NoFieldHoldsATabOrALineEnd) {
  // A value with a tab, line ends and a percent sign: each is escaped, so
  // that a reader splitting at tabs and lines gets the fields back.
  EXPECT_EQ("t\tini\ta\tb%09c%0D%0Ad%25e%7F\r\n", line("t", {"ini", "a", "b\tc\r\nd%e\x7f"}));
  // Bytes of the code page above 0x7F stand as they are.
  EXPECT_EQ("t\tcreated\tC:\\Caf\xe9\r\n", line("t", {"created", "C:\\Caf\xe9"}));
}

TEST(SetupLog, ALineThatDoesNotFitAsksForMore) {
  const char* fields[] = {"error", "22", "The file C:\\x is in use."};
  char small[16];
  size_t needed = format_log_line(small, sizeof small, "t", fields, 3);
  EXPECT_STREQ("", small);
  std::vector<char> big(needed);
  EXPECT_EQ(needed - 1, format_log_line(big.data(), big.size(), "t", fields, 3));
  EXPECT_EQ("t\terror\t22\tThe file C:\\x is in use.\r\n", std::string(big.data()));
}

TEST(SetupLog, LinesAreInTheFileAsSoonAsTheyAreLogged) {
  TempDir dir;
  std::string path = dir.file("setup.log");
  ASSERT_TRUE(open_log(path.c_str()));
  log_event("start", "S:\\setup.exe", "/VERYSILENT");
  log_number("end", 3010, "restart needed");
  log_number("exit", -1);
  // Read while the log is still open, as after a crash.
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  ASSERT_EQ(3, std::count(s.begin(), s.end(), '\n')) << s;
  EXPECT_NE(std::string::npos, s.find("\tstart\tS:\\setup.exe\t/VERYSILENT\r\n"));
  EXPECT_NE(std::string::npos, s.find("\tend\t3010\trestart needed\r\n"));
  EXPECT_NE(std::string::npos, s.find("\texit\t-1\r\n"));
  // Each line begins with the local time, "yyyy-mm-dd hh:mm:ss".
  EXPECT_EQ('-', s[4]);
  EXPECT_EQ(' ', s[10]);
  EXPECT_EQ(':', s[13]);
  EXPECT_EQ('\t', s[19]);
  // A long line is written whole.
  std::string value(3000, 'v');
  log_event("registry", "HKCU\\Software\\Demo", "Long", value.c_str());
  close_log();
  EXPECT_FALSE(log_is_open());
  log_event("after", "nothing");  // no log: nothing happens
  std::ifstream again(path, std::ios::binary);
  std::stringstream all;
  all << again.rdbuf();
  EXPECT_NE(std::string::npos, all.str().find("\tLong\t" + value + "\r\n"));
  EXPECT_EQ(std::string::npos, all.str().find("after"));
}

TEST(SetupLog, ALogThatCannotBeMadeIsSaidSo) {
  TempDir dir;
  EXPECT_FALSE(open_log(dir.file("no such folder/setup.log").c_str()));
  EXPECT_FALSE(log_is_open());
}

}  // namespace
