// The journal of an installation and its rollback, on the real file system
// and registry: files made and replaced (byte for byte, with attributes and
// times), folders, registry values and keys, shared counts, files changed
// in place, replacements waiting for a restart, files in use that stay
// (named, and left to the uninstaller), backups kept until the end; and the
// replacement that never leaves neither file. What other programs add to
// the lists shared with them (restart lists, shared counts, INI files)
// while the installation runs survives its rollback.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "archive/entry_lists.h"
#include "base/path_list.h"
#include "base/replace.h"
#include "install/engine_reports.h"
#include "install/install_item.h"
#include "install/journal.h"
#include "install/path_entries.h"
#include "install/rollback.h"
#include "install/safe_replace.h"
#include "install/settings_lists.h"
#include "record/uninstall_data.h"
#include "tests/win32/box_driver.h"
#include "tests/win32/install_fixture.h"

// Stand-ins for the progress page, which count what the rollback shows.
static std::vector<unsigned> Progress;
static int RollbackTextsShown;
void set_progress(unsigned percent) { Progress.push_back(percent); }
bool item_slice(unsigned percent) {
  Progress.push_back(percent);
  return true;
}
void show_current_file(const char*) {}
void show_status(const char*) {}
void announce_file(const char*, bool) {}
void show_waiting_file() {}
void show_rollback_texts() { ++RollbackTextsShown; }

namespace {

const char kRoot[] = "C:\\KestrelRollback";
const char kInstall[] = "C:\\KestrelRollback\\Install";
const char kSetup[] = "C:\\KestrelRollback\\setup.exe";
const char kKey[] = "Software\\Kestrel Rollback";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel Rollback";

// Every name below the folder, folders with a trailing backslash.
void list_tree(const std::string& folder, const std::string& prefix, std::vector<std::string>* names) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      names->push_back(prefix + name + "\\");
      list_tree(folder + "\\" + name, prefix + name + "\\", names);
    } else {
      names->push_back(prefix + name);
    }
  } while (FindNextFileA(h, &found));
  FindClose(h);
}
std::vector<std::string> tree(const std::string& folder) {
  std::vector<std::string> names;
  list_tree(folder, "", &names);
  std::sort(names.begin(), names.end());
  return names;
}

struct Value {
  bool exists = false;
  DWORD type = 0;
  std::string data;
  bool operator==(const Value& o) const { return exists == o.exists && type == o.type && data == o.data; }
};
Value read_value(HKEY root, const char* key_path, const char* name) {
  Value v;
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  char data[4096];
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
    v.exists = true;
    v.data.assign(data, size);
  }
  RegCloseKey(key);
  return v;
}
bool key_exists(HKEY root, const char* key_path) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
void set_dword(HKEY root, const char* key_path, const char* name, DWORD value) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, key_path, &key));
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}
void delete_value(HKEY root, const char* key_path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}
void set_multi_text(const char* key_path, const char* name, const std::string& data) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key));
  RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}
// A machine value as it was read before a test changed it.
void restore_value(const char* key_path, const char* name, const Value& value) {
  if (!value.exists) return delete_value(HKEY_LOCAL_MACHINE, key_path, name);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                 static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
}

std::string ini_text(const std::string& file, const char* section, const char* key) {
  char value[256];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, file.c_str());
  return value;
}

uint64_t last_write(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
}

std::string system_folder() {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  return system;
}

