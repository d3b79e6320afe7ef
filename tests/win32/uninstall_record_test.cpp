// The final step: the UninstallData appended to the installed uninstaller,
// byte by byte, the Uninstall key, the settings and the move to the finish
// page.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/entry_lists.h"
#include "archive/format.h"
#include "archive/stub_size.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/path_macros.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"
#include "record/removal_plan.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"
#include "tests/win32/file_entries.h"
#include "tests/win32/registry_writes.h"
#include "tests/win32/small_drive.h"
#include "ui/sequencer.h"

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
RecordFile* menu_shortcut_log = nullptr;
bool menu_shortcuts_fail = false;
}  // namespace

// Records its call and, with a log, writes an empty ShortcutList block, so
// the test sees where in the UninstallData it lands. It can play a write of
// the record that comes out short (the disk full).
void make_menu_shortcuts(RecordFile* log) {
  ++menu_shortcut_calls;
  menu_shortcut_log = log;
  if (!log) return;
  const uint8_t block[] = {0x36, 0x12, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
  write_record_bytes(log, block, sizeof block);
  if (menu_shortcuts_fail) log->result = 3;
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

// An uninstaller's image with the stub-size field; *image is where its
// record begins.
Expect stamped_image(const char* text, uint32_t* image) {
  Expect e;
  e.raw(text);
  const volatile uint8_t* marker = stub_size_marker();
  for (unsigned i = 0; i < kStubSizeMarkerLength; ++i) e.u8(marker[i]);
  *image = static_cast<uint32_t>(e.b.size() + 4 + 3);
  e.u32(*image).raw("pad");
  return e;
}

// An earlier uninstaller as a setup left it: an image with the stub-size
// field, then a record whose RemoveList names one file of the installation
// folder, of the product that the Uninstall key `key` names. *image is
// where the record begins.
Bytes earlier_uninstaller(const std::string& name, uint32_t* image, const std::string& key = kUninstallKey) {
  Expect older = stamped_image("MZ older uninstaller ", image);
  Expect list;
  list.u32(1).record(".", name, 0);
  older.u16(0x1235).u16(0).u32(static_cast<uint32_t>(list.b.size()));
  older.b.insert(older.b.end(), list.b.begin(), list.b.end());
  older.u16(0x1238).u16(0).u32(static_cast<uint32_t>(key.size() + 6)).u32(0x80000002).counted(key);
  older.u16(0x7F7F).u16(0).u32(0);
  return older.b;
}

std::string ini_value(const char* section, const char* key) {
  char value[256];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, kIni);
  return value;
}

std::string desktop_folder() {
  char path[MAX_PATH] = "";
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, &list))) {
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
    RegistryWrites.clear();
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

  // A file the installation created.
  void add_created(const std::string& name) {
    TestEntry created;
    created.kind = kKindRemovable;
    created.status = 25;
    created.strings[0] = name;
    files.add(created);
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
    EXPECT_EQ(with_terminator("C:\\KestrelFinish\\App"), stored_value(HKEY_CURRENT_USER, kRememberKey, "Folder"));
    EXPECT_EQ(with_terminator("C:\\KestrelFinish\\App"), written_value("Folder"));  // handed over with its terminator
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
  HANDLE file = CreateFileA(log_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  RecordFile record{file, 0};
  RecordFile* log = &record;
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
  EXPECT_TRUE(finish_record(log));
  CloseHandle(file);
  EXPECT_EQ(0, record.result);
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
  add_created("bin\\app.exe");
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
  font.status = 25;
  font.folder_code = kFolderFonts;
  font.strings[0] = "C:\\KestrelFinish\\Fonts\\face.ttf";
  files.add(font);
  TestEntry earlier_font = font;  // there before the setup: not the setup's to remove
  earlier_font.status = 23;
  earlier_font.strings[0] = "C:\\KestrelFinish\\Fonts\\old.ttf";
  files.add(earlier_font);
  TestEntry kept_in_use;  // in use and kept with Ignore: the user's file stays
  kept_in_use.kind = kKindRemovable;
  kept_in_use.status = 24;
  kept_in_use.strings[0] = "busy.txt";
  files.add(kept_in_use);
  TestEntry shared_newer = shared;  // kept as newer, but counted: listed to lower the count
  shared_newer.status = 0;
  shared_newer.registration = 0;
  shared_newer.strings[0] = "C:\\KestrelFinish\\System\\newer.dll";
  files.add(shared_newer);
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
  records.u32(6);
  records.record(".\\bin", "app.exe", 0);
  records.record("C:\\KestrelFinish\\System", "lib.dll", 0x05);
  records.record(".\\Data", "", 0);
  records.record("C:\\KestrelFinish\\Fonts", "face.ttf", 0x02);
  records.record("C:\\KestrelFinish\\System", "newer.dll", 0x01);
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
  EXPECT_NE(nullptr, menu_shortcut_log);
  // Both handed over without their terminators (the registry adds one).
  std::string command = std::string("\"") + kUninstaller + "\"";
  EXPECT_EQ("Kestrel Test App", written_value("DisplayName"));
  EXPECT_EQ(command, written_value("UninstallString"));
  EXPECT_EQ(with_terminator("Kestrel Test App"), stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ(with_terminator(command), stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"));
  expect_settings_applied();
  expect_moved_to_finish_page();
}

// The Add/Remove entry as complete as the project makes it: values an
// earlier version wrote that this project does not give are gone, and the
// project's uninstaller texts close the record.
TEST_F(FinishInstall, TheAddRemoveEntryHoldsTheProductDetails) {
  HKEY old;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kUninstallKey, &old));
  RegSetValueExA(old, "Publisher", 0, REG_SZ, reinterpret_cast<const BYTE*>("Old Works"), 10);
  RegSetValueExA(old, "DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>("0.9"), 4);
  RegCloseKey(old);
  files.add(0, "app.exe");
  files.add(0, "readme.txt");
  make_current("Kestrel Test App");
  put_u32(CurrentFirstEntry + kEntrySize, 5000);
  put_u32(next_entry(CurrentFirstEntry) + kEntrySize, 3000);
  Expect details;
  details.u16(6);
  for (const char* text : {"1.0", "", "https://kestrel.example.org/", "#InstallDir#\\app.exe,1", "",
                           "Are you sure about %s?"})
    details.b.insert(details.b.end(), text, text + strlen(text) + 1);
  SetupTypeTable[0].details = details.b.data();

  finish_install();
  SetupTypeTable[0].details = nullptr;
  EXPECT_EQ(0, ErrorState);
  EXPECT_EQ(with_terminator("1.0"), stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"));
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"));
  EXPECT_EQ(with_terminator("https://kestrel.example.org/"),
            stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "URLInfoAbout"));
  EXPECT_EQ(with_terminator("C:\\KestrelFinish\\App\\app.exe,1"),
            stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"));
  EXPECT_EQ(with_terminator("C:\\KestrelFinish\\App"),
            stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"));
  EXPECT_EQ(with_terminator(std::string("\"") + kUninstaller + "\" /SILENT"),
            stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString"));
  // 8,000 bytes in kilobytes, rounded up.
  EXPECT_EQ(std::string("\x08\0\0\0", 4), stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"));
  Expect tail;
  tail.u16(0x1280).u16(0).u32(2 * 5 + 22).counted("").counted("Are you sure about %s?").counted("").counted("").counted("");
  tail.u16(0x7F7F).u16(0).u32(0);
  Bytes file = read_file(kUninstaller);
  ASSERT_GE(file.size(), tail.b.size());
  EXPECT_EQ(tail.b, Bytes(file.end() - tail.b.size(), file.end()));
  expect_settings_applied();
}

TEST_F(FinishInstall, WithoutUninstallNameNoKeyIsWrittenOrRecorded) {
  add_created("app.exe");
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
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  expect_settings_applied();
}

TEST_F(FinishInstall, AnErrorSkipsEverythingButTheMoveToTheFinishPage) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  ErrorState = 21;
  finish_install();
  EXPECT_EQ(Bytes(uninstaller_image.begin(), uninstaller_image.end()), read_file(kUninstaller));
  EXPECT_EQ(0, menu_shortcut_calls);
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ("<none>", ini_value("Paths", "Dir"));
  EXPECT_EQ("<none>", stored_value(HKEY_CURRENT_USER, kRememberKey, "Folder"));
  expect_moved_to_finish_page();
}

TEST_F(FinishInstall, AFailureInTheFinalStepTakesBackWhatItHadWritten) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Tests");
  menu_shortcuts_fail = true;
  finish_install();
  menu_shortcuts_fail = false;
  EXPECT_EQ(20, ErrorState);
  EXPECT_STREQ(kUninstaller, MessageArgument);
  EXPECT_EQ(1, menu_shortcut_calls);
  // The record written so far is gone again; no Uninstall key or setting
  // follows a record that could not be written whole.
  EXPECT_EQ(Bytes(uninstaller_image.begin(), uninstaller_image.end()), read_file(kUninstaller));
  HKEY key;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key));
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrel Tests", 0, KEY_READ, &key));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kIni));
  // Nor is the copy it was put back from left beside it.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\KestrelFinish\\App\\uninst.$*", &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  expect_moved_to_finish_page();
  ErrorState = 0;
}

TEST_F(FinishInstall, WithoutUninstallerTheShortcutsAreMadeWithoutRecord) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  UninstallerPath[0] = '\0';
  finish_install();
  EXPECT_EQ(1, menu_shortcut_calls);
  EXPECT_EQ(nullptr, menu_shortcut_log);
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
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
  EXPECT_EQ(nullptr, menu_shortcut_log);
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
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

// The record behind the image of the installed uninstaller at path.
Bytes record_behind(const char* path, size_t image_size) {
  Bytes all = read_file(path);
  return all.size() > image_size ? Bytes(all.begin() + image_size, all.end()) : Bytes();
}

// Over an earlier uninstaller: the item writes the new one (`image`), the
// final step its record, whose bytes *record holds and *data reads.
void finish_over_earlier(const std::string& image, Bytes* record, UninstallData* data) {
  write_file(kUninstaller, image);
  finish_install();
  ASSERT_EQ(0, ErrorState);
  *record = record_behind(kUninstaller, image.size() - 8);
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record->data(), record->size(), data));
}

TEST_F(FinishInstall, AnUninstallerOutsideTheInstallationFolderRecordsThatFolder) {
  add_created("app.exe");
  make_current("Kestrel Test App");
  copy_string(InstallDir, "C:\\KestrelFinish", kPathSize);  // the uninstaller lies in App below it
  finish_install();
  ASSERT_EQ(0, ErrorState);
  Bytes record = record_behind(kUninstaller, uninstaller_image.size() - 8);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  ASSERT_TRUE(data.has_install_folder);
  EXPECT_EQ("C:\\KestrelFinish", std::string(data.install_folder.text, data.install_folder.length));
  const uint8_t* cursor = data.remove_list;
  RemoveRecord app = next_remove_record(&cursor);
  EXPECT_EQ(".", std::string(app.folder.text, app.folder.length));
}

// The settings marked for deletion are recorded as the setup finds the
// machine before writing them: which keys it creates, which INI file.
TEST_F(FinishInstall, SettingsMarkedForUninstallAreRecordedBeforeTheyAreWritten) {
  ini_list[2] = kEntryDeleteAtUninstall;  // the INI entry's flags
  HKEY tests;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Tests", &tests));
  RegCloseKey(tests);
  const char deep[] = "Software\\Kestrel Tests\\Finish\\Marked\\Deep";
  Bytes registry_list = {1, 0, 1, 0, 0, 0, kEntryDeleteAtUninstall | kEntryDeleteKeyIfEmpty};
  registry_list.insert(registry_list.end(), deep, deep + sizeof deep);
  const char value[] = "V\0x";
  registry_list.insert(registry_list.end(), value, value + sizeof value);
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  SetupTypeTable[0].entry_lists[kRegistryList] = registry_list.data();
  SetupTypeTable[0].entry_list_lengths[kRegistryList] = static_cast<uint32_t>(registry_list.size());
  SetupTypeTable[0].record.flags |= kTypeForgetFolder | kTypeForgetFolderKey;
  select_setup_type(0);
  copy_string(InstallDir, "C:\\KestrelFinish\\App", kPathSize);
  finish_install();
  ASSERT_EQ(0, ErrorState);
  expect_settings_applied();
  EXPECT_EQ(with_terminator("x"), stored_value(HKEY_CURRENT_USER, deep, "V"));

  Bytes record = record_behind(kUninstaller, uninstaller_image.size() - 8);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  ASSERT_EQ(3u, data.setting_count);
  const uint8_t* cursor = data.setting_list;
  SettingRecord ini = next_setting_record(&cursor);
  EXPECT_EQ(kSettingIniEntry, ini.kind);
  EXPECT_EQ(kIni, std::string(ini.path.text, ini.path.length));
  EXPECT_EQ("Paths", std::string(ini.section.text, ini.section.length));
  EXPECT_EQ(kSettingFileCreated, ini.flags);  // the INI file was not there before
  SettingRecord marked = next_setting_record(&cursor);
  EXPECT_EQ(kSettingRegistryValue, marked.kind);
  EXPECT_EQ(0x80000001u, marked.root);
  EXPECT_EQ(deep, std::string(marked.path.text, marked.path.length));
  EXPECT_EQ(kSettingDeleteKeyIfEmpty, marked.flags);
  EXPECT_EQ(3, marked.created_keys);  // Finish, Marked and Deep
  SettingRecord remembered = next_setting_record(&cursor);
  EXPECT_EQ(kRememberKey, std::string(remembered.path.text, remembered.path.length));
  EXPECT_EQ("Folder", std::string(remembered.name.text, remembered.name.length));
  EXPECT_EQ(1, remembered.created_keys);

  RegDeleteKeyA(HKEY_CURRENT_USER, deep);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Tests\\Finish\\Marked");
}

// An uninstaller already at the path hands its record on: the new record
// carries it, so the new uninstaller removes both installations. A record
// carried out already, or none, is not taken over.
TEST_F(FinishInstall, TheRecordOfTheUninstallerWrittenOverIsTakenOver) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  uint32_t image_size = 0;
  const Bytes placed = earlier_uninstaller("old.txt", &image_size);
  for (bool used : {false, true}) {
    SCOPED_TRACE(used ? "used" : "active");
    Bytes older = placed;
    if (used) older[image_size + 1] = 0x92;  // 0x1235 becomes 0x9235
    write_file(kUninstaller, std::string(older.begin(), older.end()));
    keep_earlier_record();
    Bytes record;
    UninstallData data;
    finish_over_earlier(uninstaller_image, &record, &data);
    ASSERT_EQ(used ? 0u : 1u, data.earlier_count);
    if (used) continue;
    // Its files are merged into the new record's list of earlier files;
    // the rest of it stays as an installation of its own.
    const uint8_t* cursor = data.earlier;
    UninstallData earlier = next_earlier_installation(&cursor);
    EXPECT_EQ(0u, earlier.remove_count);
    EXPECT_EQ(kUninstallKey, std::string(earlier.uninstall_key.text, earlier.uninstall_key.length));
    ASSERT_EQ(1u, data.earlier_removal_count);
    cursor = data.earlier_removals;
    RemoveRecord old = next_earlier_removal(&cursor).record;
    EXPECT_EQ("old.txt", std::string(old.name.text, old.name.length));
  }
}

