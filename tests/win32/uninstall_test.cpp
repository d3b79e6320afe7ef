// The uninstaller as a setup leaves it: a copy of the stamped program with
// an installation record written byte by byte behind it, in a folder with
// files, a sub folder, shared libraries, a font, shortcuts and an Uninstall
// key. It is run with /X, as a setup runs it, and what is left is checked.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const char kSharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel Uninstall Test";
const char kFontValue[] = "Kestrel Uninstall Test (TrueType)";
const char kOtherFontValue[] = "Kestrel Uninstall Other (TrueType)";

// The build puts the stamped uninstaller two folders above the test
// programs; an x86-64 test build runs the x86-64 one beside the shipped one.
std::string stamped_uninstaller() {
#ifdef _WIN64
  const char kStamped[] = "\\..\\..\\share\\kestrel\\x86-64\\kestrel-uninstall.exe";
#else
  const char kStamped[] = "\\..\\..\\share\\kestrel\\kestrel-uninstall.exe";
#endif
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string own(path, n);
  return own.substr(0, own.rfind('\\')) + kStamped;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(in, nullptr));
  DWORD got = 0;
  if (!ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size())
    bytes.clear();
  CloseHandle(in);
  return bytes;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, out) << path;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(bytes.size(), written);
  CloseHandle(out);
}

void write_text(const std::string& path, const char* text) {
  write_file(path, std::vector<uint8_t>(text, text + lstrlenA(text)));
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A record as the setup appends it: little-endian, counted strings.
struct Record {
  std::vector<uint8_t> bytes;
  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) { u8(v & 0xFF); u8(v >> 8); }
  void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
  void text(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  void block(uint16_t id, const Record& payload) {
    u16(id);
    u16(0);
    u32(static_cast<uint32_t>(payload.bytes.size()));
    bytes.insert(bytes.end(), payload.bytes.begin(), payload.bytes.end());
  }
};

struct Removed {
  const char* folder;
  std::string name;
  uint8_t flags;
};

void set_dword(const char* key_path, const std::string& name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
  RegCloseKey(key);
}

void set_text(HKEY root, const char* key_path, const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, key_path, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(value.c_str()),
                                          static_cast<DWORD>(value.size())));
  RegCloseKey(key);
}

// The count, or -1 when the value is missing.
long shared_count(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
  DWORD value = 0, size = 4, type = 0;
  LONG r = RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? static_cast<long>(value) : -1;
}