class Rollback : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    SetCurrentDirectoryA("C:\\");
    remove_tree(kRoot);
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA(kInstall, nullptr);
    copy_string(InstallDir, kInstall, kPathSize);
    std::vector<std::string> texts(36);
    texts[0] = "Kestrel Rollback Test";
    texts[32] = "Nothing was changed.";
    texts[33] = "These stay:\r\n%s";
    texts[34] = "Run %s later.";
    messages_ = encode_text_list(texts);
    UninstallerPath[0] = '\0';
    UninstallerImageSize = 0;
    ItemPrefixBlob = nullptr;
    ItemPrefixBlobLength = 0;
    Progress.clear();
    RollbackTextsShown = 0;
    forget_rollback_report();
    journal_clear();
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New\\Deeper");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New");
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  }
  void TearDown() override {
    for (HANDLE lock : locks_) CloseHandle(lock);
    journal_clear();
    forget_rollback_report();
    close_data_area();
    SetCurrentDirectoryA("C:\\");
    remove_tree(kRoot);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New\\Deeper");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New");
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    IsNtFamily = true;
    CoUninitialize();
  }
  void make_setup(const std::vector<std::string>& contents) { ASSERT_TRUE(source_.make(kSetup, 37, contents)); }
  EntryFields item(const std::string& name, int stream) { return source_.item(name, stream); }
  void install_all(const std::vector<EntryFields>& entries) {
    list_ = encode_file_list(entries);
    use_file_list(list_, &messages_);
    for (size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(1, install_next_item()) << i << " error " << ErrorState;
  }
  std::string report() {
    char message[1024] = "Cancelled.";
    append_rollback_report(message, sizeof message);
    return message;
  }
  static std::string in_install(const std::string& name) { return std::string(kInstall) + "\\" + name; }
  HANDLE lock(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    locks_.push_back(h);
    return h;
  }

  ItemSource source_;
  std::vector<uint8_t> list_;
  std::vector<uint8_t> messages_;
  std::vector<HANDLE> locks_;
};

TEST_F(Rollback, ChangesAreNotedInOrderWithWhatWasThereAndTakeAFewBytesEach) {
  set_dword(HKEY_CURRENT_USER, kKey, "Count", 7);
  ASSERT_TRUE(note_created_file("C:\\a\\made.txt"));
  ASSERT_TRUE(note_replaced_file("C:\\a\\old.txt", "C:\\a\\old.$~abcdefgh", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(note_created_folder("C:\\a\\sub"));
  ASSERT_TRUE(note_registry_value(HKEY_CURRENT_USER, kKey, "Count"));
  ASSERT_TRUE(note_registry_value(HKEY_CURRENT_USER, kKey, "Missing"));
  ASSERT_TRUE(note_registry_key(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New\\Deeper"));
  ASSERT_TRUE(note_added_font("C:\\a\\face.ttf"));
  ASSERT_TRUE(note_registered_library("C:\\a\\lib.dll"));
  EXPECT_EQ(9u, journal_count());
  // A made file costs its path and 18 bytes.
  uint32_t position = 0;
  Change c;
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kCreatedFile, c.kind);
  EXPECT_STREQ("C:\\a\\made.txt", c.path);
  EXPECT_EQ(std::strlen("C:\\a\\made.txt") + 18, position);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kReplacedFile, c.kind);
  EXPECT_STREQ("C:\\a\\old.$~abcdefgh", c.other);
  EXPECT_EQ(static_cast<uint32_t>(FILE_ATTRIBUTE_READONLY), c.number);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kCreatedFolder, c.kind);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kRegistryValue, c.kind);
  EXPECT_TRUE(c.existed);
  EXPECT_EQ(static_cast<uint32_t>(REG_DWORD), c.type);
  ASSERT_EQ(4u, c.data_length);
  EXPECT_EQ(7u, get_u32(c.data));
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_FALSE(c.existed);
  EXPECT_STREQ("Missing", c.other);
  // Only the two levels that are missing: Software\Kestrel Rollback is there.
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kCreatedKey, c.kind);
  EXPECT_STREQ("Software\\Kestrel Rollback\\New", c.path);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_STREQ("Software\\Kestrel Rollback\\New\\Deeper", c.path);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kAddedFont, c.kind);
  ASSERT_TRUE(journal_next(&position, &c));
  EXPECT_EQ(ChangeKind::kRegisteredLibrary, c.kind);
  EXPECT_FALSE(journal_next(&position, &c));
  EXPECT_EQ(position, journal_size());
}

