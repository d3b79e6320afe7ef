// Installing items from an archive's data area into the real file system
// and registry: writing, verifying, placing, files in use, restart
// replacement, shared counts, roles and the desktop shortcut.
#include <gtest/gtest.h>
#include <io.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/error_codes.h"
#include "archive/patch.h"
#include "base/command_line.h"
#include "base/replace.h"
#include "install/engine_reports.h"
#include "install/install_item.h"
#include "install/journal.h"
#include "install/rollback.h"
#include "tests/win32/box_driver.h"
#include "tests/win32/install_fixture.h"
#include "tests/win32/small_drive.h"

// Stand-ins for the progress page and the font registration.
static std::vector<unsigned> Progress;
static std::vector<std::string> ShownFiles;
static std::vector<std::string> RegisteredFonts;
void set_progress(unsigned percent) { Progress.push_back(percent); }
bool item_slice(unsigned percent) {
  Progress.push_back(percent);
  return true;
}
void show_current_file(const char* path) { ShownFiles.push_back(path); }
void show_status(const char*) {}
void announce_file(const char* path, bool) { ShownFiles.push_back(path); }
void show_waiting_file() {}
void register_font(const char* path) { RegisteredFonts.push_back(path); }

namespace {

const char kRoot[] = "C:\\KestrelItems";
const char kInstall[] = "C:\\KestrelItems\\Install";
const char kSetup[] = "C:\\KestrelItems\\Source\\setup.exe";
const char kCaption[] = "Kestrel Item Test";
enum : uint32_t { kPrefix = 37 };

HANDLE lock_file(const std::string& path) {
  // Readable by others, but neither writable nor deletable.
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The setup's temporary files and backups: an extension that starts with $.
std::vector<std::string> temp_files(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*.$*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(h, &found));
  FindClose(h);
  return names;
}
bool temp_files_left(const std::string& folder) { return !temp_files(folder).empty(); }

class InstallItem : public ::testing::Test {
 protected:
  void SetUp() override {
    // The setup program initialises OLE at start-up; shortcuts need it.
    CoInitialize(nullptr);
    SetCurrentDirectoryA("C:\\");
    remove_tree(kRoot);
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA((std::string(kRoot) + "\\Source").c_str(), nullptr);
    copy_string(InstallDir, kInstall, kPathSize);
    std::vector<std::string> texts(31);
    texts[0] = kCaption;
    texts[22] = "In use: %s";
    texts[30] = "Other language: %s";
    messages_ = encode_text_list(texts);
    Progress.clear();
    ShownFiles.clear();
    RegisteredFonts.clear();
    UninstallerPath[0] = '\0';
    ItemPrefixBlob = nullptr;
    ItemPrefixBlobLength = 0;
    forget_role_items();
  }
  void TearDown() override {
    driver_.finish();
    journal_clear();
    close_data_area();
    SetCurrentDirectoryA("C:\\");
    remove_tree(kRoot);
    IsNtFamily = true;
    CoUninitialize();
  }

  // The setup file with one stream per content; items refer to them by number.
  void make_setup(const std::vector<std::string>& contents) { ASSERT_TRUE(source_.make(kSetup, kPrefix, contents)); }
  EntryFields item(const char* name, int stream) { return source_.item(name, stream); }
  void install(const std::vector<EntryFields>& entries) {
    list_ = encode_file_list(entries);
    use_file_list(list_, &messages_);
  }
  uint16_t status(int n) { return get_u16(entry_at(list_, n) + kEntryStatus); }
  static std::string in_install(const char* name) { return std::string(kInstall) + "\\" + name; }