// The uninstaller's working copy holds its turn, a mutex named after the
// installed uninstaller, from before its removal until it has marked the
// record, which it can only once the installed program has ended, after
// that program has answered its caller. A setup started at once then must
// wait for the turn: the record it finds is carried out, and it takes
// nothing over.
DWORD WINAPI keep_record_thread(void*) {
  keep_earlier_record();
  return 0;
}

TEST_F(FinishInstall, TheRecordIsTakenOverOnlyOnceTheWorkingCopyHasMarkedIt) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  uint32_t image_size = 0;
  const Bytes older = earlier_uninstaller("old.txt", &image_size);
  write_file(kUninstaller, std::string(older.begin(), older.end()));

  // The working copy's turn: "KestrelUninstall:" and the path, its letters
  // folded and its backslashes turned into slashes.
  HANDLE turn = CreateMutexA(nullptr, TRUE, "KestrelUninstall:c:/kestrelfinish/app/uninst.exe");
  ASSERT_NE(nullptr, turn);
  HANDLE setup = CreateThread(nullptr, 0, keep_record_thread, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, setup);
  // However long the copy takes, the setup does not read the record meanwhile.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(setup, 3000));
  // The copy marks the record (0x1235 becomes 0x9235) and gives the turn back.
  Bytes used = older;
  used[image_size + 1] = 0x92;
  write_file(kUninstaller, std::string(used.begin(), used.end()));
  ReleaseMutex(turn);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(setup, 10000));
  CloseHandle(setup);
  CloseHandle(turn);

  Bytes record;
  UninstallData data;
  finish_over_earlier(uninstaller_image, &record, &data);
  EXPECT_EQ(0u, data.earlier_count);
}

