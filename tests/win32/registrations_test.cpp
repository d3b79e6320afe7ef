// Fonts, self-registration, default values and opening documents, against
// the real registry, real font files and real processes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/destination.h"
#include "install/document_opener.h"
#include "install/engine.h"
#include "install/registrations.h"
#include "tests/win32/file_entries.h"
#include "tests/win32/registry_writes.h"

namespace {

const char kFolder[] = "C:\\KestrelReg";
const char kRecordFile[] = "C:\\KestrelReg\\command.txt";
const char kRecordSwitch[] = "--kestrel-record-command";
const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// Started by open_document's fallback as the registered open command: writes
// the command line it was given and ends before the tests run.
struct RecordCommandLine {
  RecordCommandLine() {
    const char* line = GetCommandLineA();
    if (!strstr(line, kRecordSwitch)) return;
    HANDLE f = CreateFileA(kRecordFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put;
    WriteFile(f, line, static_cast<DWORD>(strlen(line)), &put, nullptr);
    CloseHandle(f);
    ExitProcess(0);
  }
} record_command_line;

int registrations_called = 0;

}  // namespace

// This program exports DllRegisterServer itself, so that loading it as the
// library of an item shows whether the routine was called.
// Without arguments its calling convention does not matter; plain C keeps
// the exported name undecorated.
extern "C" __declspec(dllexport) HRESULT DllRegisterServer() {
  ++registrations_called;
  return S_OK;
}

// Stand-in for the destination lookup: the name is the path.
int item_destination(const uint8_t* entry) {
  copy_string(DestPath, entry_string(entry, 0), sizeof DestPath);
  return 0;
}

namespace {

typedef std::vector<uint8_t> Bytes;

void be16(Bytes* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
void be32(Bytes* b, uint32_t v) {
  be16(b, static_cast<uint16_t>(v >> 16));
  be16(b, static_cast<uint16_t>(v));
}

struct FontName {
  uint16_t platform, name_id;
  std::string text;
};

// A file with TrueType's table directory and a name table, but no glyphs:
// enough for the name lookup. The name table is record `name_at` of
// `tables` records (the others are dummies).
Bytes synthetic_font(const std::vector<FontName>& names, uint16_t tables = 3, uint16_t name_at = 1) {
  uint32_t name_offset = 12 + 16u * tables;
  Bytes f;
  be32(&f, 0x00010000);
  be16(&f, tables);
  be16(&f, 0);
  be16(&f, 0);
  be16(&f, 0);
  for (uint16_t i = 0; i < tables; ++i) {
    const char* tag = i == name_at ? "name" : "dumy";
    f.insert(f.end(), tag, tag + 4);
    be32(&f, 0);
    be32(&f, i == name_at ? name_offset : 0);
    be32(&f, 0);
  }
  be16(&f, 0);
  be16(&f, static_cast<uint16_t>(names.size()));
  be16(&f, static_cast<uint16_t>(6 + 12 * names.size()));
  uint16_t at = 0;
  for (const FontName& n : names) {
    be16(&f, n.platform);
    be16(&f, 0);
    be16(&f, 0);
    be16(&f, n.name_id);
    be16(&f, static_cast<uint16_t>(n.text.size()));
    be16(&f, at);
    at = static_cast<uint16_t>(at + n.text.size());
  }
  for (const FontName& n : names) f.insert(f.end(), n.text.begin(), n.text.end());
  return f;
}

void write_file(const std::string& path, const Bytes& bytes) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  DWORD put;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(f);
}

std::string read_file(const char* path) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<none>";
  char data[2048];
  DWORD got = 0;
  ReadFile(f, data, sizeof data, &got, nullptr);
  CloseHandle(f);
  return std::string(data, got);
}

// The Fonts value of that name exactly as stored, or "<none>".
std::string fonts_value(const std::string& name) {
  DWORD type = 0;
  std::string data = stored_value(HKEY_LOCAL_MACHINE, kFontsKey, name.c_str(), &type);
  return type == REG_SZ ? data : "<none>";
}

void delete_fonts_value(const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name.c_str());
  RegCloseKey(key);
}

int font_changes = 0;