  ItemSource source_;
  std::vector<uint8_t> list_;
  std::vector<uint8_t> messages_;
  BoxDriver driver_{kCaption};
};

TEST_F(InstallItem, ItemsAreDecodedVerifiedAndPlacedWithProgressAfterEach) {
  std::string big(70000, 'q');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  make_setup({"first file", big, "third"});
  EntryFields timed = item("c.txt", 2);
  timed.flags = kItemHasTimes;
  uint64_t write_time = 0x01C0A1B2C3D4E5F6ull;
  for (int i = 0; i < 8; ++i) timed.times[16 + i] = static_cast<uint8_t>(write_time >> (8 * i));
  install({item("a.txt", 0), item("sub\\deeper\\b.bin", 1), timed});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(0, ErrorState);
  EXPECT_EQ((std::vector<unsigned>{33, 66, 100}), Progress);
  EXPECT_EQ(in_install("sub\\deeper\\b.bin"), ShownFiles.at(1));
  EXPECT_EQ("first file", read_whole_file(in_install("a.txt")));
  EXPECT_EQ(big, read_whole_file(in_install("sub\\deeper\\b.bin")));
  EXPECT_EQ("third", read_whole_file(in_install("c.txt")));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(kStatusCreated, status(i)) << i;
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(in_install("c.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(write_time, (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  EXPECT_FALSE(temp_files_left(kInstall));
  // An existing file is replaced and listed as such.
  install({item("a.txt", 2)});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ("third", read_whole_file(in_install("a.txt")));
  EXPECT_EQ(kStatusReplaced, status(0));
}

TEST_F(InstallItem, NewFilesAreWrittenUnderTheirOwnNamesAndARollbackRemovesThem) {
  make_setup({"first", "second"});
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install("old.txt"), bytes_of("was there")));
  install({item("a.txt", 0), item("sub\\b.txt", 1), item("old.txt", 1)});
  EXPECT_EQ(1, install_next_item());
  EXPECT_STREQ("", TempPath);  // no temporary file, no move
  EXPECT_EQ(1, install_next_item());
  EXPECT_STREQ("", TempPath);
  EXPECT_EQ(1, install_next_item());
  EXPECT_NE(std::string(TempPath), "");  // replaced through a temporary file
  EXPECT_EQ("first", read_whole_file(in_install("a.txt")));
  EXPECT_EQ("second", read_whole_file(in_install("sub\\b.txt")));
  EXPECT_EQ("second", read_whole_file(in_install("old.txt")));
  EXPECT_EQ(kStatusCreated, status(0));
  EXPECT_EQ(kStatusCreated, status(1));
  EXPECT_EQ(kStatusReplaced, status(2));
  roll_back_changes();
  EXPECT_FALSE(file_exists(in_install("a.txt")));
  EXPECT_FALSE(file_exists(in_install("sub")));
  EXPECT_EQ("was there", read_whole_file(in_install("old.txt")));
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, ChecksumMismatchEndsWithError21AndLeavesNoTemporaryFile) {
  make_setup({"content"});
  EntryFields bad = item("a.txt", 0);
  bad.checksum ^= 1;
  install({bad, item("b.txt", 0)});
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(21, ErrorState);
  EXPECT_EQ(in_install("a.txt"), MessageArgument);
  EXPECT_FALSE(file_exists(in_install("a.txt")));
  EXPECT_FALSE(temp_files_left(kInstall));
  EXPECT_TRUE(Progress.empty());
}

TEST_F(InstallItem, ArchiveDataThatCannotBeReachedIsError18) {
  make_setup({"content"});
  EntryFields beyond = item("a.txt", 0);
  beyond.data_position = 100000;  // beyond the data area, with no volume behind it
  install({beyond});
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(18, ErrorState);
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, CancelDuringAnItemEndsWithoutAnErrorCode) {
  make_setup({"content"});
  install({item("a.txt", 0)});
  PageResult = kPageToClosing;
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(0, ErrorState);
  EXPECT_FALSE(file_exists(in_install("a.txt")));
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, TemporaryFilesHaveNamesNoOneCanForeseeAndNeverTakeAnExistingFile) {
  make_setup({"new content"});
  CreateDirectoryA(kInstall, nullptr);
  // The names an older design chose one after the other stay untouched.
  ASSERT_TRUE(write_whole_file(in_install("app.$$A"), bytes_of("planted")));
  ASSERT_TRUE(write_whole_file(in_install("app.$$B"), bytes_of("planted too")));
  // Files that are there are replaced through a temporary file.
  ASSERT_TRUE(write_whole_file(in_install("app.exe"), bytes_of("old app")));
  ASSERT_TRUE(write_whole_file(in_install("README"), bytes_of("old readme")));
  install({item("app.exe", 0), item("README", 0)});
  EXPECT_EQ(1, install_next_item());
  // The temporary file of the item just placed: ".$" and eight letters.
  std::string temp = TempPath;
  EXPECT_EQ(0u, temp.find(in_install("app.$"))) << temp;
  EXPECT_EQ(in_install("app.$").size() + 8, temp.size()) << temp;
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(0u, std::string(TempPath).find(in_install("README.$"))) << TempPath;
  EXPECT_EQ("new content", read_whole_file(in_install("app.exe")));
  EXPECT_EQ("planted", read_whole_file(in_install("app.$$A")));
  EXPECT_EQ("planted too", read_whole_file(in_install("app.$$B")));
  // The replaced files' copies, kept for a rollback, are the journal's.
  roll_back_changes();
  EXPECT_EQ("old app", read_whole_file(in_install("app.exe")));
  EXPECT_EQ((std::vector<std::string>{"app.$$A", "app.$$B"}), temp_files(kInstall));
}

TEST_F(InstallItem, ADestinationTooLongForATemporaryNameBesideItIsError17) {
  make_setup({"content"});
  std::string name(kPathSize - std::strlen(kInstall) - 8, 'x');
  // A file that is there already is replaced through a temporary file.
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install(name.c_str()), bytes_of("old")));
  install({item(name.c_str(), 0)});
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(17, ErrorState);
  EXPECT_STREQ("", TempPath);
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, ReadOnlyDestinationIsReplacedAndStaysReadOnly) {
  make_setup({"new content"});
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install("ro.txt"), bytes_of("old")));
  SetFileAttributesA(in_install("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  install({item("ro.txt", 0)});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ("new content", read_whole_file(in_install("ro.txt")));
  EXPECT_TRUE(GetFileAttributesA(in_install("ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(kStatusReplaced, status(0));
}

TEST_F(InstallItem, LockedFileWithTheSameContentStaysWithoutAQuestion) {
  make_setup({"same"});
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install("same.txt"), bytes_of("same")));
  HANDLE lock = lock_file(in_install("same.txt"));
  ASSERT_NE(INVALID_HANDLE_VALUE, lock);
  install({item("same.txt", 0)});
  EXPECT_EQ(1, install_next_item());  // a question would block here
  CloseHandle(lock);
  EXPECT_EQ(kStatusReplaced, status(0));
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, LockedDifferentFileAsksAndIgnoreKeepsTheOldFile) {
  make_setup({"new"});
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install("busy.txt"), bytes_of("old")));
  HANDLE lock = lock_file(in_install("busy.txt"));
  install({item("busy.txt", 0)});
  driver_.start({{IDIGNORE, nullptr}});
  EXPECT_EQ(1, install_next_item());
  driver_.finish();
  CloseHandle(lock);
  ASSERT_EQ(1u, driver_.texts.size());
  EXPECT_EQ("In use: " + in_install("busy.txt"), driver_.texts[0]);
  EXPECT_EQ("old", read_whole_file(in_install("busy.txt")));
  EXPECT_EQ(kStatusKept, status(0));  // the user's file: not listed for removal
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, RetryDeletesAgainAndAbortEndsWithError22) {
  make_setup({"new"});
  CreateDirectoryA(kInstall, nullptr);
  ASSERT_TRUE(write_whole_file(in_install("busy.txt"), bytes_of("old")));
  HANDLE lock = lock_file(in_install("busy.txt"));
  install({item("busy.txt", 0), item("busy.txt", 0)});
  // First Retry while still locked, then Retry after the lock is gone.
  driver_.start({{IDRETRY, nullptr}, {IDRETRY, lock}});
  EXPECT_EQ(1, install_next_item());
  driver_.finish();
  EXPECT_EQ(2u, driver_.texts.size());
  EXPECT_EQ("new", read_whole_file(in_install("busy.txt")));
  EXPECT_EQ(kStatusReplaced, status(0));

  ASSERT_TRUE(write_whole_file(in_install("busy.txt"), bytes_of("old")));
  lock = lock_file(in_install("busy.txt"));
  driver_.start({{IDABORT, nullptr}});
  EXPECT_EQ(0, install_next_item());
  driver_.finish();
  CloseHandle(lock);
  EXPECT_EQ(22, ErrorState);
  EXPECT_EQ(in_install("busy.txt"), MessageArgument);
  EXPECT_EQ(kStatusNotPlaced, status(1));
  EXPECT_EQ("old", read_whole_file(in_install("busy.txt")));
  // Only the backup of the first replacement, kept until the installation ends.
  std::vector<std::string> left = temp_files(kInstall);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(0u, left[0].find("busy.$~")) << left[0];
  keep_changes();
  EXPECT_FALSE(temp_files_left(kInstall));
}