bool has_value(const char* key_path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  LONG r = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool has_key(const char* key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void remove_tree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// An installed product: App (the installation folder, with the
// uninstaller), System (shared libraries, recorded by absolute folder),
// Desktop (a desktop shortcut), Fonts, and a group in the Programs menu.
class Installation : public ::testing::Test {
 protected:
  std::string root, app, system, desktop, fonts, menu_group, uninstaller;

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root = std::string(temp) + "kestrel-uninstall-" + std::to_string(GetCurrentProcessId());
    app = root + "\\App";
    system = root + "\\System";
    desktop = root + "\\Desktop";
    fonts = root + "\\Fonts";
    char programs[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE));
    menu_group = std::string(programs) + "\\Kestrel Uninstall Test";
    uninstaller = app + "\\uninst.exe";
    for (const std::string& folder : {root, app, app + "\\sub", app + "\\docs", app + "\\docs\\en",
                                      app + "\\empty", system, desktop, fonts, menu_group})
      ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    for (const std::string& file : {app + "\\app.exe", app + "\\readme.txt", app + "\\sub\\data.txt",
                                    app + "\\docs\\en\\guide.txt", system + "\\two.dll", system + "\\one.dll",
                                    system + "\\other.dll", desktop + "\\App.lnk", fonts + "\\kut.ttf",
                                    menu_group + "\\App.lnk"})
      write_text(file, "installed");
    // What the user made after the installation, and what the record does
    // not name.
    write_text(app + "\\notes.txt", "mine");
    write_text(app + "\\sub\\user.txt", "mine");
    // The setup keeps installed read-only files read-only.
    SetFileAttributesA((app + "\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    set_dword(kSharedKey, system + "\\two.dll", 2);
    set_dword(kSharedKey, system + "\\one.dll", 1);
    set_dword(kSharedKey, system + "\\other.dll", 1);
    set_text(HKEY_LOCAL_MACHINE, kFontsKey, kFontValue, "kut.ttf");
    set_text(HKEY_LOCAL_MACHINE, kFontsKey, kOtherFontValue, "kut-other.ttf");
    set_text(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "Kestrel Uninstall Test");
  }

  void TearDown() override {
    // The uninstaller's working copy marks the record after the installed
    // program has ended, holding the file open until then: the next test
    // would find this one's folder.
    for (int i = 0; i < 100 && GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
      remove_tree(root);
      if (GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(100);
    }
    remove_tree(menu_group);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      for (const char* name : {"two.dll", "one.dll", "other.dll"}) RegDeleteValueA(key, (system + "\\" + name).c_str());
      RegCloseKey(key);
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, kFontValue);
      RegDeleteValueA(key, kOtherFontValue);
      RegCloseKey(key);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  }

  // The record of this installation, with one uninstall key path.
  Record record(const std::string& key_path) const {
    std::vector<Removed> removed = {
        {".", "app.exe", 0},
        {".", "readme.txt", 0},
        {".\\sub", "", 0},  // the folder item sub\ (it holds the user's file)
        {".\\sub", "data.txt", 0},
        {".\\docs\\en", "guide.txt", 0},
        {".\\empty", "", 0},  // the folder item empty\ (it holds nothing)
        {nullptr, system + "\\two.dll", 0x01},
        {nullptr, system + "\\one.dll", 0x01 | 0x04},
        {nullptr, fonts + "\\kut.ttf", 0x02},
        {nullptr, desktop + "\\App.lnk", 0},
    };
    Record files;
    files.u32(static_cast<uint32_t>(removed.size()));
    for (const Removed& r : removed) {
      if (r.folder) {
        files.text(r.folder);
        files.text(r.name);
      } else {
        files.text(r.name.substr(0, r.name.rfind('\\')));
        files.text(r.name.substr(r.name.rfind('\\') + 1));
      }
      files.u8(r.flags);
    }
    Record shortcuts;
    shortcuts.u32(1);
    shortcuts.text(menu_group);
    shortcuts.text("App.lnk");
    Record key;
    key.u32(0x80000002);
    key.text(key_path);
    Record chain;
    chain.block(0x1235, files);
    chain.block(0x1236, shortcuts);
    chain.block(0x1238, key);
    chain.block(0x7F7F, Record());
    return chain;
  }

  // The installed uninstaller: the stamped image, then the record.
  void install_uninstaller(const std::vector<uint8_t>& record_bytes) {
    std::vector<uint8_t> image = read_file(stamped_uninstaller());
    ASSERT_GT(image.size(), 1024u) << stamped_uninstaller();
    image.insert(image.end(), record_bytes.begin(), record_bytes.end());
    write_file(uninstaller, image);
  }

  // Runs the uninstaller the way a setup does and answers its exit code.
  DWORD run_quietly() const {
    std::string command = "\"" + uninstaller + "\" /X";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      ADD_FAILURE() << "cannot start " << command;
      return 0xFFFF;
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
    DWORD code = 0xFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  void expect_untouched() const {
    for (const std::string& file : {app + "\\app.exe", app + "\\readme.txt", app + "\\sub\\data.txt",
                                    app + "\\docs\\en\\guide.txt", system + "\\two.dll", system + "\\one.dll",
                                    fonts + "\\kut.ttf", desktop + "\\App.lnk", menu_group + "\\App.lnk",
                                    app + "\\empty", app + "\\notes.txt", app + "\\sub\\user.txt"})
      EXPECT_TRUE(exists(file)) << file;
    EXPECT_EQ(2, shared_count(system + "\\two.dll"));
    EXPECT_EQ(1, shared_count(system + "\\one.dll"));
    EXPECT_TRUE(has_value(kFontsKey, kFontValue));
    EXPECT_TRUE(has_key(kUninstallKey));
  }
};

TEST_F(Installation, RemovesExactlyWhatTheRecordNames) {
  install_uninstaller(record(kUninstallKey).bytes);
  EXPECT_EQ(0u, run_quietly());

  for (const std::string& gone : {app + "\\app.exe", app + "\\readme.txt", app + "\\sub\\data.txt",
                                  app + "\\docs\\en\\guide.txt", app + "\\docs\\en", app + "\\docs",
                                  app + "\\empty", system + "\\one.dll", fonts + "\\kut.ttf",
                                  desktop + "\\App.lnk", menu_group + "\\App.lnk", menu_group})
    EXPECT_FALSE(exists(gone)) << gone;
  // The user's files keep their folders; the uninstaller's own file is left
  // to the setup that started it, and so is the installation folder.
  for (const std::string& kept : {app + "\\notes.txt", app + "\\sub\\user.txt", app + "\\sub", uninstaller,
                                  system + "\\two.dll", system + "\\other.dll", system, desktop})
    EXPECT_TRUE(exists(kept)) << kept;
  EXPECT_EQ(1, shared_count(system + "\\two.dll"));
  EXPECT_EQ(-1, shared_count(system + "\\one.dll"));
  EXPECT_EQ(1, shared_count(system + "\\other.dll"));
  EXPECT_FALSE(has_value(kFontsKey, kFontValue));
  EXPECT_TRUE(has_value(kFontsKey, kOtherFontValue));
  EXPECT_FALSE(has_key(kUninstallKey));
}

// The uninstaller marks its record carried out, so that a second run, as a
// setup may make when it could not delete the uninstaller, takes no
// library's count a second time and deletes no file the user made since.
TEST_F(Installation, ASecondRunRemovesNothingTwice) {
  install_uninstaller(record(kUninstallKey).bytes);
  size_t image_size = read_file(stamped_uninstaller()).size();
  EXPECT_EQ(0u, run_quietly());
  EXPECT_EQ(1, shared_count(system + "\\two.dll"));
  // The working copy marks the record once the installed program has ended.
  std::vector<uint8_t> marked;
  for (int i = 0; i < 100; ++i) {
    marked = read_file(uninstaller);
    if (marked.size() > image_size + 1 && marked[image_size + 1] == 0x92) break;
    Sleep(100);
  }
  ASSERT_GT(marked.size(), image_size + 1);
  EXPECT_EQ(0x35, marked[image_size]);
  EXPECT_EQ(0x92, marked[image_size + 1]);  // 0x1235 became 0x9235
  write_text(app + "\\app.exe", "the user's since");
  EXPECT_EQ(0u, run_quietly());
  EXPECT_EQ(1, shared_count(system + "\\two.dll"));
  EXPECT_TRUE(exists(system + "\\two.dll"));
  EXPECT_TRUE(exists(app + "\\app.exe"));
}

// The turn of an installed uninstaller ("KestrelUninstall:" and its path,
// letters folded and backslashes turned into slashes) is held by another
// run's working copy between its removal and its mark, or by a setup
// reading the record: however long that takes, a run does not go on
// without the turn, and once it has the turn it removes the installation.
TEST_F(Installation, ARunWaitsForTheTurnHoweverLongItIsHeld) {
  install_uninstaller(record(kUninstallKey).bytes);
  std::string name = "KestrelUninstall:";
  for (char c : uninstaller) name += c == '\\' ? '/' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  HANDLE turn = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(nullptr, turn);
  std::string command = "\"" + uninstaller + "\" /X";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  // Longer than the two minutes after which it used to go on regardless
  // (a minute for the installed program, another for its working copy).
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.hProcess, 130000));
  expect_untouched();
  ReleaseMutex(turn);
  CloseHandle(turn);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.hProcess, 60000));
  DWORD code = 0xFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(0u, code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_FALSE(exists(app + "\\app.exe"));
  EXPECT_FALSE(has_key(kUninstallKey));
}

