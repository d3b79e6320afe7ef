// The two switches of the setup's command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/globals.h"

namespace {

void parse(const char* text) {
  SourcePath[0] = '\0';
  IsRelaunchCopy = false;
  parse_command_line(text);
}

TEST(CommandLine, SwitchesInAnyCaseAndPrefix) {
  parse("-s\"C:\\My Files\\setup.exe\" /del");
  EXPECT_STREQ("C:\\My Files\\setup.exe", SourcePath);
  EXPECT_TRUE(IsRelaunchCopy);
  parse("/DeL");
  EXPECT_TRUE(IsRelaunchCopy);
  parse("  -dEl");
  EXPECT_TRUE(IsRelaunchCopy);
  parse("/DEL/Sx.exe");
  EXPECT_TRUE(IsRelaunchCopy);
  EXPECT_STREQ("x.exe", SourcePath);
}

TEST(CommandLine, OnlyThreeLettersOfDelCount) {
  parse("/DELETE");
  EXPECT_TRUE(IsRelaunchCopy);
  parse("/D");
  EXPECT_FALSE(IsRelaunchCopy);
  parse("/DE");
  EXPECT_FALSE(IsRelaunchCopy);
  parse("/X /DEL");  // an unknown switch is passed over
  EXPECT_TRUE(IsRelaunchCopy);
}

TEST(CommandLine, PathForms) {
  parse("/S C:\\a b /DEL");
  EXPECT_STREQ("C:\\a", SourcePath);  // unquoted: ends at the blank
  EXPECT_FALSE(IsRelaunchCopy);       // "b" is a word that ends the scan
  parse("/SD:\\x.exe");
  EXPECT_STREQ("D:\\x.exe", SourcePath);
  parse("/S \"D:\\with blank\\s.exe\" -DEL");
  EXPECT_STREQ("D:\\with blank\\s.exe", SourcePath);
  EXPECT_TRUE(IsRelaunchCopy);
  parse("/S\"D:\\open quote");
  EXPECT_STREQ("D:\\open quote", SourcePath);
  parse("/S");
  EXPECT_STREQ("", SourcePath);
}

TEST(CommandLine, AWordEndsTheScan) {
  parse("word /DEL");
  EXPECT_FALSE(IsRelaunchCopy);
  parse("");
  EXPECT_FALSE(IsRelaunchCopy);
  EXPECT_STREQ("", SourcePath);
  parse(nullptr);
  EXPECT_FALSE(IsRelaunchCopy);
}

TEST(CommandLine, LongPathIsCutAndTerminated) {
  std::string path(400, 'p');
  parse(("/S\"" + path + "\" /DEL").c_str());
  EXPECT_EQ(path.substr(0, 259), SourcePath);
  EXPECT_TRUE(IsRelaunchCopy);  // the rest of the path was read past
  parse(("/S" + path + " /DEL").c_str());
  EXPECT_EQ(259u, std::strlen(SourcePath));
  EXPECT_TRUE(IsRelaunchCopy);
}

}  // namespace