// The journal's records of replacing `path`.
int replacements_noted(const std::string& path) {
  int n = 0;
  uint32_t position = 0;
  Change change;
  while (journal_next(&position, &change))
    n += change.kind == ChangeKind::kReplacedFile && _stricmp(change.path, path.c_str()) == 0;
  return n;
}

DWORD WINAPI close_later(void* lock) {
  Sleep(1500);
  CloseHandle(lock);
  return 0;
}

// Unattended, each retry of a file in use is the same replacement: one
// record and at most one backup, however often it is tried, and the
// rollback puts the old file back.
TEST_F(InstallItem, SilentRetriesOfAFileInUseKeepOneRecordOfItsReplacement) {
  Switches.mode = RunMode::kVerySilent;
  make_setup({"new"});
  CreateDirectoryA(kInstall, nullptr);
  std::string busy = in_install("busy.txt");
  ASSERT_TRUE(write_whole_file(busy, bytes_of("old")));
  install({item("busy.txt", 0), item("busy.txt", 0)});

  // Given up after every retry: the old file stays.
  HANDLE lock = lock_file(busy);
  EXPECT_EQ(0, install_next_item());
  CloseHandle(lock);
  EXPECT_EQ(22, ErrorState);
  EXPECT_EQ(1, replacements_noted(busy));
  EXPECT_FALSE(temp_files_left(kInstall));
  roll_back_changes();
  EXPECT_EQ("old", read_whole_file(busy));

  // Free by the second retry: replaced, and taken back by the rollback.
  lock = lock_file(busy);
  HANDLE closer = CreateThread(nullptr, 0, close_later, lock, 0, nullptr);
  EXPECT_EQ(1, install_next_item());
  WaitForSingleObject(closer, INFINITE);
  CloseHandle(closer);
  EXPECT_EQ("new", read_whole_file(busy));
  EXPECT_EQ(1, replacements_noted(busy));
  EXPECT_EQ(1u, temp_files(kInstall).size());  // the backup
  roll_back_changes();
  EXPECT_EQ("old", read_whole_file(busy));
  EXPECT_FALSE(temp_files_left(kInstall));
  Switches.mode = RunMode::kWizard;
}

