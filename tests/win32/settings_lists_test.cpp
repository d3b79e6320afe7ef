// INI entries, registry values, string patches and the remembered
// installation folder, against the real registry and real files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/destination.h"
#include "install/path_macros.h"
#include "install/settings_lists.h"
#include "tests/win32/registry_writes.h"

// Stand-in for the destination lookup: no FileList here, so every name is
// taken with its macros expanded.
bool resolve_target_file(const char* name) { return expand_macros(DestPath, name, kPathSize) < kPathSize; }

namespace {

const char kFolder[] = "C:\\KestrelSettings";
const char kIni[] = "C:\\KestrelSettings\\app.ini";
const char kKey[] = "Software\\Kestrel Tests\\Settings";

typedef std::vector<uint8_t> Bytes;

void put_string(Bytes* b, const std::string& s) {
  b->insert(b->end(), s.begin(), s.end());
  b->push_back(0);
}
void put_u32le(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
Bytes list_of(uint16_t count, const Bytes& records) {
  Bytes list = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
  list.insert(list.end(), records.begin(), records.end());
  return list;
}

void ini_record(Bytes* b, uint8_t flags, const std::string& file, const std::string& section, const std::string& key,
                const std::string& value) {
  b->push_back(flags);
  put_string(b, file);
  put_string(b, section);
  put_string(b, key);
  put_string(b, value);
}
void registry_record(Bytes* b, uint32_t root, uint8_t flags, const std::string& key, const std::string& name,
                     const std::string& value) {
  put_u32le(b, root);
  b->push_back(flags);
  put_string(b, key);
  put_string(b, name);
  put_string(b, value);
}
void patch_record(Bytes* b, int32_t offset, const std::string& file, const std::string& text,
                  const std::string& pattern) {
  put_u32le(b, static_cast<uint32_t>(offset));
  put_u32le(b, static_cast<uint32_t>(pattern.size()));
  b->insert(b->end(), 5, 0xEE);  // not read
  put_string(b, file);
  put_string(b, text);
  b->insert(b->end(), pattern.begin(), pattern.end());
}

std::string ini_value(const char* section, const char* key) {
  char value[256];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, kIni);
  return value;
}

void set_registry_text(HKEY root, const char* key_path, const char* name, const char* text, DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, key_path, &key));
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
  RegCloseKey(key);
}

std::string read_file(const char* path) {
  std::string bytes;
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<none>";
  char chunk[4096];
  DWORD got;
  while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
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

// Filler that holds no byte of the patterns used here.
std::string filler(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 7);
  return s;
}

class SettingsLists : public ::testing::Test {
 protected:
  Bytes lists[3];
  char folder[kPathSize] = "";

  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    DeleteFileA(kIni);
    SetupTypeTable[0] = SetupTypeSlot();
    SetupTypeTable[0].folder = folder;
    SetupTypeCount = 1;
    CurrentSetupType = -1;
    select_setup_type(0);
    copy_string(InstallDir, "C:\\Apps\\Kestrel", kPathSize);
  }
  void TearDown() override {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) RegDeleteKeyA(root, kKey);
    RegDeleteKeyA(HKEY_USERS, ".DEFAULT\\Software\\Kestrel Tests\\Settings");
    DeleteFileA(kIni);
  }
  void use(EntryListKind kind, uint16_t count, const Bytes& records) {
    lists[kind] = list_of(count, records);
    SetupTypeTable[0].entry_lists[kind] = lists[kind].data();
    SetupTypeTable[0].entry_list_lengths[kind] = static_cast<uint32_t>(lists[kind].size());
  }
};

TEST_F(SettingsLists, IniValuesAreExpandedAndKeptOnlyWhenAskedAndNotEmpty) {
  WritePrivateProfileStringA("Paths", "Kept", "old", kIni);
  WritePrivateProfileStringA("Paths", "Empty", "", kIni);
  WritePrivateProfileStringA("Paths", "Replaced", "old", kIni);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, kIni);
  Bytes r;
  ini_record(&r, 1, kIni, "Paths", "Kept", "new");
  ini_record(&r, 1, kIni, "Paths", "Empty", "filled");
  ini_record(&r, 0, kIni, "Paths", "Replaced", "#InstallDir#\\bin");
  ini_record(&r, 1, "C:\\KestrelSettings\\#nothing#app.ini", "Other", "Fresh", "x#y");
  use(kIniList, 4, r);
  write_ini_entries();
  EXPECT_EQ("old", ini_value("Paths", "Kept"));
  EXPECT_EQ("filled", ini_value("Paths", "Empty"));
  EXPECT_EQ("C:\\Apps\\Kestrel\\bin", ini_value("Paths", "Replaced"));
  EXPECT_EQ("x#y", ini_value("Other", "Fresh"));  // the file name was expanded too
}