LRESULT CALLBACK count_font_changes(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_FONTCHANGE) ++font_changes;
  return DefWindowProcA(window, message, wparam, lparam);
}

// A hidden top-level window of this thread, so the WM_FONTCHANGE broadcast
// reaches it while register_font sends it.
struct FontChangeListener {
  HWND window;
  FontChangeListener() {
    WNDCLASSA c = {};
    c.lpfnWndProc = count_font_changes;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "KestrelFontChanges";
    RegisterClassA(&c);
    window = CreateWindowA(c.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, c.hInstance, nullptr);
    font_changes = 0;
  }
  ~FontChangeListener() { DestroyWindow(window); }
};

class Registrations : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kFontsKey, &key));
    RegCloseKey(key);
  }
};

TEST_F(Registrations, ARealTrueTypeFontIsAddedAndGetsItsFontsValue) {
  const char* font = "C:\\KestrelReg\\DejaVuSans.ttf";
  ASSERT_TRUE(CopyFileA("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf", font, FALSE))
      << "the host's DejaVu Sans is the real font of this test";
  delete_fonts_value("DejaVu Sans (TrueType)");
  FontChangeListener listener;
  ASSERT_NE(nullptr, listener.window);
  register_font(font);
  EXPECT_EQ(with_terminator("DejaVuSans.ttf"), fonts_value("DejaVu Sans (TrueType)"));
  EXPECT_EQ(1, font_changes);  // told only after the resource was added
  delete_fonts_value("DejaVu Sans (TrueType)");
  DeleteFileA(font);
}

TEST_F(Registrations, TheLastMacintoshFullNameIsTheFontsValueName) {
  const std::string font = "C:\\KestrelReg\\synthetic.ttf";
  write_file(font, synthetic_font({{1, 4, "First Name"}, {3, 4, "Windows Name"}, {1, 1, "Family"},
                                    {1, 4, "Kestrel Synthetic"}}));
  FontChangeListener listener;
  register_font(font.c_str());
  EXPECT_EQ(0, font_changes);  // no glyphs: the system refuses the resource, the name is still recorded
  // The file name is handed over without its terminator (the registry adds one).
  EXPECT_EQ("synthetic.ttf", written_value("Kestrel Synthetic (TrueType)"));
  EXPECT_EQ(with_terminator("synthetic.ttf"), fonts_value("Kestrel Synthetic (TrueType)"));
  EXPECT_EQ("<none>", fonts_value("First Name (TrueType)"));
  EXPECT_EQ("<none>", fonts_value("Windows Name (TrueType)"));
  delete_fonts_value("Kestrel Synthetic (TrueType)");
  DeleteFileA(font.c_str());
}

TEST_F(Registrations, FontsWithoutAFindableNameGetNoValue) {
  const std::string font = "C:\\KestrelReg\\nameless.ttf";
  write_file(font, synthetic_font({{3, 4, "Only Windows"}, {1, 1, "Only Family"}}));
  register_font(font.c_str());
  EXPECT_EQ("<none>", fonts_value("Only Windows (TrueType)"));
  EXPECT_EQ("<none>", fonts_value("Only Family (TrueType)"));
  // The name table behind the first 40 table records is not looked for.
  write_file(font, synthetic_font({{1, 4, "Late Table"}}, 41, 40));
  register_font(font.c_str());
  EXPECT_EQ("<none>", fonts_value("Late Table (TrueType)"));
  write_file(font, synthetic_font({{1, 4, "Within Forty"}}, 40, 39));
  register_font(font.c_str());
  EXPECT_EQ(with_terminator("nameless.ttf"), fonts_value("Within Forty (TrueType)"));
  delete_fonts_value("Within Forty (TrueType)");
  // A truncated file and a missing one.
  write_file(font, Bytes(20, 0));
  register_font(font.c_str());
  register_font("C:\\KestrelReg\\no such font.ttf");
  DeleteFileA(font.c_str());
}

TEST_F(Registrations, AnOverlongFontNameIsCutToTheBuffer) {
  const std::string font = "C:\\KestrelReg\\long.ttf";
  std::string name(400, 'N');
  write_file(font, synthetic_font({{1, 4, name}}));
  register_font(font.c_str());
  std::string cut = name.substr(0, 255) + " (TrueType)";
  EXPECT_EQ(with_terminator("long.ttf"), fonts_value(cut));
  delete_fonts_value(cut);
  DeleteFileA(font.c_str());
}