std::string pending_renames() {
  HKEY key;
  std::string value;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_ALL_ACCESS,
                    &key) != ERROR_SUCCESS)
    return value;
  DWORD size = 0;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    value.resize(size);
    RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]), &size);
    for (char& c : value)
      if (c == '\0') c = '|';
  }
  RegDeleteValueA(key, "PendingFileRenameOperations");
  RegCloseKey(key);
  return value;
}

TEST_F(InstallItem, LockedFileInTheWindowsFolderIsReplacedAtTheNextStart) {
  make_setup({"new system file"});
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  std::string target = std::string(windows) + "\\kestrel_busy.txt";
  ASSERT_TRUE(write_whole_file(target, bytes_of("old")));
  HANDLE lock = lock_file(target);
  pending_renames();
  EntryFields e = item("kestrel_busy.txt", 0);
  e.folder_code = kFolderWindows;
  install({e});
  EXPECT_EQ(1, install_next_item());  // no question
  CloseHandle(lock);
  EXPECT_TRUE(RestartNeeded);
  EXPECT_EQ(kStatusReplaced, status(0));
  std::string pending = pending_renames();
  std::string temp = TempPath;
  EXPECT_EQ(0u, temp.find(std::string(windows) + "\\kestrel_busy.$")) << temp;
  EXPECT_NE(std::string::npos, pending.find(temp)) << pending;
  EXPECT_NE(std::string::npos, pending.find("kestrel_busy.txt")) << pending;
  EXPECT_TRUE(file_exists(temp));  // kept for the restart
  DeleteFileA(temp.c_str());
  DeleteFileA(target.c_str());
}