// A record the uninstaller would refuse (here a name with a backslash in
// the remove list) is not taken over: it would void the new record too.
TEST_F(FinishInstall, ARecordTheUninstallerWouldRefuseIsNotTakenOver) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  uint32_t image_size = 0;
  const Bytes older = earlier_uninstaller("sub\\old.txt", &image_size);
  write_file(kUninstaller, std::string(older.begin(), older.end()));
  keep_earlier_record();
  Bytes record;
  UninstallData data;
  finish_over_earlier(uninstaller_image, &record, &data);
  EXPECT_EQ(0u, data.earlier_count);
}

// An uninstaller that stays in use at the final step (a scanner or its
// earlier program holds it) fails the installation naming it, after a
// wait: installed without a record, the product could not be removed.
TEST_F(FinishInstall, AnUninstallerThatCannotBeOpenedFailsTheInstallation) {
  files.add(0, "app.exe");
  make_current("Kestrel Test App");
  write_file(kUninstaller, uninstaller_image);
  // Readable, as a running program's file is, but not to be written.
  HANDLE held = CreateFileA(kUninstaller, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  finish_install();
  CloseHandle(held);
  EXPECT_EQ(16, ErrorState);
  EXPECT_STREQ(kUninstaller, MessageArgument);
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ("<none>", ini_value("Paths", "Dir"));
  expect_moved_to_finish_page();
}

// A record that does not fit on the drive is the installation's failure:
// error 20 naming the uninstaller, no Uninstall key, no settings.
TEST_F(FinishInstall, ARecordThatDoesNotFitFailsTheInstallation) {
  std::string root = small_drive_root();
  if (root.empty()) GTEST_SKIP() << "no small drive was set up for this run";
  std::string folder = root + "KestrelRecord";
  std::string uninstaller = folder + "\\uninst.exe";
  std::string filler = root + "filler.bin";
  CreateDirectoryA(folder.c_str(), nullptr);
  write_file(uninstaller.c_str(), uninstaller_image);
  // Names long enough that the record takes more than the uninstaller's
  // last cluster holds.
  for (int i = 0; i < 40; ++i) add_created("sub\\" + std::string(150, 'a' + i % 26) + std::to_string(i) + ".txt");
  make_current("Kestrel Test App");
  copy_string(InstallDir, folder.c_str(), kPathSize);
  copy_string(UninstallerPath, uninstaller.c_str(), kPathSize);
  HANDLE fill = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, fill);
  std::vector<char> chunk(4096, 'f');
  DWORD put = 0;
  while (WriteFile(fill, chunk.data(), static_cast<DWORD>(chunk.size()), &put, nullptr) && put == chunk.size()) {
  }
  CloseHandle(fill);

  finish_install();
  EXPECT_EQ(20, ErrorState);
  EXPECT_EQ(uninstaller, std::string(MessageArgument));
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"));
  EXPECT_EQ("<none>", ini_value("Paths", "Dir"));
  EXPECT_EQ("<none>", stored_value(HKEY_CURRENT_USER, kRememberKey, "Folder"));
  expect_moved_to_finish_page();

  DeleteFileA(filler.c_str());
  DeleteFileA(uninstaller.c_str());
  RemoveDirectoryA(folder.c_str());
}

