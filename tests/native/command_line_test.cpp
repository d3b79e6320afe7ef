// The setup's command line: the two switches of the first setups and the
// switches of an unattended run beside them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/command_line.h"
#include "base/globals.h"

namespace {

void parse(const char* text) {
  SourcePath[0] = '\0';
  IsRelaunchCopy = false;
  Switches = SetupSwitches();
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
  EXPECT_STREQ("", Switches.bad);
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
  parse("word /DEL /VERYSILENT");
  EXPECT_FALSE(IsRelaunchCopy);
  EXPECT_EQ(RunMode::kWizard, Switches.mode);
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

TEST(CommandLine, UnattendedSwitches) {
  parse("/VERYSILENT /NORESTART /LOG=\"T:\\setup.log\" /TYPE=1 /DIR=\"C:\\Other Place\"");
  EXPECT_EQ(RunMode::kVerySilent, Switches.mode);
  EXPECT_TRUE(Switches.no_restart);
  EXPECT_STREQ("T:\\setup.log", Switches.log);
  EXPECT_TRUE(Switches.has_type);
  EXPECT_EQ(1, Switches.setup_type);
  EXPECT_STREQ("C:\\Other Place", Switches.dir);
  EXPECT_STREQ("", SourcePath);  // /SILENT and the rest are no /S
  EXPECT_STREQ("", Switches.bad);

  // A language's code; one longer than any code is refused, not cut.
  parse("/LANG=pt-BR /lang=\"de\"");
  EXPECT_STREQ("de", Switches.lang);
  EXPECT_STREQ("", Switches.bad);
  parse("/LANG=abcdefghijk");
  EXPECT_STREQ("/LANG=abcdefghijk", Switches.bad);

  parse("-silent -dir=D:\\Apps\\X -type=0 -log=x.log");
  EXPECT_EQ(RunMode::kSilent, Switches.mode);
  EXPECT_FALSE(Switches.no_restart);
  EXPECT_STREQ("D:\\Apps\\X", Switches.dir);
  EXPECT_EQ(0, Switches.setup_type);
  EXPECT_STREQ("x.log", Switches.log);

  // Very silent is the stronger, whichever comes first; switches may touch.
  parse("/VerySilent /Silent");
  EXPECT_EQ(RunMode::kVerySilent, Switches.mode);
  parse("/SILENT/NORESTART/DEL");
  EXPECT_EQ(RunMode::kSilent, Switches.mode);
  EXPECT_TRUE(Switches.no_restart);
  EXPECT_TRUE(IsRelaunchCopy);

  // The upgrade's switches each set their own answer only.
  parse("/restartapplications /ALLOWDOWNGRADE");
  EXPECT_TRUE(Switches.restart_applications);
  EXPECT_TRUE(Switches.allow_downgrade);
  EXPECT_FALSE(Switches.close_applications);
  parse("-CloseApplications");
  EXPECT_TRUE(Switches.close_applications);
  EXPECT_FALSE(Switches.restart_applications || Switches.allow_downgrade);
}

TEST(CommandLine, TheOldSwitchesBesideTheNewOnes) {
  parse("/S\"E:\\setup.exe\" /DEL /SILENT /TYPE=2");
  EXPECT_STREQ("E:\\setup.exe", SourcePath);
  EXPECT_TRUE(IsRelaunchCopy);
  EXPECT_EQ(RunMode::kSilent, Switches.mode);
  EXPECT_EQ(2, Switches.setup_type);
  // Only the whole word is /SILENT: anything longer is /S with a path, as
  // it always was; /DIR is no /DEL.
  parse("/SILENTLY");
  EXPECT_EQ(RunMode::kWizard, Switches.mode);
  EXPECT_STREQ("ILENTLY", SourcePath);
  parse("/DIR=C:\\x");
  EXPECT_FALSE(IsRelaunchCopy);
  EXPECT_STREQ("C:\\x", Switches.dir);
}

TEST(CommandLine, SwitchesThatCannotBeUsedAreNamed) {
  const char* refused[][2] = {
      {"/TYPE=x /SILENT", "/TYPE=x"},   {"/TYPE=12", "/TYPE=12"}, {"/TYPE=", "/TYPE="},
      {"/DIR= /SILENT", "/DIR="},       {"/DIR=\"\"", "/DIR=\"\""}, {"/LOG", "/LOG"},
      {"/DIR /VERYSILENT", "/DIR"},     {"/TYPE", "/TYPE"},
  };
  for (const auto& c : refused) {
    parse(c[0]);
    EXPECT_STREQ(c[1], Switches.bad) << c[0];
  }
  // The switches after a refused one are still read; the first stays named.
  parse("/TYPE=9x /VERYSILENT /LOG=");
  EXPECT_STREQ("/TYPE=9x", Switches.bad);
  EXPECT_EQ(RunMode::kVerySilent, Switches.mode);
  EXPECT_FALSE(Switches.has_type);
  // A folder or log that does not fit would name another place.
  std::string path(300, 'p');
  parse(("/DIR=\"" + path + "\"").c_str());
  EXPECT_EQ(0, std::strncmp("/DIR=\"ppp", Switches.bad, 9));
  EXPECT_EQ(sizeof Switches.bad - 1, std::strlen(Switches.bad));
  parse(("/LOG=" + path).c_str());
  EXPECT_EQ(0, std::strncmp("/LOG=ppp", Switches.bad, 8));
}

}  // namespace