TEST_F(SettingsLists, ACountBeyondTheRecordsStopsAtTheLastOne) {
  Bytes r;
  ini_record(&r, 0, kIni, "S", "One", "1");
  use(kIniList, 5, r);  // a damaged count must not read past the list
  write_ini_entries();
  EXPECT_EQ("1", ini_value("S", "One"));
}

TEST_F(SettingsLists, RegistryValuesGoUnderTheirRootWithoutTerminator) {
  Bytes r;
  registry_record(&r, 1, 0, kKey, "User", "#InstallDir#");
  registry_record(&r, 2, 0, kKey, "Machine", "m");
  registry_record(&r, 0, 0, kKey, "Classes", "c");
  registry_record(&r, 3, 0, ".DEFAULT\\Software\\Kestrel Tests\\Settings", "Users", "u");
  registry_record(&r, 7, 0, kKey, "Seven", "7");
  registry_record(&r, 99, 0, kKey, "", "default");
  registry_record(&r, 1, 0, kKey, "Empty", "");
  use(kRegistryList, 7, r);
  RegistryWrites.clear();
  write_registry_entries();
  // Each text is handed over without its terminator; the registry adds
  // one where a zero follows, so only the empty text is stored without.
  EXPECT_EQ("C:\\Apps\\Kestrel", written_value("User"));
  EXPECT_EQ("m", written_value("Machine"));
  EXPECT_EQ("default", written_value(""));
  EXPECT_EQ("", written_value("Empty"));
  EXPECT_EQ("", stored_value(HKEY_CURRENT_USER, kKey, "Empty"));
  DWORD type = 0;
  EXPECT_EQ(with_terminator("C:\\Apps\\Kestrel"), stored_value(HKEY_CURRENT_USER, kKey, "User", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(with_terminator("m"), stored_value(HKEY_LOCAL_MACHINE, kKey, "Machine"));
  EXPECT_EQ("<none>", stored_value(HKEY_CURRENT_USER, kKey, "Machine"));
  EXPECT_EQ(with_terminator("c"), stored_value(HKEY_CLASSES_ROOT, kKey, "Classes"));
  EXPECT_EQ(with_terminator("u"), stored_value(HKEY_USERS, ".DEFAULT\\Software\\Kestrel Tests\\Settings", "Users"));
  EXPECT_EQ(with_terminator("7"), stored_value(HKEY_CURRENT_USER, kKey, "Seven"));
  EXPECT_EQ(with_terminator("default"), stored_value(HKEY_CURRENT_USER, kKey, ""));
}

TEST_F(SettingsLists, RegistryKeepFlagKeepsOnlyAValueThatHoldsSomething) {
  set_registry_text(HKEY_CURRENT_USER, kKey, "Kept", "old", 4);
  set_registry_text(HKEY_CURRENT_USER, kKey, "Terminator", "", 1);
  set_registry_text(HKEY_CURRENT_USER, kKey, "Nothing", "", 0);
  set_registry_text(HKEY_CURRENT_USER, kKey, "Plain", "old", 4);
  std::string long_value(400, 'L');
  set_registry_text(HKEY_CURRENT_USER, kKey, "Long", long_value.c_str(), 401);
  Bytes r;
  registry_record(&r, 1, 1, kKey, "Kept", "new");
  registry_record(&r, 1, 1, kKey, "Terminator", "new");
  registry_record(&r, 1, 1, kKey, "Nothing", "new");
  registry_record(&r, 1, 0, kKey, "Plain", "new");
  registry_record(&r, 1, 1, kKey, "Long", "new");
  registry_record(&r, 1, 1, kKey, "Missing", "new");
  use(kRegistryList, 6, r);
  write_registry_entries();
  EXPECT_EQ(with_terminator("old"), stored_value(HKEY_CURRENT_USER, kKey, "Kept"));
  EXPECT_EQ(with_terminator("new"), stored_value(HKEY_CURRENT_USER, kKey, "Terminator"));
  EXPECT_EQ(with_terminator("new"), stored_value(HKEY_CURRENT_USER, kKey, "Nothing"));
  EXPECT_EQ(with_terminator("new"), stored_value(HKEY_CURRENT_USER, kKey, "Plain"));
  EXPECT_EQ(with_terminator(long_value), stored_value(HKEY_CURRENT_USER, kKey, "Long"));
  EXPECT_EQ(with_terminator("new"), stored_value(HKEY_CURRENT_USER, kKey, "Missing"));
}

TEST_F(SettingsLists, PatchAtAnOffsetOverwritesAndGrowsOnlyPastTheEnd) {
  const char* inner = "C:\\KestrelSettings\\inner.bin";
  const char* shorter = "C:\\KestrelSettings\\short.bin";
  write_file(inner, filler(200));
  write_file(shorter, filler(50));
  Bytes r;
  patch_record(&r, 10, inner, "#InstallDir#", "");
  patch_record(&r, 100, shorter, "TEXT", "unused");
  use(kStringPatchList, 2, r);
  apply_string_patches();
  std::string expected = filler(200);
  expected.replace(10, 15, "C:\\Apps\\Kestrel");
  EXPECT_EQ(expected, read_file(inner));
  std::string grown = read_file(shorter);
  ASSERT_EQ(104u, grown.size());
  EXPECT_EQ(filler(50), grown.substr(0, 50));
  EXPECT_EQ("TEXT", grown.substr(100));
  DeleteFileA(inner);
  DeleteFileA(shorter);
}

TEST_F(SettingsLists, PatternIsFoundAcrossTheReadBoundariesAndTheTextFollowsIt) {
  const char* path = "C:\\KestrelSettings\\big.bin";
  // (pattern start, file length): across the first 16 KiB boundary, across
  // the second window's boundary, straddling the last short read, at the end.
  const size_t cases[][2] = {{16380, 100000}, {49150, 100000}, {98300, 100000}, {99990, 100000}, {0, 10}};
  for (const auto& c : cases) {
    std::string content = filler(c[1]);
    content.replace(c[0], 10, "@@MARKER@@");
    write_file(path, content);
    Bytes r;
    patch_record(&r, -1, path, "XYZ", "@@MARKER@@");
    use(kStringPatchList, 1, r);
    apply_string_patches();
    std::string expected = content;
    size_t at = c[0] + 10;
    if (at + 3 > expected.size()) expected.resize(at + 3);
    expected.replace(at, 3, "XYZ");
    EXPECT_EQ(expected, read_file(path)) << "pattern at " << c[0] << " in " << c[1];
  }
  DeleteFileA(path);
}

TEST_F(SettingsLists, OnlyTheFirstOccurrenceIsPatched) {
  const char* path = "C:\\KestrelSettings\\twice.bin";
  std::string content = filler(40000);
  content.replace(20000, 4, "PATT");
  content.replace(30000, 4, "PATT");
  write_file(path, content);
  Bytes r;
  patch_record(&r, -1, path, "12", "PATT");
  use(kStringPatchList, 1, r);
  apply_string_patches();
  std::string expected = content;
  expected.replace(20004, 2, "12");
  EXPECT_EQ(expected, read_file(path));
  DeleteFileA(path);
}

TEST_F(SettingsLists, PatchesThatMustChangeNothing) {
  const char* path = "C:\\KestrelSettings\\same.bin";
  std::string content = filler(20000);
  content.replace(500, 4, "PATT");
  write_file(path, content);
  Bytes r;
  patch_record(&r, -1, path, "#nothing#", "PATT");                 // empty after expansion
  patch_record(&r, -1, path, "text", "ABSENT");                    // pattern not in the file
  patch_record(&r, -1, path, "text", "");                          // no pattern to look for
  patch_record(&r, -5, path, "text", "");                          // an offset that names no place
  patch_record(&r, -1, path, "text", std::string(16385, 'a'));     // longer than a half window
  patch_record(&r, 0, "C:\\KestrelSettings\\missing.bin", "text", "");  // no such file
  use(kStringPatchList, 6, r);
  apply_string_patches();
  EXPECT_EQ(content, read_file(path));
  EXPECT_EQ("<none>", read_file("C:\\KestrelSettings\\missing.bin"));
  DeleteFileA(path);
}

TEST_F(SettingsLists, InstallDirIsRememberedInTheRegistryAndAnIniFile) {
  SetupTypeRecord& record = SetupTypeTable[0].record;
  record.root_key = 2;
  record.registry_key = kKey;
  record.registry_value = "Folder";
  record.ini_file = kIni;
  record.ini_section = "Setup";
  record.ini_key = "Folder";
  record.flags = 0;
  remember_install_dir();
  EXPECT_EQ("<none>", stored_value(HKEY_LOCAL_MACHINE, kKey, "Folder"));
  EXPECT_EQ("<none>", ini_value("Setup", "Folder"));

  record.flags = kTypeRememberInRegistry | kTypeRememberInIni;
  RegistryWrites.clear();
  remember_install_dir();
  // The folder is handed over with its terminator.
  EXPECT_EQ(with_terminator("C:\\Apps\\Kestrel"), written_value("Folder"));
  EXPECT_EQ(with_terminator("C:\\Apps\\Kestrel"), stored_value(HKEY_LOCAL_MACHINE, kKey, "Folder"));
  EXPECT_EQ("C:\\Apps\\Kestrel", ini_value("Setup", "Folder"));

  // Without an INI key nothing goes into the file.
  DeleteFileA(kIni);
  record.ini_key = nullptr;
  remember_install_dir();
  EXPECT_EQ("<none>", read_file(kIni));
}

}  // namespace