TEST_F(Rollback, MadeFilesAndFoldersGoAndReplacedFilesComeBackByteForByte) {
  ASSERT_TRUE(write_whole_file(in_install("keep.txt"), bytes_of("the user's")));
  ASSERT_TRUE(write_whole_file(in_install("old.txt"), bytes_of("old content")));
  HANDLE h = CreateFileA(in_install("old.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME written = {0x12345678, 0x01C00000};
  SetFileTime(h, nullptr, nullptr, &written);
  CloseHandle(h);
  SetFileAttributesA(in_install("old.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  std::vector<std::string> before = tree(kInstall);

  make_setup({"new file", "replacement", "deep"});
  install_all({item("new.txt", 0), item("old.txt", 1), item("sub\\deeper\\deep.bin", 2), item("old.txt", 0)});
  EXPECT_EQ("new file", read_whole_file(in_install("old.txt")));
  EXPECT_TRUE(GetFileAttributesA(in_install("old.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("deep", read_whole_file(in_install("sub\\deeper\\deep.bin")));

  roll_back_changes();
  EXPECT_EQ(before, tree(kInstall));
  EXPECT_EQ("old content", read_whole_file(in_install("old.txt")));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
            GetFileAttributesA(in_install("old.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime, last_write(in_install("old.txt")));
  EXPECT_EQ("the user's", read_whole_file(in_install("keep.txt")));
  EXPECT_EQ(0u, journal_count());
  EXPECT_EQ("Cancelled.\r\n\r\nNothing was changed.", report());
  // The page showed it, the bar running back to 0.
  EXPECT_EQ(1, RollbackTextsShown);
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(0u, Progress.back());
}

TEST_F(Rollback, KeepingTheInstallationDeletesTheBackups) {
  ASSERT_TRUE(write_whole_file(in_install("old.txt"), bytes_of("old content")));
  make_setup({"replacement"});
  install_all({item("old.txt", 0)});
  EXPECT_EQ(2u, tree(kInstall).size());  // the file and its backup
  keep_changes();
  EXPECT_EQ((std::vector<std::string>{"old.txt"}), tree(kInstall));
  EXPECT_EQ("replacement", read_whole_file(in_install("old.txt")));
  EXPECT_EQ(0u, journal_count());
}

TEST_F(Rollback, RegistryValuesAndKeysAreAsTheyWere) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, kKey, &key));
  RegSetValueExA(key, "Text", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("before\0"), 7);
  RegCloseKey(key);
  Value text = read_value(HKEY_CURRENT_USER, kKey, "Text");
  const char deeper[] = "Software\\Kestrel Rollback\\New\\Deeper";
  ASSERT_TRUE(note_registry_value(HKEY_CURRENT_USER, kKey, "Text"));
  ASSERT_TRUE(note_registry_value(HKEY_CURRENT_USER, kKey, "Added"));
  ASSERT_TRUE(note_registry_key(HKEY_CURRENT_USER, deeper));
  ASSERT_TRUE(note_registry_value(HKEY_CURRENT_USER, deeper, ""));
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, kKey, &key));
  RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("after"), 5);
  RegSetValueExA(key, "Added", 0, REG_SZ, reinterpret_cast<const BYTE*>("new"), 3);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, deeper, &key));
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("default"), 7);
  RegCloseKey(key);

  roll_back_changes();
  EXPECT_EQ(text, read_value(HKEY_CURRENT_USER, kKey, "Text"));
  EXPECT_FALSE(read_value(HKEY_CURRENT_USER, kKey, "Added").exists);
  EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, "Software\\Kestrel Rollback\\New"));
  EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, kKey));
}

TEST_F(Rollback, AKeyThatGotSomethingElseMeanwhileStays) {
  const char made[] = "Software\\Kestrel Rollback\\New";
  ASSERT_TRUE(note_registry_key(HKEY_CURRENT_USER, made));
  set_dword(HKEY_CURRENT_USER, made, "Someone else's", 1);
  roll_back_changes();
  EXPECT_TRUE(read_value(HKEY_CURRENT_USER, made, "Someone else's").exists);
}