// Every reinstall takes over the record of the uninstaller it writes over.
// The earlier installations' files are merged: after three updates a
// product of 100,000 files still has a record the uninstaller reads, whose
// plan removes every file and lowers the shared library's count once for
// each installation that raised it.
TEST_F(FinishInstall, ThreeUpdatesOfALargeProductKeepARecordTheUninstallerReads) {
  const int kFiles = 100000;
  for (int i = 0; i < kFiles; ++i) add_created("f" + std::to_string(i) + ".dat");
  TestEntry shared;
  shared.kind = kKindRemovable;
  shared.status = 23;
  shared.folder_code = kFolderShared;
  shared.shared = 1;
  shared.strings[0] = "C:\\KestrelFinish\\System\\lib.dll";
  files.add(shared);
  make_current("Kestrel Test App");
  uint32_t image_size = 0;
  Expect stamped = stamped_image("MZ large uninstaller ", &image_size);
  const std::string image = std::string(stamped.b.begin(), stamped.b.end()) + "RESERVED";
  std::vector<size_t> sizes;
  Bytes record;
  for (int install = 0; install < 4; ++install) {
    ErrorState = 0;
    keep_earlier_record();  // before the item writes the new uninstaller
    write_file(kUninstaller, image);
    finish_install();
    ASSERT_EQ(0, ErrorState) << "install " << install;
    record = record_behind(kUninstaller, image_size);
    sizes.push_back(record.size());
  }
  printf("record of %d files: %zu bytes installed, %zu after 1 update, %zu after 3\n", kFiles, sizes[0], sizes[1],
         sizes[3]);
  EXPECT_LE(record.size(), kMaxRecordLength);  // what the uninstaller reads
  EXPECT_EQ(sizes[1], sizes[3]);  // the same product updated alike: the record stays as long
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  RemovalPlan plan;
  const MenuFolders menu = {};
  ASSERT_TRUE(plan_removal(data, "C:\\KestrelFinish\\App", menu, &plan));
  // What the uninstaller does with each path: how often it lowers a count.
  std::map<std::string, uint32_t> lowered;
  std::set<std::string> removed;
  char path[kPathSize];
  for (uint32_t i = 0; i < plan.installation_count; ++i) {
    const PlannedInstallation& installation = plan.installations[i];
    const uint8_t* cursor = installation.data.remove_list;
    for (uint32_t n = 0; n < installation.data.remove_count; ++n) {
      RemoveRecord r = next_remove_record(&cursor);
      if (!planned_file_path(installation, r, path)) continue;
      removed.insert(path);
      if (r.flags & kRemoveShared) ++lowered[path];
    }
    cursor = installation.data.earlier_removals;
    for (uint32_t n = 0; n < installation.data.earlier_removal_count; ++n) {
      EarlierRemoval r = next_earlier_removal(&cursor);
      if (!planned_file_path(installation, r.record, path)) continue;
      removed.insert(path);
      if (r.record.flags & kRemoveShared) lowered[path] += r.uses;
    }
  }
  free_removal_plan(&plan);
  EXPECT_EQ(static_cast<size_t>(kFiles) + 1, removed.size());
  EXPECT_EQ(1u, removed.count("C:\\KestrelFinish\\App\\f99999.dat"));
  EXPECT_EQ(4u, lowered["C:\\KestrelFinish\\System\\lib.dll"]);
  EXPECT_EQ(1u, lowered.size());
}

