// The final step: the UninstallData appended to the installed uninstaller,
// byte by byte, the Uninstall key, the settings and the move to the finish
// page.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/path_strings.h"
#include "app/sequencer.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/entry_lists.h"
#include "archive/format.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/path_macros.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"
#include "tests/win32/file_entries.h"

// Stand-ins for the destination lookup and the start-menu shortcuts.
// An absolute name is its own destination; any other lies in InstallDir.
int item_destination(const uint8_t* entry) {
  const char* name = entry_string(entry, 0);
  if (std::strchr(name, ':')) {
    copy_string(DestPath, name, sizeof DestPath);
  } else {
    copy_string(DestPath, InstallDir, sizeof DestPath);
    add_backslash(DestPath, sizeof DestPath);
    std::strcat(DestPath, name);
  }
  return 0;
}
bool resolve_target_file(const char* name) { return expand_macros(DestPath, name, kPathSize) < kPathSize; }

namespace {
int menu_shortcut_calls = 0;
HANDLE menu_shortcut_log = nullptr;
}  // namespace

// Records its call and, with a log, writes an empty ShortcutList block, so
// the test sees where in the UninstallData it lands.
void make_menu_shortcuts(HANDLE log) {
  ++menu_shortcut_calls;
  menu_shortcut_log = log;
  if (log == INVALID_HANDLE_VALUE) return;
  const uint8_t block[] = {0x36, 0x12, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
  DWORD put;
  WriteFile(log, block, sizeof block, &put, nullptr);
}

namespace {

const char kFolder[] = "C:\\KestrelFinish";
const char kUninstaller[] = "C:\\KestrelFinish\\App\\uninst.exe";
const char kIni[] = "C:\\KestrelFinish\\settings.ini";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel Test App";
const char kRememberKey[] = "Software\\Kestrel Tests\\Finish";

typedef std::vector<uint8_t> Bytes;

Bytes read_file(const char* path) {
  Bytes bytes;
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  uint8_t chunk[4096];
  DWORD got;
  while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(f);
  return bytes;
}

void write_file(const char* path, const std::string& bytes) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  DWORD put;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(f);
}

// Expected bytes, written the long way.
struct Expect {
  Bytes b;
  Expect& u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Expect& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  Expect& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  Expect& raw(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Expect& counted(const std::string& s) { return u16(static_cast<uint16_t>(s.size())).raw(s); }
  Expect& record(const std::string& folder, const std::string& name, uint8_t flags) {
    return counted(folder).counted(name).u8(flags);
  }
};

// Values written without their terminator come back with one under Wine,
// which adds it when the byte behind the data is a zero; so one trailing
// zero is not part of the compared text.
std::string registry_bytes(HKEY root, const char* key_path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char data[512];
  DWORD size = sizeof data;
  LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return "<none>";
  if (size > 0 && data[size - 1] == '\0') --size;
  return std::string(data, size);
}

std::string ini_value(const char* section, const char* key) {
  char value[256];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, kIni);
  return value;
}

std::string desktop_folder() {
  char path[MAX_PATH] = "";
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &list))) {
    SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
  }
  return path;
}

class FinishInstall : public ::testing::Test {
 protected:
  TestFileList files;
  Bytes file_block;
  Bytes ini_list;
  char folder[kPathSize] = "";
  std::string uninstaller_image;

  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    CreateDirectoryA("C:\\KestrelFinish\\App", nullptr);
    DeleteFileA(kIni);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kRememberKey);
    // The installed uninstaller: its program, then the 8 bytes kept for
    // the RemoveList header.
    uninstaller_image = std::string("MZ uninstaller program") + "RESERVED";
    write_file(kUninstaller, uninstaller_image);
    copy_string(UninstallerPath, kUninstaller, kPathSize);
    menu_shortcut_calls = 0;
    menu_shortcut_log = nullptr;
    ErrorState = 0;
    InstallRunning = true;
    StartPageNumber = 0xFFFF;
    CurrentPage = 5;
    PageResult = 0;

    // One INI entry and the remembered folder show whether the settings ran.
    const char ini_record[] = "\0C:\\KestrelFinish\\settings.ini\0Paths\0Dir\0#InstallDir#\\bin";
    ini_list = {1, 0};
    ini_list.insert(ini_list.end(), ini_record, ini_record + sizeof ini_record);
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kRememberKey);
    DeleteFileA(kIni);
    DeleteFileA(kUninstaller);
    UninstallerPath[0] = '\0';
  }

  // Makes the list current for a setup type of that uninstall name.
  void make_current(const char* uninstall_name) {
    file_block = files.block();
    SetupTypeTable[0] = SetupTypeSlot();
    SetupTypeSlot& slot = SetupTypeTable[0];
    slot.folder = folder;
    slot.file_list = file_block.data();
    slot.file_list_length = static_cast<uint32_t>(file_block.size());
    slot.entry_lists[kIniList] = ini_list.data();
    slot.entry_list_lengths[kIniList] = static_cast<uint32_t>(ini_list.size());
    slot.record.uninstall_name = uninstall_name;
    slot.record.flags = kTypeRememberInRegistry;
    slot.record.root_key = 1;
    slot.record.registry_key = kRememberKey;
    slot.record.registry_value = "Folder";
    SetupTypeCount = 1;
    CurrentSetupType = -1;
    select_setup_type(0);
    copy_string(InstallDir, "C:\\KestrelFinish\\App", kPathSize);
  }

  Expect image_without_tail() const {
    Expect e;
    e.raw(uninstaller_image.substr(0, uninstaller_image.size() - 8));
    return e;
  }
  void expect_settings_applied() {
    EXPECT_EQ("C:\\KestrelFinish\\App\\bin", ini_value("Paths", "Dir"));
    EXPECT_EQ("C:\\KestrelFinish\\App", registry_bytes(HKEY_CURRENT_USER, kRememberKey, "Folder"));
    EXPECT_STREQ("C:\\KestrelFinish\\App\\", InstallDir);
  }
  void expect_moved_to_finish_page() {
    EXPECT_EQ(kPageNext, PageResult);
    EXPECT_EQ(5, CurrentPage);  // the sequencer steps on to page 6
    EXPECT_FALSE(InstallRunning);
  }
};