TEST_F(InstallItem, DeletionsOnThe95FamilyEachGetTheirOwnNulLine) {
  std::string wininit = wininit_path();
  DeleteFileA(wininit.c_str());
  CreateDirectoryA(kInstall, nullptr);
  std::string one = in_install("one.txt"), two = in_install("two.txt"), target = in_install("t.txt");
  for (const auto& p : {one, two, target}) ASSERT_TRUE(write_whole_file(p, bytes_of("x")));
  IsNtFamily = false;
  EXPECT_TRUE(replace_at_restart(nullptr, one.c_str()));
  EXPECT_TRUE(replace_at_restart(nullptr, two.c_str()));
  EXPECT_TRUE(replace_at_restart(target.c_str(), one.c_str()));
  IsNtFamily = true;
  char short_one[MAX_PATH], short_two[MAX_PATH], short_target[MAX_PATH];
  GetShortPathNameA(one.c_str(), short_one, MAX_PATH);
  GetShortPathNameA(two.c_str(), short_two, MAX_PATH);
  GetShortPathNameA(target.c_str(), short_target, MAX_PATH);
  std::string text = read_whole_file(wininit);
  EXPECT_NE(std::string::npos, text.find("[Rename]")) << text;
  EXPECT_NE(std::string::npos, text.find(std::string("NUL=") + short_one)) << text;
  EXPECT_NE(std::string::npos, text.find(std::string("NUL=") + short_two)) << text;
  EXPECT_NE(std::string::npos, text.find(std::string(short_target) + "=" + short_one)) << text;
  EXPECT_EQ(std::string::npos, text.find("xyz")) << text;
  DeleteFileA(wininit.c_str());
}

DWORD shared_count(const std::string& path) {
  HKEY key;
  DWORD count = 0, size = sizeof count;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return 0;
  if (RegQueryValueExA(key, path.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS)
    count = 0;
  RegCloseKey(key);
  return count;
}

TEST_F(InstallItem, SharedLibrariesCountTheirInstallationsAndFontsAreRegistered) {
  make_setup({"shared library", "font"});
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                                           0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  EntryFields shared = item("kestrel_shared.dll", 0);
  shared.folder_code = kFolderShared;
  shared.shared = 1;
  EntryFields unshared = item("sub\\plain.dll", 0);
  unshared.shared = 1;  // the installation folder keeps no counts
  EntryFields font = item("kestrel_face.fon", 1);
  font.folder_code = kFolderFonts;
  install({shared, shared, unshared, font});
  for (int i = 0; i < 4; ++i) ASSERT_EQ(1, install_next_item()) << i << " error " << ErrorState;
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string library = std::string(system) + "\\kestrel_shared.dll";
  EXPECT_EQ(2u, shared_count(library));
  EXPECT_EQ(0u, shared_count(in_install("sub\\plain.dll")));
  char fonts[MAX_PATH];
  SHGetSpecialFolderPathA(nullptr, fonts, CSIDL_FONTS, FALSE);
  std::string face = std::string(fonts) + "\\kestrel_face.fon";
  EXPECT_EQ((std::vector<std::string>{face}), RegisteredFonts);
  EXPECT_EQ("font", read_whole_file(face));
  HKEY shared_key;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, KEY_ALL_ACCESS,
                &shared_key);
  RegDeleteValueA(shared_key, library.c_str());
  RegCloseKey(shared_key);
  DeleteFileA(library.c_str());
  DeleteFileA(face.c_str());
}

// A library that some other program put there without a count keeps that
// user: its count starts at 2, and one uninstall leaves it in place.
TEST_F(InstallItem, ALibraryThatWasThereWithoutACountStartsAtTwo) {
  make_setup({"shared library"});
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                                           0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string library = std::string(system) + "\\kestrel_uncounted.dll";
  RegDeleteValueA(key, library.c_str());
  ASSERT_TRUE(write_whole_file(library, bytes_of("someone else's")));
  EntryFields shared = item("kestrel_uncounted.dll", 0);
  shared.folder_code = kFolderShared;
  shared.shared = 1;
  install({shared});
  ASSERT_EQ(1, install_next_item()) << "error " << ErrorState;
  EXPECT_EQ(kStatusReplaced, status(0));
  EXPECT_EQ(2u, shared_count(library));
  RegDeleteValueA(key, library.c_str());
  RegCloseKey(key);
  DeleteFileA(library.c_str());
}

