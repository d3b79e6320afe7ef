// Default destination folders and the letter case of existing paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "archive/config.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/default_folder.h"

namespace {

const char kTestKey[] = "Software\\Kestrel Tests\\Default Folder";
const char kIniFile[] = "C:\\KestrelCase\\remember.ini";

// C:\KestrelCase\Apps as the folders stored on disk; a test registry key
// and INI file, removed again.
class DefaultFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA("C:\\KestrelCase", nullptr);
    CreateDirectoryA("C:\\KestrelCase\\Apps", nullptr);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\KestrelCase\\Apps"));
    InstallDir[0] = '\0';
    TempPath[0] = '\0';
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
    DeleteFileA(kIniFile);
  }

  static void remember_in_registry(HKEY root, const char* folder) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, kTestKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExA(key, "Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                   static_cast<DWORD>(std::strlen(folder) + 1));
    RegCloseKey(key);
  }

  SetupTypeRecord registry_record(uint32_t root_code, const char* default_folder = "#Windows#\\Fallback") {
    SetupTypeRecord r = {};
    r.default_folder = default_folder;
    r.root_key = root_code;
    r.registry_key = kTestKey;
    r.registry_value = "Folder";
    return r;
  }

  static std::string windows_folder() {
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    return folder;
  }
};

TEST_F(DefaultFolder, WithoutARememberedFolderTheDefaultIsExpanded) {
  SetupTypeRecord r = registry_record(1);  // key absent
  default_install_dir(&r);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
  SetupTypeRecord plain = {};
  plain.default_folder = "C:\\Plain\\#nothing#Dir";
  default_install_dir(&plain);
  EXPECT_STREQ("C:\\Plain\\Dir", InstallDir);  // not tested for existence
}

// A remembered folder that is gone is not cut back to a folder that is
// there, which may be another product's: the default is used.
TEST_F(DefaultFolder, RememberedFolderThatIsGoneGivesTheDefault) {
  CreateDirectoryA("C:\\KestrelCase\\Apps\\Foo", nullptr);
  remember_in_registry(HKEY_CURRENT_USER, "c:\\kestrelcase\\APPS\\Foo 2");
  SetupTypeRecord r = registry_record(1);
  default_install_dir(&r);
  RemoveDirectoryA("C:\\KestrelCase\\Apps\\Foo");
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
  remember_in_registry(HKEY_CURRENT_USER, "c:\\kestrelcase\\APPS\\Old\\Version 2");
  default_install_dir(&r);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
}

TEST_F(DefaultFolder, ExistingRememberedFolderKeepsItsBackslashAndTakesStoredCase) {
  remember_in_registry(HKEY_CURRENT_USER, "C:\\KESTRELCASE\\apps\\");
  SetupTypeRecord r = registry_record(1);
  default_install_dir(&r);
  EXPECT_STREQ("C:\\KestrelCase\\Apps\\", InstallDir);
  remember_in_registry(HKEY_CURRENT_USER, "C:\\kestrelCase\\aPPs");
  default_install_dir(&r);
  EXPECT_STREQ("C:\\KestrelCase\\Apps", InstallDir);
}

TEST_F(DefaultFolder, RememberedFolderIsTakenWithoutMacros) {
  CreateDirectoryA("C:\\KestrelCase\\#Windows#", nullptr);
  remember_in_registry(HKEY_CURRENT_USER, "C:\\KestrelCase\\#Windows#");
  SetupTypeRecord r = registry_record(1);
  default_install_dir(&r);
  RemoveDirectoryA("C:\\KestrelCase\\#Windows#");
  EXPECT_STREQ("C:\\KestrelCase\\#Windows#", InstallDir);
}

TEST_F(DefaultFolder, NothingOfTheRememberedFolderExists) {
  remember_in_registry(HKEY_CURRENT_USER, "Q:\\Gone\\Away");  // no drive Q: in the test prefix
  SetupTypeRecord r = registry_record(1);
  default_install_dir(&r);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
}

TEST_F(DefaultFolder, TheCurrentFolderIsLeftAlone) {
  char before[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  remember_in_registry(HKEY_CURRENT_USER, "C:\\KestrelCase\\Apps");
  SetupTypeRecord r = registry_record(1);
  default_install_dir(&r);
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(before, after);
}

TEST_F(DefaultFolder, RootKeyCodes) {
  remember_in_registry(HKEY_LOCAL_MACHINE, "C:\\KestrelCase");
  SetupTypeRecord machine = registry_record(2);
  default_install_dir(&machine);
  EXPECT_STREQ("C:\\KestrelCase", InstallDir);
  // Any unknown code reads the current user's key, which has no value here.
  SetupTypeRecord odd = registry_record(9);
  default_install_dir(&odd);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
  remember_in_registry(HKEY_CURRENT_USER, "C:\\KestrelCase\\Apps");
  default_install_dir(&odd);
  EXPECT_STREQ("C:\\KestrelCase\\Apps", InstallDir);
}

TEST_F(DefaultFolder, IniFileWhenNoRegistryKeyIsNamed) {
  SetupTypeRecord r = {};
  r.default_folder = "#Windows#\\Fallback";
  r.ini_file = kIniFile;
  r.ini_section = "Setup";
  r.ini_key = "Folder";
  default_install_dir(&r);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);  // no such INI file yet
  ASSERT_TRUE(WritePrivateProfileStringA("Setup", "Folder", "c:\\kestrelcase\\apps", kIniFile));
  default_install_dir(&r);
  EXPECT_STREQ("c:\\KestrelCase\\Apps", InstallDir);
  // A registry key, even an empty one, takes precedence over the INI file.
  r.registry_key = kTestKey;
  r.registry_value = "Folder";
  r.root_key = 1;
  default_install_dir(&r);
  EXPECT_EQ(windows_folder() + "\\Fallback", InstallDir);
}

TEST_F(DefaultFolder, NoTextAndNothingRememberedLeavesItEmpty) {
  copy_string(InstallDir, "C:\\Previous Type", kPathSize);
  SetupTypeRecord r = {};
  default_install_dir(&r);
  EXPECT_STREQ("", InstallDir);
}

TEST(FixPathCase, FoldersTakeTheStoredCase) {
  CreateDirectoryA("C:\\KestrelCase", nullptr);
  CreateDirectoryA("C:\\KestrelCase\\Apps", nullptr);
  char path[kPathSize] = "C:\\kestrelcase\\APPS";
  fix_path_case(path);
  EXPECT_STREQ("C:\\KestrelCase\\Apps", path);
  copy_string(path, "c:\\\\kestrelcase\\apps\\", kPathSize);
  fix_path_case(path);
  EXPECT_STREQ("c:\\KestrelCase\\Apps\\", path);
}

TEST(FixPathCase, UnchangedWhenAPartIsMissing) {
  const char* cases[] = {"C:\\kestrelcase\\missing\\apps", "C:\\kestrelcase\\missing", "C:\\", "C:", "",
                         "C:\\kestrel*", "\\\\server\\share\\x"};
  for (const char* text : cases) {
    char path[kPathSize];
    copy_string(path, text, kPathSize);
    fix_path_case(path);
    EXPECT_STREQ(text, path);
  }
}

}  // namespace
