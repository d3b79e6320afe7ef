// PathMacro expansion.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/globals.h"
#include "base/path_strings.h"
#include "install/path_macros.h"

namespace {

std::string expand(const char* text) {
  std::vector<char> out(kMacroCapacity, '\x7f');
  uint32_t n = expand_macros(out.data(), text, kMacroCapacity);
  EXPECT_EQ(n, std::strlen(out.data())) << text;
  EXPECT_EQ(n, expand_macros(nullptr, text, kMacroCapacity)) << "length only: " << text;
  return out.data();
}

std::string windows_folder() {
  char folder[MAX_PATH];
  UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  EXPECT_GT(n, 3u);
  return folder;
}

class PathMacros : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_string(InstallDir, "C:\\Apps\\Kestrel", kPathSize);
    copy_string(SourcePath, "D:\\setup.exe", kPathSize);
  }
};

TEST_F(PathMacros, TokensIgnoreCaseAndUnknownOnesVanish) {
  EXPECT_EQ(windows_folder() + "\\x", expand("#windows#\\x"));
  EXPECT_EQ(expand("#Windows#\\x"), expand("#WINDOWS#\\x"));
  EXPECT_EQ("ab", expand("a#Win dows#b"));
  EXPECT_EQ("C:\\Apps\\Kestrel\\bin", expand("#installdir#\\bin"));
  EXPECT_EQ("", expand("#nothing#"));
  EXPECT_EQ("", expand("##"));
}

TEST_F(PathMacros, HashSignsPairUpLeftToRight) {
  EXPECT_EQ("ac", expand("a#b#c"));
  EXPECT_EQ("100#", expand("100#"));
  EXPECT_EQ("ac#d", expand("a#b#c#d"));
  EXPECT_EQ("plain text", expand("plain text"));
  EXPECT_EQ("", expand(""));
}

TEST_F(PathMacros, ReplacementsAreNotScannedAgain) {
  copy_string(InstallDir, "C:\\#Windows#", kPathSize);
  EXPECT_EQ("C:\\#Windows#\\x", expand("#InstallDir#\\x"));
}

TEST_F(PathMacros, SourceDirIsTheSetupFilesFolder) {
  EXPECT_EQ("D:", expand("#SourceDir#"));
  EXPECT_EQ("D:\\x", expand("#SourceDir#\\x"));
  copy_string(SourcePath, "E:\\Disk 1\\setup.exe", kPathSize);
  EXPECT_EQ("E:\\Disk 1\\data", expand("#SourceDir#\\data"));
  copy_string(SourcePath, "setup.exe", kPathSize);
  EXPECT_EQ("\\data", expand("#SourceDir#\\data"));
}

TEST_F(PathMacros, OneTrailingBackslashGoesWhenLongerThanARoot) {
  copy_string(InstallDir, "C:\\Apps\\", kPathSize);
  EXPECT_EQ("C:\\Apps\\", expand("#InstallDir#\\"));
  EXPECT_EQ("C:\\Apps", expand("#InstallDir#"));
  copy_string(InstallDir, "C:\\", kPathSize);
  EXPECT_EQ("C:\\", expand("#InstallDir#"));
  copy_string(InstallDir, "C:\\Apps\\\\", kPathSize);
  EXPECT_EQ("C:\\Apps\\", expand("#InstallDir#"));  // only one goes
  InstallDir[0] = '\0';
  EXPECT_EQ("\\x", expand("#InstallDir#\\x"));
}

TEST_F(PathMacros, SystemFolder) {
  char folder[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(folder, MAX_PATH), 3u);
  EXPECT_EQ(std::string(folder) + "\\k.dll", expand("#System#\\k.dll"));
}

// Sets (or with null removes) ProgramFilesDir for one test, and puts the
// machine's own value back afterwards.
class ProgramFilesValue {
 public:
  explicit ProgramFilesValue(const char* value) {
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_READ | KEY_WRITE, &key_));
    DWORD size = sizeof saved_;
    had_ = RegQueryValueExA(key_, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(saved_), &size) ==
           ERROR_SUCCESS;
    if (value)
      RegSetValueExA(key_, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(std::strlen(value) + 1));
    else
      RegDeleteValueA(key_, "ProgramFilesDir");
  }
  ~ProgramFilesValue() {
    if (had_)
      RegSetValueExA(key_, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_),
                     static_cast<DWORD>(std::strlen(saved_) + 1));
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  char saved_[MAX_PATH] = {};
  bool had_ = false;
};