// A record that would outgrow what the uninstaller reads is not written:
// the installation fails, naming the uninstaller, and is taken back. Here
// the product's files were all renamed, so none of the earlier ones merge.
TEST_F(FinishInstall, ARecordTooLongForTheUninstallerFailsTheInstallation) {
  uint32_t image_size = 0;
  Expect stamped = stamped_image("MZ long uninstaller ", &image_size);
  const std::string image = std::string(stamped.b.begin(), stamped.b.end()) + "RESERVED";
  for (char version : {'a', 'b'}) {
    files = TestFileList();
    for (int i = 0; i < 70000; ++i) add_created(std::string(24, version) + std::to_string(i) + ".dat");
    make_current("Kestrel Test App");
    ErrorState = 0;
    keep_earlier_record();
    write_file(kUninstaller, image);
    finish_install();
  }
  EXPECT_EQ(1000, ErrorState);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_TOO_LARGE), SavedSystemError);
  EXPECT_STREQ(kUninstaller, MessageArgument);
  // Back as it was placed: no record the uninstaller would refuse.
  EXPECT_EQ(Bytes(image.begin(), image.end()), read_file(kUninstaller));
}

// Only a record of the same product (the same Uninstall key) is taken
// over. Another product's uninstaller at the path goes on beside the new
// one, with its record, and its Uninstall key names it there: neither
// product's uninstaller removes the other's, and both can be removed.
TEST_F(FinishInstall, AnotherProductsRecordIsNotMergedButKeepsItsUninstaller) {
  const char kOtherKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel Other Product";
  const char kAside[] = "C:\\KestrelFinish\\App\\uninst-1.exe";
  add_created("app.exe");
  make_current("Kestrel Test App");
  uint32_t image_size = 0;
  const Bytes other = earlier_uninstaller("other.txt", &image_size, kOtherKey);
  write_file(kUninstaller, std::string(other.begin(), other.end()));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kOtherKey, &key));
  const char command[] = "\"C:\\KestrelFinish\\App\\uninst.exe\"";
  RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof command);
  RegCloseKey(key);
  keep_earlier_record();
  Bytes record;
  UninstallData data;
  finish_over_earlier(uninstaller_image, &record, &data);
  EXPECT_EQ(0u, data.earlier_count);
  const uint8_t* cursor = data.remove_list;
  RemoveRecord own = next_remove_record(&cursor);
  EXPECT_EQ("app.exe", std::string(own.name.text, own.name.length));
  EXPECT_EQ(other, read_file(kAside));
  EXPECT_EQ(with_terminator("\"C:\\KestrelFinish\\App\\uninst-1.exe\""),
            stored_value(HKEY_LOCAL_MACHINE, kOtherKey, "UninstallString"));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kOtherKey);
  DeleteFileA(kAside);
}

}  // namespace