// The user's search path gains the installation's entry once, as an entry
// of its own, and keeps its type and every other entry; the rollback takes
// out that entry alone, so one that another program added meanwhile stays,
// and it is not the value as it was that comes back.
TEST_F(Rollback, ASearchPathLosesOnlyTheEntryItGained) {
  const Value before = read_value(HKEY_CURRENT_USER, "Environment", "Path");
  auto set_path = [](const char* text) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Environment", &key));
    RegSetValueExA(key, "Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text), strlen(text) + 1);
    RegCloseKey(key);
  };
  auto path_is = [](const std::string& text) {
    return read_value(HKEY_CURRENT_USER, "Environment", "Path") == Value{true, REG_EXPAND_SZ, text + '\0'};
  };
  // The same folder twice, written otherwise the second time.
  std::vector<uint8_t> list = {2, 0};
  for (const char* folder : {"#InstallDir#\\bin\\", "c:\\kestrelrollback\\install\\BIN"}) {
    list.push_back(kPathScopeUser);
    list.insert(list.end(), folder, folder + strlen(folder) + 1);
  }
  SetupTypeTable[0].entry_lists[kPathList] = list.data();
  SetupTypeTable[0].entry_list_lengths[kPathList] = static_cast<uint32_t>(list.size());
  CurrentSetupType = 0;
  set_path("C:\\Before;%SystemRoot%\\Tools");
  // The Windows 95 family keeps its PATH elsewhere: nothing is touched.
  IsNtFamily = false;
  add_path_entries();
  EXPECT_TRUE(path_is("C:\\Before;%SystemRoot%\\Tools"));
  EXPECT_EQ(0u, journal_count());
  IsNtFamily = true;
  add_path_entries();
  EXPECT_TRUE(path_is("C:\\Before;%SystemRoot%\\Tools;C:\\KestrelRollback\\Install\\bin"));
  add_path_entries();  // a second run finds it there
  EXPECT_TRUE(path_is("C:\\Before;%SystemRoot%\\Tools;C:\\KestrelRollback\\Install\\bin"));
  EXPECT_EQ(1u, journal_count());

  set_path("C:\\Before;%SystemRoot%\\Tools;C:\\KestrelRollback\\Install\\bin;C:\\Later");
  roll_back_changes();
  EXPECT_TRUE(path_is("C:\\Before;%SystemRoot%\\Tools;C:\\Later"));

  SetupTypeTable[0].entry_lists[kPathList] = nullptr;
  SetupTypeTable[0].entry_list_lengths[kPathList] = 0;
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Environment", &key));
  if (before.exists)
    RegSetValueExA(key, "Path", 0, before.type, reinterpret_cast<const BYTE*>(before.data.data()), before.data.size());
  else
    RegDeleteValueA(key, "Path");
  RegCloseKey(key);
}

TEST_F(Rollback, SharedCountsGoBackToWhatTheyWere) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &key));
  RegCloseKey(key);
  std::string counted = system_folder() + "\\kestrel_rb_counted.dll";
  std::string fresh = system_folder() + "\\kestrel_rb_fresh.dll";
  ASSERT_TRUE(write_whole_file(counted, bytes_of("someone's library")));
  set_dword(HKEY_LOCAL_MACHINE, kSharedDlls, counted.c_str(), 3);
  delete_value(HKEY_LOCAL_MACHINE, kSharedDlls, fresh.c_str());
  make_setup({"library"});
  EntryFields one = item("kestrel_rb_counted.dll", 0), two = item("kestrel_rb_fresh.dll", 0);
  for (EntryFields* e : {&one, &two}) {
    e->folder_code = kFolderShared;
    e->shared = 1;
  }
  // A library that was there uncounted starts at 2.
  std::string uncounted = system_folder() + "\\kestrel_rb_uncounted.dll";
  ASSERT_TRUE(write_whole_file(uncounted, bytes_of("nobody counted it")));
  delete_value(HKEY_LOCAL_MACHINE, kSharedDlls, uncounted.c_str());
  EntryFields three = item("kestrel_rb_uncounted.dll", 0);
  three.folder_code = kFolderShared;
  three.shared = 1;
  install_all({one, two, three});
  EXPECT_EQ(std::string("\4\0\0\0", 4), read_value(HKEY_LOCAL_MACHINE, kSharedDlls, counted.c_str()).data);
  EXPECT_TRUE(read_value(HKEY_LOCAL_MACHINE, kSharedDlls, fresh.c_str()).exists);
  EXPECT_EQ(std::string("\2\0\0\0", 4), read_value(HKEY_LOCAL_MACHINE, kSharedDlls, uncounted.c_str()).data);
  // Another installation counts two of them meanwhile: its users stay.
  set_dword(HKEY_LOCAL_MACHINE, kSharedDlls, counted.c_str(), 5);
  set_dword(HKEY_LOCAL_MACHINE, kSharedDlls, uncounted.c_str(), 3);
  roll_back_changes();
  EXPECT_EQ(std::string("\4\0\0\0", 4), read_value(HKEY_LOCAL_MACHINE, kSharedDlls, counted.c_str()).data);
  EXPECT_FALSE(read_value(HKEY_LOCAL_MACHINE, kSharedDlls, fresh.c_str()).exists);
  EXPECT_EQ(std::string("\1\0\0\0", 4), read_value(HKEY_LOCAL_MACHINE, kSharedDlls, uncounted.c_str()).data);
  EXPECT_EQ("someone's library", read_whole_file(counted));
  EXPECT_EQ("nobody counted it", read_whole_file(uncounted));
  EXPECT_FALSE(file_exists(fresh));
  for (const std::string& path : {counted, uncounted}) {
    delete_value(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str());
    DeleteFileA(path.c_str());
  }
}

