// Destinations of items per folder code and kind, target files of settings,
// and folder chains.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "install/destination.h"
#include "install/folders.h"
#include "tests/win32/install_fixture.h"

namespace {

std::string windows_folder() {
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  return folder;
}

std::string system_folder() {
  char folder[MAX_PATH];
  GetSystemDirectoryA(folder, MAX_PATH);
  return folder;
}

std::string shell_folder(int csidl) {
  char folder[MAX_PATH] = "";
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE));
  return folder;
}

class Destination : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_string(InstallDir, "C:\\Kestrel Dest", kPathSize);
    copy_string(SourcePath, "D:\\setups\\setup.exe", kPathSize);
  }
  int destination_of(const EntryFields& entry) {
    list_ = encode_file_list({entry});
    return item_destination(list_.data() + 4);
  }
  static EntryFields named(const char* name, uint8_t folder_code, uint8_t kind = kKindFile) {
    EntryFields e;
    e.strings[0] = name;
    e.folder_code = folder_code;
    e.kind = kind;
    return e;
  }
  std::vector<uint8_t> list_;
};

TEST_F(Destination, FolderCodesZeroOneAndThreeKeepSubfolders) {
  EXPECT_EQ(0, destination_of(named("sub\\a.txt", kFolderInstallDir)));
  EXPECT_STREQ("C:\\Kestrel Dest\\sub\\a.txt", DestPath);
  EXPECT_EQ(0, destination_of(named("sub\\a.txt", kFolderWindows)));
  EXPECT_EQ(windows_folder() + "\\sub\\a.txt", DestPath);
  EXPECT_EQ(0, destination_of(named("sub\\face.ttf", kFolderFonts)));
  EXPECT_EQ(shell_folder(CSIDL_FONTS) + "\\sub\\face.ttf", DestPath);
  // Unknown codes act as the installation folder.
  EXPECT_EQ(0, destination_of(named("b.txt", 9)));
  EXPECT_STREQ("C:\\Kestrel Dest\\b.txt", DestPath);
  // A folder that ends in a backslash gets no second one.
  copy_string(InstallDir, "C:\\Kestrel Dest\\", kPathSize);
  destination_of(named("b.txt", kFolderInstallDir));
  EXPECT_STREQ("C:\\Kestrel Dest\\b.txt", DestPath);
}

TEST_F(Destination, SharedSystemFileGoesWhereTheVersionLibrarySaysWithoutItsSubfolders) {
  DeleteFileA((system_folder() + "\\kestrel_lib.dll").c_str());
  EXPECT_EQ(0, destination_of(named("sub\\kestrel_lib.dll", kFolderShared)));
  EXPECT_EQ(system_folder() + "\\kestrel_lib.dll", DestPath);
  // An existing copy that is not in use is not reported in use either.
  std::string existing = system_folder() + "\\kestrel_lib.dll";
  ASSERT_TRUE(write_whole_file(existing, bytes_of("old")));
  EXPECT_EQ(0, destination_of(named("kestrel_lib.dll", kFolderShared)));
  EXPECT_EQ(existing, DestPath);
  DeleteFileA(existing.c_str());
}

TEST_F(Destination, FileInTheSourceFolderIgnoresTheFolderCode) {
  EXPECT_EQ(0, destination_of(named("sub\\a.txt", kFolderWindows, kKindInSource)));
  EXPECT_STREQ("D:\\setups\\sub\\a.txt", DestPath);
  copy_string(SourcePath, "setup.exe", kPathSize);
  destination_of(named("a.txt", kFolderShared, kKindInSource));
  EXPECT_STREQ("a.txt", DestPath);
}

TEST_F(Destination, LongNamesAreCutInsideTheBuffer) {
  std::string name(700, 'n');
  destination_of(named(name.c_str(), kFolderInstallDir));
  EXPECT_EQ(sizeof DestPath - 1, std::strlen(DestPath));
}

TEST_F(Destination, TargetFilesAreItemsOfTheListOrExpandedNames) {
  EntryFields ini = named("Conf\\App.ini", kFolderWindows);
  EntryFields other = named("readme.txt", kFolderInstallDir);
  std::vector<uint8_t> list = encode_file_list({other, ini});
  CurrentFirstEntry = list.data() + 4;
  CurrentFileCount = 2;
  EXPECT_TRUE(resolve_target_file("conf\\app.INI"));
  EXPECT_EQ(windows_folder() + "\\Conf\\App.ini", DestPath);
  EXPECT_TRUE(resolve_target_file("#InstallDir#\\other.ini"));
  EXPECT_STREQ("C:\\Kestrel Dest\\other.ini", DestPath);
  // An expansion cut to fit would name another file: none is named.
  EXPECT_FALSE(resolve_target_file(("#InstallDir#\\" + std::string(250, 'x')).c_str()));
  CurrentFirstEntry = nullptr;
  CurrentFileCount = 0;
}

// The joined path fits, with one backslash between, or the call fails.
TEST(JoinPath, FitsWithOneBackslashOrFails) {
  char out[kPathSize];
  for (size_t length : {254u, 255u, 256u}) {  // results of 259, 260 and 261 characters
    std::string name(length, 'n');
    EXPECT_EQ(length == 254, join_path(out, sizeof out, "C:\\a", name.c_str())) << length;
    if (length == 254) {
      EXPECT_EQ("C:\\a\\" + name, std::string(out));
    }
    EXPECT_EQ(length == 254, join_path(out, sizeof out, "C:\\a\\", name.c_str())) << length;
  }
  std::string folder = "C:\\" + std::string(256, 'f');  // 259: no room for the backslash
  EXPECT_FALSE(join_path(out, sizeof out, folder.c_str(), "x"));
  EXPECT_EQ(folder, std::string(out));
}

TEST(FolderChain, CreatesEveryFolderUpToTheLastBackslash) {
  RemoveDirectoryA("C:\\KestrelChain\\A\\B");
  RemoveDirectoryA("C:\\KestrelChain\\A");
  RemoveDirectoryA("C:\\KestrelChain\\Data");
  RemoveDirectoryA("C:\\KestrelChain");
  EXPECT_EQ(0, create_folder_chain("C:\\KestrelChain\\A\\B\\file.txt"));
  EXPECT_TRUE(file_exists("C:\\KestrelChain\\A\\B"));
  EXPECT_FALSE(file_exists("C:\\KestrelChain\\A\\B\\file.txt"));
  // Without a trailing backslash the last part is a file name.
  EXPECT_EQ(0, create_folder_chain("C:\\KestrelChain\\Data"));
  EXPECT_FALSE(file_exists("C:\\KestrelChain\\Data"));
  EXPECT_EQ(0, create_folder_chain("C:\\KestrelChain\\Data\\"));
  EXPECT_TRUE(file_exists("C:\\KestrelChain\\Data"));
  // A file where a folder should be stops the chain.
  ASSERT_TRUE(write_whole_file("C:\\KestrelChain\\plain", bytes_of("x")));
  EXPECT_EQ(1, create_folder_chain("C:\\KestrelChain\\plain\\sub\\f"));
  // A drive root is never created.
  EXPECT_EQ(0, create_folder_chain("C:\\f.txt"));
  SetCurrentDirectoryA("C:\\");
  DeleteFileA("C:\\KestrelChain\\plain");
}

}  // namespace