// A virus scanner or an indexer may still hold the installed uninstaller
// for a moment after it ends: the mark waits for it rather than being lost.
TEST_F(Installation, TheMarkWaitsForAnotherReaderOfTheFile) {
  install_uninstaller(record(kUninstallKey).bytes);
  size_t image_size = read_file(stamped_uninstaller()).size();
  HANDLE reader = CreateFileA(uninstaller.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(0u, run_quietly());
  Sleep(1500);
  CloseHandle(reader);
  std::vector<uint8_t> marked;
  for (int i = 0; i < 100; ++i) {
    Sleep(100);
    marked = read_file(uninstaller);
    if (marked.size() > image_size + 1 && marked[image_size + 1] == 0x92) break;
  }
  ASSERT_GT(marked.size(), image_size + 1);
  EXPECT_EQ(0x92, marked[image_size + 1]);
}

// Stands in for a virus scanner: it opens each program file that appears
// in its folder, without sharing, as soon as it can, and holds it for a
// moment, so that nobody can write or start it meanwhile.
class Scanner {
 public:
  explicit Scanner(const std::string& folder) : folder_(folder) {
    thread_ = CreateThread(nullptr, 0, &Scanner::run, this, 0, nullptr);
  }
  ~Scanner() { finish(); }
  // Lets every file go and answers how many it held.
  int finish() {
    if (thread_) {
      stop_ = true;
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
    return held_;
  }

 private:
  enum : DWORD { kHoldMs = 1500 };
  struct Hold {
    HANDLE file;
    DWORD since;
  };

  static DWORD WINAPI run(void* self) {
    static_cast<Scanner*>(self)->scan();
    return 0;
  }

  void scan() {
    std::vector<std::string> seen;
    std::vector<Hold> holds;
    while (!stop_) {
      WIN32_FIND_DATAA found;
      HANDLE search = FindFirstFileA((folder_ + "\\*.exe").c_str(), &found);
      if (search != INVALID_HANDLE_VALUE) {
        do {
          std::string name = found.cFileName;
          bool known = false;
          for (const std::string& s : seen) known = known || s == name;
          if (known) continue;
          HANDLE file = CreateFileA((folder_ + "\\" + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
          if (file == INVALID_HANDLE_VALUE) continue;  // still being written: again at once
          seen.push_back(name);
          holds.push_back(Hold{file, GetTickCount()});
          ++held_;
        } while (FindNextFileA(search, &found));
        FindClose(search);
      }
      for (size_t i = 0; i < holds.size();) {
        if (GetTickCount() - holds[i].since < kHoldMs) {
          ++i;
          continue;
        }
        CloseHandle(holds[i].file);
        holds.erase(holds.begin() + i);
      }
    }
    for (const Hold& hold : holds) CloseHandle(hold.file);
  }

  std::string folder_;
  HANDLE thread_ = nullptr;
  volatile bool stop_ = false;
  int held_ = 0;  // read once the thread has ended
};

// The working copy is written to the temporary folder and started from
// there, where a virus scanner looks at every new program: the uninstaller
// waits for the scanner rather than giving up with nothing removed.
TEST_F(Installation, AScannerHoldingTheWorkingCopyOnlyDelaysIt) {
  install_uninstaller(record(kUninstallKey).bytes);
  std::string temp = root + "\\Temp";
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  char saved_tmp[MAX_PATH] = "", saved_temp[MAX_PATH] = "";
  GetEnvironmentVariableA("TMP", saved_tmp, MAX_PATH);
  GetEnvironmentVariableA("TEMP", saved_temp, MAX_PATH);
  SetEnvironmentVariableA("TMP", temp.c_str());
  SetEnvironmentVariableA("TEMP", temp.c_str());
  Scanner scanner(temp);
  DWORD code = run_quietly();
  int held = scanner.finish();
  SetEnvironmentVariableA("TMP", saved_tmp[0] ? saved_tmp : nullptr);
  SetEnvironmentVariableA("TEMP", saved_temp[0] ? saved_temp : nullptr);
  EXPECT_GE(held, 1);
  EXPECT_EQ(0u, code);
  EXPECT_FALSE(exists(app + "\\app.exe"));
  EXPECT_FALSE(has_key(kUninstallKey));
  // The copy that ran deletes itself and its batch once it has ended, and
  // nothing is left from the tries that the scanner stopped: the folder,
  // which goes only when empty and no longer in use, can be removed.
  bool removed = false;
  for (int i = 0; i < 300 && !removed; ++i) {
    removed = RemoveDirectoryA(temp.c_str()) != 0;
    if (!removed) Sleep(100);
  }
  EXPECT_TRUE(removed);
}

// The earlier installations' files merged into one list (block 0x1255),
// with each earlier installation's other blocks and an empty RemoveList:
// they go with the newest installation's, and a shared library's count is
// lowered once for each installation that the list counts.
TEST_F(Installation, RemovesTheMergedFilesOfEarlierInstallations) {
  write_text(app + "\\old.txt", "installed");
  set_dword(kSharedKey, system + "\\two.dll", 3);  // this installation and two earlier ones
  Record chain = record(kUninstallKey);
  chain.bytes.resize(chain.bytes.size() - 8);  // its end block follows the earlier installations
  Record empty_list, earlier, merged;
  empty_list.u32(0);
  earlier.block(0x1235, empty_list);
  earlier.block(0x7F7F, Record());
  chain.block(0x1252, earlier);
  merged.u32(2);
  merged.text(".");
  merged.text("old.txt");
  merged.u8(0);
  merged.text(system);
  merged.text("two.dll");
  merged.u8(0x01);
  merged.u32(2);
  chain.block(0x1255, merged);
  chain.block(0x7F7F, Record());
  install_uninstaller(chain.bytes);
  EXPECT_EQ(0u, run_quietly());
  EXPECT_FALSE(exists(app + "\\old.txt"));
  EXPECT_FALSE(exists(system + "\\two.dll"));
  EXPECT_EQ(-1, shared_count(system + "\\two.dll"));
  EXPECT_EQ(1, shared_count(system + "\\other.dll"));
}

// A record that cannot be trusted whole is not acted on at all.
TEST_F(Installation, DamagedOrMissingRecordRemovesNothing) {
  std::vector<uint8_t> sound = record(kUninstallKey).bytes;
  std::vector<uint8_t> truncated(sound.begin(), sound.end() - 8);  // no end block
  std::vector<uint8_t> outside = record("Software\\Microsoft").bytes;  // a key not the setup's
  std::vector<uint8_t> placeholder(8, 0);                             // the setup never wrote one
  struct Case {
    const char* what;
    const std::vector<uint8_t>* bytes;
  };
  for (const Case& c : {Case{"truncated", &truncated}, Case{"outside key", &outside},
                        Case{"placeholder", &placeholder}}) {
    SCOPED_TRACE(c.what);
    install_uninstaller(*c.bytes);
    EXPECT_EQ(1603u, run_quietly());
    expect_untouched();
  }
}

}  // namespace