// The setup remembers its folder in INI files; others write to the same
// files and sections before the rollback, which takes back only that key.
TEST_F(Rollback, AnIniKeyComesBackAloneAndWhatOthersWroteMeanwhileStays) {
  std::string there = in_install("there.ini"), fresh = in_install("fresh.ini"), alone = in_install("alone.ini");
  ASSERT_TRUE(write_whole_file(there, bytes_of("; mine\r\n[Setup]\r\nFolder=C:\\Old\r\nTheirs=1\r\n")));
  install_all({});
  SetupTypeRecord& record = SetupTypeTable[0].record;
  record.flags = kTypeRememberInIni;
  record.ini_section = "Setup";
  record.ini_key = "Folder";
  for (const std::string& file : {there, fresh, alone}) {
    record.ini_file = file.c_str();
    remember_install_dir();
    EXPECT_EQ(kInstall, ini_text(file, "Setup", "Folder"));
  }
  for (const std::string& file : {there, fresh}) {
    WritePrivateProfileStringA("Setup", "Added", "2", file.c_str());
    WritePrivateProfileStringA("Other", "Key", "3", file.c_str());
  }
  WritePrivateProfileStringA("Setup", "Theirs", "changed", there.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, there.c_str());
  roll_back_changes();
  EXPECT_EQ("C:\\Old", ini_text(there, "Setup", "Folder"));
  EXPECT_EQ("changed", ini_text(there, "Setup", "Theirs"));
  EXPECT_EQ("<none>", ini_text(fresh, "Setup", "Folder"));
  for (const std::string& file : {there, fresh}) {
    EXPECT_EQ("2", ini_text(file, "Setup", "Added")) << file;
    EXPECT_EQ("3", ini_text(file, "Other", "Key")) << file;
  }
  EXPECT_EQ(0u, read_whole_file(there).find("; mine\r\n"));
  // A file that only this run wrote to goes.
  EXPECT_FALSE(file_exists(alone));
}