TEST_F(InstallItem, FilesCopiedFromTheSourceFolderAndAMissingOneIsError1000) {
  make_setup({"unused"});
  ASSERT_TRUE(write_whole_file(std::string(kRoot) + "\\Source\\beside.txt", bytes_of("beside the setup")));
  SetFileAttributesA((std::string(kRoot) + "\\Source\\beside.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EntryFields copied = item("beside.txt", 0);
  copied.flags = kItemFromSource;
  copied.checksum = 0;  // copies are not verified
  EntryFields missing = copied;
  missing.strings[0] = "missing.txt";
  install({copied, missing});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ("beside the setup", read_whole_file(in_install("beside.txt")));
  EXPECT_EQ(0, _access(in_install("beside.txt").c_str(), 2));  // made writable
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(1000, ErrorState);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), SavedSystemError);
  EXPECT_STREQ("missing.txt", MessageArgument);
  EXPECT_FALSE(temp_files_left(kInstall));
  SetFileAttributesA((std::string(kRoot) + "\\Source\\beside.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InstallItem, PatchWhoseBaseFailsItsChecksumIsError21NamingThePatchedItem) {
  make_setup({"base version"});
  EntryFields base = item("base.txt", 0);
  base.checksum ^= 0x100;
  EntryFields patched = item("patched.txt", 0);
  patched.flags = kItemPatch;
  patched.entry_index = 0;
  install({base, patched});
  ++ItemIndex;  // the base entry is not installed itself here
  CurrentEntry = entry_at(list_, 1);
  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(21, ErrorState);
  EXPECT_EQ(in_install("patched.txt"), MessageArgument);
  EXPECT_FALSE(temp_files_left(kInstall));
}

TEST_F(InstallItem, PatchBlockLargerThanThePatchDataIsUnreadableDataNotAnAllocation) {
  // Sixteen bytes of patch data whose first block announces 4 GB, stored
  // and compressed: the setup file is damaged, and says so, rather than
  // asking for the memory first.
  const std::vector<std::vector<uint8_t>> hostile = {
      {kPatchLongSize, 0xF0, 0xFF, 0xFF, 0xFF},
      {kPatchCompressed | kPatchLongSize | kPatchLongCompressedSize, 0xF0, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}};
  for (std::vector<uint8_t> patch : hostile) {
    patch.resize(16, 0x80);
    source_.placements.clear();
    close_data_area();
    ASSERT_TRUE(
        write_setup_file(kSetup, kPrefix, {stored_stream(bytes_of("base version")), patch}, &source_.placements));
    ASSERT_TRUE(open_data_area(kSetup, kPrefix));
    source_.contents = {"base version", "new version!"};
    EntryFields patched = item("patched.txt", 1);
    patched.flags = kItemPatch;
    patched.entry_index = 0;
    install({item("base.txt", 0), patched});
    ++ItemIndex;  // the base entry is not installed itself here
    CurrentEntry = entry_at(list_, 1);
    EXPECT_EQ(0, install_next_item());
    EXPECT_EQ(kErrorDataUnreadable, ErrorState);
    EXPECT_STREQ(kSetup, MessageArgument);
    EXPECT_FALSE(file_exists(in_install("patched.txt")));
    EXPECT_FALSE(temp_files_left(kInstall));
  }
}

TEST_F(InstallItem, UninstallerIsThePrefixBlobFollowedByItsDataAndNeverListed) {
  make_setup({"-record-"});
  uint8_t blob[] = {'M', 'Z', 0, 1, 2, 3};
  ItemPrefixBlob = blob;
  ItemPrefixBlobLength = sizeof blob;
  EntryFields uninstaller = item("uninst.exe", 0);
  uninstaller.flags = kItemUninstaller;
  uninstaller.checksum = 0;  // not verified
  install({uninstaller});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(std::string("MZ\0\1\2\3-record-", 14), read_whole_file(in_install("uninst.exe")));
  EXPECT_EQ(in_install("uninst.exe"), UninstallerPath);
  EXPECT_EQ(0, status(0));
}

// The program image fits the drive, the data behind it does not: the
// installation fails with a full disk naming the uninstaller, and neither
// the uninstaller nor its temporary file stays.
TEST_F(InstallItem, UninstallerWhoseDataDoesNotFitBehindItsImageFailsWithAFullDisk) {
  std::string root = small_drive_root();
  if (root.empty()) GTEST_SKIP() << "no small drive was set up for this run";
  std::string folder = root + "KestrelImage";
  std::string filler = root + "filler.bin";
  CreateDirectoryA(folder.c_str(), nullptr);
  DWORD sectors = 0, sector_bytes = 0, free_clusters = 0, clusters = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA(root.c_str(), &sectors, &sector_bytes, &free_clusters, &clusters));
  uint32_t cluster = sectors * sector_bytes;
  ASSERT_GT(free_clusters, 1u);
  // Room for exactly one cluster: the image takes it whole.
  HANDLE fill = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, fill);
  std::vector<char> chunk(cluster, 'f');
  DWORD put = 0;
  for (DWORD n = 1; n < free_clusters; ++n) ASSERT_TRUE(WriteFile(fill, chunk.data(), cluster, &put, nullptr));
  CloseHandle(fill);
  std::vector<uint8_t> image(cluster, 'i');
  make_setup({"-record-"});
  ItemPrefixBlob = image.data();
  ItemPrefixBlobLength = cluster;
  copy_string(InstallDir, folder.c_str(), kPathSize);
  EntryFields uninstaller = item("uninst.exe", 0);
  uninstaller.flags = kItemUninstaller;
  install({uninstaller});

  EXPECT_EQ(0, install_next_item());
  EXPECT_EQ(kErrorDiskFull, ErrorState);
  EXPECT_EQ(folder + "\\uninst.exe", std::string(MessageArgument));
  EXPECT_FALSE(file_exists(folder + "\\uninst.exe"));
  EXPECT_FALSE(temp_files_left(folder));

  DeleteFileA(filler.c_str());
  remove_tree(folder);
}