TEST_F(Registrations, OnlyItemsWithRegistrationTwoAreRegistered) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  TestFileList list;
  list.add(2, self);
  list.add(0, self);
  list.add(1, self);
  list.add(2, "C:\\KestrelReg\\missing.dll");
  list.add(2, self);
  registrations_called = 0;
  CurrentFirstEntry = list.bytes.data();
  CurrentFileCount = 5;
  self_register_libraries();
  EXPECT_EQ(2, registrations_called);
  registrations_called = 0;
  CurrentFileCount = 1;
  self_register_libraries();
  EXPECT_EQ(1, registrations_called);
  CurrentFirstEntry = nullptr;
  CurrentFileCount = 0;
}

class Documents : public ::testing::Test {
 protected:
  std::string self;
  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    self = path;
    DeleteFileA(kRecordFile);
  }
  void TearDown() override {
    for (const char* key : {"KestrelTest.Doc\\shell\\open\\command", "KestrelTest.Doc\\shell\\open",
                            "KestrelTest.Doc\\shell", "KestrelTest.Doc", ".kestreltest"})
      RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    DeleteFileA(kRecordFile);
  }
  static void set_default(const std::string& key, const std::string& value) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                                          static_cast<DWORD>(value.size())));
  }
  // Waits for the started command to record its command line.
  static std::string recorded_command() {
    for (int i = 0; i < 600; ++i) {
      std::string line = read_file(kRecordFile);
      if (line != "<none>" && !line.empty()) return line;
      Sleep(100);
    }
    return "<none>";
  }
};

TEST_F(Documents, DefaultValuesAndTheirErrors) {
  set_default(".kestreltest", "KestrelTest.Doc");
  char buffer[kPathSize];
  EXPECT_EQ(0, read_default_value(HKEY_CLASSES_ROOT, ".kestreltest", buffer));
  EXPECT_STREQ("KestrelTest.Doc", buffer);
  strcpy(buffer, "stale");
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, read_default_value(HKEY_CLASSES_ROOT, ".kestrel-no-such-type", buffer));
  EXPECT_STREQ("", buffer);
}

TEST_F(Documents, TheQuotedPlaceholderIsCutAndTheTargetFollowsASpace) {
  set_default(".kestreltest", "KestrelTest.Doc");
  set_default("KestrelTest.Doc\\shell\\open\\command", "\"" + self + "\" " + kRecordSwitch + " \"%1\" tail");
  const char* target = "C:\\KestrelReg\\no such document.kestrel-unknown";
  EXPECT_GT(open_document(target, ".kestreltest"), 31u);
  EXPECT_EQ("\"" + self + "\" " + kRecordSwitch + "  " + target, recorded_command());
}

TEST_F(Documents, AnUnquotedPlaceholderOrNoneAtAll) {
  set_default(".kestreltest", "KestrelTest.Doc");
  const char* target = "C:\\KestrelReg\\missing.kestrel-unknown";
  set_default("KestrelTest.Doc\\shell\\open\\command", "\"" + self + "\" " + kRecordSwitch + " %1 tail");
  EXPECT_GT(open_document(target, ".kestreltest"), 31u);
  EXPECT_EQ("\"" + self + "\" " + kRecordSwitch + "  " + target, recorded_command());
  DeleteFileA(kRecordFile);
  set_default("KestrelTest.Doc\\shell\\open\\command", "\"" + self + "\" " + kRecordSwitch);
  EXPECT_GT(open_document(target, ".kestreltest"), 31u);
  EXPECT_EQ("\"" + self + "\" " + kRecordSwitch + " " + target, recorded_command());
}

TEST_F(Documents, AFileTypeWithoutOpenCommandGivesTheRegistryError) {
  const char* target = "C:\\KestrelReg\\missing.kestrel-unknown";
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), open_document(target, ".kestreltest"));
  set_default(".kestreltest", "KestrelTest.Doc");
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), open_document(target, ".kestreltest"));
  EXPECT_EQ("<none>", read_file(kRecordFile));
}

}  // namespace