TEST_F(Rollback, FilesChangedInPlaceAreCopiedOnceAndComeBack) {
  std::string ini = in_install("there.ini"), fresh = in_install("fresh.ini");
  ASSERT_TRUE(write_whole_file(ini, bytes_of("; mine\r\n[A]\r\nx = 1\r\n")));
  ASSERT_TRUE(note_file_change(ini.c_str()));
  ASSERT_TRUE(note_file_change(ini.c_str()));  // the first copy is the one that counts
  ASSERT_TRUE(note_file_change(fresh.c_str()));
  // The copy is noted as made and then as the backup; the fresh file as made.
  EXPECT_EQ(3u, journal_count());
  WritePrivateProfileStringA("A", "x", "2", ini.c_str());
  WritePrivateProfileStringA("B", "y", "3", ini.c_str());
  WritePrivateProfileStringA("B", "y", "3", fresh.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
  roll_back_changes();
  EXPECT_EQ("; mine\r\n[A]\r\nx = 1\r\n", read_whole_file(ini));
  EXPECT_FALSE(file_exists(fresh));
  EXPECT_EQ((std::vector<std::string>{"there.ini"}), tree(kInstall));
  // A profile name without a folder lies in the Windows folder.
  char path[2 * kPathSize];
  profile_file_path("kestrel.ini", path);
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(std::string(windows) + "\\kestrel.ini", path);
}

// Only this run's pair leaves the list: one that was there before and one
// that another program adds meanwhile stay, in their order.
TEST_F(Rollback, AReplacementScheduledForTheNextStartIsCancelled) {
  std::string target = system_folder() + "\\kestrel_rb_busy.txt";
  ASSERT_TRUE(write_whole_file(target, bytes_of("old")));
  Value pending = read_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  const char earlier[] = "\\??\\C:\\Earlier\\a.tmp\0!\\??\\C:\\Earlier\\a.dll\0";
  set_multi_text(kSessionManager, "PendingFileRenameOperations", std::string(earlier, sizeof earlier));
  lock(target);
  make_setup({"new"});
  EntryFields e = item("kestrel_rb_busy.txt", 0);
  e.folder_code = kFolderShared;
  install_all({e});
  EXPECT_TRUE(RestartNeeded);
  std::string temp = TempPath;
  EXPECT_TRUE(file_exists(temp));
  Value scheduled = read_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  EXPECT_NE(std::string::npos, scheduled.data.find(temp)) << scheduled.data;
  std::string theirs = in_install("theirs.tmp");
  ASSERT_TRUE(write_whole_file(theirs, bytes_of("someone else's")));
  ASSERT_TRUE(MoveFileExA(theirs.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  roll_back_changes();
  Value now = read_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), now.type);
  EXPECT_EQ(std::string(earlier, sizeof earlier - 1) + "\\??\\" + theirs + std::string("\0\0\0", 3), now.data);
  EXPECT_FALSE(file_exists(temp));
  EXPECT_FALSE(RestartNeeded);
  for (HANDLE h : locks_) CloseHandle(h);
  locks_.clear();
  EXPECT_EQ("old", read_whole_file(target));
  DeleteFileA(target.c_str());
  restore_value(kSessionManager, "PendingFileRenameOperations", pending);
}

TEST_F(Rollback, OnThe95FamilyTheRestartListComesBackToo) {
  std::string wininit = wininit_path();
  DeleteFileA(wininit.c_str());
  std::string target = in_install("busy.txt"), source = in_install("busy.$new");
  ASSERT_TRUE(write_whole_file(target, bytes_of("old")));
  ASSERT_TRUE(write_whole_file(source, bytes_of("new")));
  IsNtFamily = false;
  ASSERT_TRUE(schedule_replacement(target.c_str(), source.c_str()));
  EXPECT_TRUE(file_exists(wininit));
  roll_back_changes();
  EXPECT_FALSE(file_exists(wininit));
  EXPECT_FALSE(file_exists(source));
  EXPECT_EQ("old", read_whole_file(target));

  // The lines of the list that were there and the ones another program
  // adds meanwhile stay; only this run's line goes.
  ASSERT_TRUE(write_whole_file(wininit, bytes_of("[Rename]\r\nNUL=C:\\OLD.TMP\r\n")));
  ASSERT_TRUE(write_whole_file(source, bytes_of("new")));
  ASSERT_TRUE(schedule_replacement(target.c_str(), source.c_str()));
  std::string list = read_whole_file(wininit);
  std::transform(list.begin(), list.end(), list.begin(), ::toupper);
  EXPECT_NE(std::string::npos, list.find("BUSY.TXT=")) << list;
  WritePrivateProfileStringA("Rename", "C:\\THEIRS.DLL", "C:\\THEIRS.NEW", wininit.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, wininit.c_str());
  roll_back_changes();
  EXPECT_EQ("[Rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\THEIRS.DLL=C:\\THEIRS.NEW\r\n", read_whole_file(wininit));
  DeleteFileA(wininit.c_str());
}

TEST_F(Rollback, AFileInUseStaysNamedAndTheUninstallerOfThisRunCanRemoveIt) {
  // The uninstaller as the setup places it: the program image, then its
  // data, whose last 8 bytes the first header of its record takes.
  make_setup({"RESERVED", "alpha", "beta"});
  char image[] = "MZ uninstaller image";
  ItemPrefixBlob = reinterpret_cast<uint8_t*>(image);
  ItemPrefixBlobLength = sizeof image - 1;
  EntryFields uninstaller = item("Uninstall.exe", 0);
  uninstaller.flags = kItemUninstaller;
  uninstaller.checksum = 0;
  install_all({uninstaller, item("alpha.txt", 1), item("sub\\beta.txt", 2)});
  SetupTypeTable[0].record.uninstall_name = "Kestrel Rollback";
  ASSERT_EQ(sizeof image - 1 + 8, UninstallerImageSize);
  lock(in_install("sub\\beta.txt"));
  roll_back_changes();

  EXPECT_FALSE(file_exists(in_install("alpha.txt")));
  EXPECT_TRUE(file_exists(in_install("sub\\beta.txt")));
  EXPECT_EQ("Cancelled.\r\n\r\nThese stay:\r\n" + in_install("sub\\beta.txt") + "\r\n\r\nRun " +
                in_install("Uninstall.exe") + " later.",
            report());
  // The uninstaller stays with a record of just that file, and is
  // registered so that it can be run later.
  std::string bytes = read_whole_file(in_install("Uninstall.exe"));
  ASSERT_GT(bytes.size(), sizeof image - 1 + 8);
  EXPECT_EQ(image, bytes.substr(0, sizeof image - 1));
  std::string record = bytes.substr(sizeof image - 1);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk,
            parse_uninstall_data(reinterpret_cast<const uint8_t*>(record.data()), record.size(), &data));
  ASSERT_EQ(1u, data.remove_count);
  const uint8_t* cursor = data.remove_list;
  RemoveRecord r = next_remove_record(&cursor);
  EXPECT_EQ(".\\sub", std::string(r.folder.text, r.folder.length));
  EXPECT_EQ("beta.txt", std::string(r.name.text, r.name.length));
  EXPECT_TRUE(data.has_uninstall_key);
  EXPECT_EQ("\"" + in_install("Uninstall.exe") + "\"",
            read_value(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString").data.c_str());
}

TEST_F(Rollback, WithoutAnUninstallerAFileInUseIsNamedOnlyAndAReplacedOneWaitsForTheRestart) {
  ASSERT_TRUE(write_whole_file(in_install("old.txt"), bytes_of("old content")));
  make_setup({"alpha", "replacement"});
  install_all({item("alpha.txt", 0), item("old.txt", 1)});
  lock(in_install("alpha.txt"));
  lock(in_install("old.txt"));
  Value pending = read_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  roll_back_changes();
  EXPECT_EQ("Cancelled.\r\n\r\nThese stay:\r\n" + in_install("old.txt") + "\r\n" + in_install("alpha.txt"), report());
  // The old version is kept, and put back when Windows starts again.
  Value now = read_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  EXPECT_NE(std::string::npos, now.data.find("old.txt")) << now.data;
  restore_value(kSessionManager, "PendingFileRenameOperations", pending);
}

// The new file cannot follow the old one (here: someone holds it open):
// the old file is where it was, on both families, and no backup is left.
TEST_F(Rollback, AReplacementThatFailsLeavesTheOldFileInPlace) {
  for (bool nt : {true, false}) {
    IsNtFamily = nt;
    std::string target = in_install("kept.txt"), temp = in_install("kept.$new");
    ASSERT_TRUE(write_whole_file(target, bytes_of("old")));
    ASSERT_TRUE(write_whole_file(temp, bytes_of("new")));
    HANDLE held = CreateFileA(temp.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(Replacement::kPlaced, replace_with_backup(temp.c_str(), target.c_str(), FILE_ATTRIBUTE_ARCHIVE)) << nt;
    EXPECT_FALSE(replace_file(temp.c_str(), target.c_str())) << nt;
    CloseHandle(held);
    EXPECT_EQ("old", read_whole_file(target)) << nt;
    EXPECT_EQ((std::vector<std::string>{"kept.$new", "kept.txt"}), tree(kInstall)) << nt;
    EXPECT_TRUE(replace_file(temp.c_str(), target.c_str())) << nt;
    EXPECT_EQ("new", read_whole_file(target)) << nt;
    DeleteFileA(target.c_str());
  }
}

// A destination held open by a program that lets others delete it: the
// old design deleted it (gone once the program closes it) and then could
// not rename the new file in, so neither was left. Now the NT family
// replaces in one step or not at all (the file counts as in use; Ignore
// keeps it), and the 95 family moves it aside and the new file in.
TEST_F(Rollback, ADestinationThatOnlyGoesWhenItsUserClosesItIsNeverLost) {
  for (bool nt : {true, false}) {
    IsNtFamily = nt;
    std::string target = in_install("shared.txt");
    ASSERT_TRUE(write_whole_file(target, bytes_of("old")));
    HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    make_setup({"new"});
    BoxDriver boxes{"Kestrel Rollback Test"};
    if (nt) boxes.start({{IDIGNORE, nullptr}});
    install_all({item("shared.txt", 0)});
    boxes.finish();
    CloseHandle(held);
    EXPECT_EQ(nt ? "old" : "new", read_whole_file(target)) << nt;
    EXPECT_EQ(nt ? 1u : 0u, boxes.texts.size());
    keep_changes();
    EXPECT_EQ((std::vector<std::string>{"shared.txt"}), tree(kInstall)) << nt;
    close_data_area();
    DeleteFileA(target.c_str());
  }
}

}  // namespace