TEST_F(InstallItem, NewerExistingVersionStaysSilentlyWhenItsQuestionIsEmpty) {
  make_setup({"older program"});
  CreateDirectoryA(kInstall, nullptr);
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string versioned = std::string(system) + "\\kernel32.dll";
  ASSERT_TRUE(CopyFileA(versioned.c_str(), in_install("lib.dll").c_str(), FALSE));
  std::string before = read_whole_file(in_install("lib.dll"));
  EntryFields older = item("lib.dll", 0);
  older.flags = kItemCompareVersion;
  older.version_ms = 0x00010000;  // 1.0, older than any system library
  EntryFields newer = older;
  newer.version_ms = 0xFFFF0000;
  install({older, newer});
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(0, status(0));
  EXPECT_EQ(before, read_whole_file(in_install("lib.dll")));
  EXPECT_EQ(1, install_next_item());
  EXPECT_EQ(kStatusReplaced, status(1));
  EXPECT_EQ("older program", read_whole_file(in_install("lib.dll")));
}

TEST_F(InstallItem, OtherLanguageAsksAndNoKeepsTheFile) {
  make_setup({"translated"});
  CreateDirectoryA(kInstall, nullptr);
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(CopyFileA((std::string(system) + "\\kernel32.dll").c_str(), in_install("lib.dll").c_str(), FALSE));
  EntryFields e = item("lib.dll", 0);
  e.flags = kItemCompareLanguage;
  e.language = 0x7FFF;  // no real language
  install({e});
  driver_.start({{IDNO, nullptr}});
  EXPECT_EQ(1, install_next_item());
  driver_.finish();
  ASSERT_EQ(1u, driver_.texts.size());
  EXPECT_EQ("Other language: " + in_install("lib.dll"), driver_.texts[0]);
  EXPECT_EQ(0, status(0));
  EXPECT_NE("translated", read_whole_file(in_install("lib.dll")));
}

TEST_F(InstallItem, FoldersAndSourceFilesGetTheirRolesAndDesktopShortcut) {
  make_setup({"x"});
  EntryFields folder;
  folder.kind = kKindFolder;
  folder.strings[0] = "Data\\";
  folder.finish_role = kRoleProgram;
  EntryFields above;
  above.kind = kKindFolder;
  above.strings[0] = "Only\\Above";
  EntryFields beside;
  beside.kind = kKindInSource;
  beside.strings[0] = "manual.txt";
  beside.finish_role = kRoleDocument;
  beside.strings[4] = "Kestrel Item Manual";
  install({folder, above, beside});
  for (int i = 0; i < 3; ++i) ASSERT_EQ(1, install_next_item()) << i;
  EXPECT_TRUE(GetFileAttributesA(in_install("Data").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(file_exists(in_install("Only")));
  EXPECT_FALSE(file_exists(in_install("Only\\Above")));
  EXPECT_EQ(entry_at(list_, 0), ProgramItem);
  EXPECT_EQ(entry_at(list_, 2), DocumentItem);
  char desktop[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE));
  std::string link = std::string(desktop) + "\\Kestrel Item Manual.lnk";
  EXPECT_TRUE(file_exists(link));
  DeleteFileA(link.c_str());
}

}  // namespace
