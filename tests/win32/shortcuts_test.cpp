// Shell links made through IShellLinkA, read back the same way, and the
// start-menu shortcuts of a FileList with their ShortcutList block.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "install/shortcuts.h"
#include "install/uninstall_record.h"
#include "record/uninstall_data_writer.h"
#include "tests/win32/install_fixture.h"

// Stand-in for the uninstall record's writer.
void write_counted_string(HANDLE log, const char* text) {
  uint16_t length = static_cast<uint16_t>(std::strlen(text));
  DWORD put = 0;
  WriteFile(log, &length, 2, &put, nullptr);
  if (length) WriteFile(log, text, length, &put, nullptr);
}

namespace {

struct Link {
  std::string path, arguments, folder, icon;
  int icon_index = -1;
};

Link read_link(const std::string& file) {
  Link out;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return out;
  IPersistFile* persist = nullptr;
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(persist->Load(wide, STGM_READ))) {
    char text[MAX_PATH] = "";
    link->GetPath(text, MAX_PATH, nullptr, 0);
    out.path = text;
    text[0] = '\0';
    link->GetArguments(text, MAX_PATH);
    out.arguments = text;
    text[0] = '\0';
    link->GetWorkingDirectory(text, MAX_PATH);
    out.folder = text;
    text[0] = '\0';
    link->GetIconLocation(text, MAX_PATH, &out.icon_index);
    out.icon = text;
  }
  if (persist) persist->Release();
  link->Release();
  return out;
}

std::string shell_folder(int csidl) {
  char folder[MAX_PATH] = "";
  SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE);
  return folder;
}

const char kTargets[] = "C:\\KestrelLinks";

class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    CreateDirectoryA(kTargets, nullptr);
    ASSERT_TRUE(write_whole_file(std::string(kTargets) + "\\prog.exe", bytes_of("MZ")));
    copy_string(InstallDir, kTargets, kPathSize);
  }
  void TearDown() override {
    for (const auto& f : made_) DeleteFileA(f.c_str());
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryA(it->c_str());
    DeleteFileA((std::string(kTargets) + "\\prog.exe").c_str());
    DeleteFileA((std::string(kTargets) + "\\log.bin").c_str());
    SetCurrentDirectoryA("C:\\");
    RemoveDirectoryA(kTargets);
    CurrentFirstEntry = nullptr;
    CurrentFileCount = 0;
  }
  std::vector<std::string> made_, folders_;
};

TEST_F(Shortcuts, LinkReadsBackWithTargetArgumentsFolderAndIcon) {
  std::string target = std::string(kTargets) + "\\prog.exe";
  std::string file = std::string(kTargets) + "\\with icon.lnk";
  made_.push_back(file);
  ASSERT_EQ(S_OK, create_shortcut(target.c_str(), file.c_str(), "/run \"a b\"", 3));
  Link l = read_link(file);
  EXPECT_EQ(target, l.path);
  EXPECT_EQ("/run \"a b\"", l.arguments);
  EXPECT_EQ(kTargets, l.folder);
  EXPECT_EQ(target, l.icon);
  EXPECT_EQ(3, l.icon_index);

  std::string plain = std::string(kTargets) + "\\plain.lnk";
  made_.push_back(plain);
  ASSERT_EQ(S_OK, create_shortcut(target.c_str(), plain.c_str(), nullptr, 0));
  l = read_link(plain);
  EXPECT_EQ(target, l.path);
  EXPECT_EQ("", l.arguments);
  EXPECT_EQ(kTargets, l.folder);  // always the target's own folder
  EXPECT_EQ("", l.icon);          // icon index 0 sets no icon
}

TEST_F(Shortcuts, LinkIntoAMissingFolderIsNotMadeAndReportsFailure) {
  std::string target = std::string(kTargets) + "\\prog.exe";
  EXPECT_TRUE(FAILED(create_shortcut(target.c_str(), "C:\\KestrelNoSuchFolder\\x.lnk", nullptr, 0)));
  EXPECT_FALSE(file_exists("C:\\KestrelNoSuchFolder\\x.lnk"));
}