TEST_F(PathMacros, ProgramFilesFromTheRegistryOrKeptAsWritten) {
  {
    ProgramFilesValue value("E:\\Programme\\");
    EXPECT_EQ("E:\\Programme\\Kestrel", expand("#Program Files#\\Kestrel"));
    EXPECT_EQ("E:\\Programme\\Kestrel", expand("#PROGRAM FILES#\\Kestrel"));
  }
  {
    ProgramFilesValue value(nullptr);
    EXPECT_EQ("#Program Files#\\Kestrel", expand("#Program Files#\\Kestrel"));
    EXPECT_EQ("#program files#", expand("#program files#"));
  }
}

TEST_F(PathMacros, DateIsTodaysUtcDate) {
  SYSTEMTIME before, after;
  GetSystemTime(&before);
  std::string date = expand("#Date#");
  GetSystemTime(&after);
  ASSERT_EQ(8u, date.size());
  char want[2][16];
  wsprintfA(want[0], "%04u%02u%02u", before.wYear, before.wMonth, before.wDay);
  wsprintfA(want[1], "%04u%02u%02u", after.wYear, after.wMonth, after.wDay);
  EXPECT_TRUE(date == want[0] || date == want[1]) << date;
  EXPECT_EQ("log-" + date + ".txt", expand("log-#date#.txt"));
}

TEST_F(PathMacros, ResultIsCutToTheCapacityButTheFullLengthReturned) {
  char out[8];
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(15u, expand_macros(out, "#InstallDir#", 4));
  EXPECT_STREQ("C:\\", out);
  EXPECT_EQ('z', out[4]);
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(15u, expand_macros(out, "#InstallDir#", 0));
  EXPECT_EQ('z', out[0]);  // no room at all: untouched
  EXPECT_EQ(0u, expand_macros(out, "#gone#", 8));
  EXPECT_STREQ("", out);
}

TEST_F(PathMacros, OutputMayBeTheInputOrInstallDir) {
  copy_string(InstallDir, "#InstallDir#\\sub", kPathSize);
  expand_macros(InstallDir, InstallDir, kPathSize);
  EXPECT_STREQ("#InstallDir#\\sub\\sub", InstallDir);
  char text[64] = "#SourceDir#\\a#b#";
  expand_macros(text, text, sizeof text);
  EXPECT_STREQ("D:\\a", text);
}

TEST_F(PathMacros, OverlongExpansionStaysInsideItsBuffers) {
  std::string dir(250, 'd');
  copy_string(InstallDir, ("C:\\" + dir).c_str(), kPathSize);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "#InstallDir#;";
  const uint32_t full = 2000 * (3 + 250 + 1);
  EXPECT_EQ(full, expand_macros(nullptr, text.c_str(), kMacroCapacity));

  // A buffer larger than the working buffer: filled no further than that.
  std::vector<char> out(full + 1 + 64, '\x7f');
  EXPECT_EQ(full, expand_macros(out.data(), text.c_str(), full + 1));
  EXPECT_EQ(kMacroCapacity - 1, std::strlen(out.data()));
  std::string first = "C:\\" + dir + ";C:\\";
  EXPECT_EQ(0, std::memcmp(out.data(), first.data(), first.size()));
  for (size_t i = kMacroCapacity; i < out.size(); ++i) ASSERT_EQ('\x7f', out[i]) << "at " << i;

  // A path buffer: cut at 259.
  char path[kPathSize + 8];
  std::memset(path, '\x7f', sizeof path);
  EXPECT_EQ(full, expand_macros(path, text.c_str(), kPathSize));
  EXPECT_EQ(kPathSize - 1, std::strlen(path));
  EXPECT_EQ('\x7f', path[kPathSize]);

  // Plain text longer than the working buffer.
  std::string plain(100000, 'p');
  EXPECT_EQ(100000u, expand_macros(nullptr, plain.c_str(), kMacroCapacity));
  EXPECT_EQ(100000u, expand_macros(path, plain.c_str(), kPathSize));
  EXPECT_EQ(std::string(kPathSize - 1, 'p'), path);
}

}  // namespace