TEST_F(FinishInstall, CountedStringsAndLogRecordsByteByByte) {
  const char* log_path = "C:\\KestrelFinish\\log.bin";
  HANDLE log = CreateFileA(log_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  write_counted_string(log, "abc");
  write_counted_string(log, "");
  copy_string(InstallDir, "C:\\Apps\\", kPathSize);
  copy_string(DestPath, "C:\\Apps\\file.txt", sizeof DestPath);
  write_log_record(log, 0);
  copy_string(DestPath, "C:\\APPS\\doc\\en\\readme.txt", sizeof DestPath);
  write_log_record(log, 0);
  copy_string(DestPath, "C:\\windows\\system32\\lib.dll", sizeof DestPath);
  write_log_record(log, 1);
  copy_string(DestPath, "C:\\Apps2\\other.txt", sizeof DestPath);  // a sibling, not inside
  write_log_record(log, 6);
  copy_string(DestPath, "C:\\Apps\\Data\\", sizeof DestPath);  // a folder item
  write_log_record(log, 0);
  CloseHandle(log);
  Expect e;
  e.u16(3).raw("abc").u16(0);
  e.record(".", "file.txt", 0);
  e.record(".\\doc\\en", "readme.txt", 0);
  e.record("C:\\windows\\system32", "lib.dll", 1);
  e.record("C:\\Apps2", "other.txt", 6);
  e.record(".\\Data", "", 0);
  EXPECT_EQ(e.b, read_file(log_path));
  DeleteFileA(log_path);
}

TEST_F(FinishInstall, TheUninstallDataListsWhatTheUninstallerRemoves) {
  TestEntry uninstaller;
  uninstaller.kind = kKindRemovable;
  uninstaller.flags = kItemUninstaller;  // its status was reset after installing
  uninstaller.strings[0] = "uninst.exe";
  files.add(uninstaller);
  TestEntry created;
  created.kind = kKindRemovable;
  created.status = 25;
  created.strings[0] = "bin\\app.exe";
  files.add(created);
  TestEntry shared;
  shared.kind = kKindRemovable;
  shared.status = 23;
  shared.folder_code = kFolderShared;
  shared.shared = 1;
  shared.registration = kRegisterLibrary;
  shared.strings[0] = "C:\\KestrelFinish\\System\\lib.dll";
  files.add(shared);
  TestEntry kept_file;  // kind 0 is never removed
  kept_file.status = 25;
  kept_file.strings[0] = "keep.txt";
  files.add(kept_file);
  TestEntry up_to_date;  // status 0: the existing file stayed
  up_to_date.kind = kKindRemovable;
  up_to_date.strings[0] = "old.txt";
  files.add(up_to_date);
  TestEntry data_folder;
  data_folder.kind = kKindFolder;
  data_folder.strings[0] = "Data\\";
  files.add(data_folder);
  TestEntry not_placed;
  not_placed.kind = kKindRemovable;
  not_placed.status = 27;
  not_placed.strings[0] = "failed.txt";
  files.add(not_placed);
  TestEntry font;
  font.kind = kKindRemovable;
  font.status = 23;
  font.folder_code = kFolderFonts;
  font.strings[0] = "C:\\KestrelFinish\\Fonts\\face.ttf";
  files.add(font);
  TestEntry with_desktop_link;  // any kind: its desktop shortcut is listed
  with_desktop_link.strings[0] = "APP\\readme.txt";
  with_desktop_link.strings[4] = "Kestrel Readme";
  files.add(with_desktop_link);
  make_current("Kestrel Test App");

  write_file("C:\\KestrelFinish\\setup.bin", "archive");
  HANDLE data = CreateFileA("C:\\KestrelFinish\\setup.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, data);
  data_file = data;
  finish_install();
  EXPECT_EQ(INVALID_FILE_HANDLE, data_file);

  std::string desktop = desktop_folder();
  ASSERT_FALSE(desktop.empty());
  Expect records;
  records.u32(5);
  records.record(".\\bin", "app.exe", 0);
  records.record("C:\\KestrelFinish\\System", "lib.dll", 0x05);
  records.record(".\\Data", "", 0);
  records.record("C:\\KestrelFinish\\Fonts", "face.ttf", 0x02);
  records.record(desktop, "Kestrel Readme.lnk", 0);
  Expect e = image_without_tail();
  e.u16(0x1235).u16(0).u32(static_cast<uint32_t>(records.b.size()));
  e.b.insert(e.b.end(), records.b.begin(), records.b.end());
  e.u16(0x1236).u16(0).u32(4).u32(0);  // the stand-in's ShortcutList
  std::string key = kUninstallKey;
  e.u16(0x1238).u16(0).u32(static_cast<uint32_t>(key.size() + 6)).u32(0x80000002).counted(key);
  e.u16(0x7F7F).u16(0).u32(0);
  EXPECT_EQ(e.b, read_file(kUninstaller));

  EXPECT_EQ(1, menu_shortcut_calls);
  EXPECT_NE(INVALID_HANDLE_VALUE, menu_shortcut_log);
  EXPECT_EQ("Kestrel Test App", registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ(kUninstaller, registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"));
  expect_settings_applied();
  expect_moved_to_finish_page();
}

TEST_F(FinishInstall, WithoutUninstallNameNoKeyIsWrittenOrRecorded) {
  TestEntry created;
  created.kind = kKindRemovable;
  created.status = 25;
  created.strings[0] = "app.exe";
  files.add(created);
  make_current("");
  finish_install();
  Expect e = image_without_tail();
  Expect records;
  records.u32(1).record(".", "app.exe", 0);
  e.u16(0x1235).u16(0).u32(static_cast<uint32_t>(records.b.size()));
  e.b.insert(e.b.end(), records.b.begin(), records.b.end());
  e.u16(0x1236).u16(0).u32(4).u32(0);
  e.u16(0x7F7F).u16(0).u32(0);
  EXPECT_EQ(e.b, read_file(kUninstaller));
  EXPECT_EQ("<none>", registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  expect_settings_applied();
}

TEST_F(FinishInstall, AnErrorSkipsEverythingButTheMoveToTheFinishPage) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  ErrorState = 21;
  finish_install();
  EXPECT_EQ(Bytes(uninstaller_image.begin(), uninstaller_image.end()), read_file(kUninstaller));
  EXPECT_EQ(0, menu_shortcut_calls);
  EXPECT_EQ("<none>", registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ("<none>", ini_value("Paths", "Dir"));
  EXPECT_EQ("<none>", registry_bytes(HKEY_CURRENT_USER, kRememberKey, "Folder"));
  expect_moved_to_finish_page();
}

TEST_F(FinishInstall, WithoutUninstallerTheShortcutsAreMadeWithoutRecord) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  UninstallerPath[0] = '\0';
  finish_install();
  EXPECT_EQ(1, menu_shortcut_calls);
  EXPECT_EQ(INVALID_HANDLE_VALUE, menu_shortcut_log);
  EXPECT_EQ("<none>", registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ(Bytes(uninstaller_image.begin(), uninstaller_image.end()), read_file(kUninstaller));
  expect_settings_applied();
  expect_moved_to_finish_page();
}

TEST_F(FinishInstall, AnUninstallerWithoutRoomForTheHeaderIsLeftAlone) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  write_file(kUninstaller, "short");  // fewer than the 8 bytes the header replaces
  finish_install();
  EXPECT_EQ(Bytes({'s', 'h', 'o', 'r', 't'}), read_file(kUninstaller));
  EXPECT_EQ(1, menu_shortcut_calls);
  EXPECT_EQ(INVALID_HANDLE_VALUE, menu_shortcut_log);
  EXPECT_EQ("<none>", registry_bytes(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  expect_settings_applied();
  // A missing uninstaller file goes the same way.
  DeleteFileA(kUninstaller);
  menu_shortcut_calls = 0;
  finish_install();
  EXPECT_EQ(1, menu_shortcut_calls);
  EXPECT_TRUE(read_file(kUninstaller).empty());
}

TEST_F(FinishInstall, SinglePageModeStaysOnItsPage) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  StartPageNumber = 5;
  finish_install();
  EXPECT_EQ(0, PageResult);
  EXPECT_FALSE(InstallRunning);
  StartPageNumber = 0xFFFF;
}

TEST_F(FinishInstall, TheUninstallKeyPathIsBounded) {
  std::string name(500, 'n');
  char key[kUninstallKeySize + 8];
  std::memset(key, '#', sizeof key);
  uninstall_key_path(key, name.c_str());
  std::string root = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  EXPECT_EQ(root + name.substr(0, kUninstallKeySize - 1 - root.size()), key);
  EXPECT_EQ('#', key[kUninstallKeySize]);  // nothing past the buffer
}

}  // namespace