TEST_F(Shortcuts, MenuShortcutsOfTheListAreMadeAndRecordedInOneBlock) {
  EntryFields everywhere;
  everywhere.strings[0] = "prog.exe";
  everywhere.strings[1] = "#start menu#;#Startup#;Kestrel Group\\Sub;";
  everywhere.strings[2] = "Kestrel App";
  everywhere.strings[3] = "/menu";
  everywhere.icon_index = 2;
  EntryFields unnamed;
  unnamed.strings[0] = "other.exe";
  unnamed.strings[1] = "Kestrel Never";
  EntryFields in_programs;
  in_programs.strings[0] = "prog.exe";
  in_programs.strings[2] = "Kestrel Root";
  std::vector<uint8_t> list = encode_file_list({everywhere, unnamed, in_programs});
  CurrentFirstEntry = list.data() + 4;
  CurrentFileCount = 3;

  std::string programs = shell_folder(CSIDL_COMMON_PROGRAMS);
  std::string start_menu = shell_folder(CSIDL_COMMON_STARTMENU);
  std::string startup = shell_folder(CSIDL_COMMON_STARTUP);
  std::string group = programs + "\\Kestrel Group";
  folders_ = {group, group + "\\Sub"};
  RemoveDirectoryA((group + "\\Sub").c_str());
  RemoveDirectoryA(group.c_str());

  std::string log_path = std::string(kTargets) + "\\log.bin";
  HANDLE log = CreateFileA(log_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  DWORD put = 0;
  WriteFile(log, "before", 6, &put, nullptr);
  RecordFile record{log, 0};
  make_menu_shortcuts(&record);
  EXPECT_EQ(0, record.result);
  WriteFile(log, "!", 1, &put, nullptr);  // the log stands at its end again
  CloseHandle(log);

  std::vector<std::pair<std::string, std::string>> expected = {{start_menu, "Kestrel App.lnk"},
                                                               {startup, "Kestrel App.lnk"},
                                                               {group + "\\Sub", "Kestrel App.lnk"},
                                                               {programs, "Kestrel Root.lnk"}};
  for (const auto& e : expected) made_.push_back(e.first + "\\" + e.second);

  std::string bytes = read_whole_file(log_path);
  ASSERT_GE(bytes.size(), 6u + 12u + 1u);
  EXPECT_EQ("before", bytes.substr(0, 6));
  EXPECT_EQ('!', bytes.back());
  const uint8_t* block = reinterpret_cast<const uint8_t*>(bytes.data()) + 6;
  uint32_t payload = static_cast<uint32_t>(bytes.size() - 6 - 8 - 1);
  EXPECT_EQ(0x1236, get_u16(block));
  EXPECT_EQ(0, get_u16(block + 2));
  EXPECT_EQ(payload, get_u32(block + 4));
  ASSERT_EQ(4u, get_u32(block + 8));
  const uint8_t* p = block + 12;
  for (const auto& e : expected) {
    uint16_t n = get_u16(p);
    EXPECT_EQ(e.first, std::string(reinterpret_cast<const char*>(p + 2), n));
    p += 2 + n;
    n = get_u16(p);
    EXPECT_EQ(e.second, std::string(reinterpret_cast<const char*>(p + 2), n));
    p += 2 + n;
  }
  EXPECT_EQ(block + 8 + payload, p);

  std::string target = std::string(kTargets) + "\\prog.exe";
  for (int i = 0; i < 3; ++i) {
    Link l = read_link(made_[i]);
    EXPECT_EQ(target, l.path) << made_[i];
    EXPECT_EQ("/menu", l.arguments) << made_[i];
    EXPECT_EQ(2, l.icon_index) << made_[i];
  }
  EXPECT_EQ(target, read_link(made_[3]).path);
  EXPECT_FALSE(file_exists(programs + "\\Kestrel Never"));
}

TEST_F(Shortcuts, WithoutALogTheShortcutsAreStillMadeAndAnEmptyLocationIsTheProgramsMenu) {
  EntryFields e;
  e.strings[0] = "prog.exe";
  e.strings[1] = "Kestrel A;;Kestrel B";
  e.strings[2] = "Kestrel Three";
  std::vector<uint8_t> list = encode_file_list({e});
  CurrentFirstEntry = list.data() + 4;
  CurrentFileCount = 1;
  std::string programs = shell_folder(CSIDL_COMMON_PROGRAMS);
  folders_ = {programs + "\\Kestrel A", programs + "\\Kestrel B"};
  made_ = {programs + "\\Kestrel A\\Kestrel Three.lnk", programs + "\\Kestrel Three.lnk",
           programs + "\\Kestrel B\\Kestrel Three.lnk"};
  make_menu_shortcuts(nullptr);
  for (const auto& f : made_) EXPECT_TRUE(file_exists(f)) << f;
}

// A shortcut whose record cannot be written is not made, and nothing after
// it either: the uninstaller would not know of it.
TEST_F(Shortcuts, AFailedRecordMakesNoShortcut) {
  EntryFields e;
  e.strings[0] = "prog.exe";
  e.strings[1] = "Kestrel Unrecorded";
  e.strings[2] = "Kestrel Four";
  EntryFields second = e;
  second.strings[2] = "Kestrel Five";
  std::vector<uint8_t> list = encode_file_list({e, second});
  CurrentFirstEntry = list.data() + 4;
  CurrentFileCount = 2;
  std::string programs = shell_folder(CSIDL_COMMON_PROGRAMS);
  folders_ = {programs + "\\Kestrel Unrecorded"};
  std::string log_path = std::string(kTargets) + "\\readonly.bin";
  CloseHandle(CreateFileA(log_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  HANDLE log = CreateFileA(log_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  RecordFile record{log, 0};
  make_menu_shortcuts(&record);
  CloseHandle(log);
  DeleteFileA(log_path.c_str());
  EXPECT_EQ(2, record.result);
  EXPECT_FALSE(file_exists(programs + "\\Kestrel Unrecorded\\Kestrel Four.lnk"));
  EXPECT_FALSE(file_exists(programs + "\\Kestrel Unrecorded\\Kestrel Five.lnk"));
}

}  // namespace
