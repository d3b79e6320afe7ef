// The Win32 side of the seam (files, message boxes), template copies and
// the system the tests run on, under Wine's real file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/platform.h"
#include "base/random_number.h"
#include "base/unguessable_files.h"
#include "ui/main_windows.h"
#include "ui/templates.h"

namespace {

std::string temp_file(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

// A file of known bytes, removed when the test ends.
struct TempFile {
  std::string path;
  explicit TempFile(const char* name, const char* content = "") : path(temp_file(name)) {
    FileHandle out = create_file(path.c_str());
    EXPECT_NE(INVALID_FILE_HANDLE, out);
    EXPECT_EQ(0, write_all(out, content, static_cast<uint32_t>(std::strlen(content))));
    close_file(out);
  }
  ~TempFile() { DeleteFileA(path.c_str()); }
};

TEST(Files, ReadsAndKeepsPositions) {
  TempFile file("kestrel-files.bin", "abcdef");
  FileHandle in = open_file(file.path.c_str(), 0);
  ASSERT_NE(INVALID_FILE_HANDLE, in);
  EXPECT_EQ(INVALID_HANDLE_VALUE, INVALID_FILE_HANDLE);
  char buffer[8] = {};
  EXPECT_EQ(0, read_exact(in, buffer, 0));
  EXPECT_EQ(2u, seek_to(in, 2));
  EXPECT_EQ(6u, file_length(in));
  EXPECT_EQ(2u, tell_file(in));  // file_length keeps the position
  EXPECT_EQ(0, read_exact(in, buffer, 3));
  EXPECT_STREQ("cde", buffer);
  EXPECT_EQ(1u, read_some(in, buffer, 8));  // what is left
  EXPECT_EQ(0, read_exact(in, buffer, 0));  // at the end: nothing asked, nothing wrong
  EXPECT_EQ(1, read_exact(in, buffer, 1));  // at the end: short
  EXPECT_EQ(0u, read_some(in, buffer, 8));
  EXPECT_EQ(4u, seek_from_end(in, -2));
  EXPECT_EQ(5u, skip_file(in, 1));
  EXPECT_EQ(3u, skip_file(in, -2));
  EXPECT_EQ(1, read_exact(in, buffer, 4));  // three bytes remain: short
  close_file(in);
}

TEST(Files, ModesAndSharing) {
  TempFile file("kestrel-share.bin", "xyz");
  FileHandle reader = open_file(file.path.c_str(), 0);
  ASSERT_NE(INVALID_FILE_HANDLE, reader);
  EXPECT_EQ(2, write_all(reader, "x", 1));  // opened for reading only
  // Readers share with readers, not with writers.
  FileHandle second = open_file(file.path.c_str(), 0);
  EXPECT_NE(INVALID_FILE_HANDLE, second);
  close_file(second);
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(file.path.c_str(), 1));
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(file.path.c_str(), 2));
  close_file(reader);

  FileHandle writer = open_file(file.path.c_str(), 1);
  ASSERT_NE(INVALID_FILE_HANDLE, writer);
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(file.path.c_str(), 0));  // a writer shares nothing
  char byte;
  EXPECT_EQ(1, read_exact(writer, &byte, 1));  // opened for writing only
  EXPECT_EQ(0, write_all(writer, "A", 1));     // over the first byte, no truncation
  close_file(writer);

  FileHandle both = open_file(file.path.c_str(), 2);
  ASSERT_NE(INVALID_FILE_HANDLE, both);
  // Read+write shares reading only: a reader that lets others write may
  // come in, a writer may not.
  HANDLE shared = CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, shared);
  CloseHandle(shared);
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(file.path.c_str(), 1));
  char bytes[4] = {};
  EXPECT_EQ(0, read_exact(both, bytes, 3));
  EXPECT_STREQ("Ayz", bytes);
  EXPECT_EQ(0, write_all(both, "!", 1));
  EXPECT_EQ(4u, file_length(both));
  close_file(both);
}

TEST(Files, OpenFailsOnMissingFiles) {
  std::string missing = temp_file("kestrel-missing.bin");
  DeleteFileA(missing.c_str());
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(missing.c_str(), 0));
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(missing.c_str(), 2));
  EXPECT_EQ(INVALID_FILE_HANDLE, create_file((temp_file("no-such-folder") + "\\x.bin").c_str()));
}

TEST(Files, CreateTruncatesAndRenameRefusesToReplace) {
  TempFile file("kestrel-create.bin", "old content");
  TempFile other("kestrel-other.bin", "other");
  FileHandle out = create_file(file.path.c_str());
  ASSERT_NE(INVALID_FILE_HANDLE, out);
  EXPECT_EQ(0u, file_length(out));
  close_file(out);
  EXPECT_FALSE(rename_file(file.path.c_str(), other.path.c_str()));
  std::string moved = temp_file("kestrel-moved.bin");
  DeleteFileA(moved.c_str());
  EXPECT_TRUE(rename_file(file.path.c_str(), moved.c_str()));
  EXPECT_TRUE(delete_file(moved.c_str()));
  EXPECT_FALSE(delete_file(moved.c_str()));
}

TEST(Files, TemporaryFilesBesideAFileAreNewUnderNamesOfChance) {
  std::string beside = temp_file("kestrel-temp.txt");
  std::string head = temp_file("kestrel-temp.$");
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    char path[kPathSize];
    FileHandle out = create_temp_file(beside.c_str(), "$", path, sizeof path);
    ASSERT_NE(INVALID_FILE_HANDLE, out);
    close_file(out);
    names.push_back(path);
    EXPECT_EQ(head, names.back().substr(0, head.size()));
    EXPECT_EQ(head.size() + 8, names.back().size()) << path;
  }
  EXPECT_NE(names[0], names[1]);
  for (const std::string& name : names) DeleteFileA(name.c_str());
  // The dot of a folder is not the extension's; a backup's tag is its own.
  char path[kPathSize];
  ASSERT_TRUE(temp_name_beside("C:\\app.d\\README", "$~", path, sizeof path));
  const std::string backup = "C:\\app.d\\README.$~";
  EXPECT_EQ(backup, std::string(path).substr(0, backup.size())) << path;
  // A name that does not fit is refused, not cut.
  std::string longer(kPathSize - 10, 'x');
  EXPECT_FALSE(temp_name_beside(longer.c_str(), "$", path, sizeof path));
  EXPECT_EQ(INVALID_FILE_HANDLE, create_temp_file(longer.c_str(), "$", path, sizeof path));
}

TEST(Files, ReplacingLeavesTheOneOrTheOtherOnBothFamilies) {
  for (bool nt : {true, false}) {
    IsNtFamily = nt;
    TempFile target("kestrel-target.bin", "old");
    TempFile source("kestrel-source.bin", "new");
    EXPECT_TRUE(replace_file(source.path.c_str(), target.path.c_str())) << nt;
    HANDLE read = CreateFileA(target.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char bytes[8] = "";
    DWORD got = 0;
    ReadFile(read, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(read);
    EXPECT_EQ(std::string("new"), std::string(bytes, got)) << nt;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(source.path.c_str())) << nt;
    // Onto a missing name it is a rename.
    DeleteFileA(target.path.c_str());
    TempFile again("kestrel-source.bin", "newer");
    EXPECT_TRUE(replace_file(again.path.c_str(), target.path.c_str())) << nt;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(target.path.c_str())) << nt;
  }
  IsNtFamily = true;
}

TEST(Files, SetsTheThreeFileTimes) {
  TempFile file("kestrel-times.bin", "t");
  uint8_t times[24];
  const uint64_t stamps[3] = {125911584000000000ull, 126227808000000000ull, 126543168000000000ull};
  for (int i = 0; i < 3; ++i) {
    put_u32(times + 8 * i, static_cast<uint32_t>(stamps[i]));
    put_u32(times + 8 * i + 4, static_cast<uint32_t>(stamps[i] >> 32));
  }
  FileHandle out = open_file(file.path.c_str(), 1);
  ASSERT_NE(INVALID_FILE_HANDLE, out);
  EXPECT_TRUE(set_file_times(out, times));
  close_file(out);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(file.path.c_str(), GetFileExInfoStandard, &data));
  const FILETIME got[3] = {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
  // The last-write time is what every file system keeps exactly.
  uint64_t written = (static_cast<uint64_t>(got[2].dwHighDateTime) << 32) | got[2].dwLowDateTime;
  EXPECT_EQ(stamps[2], written);
}

// A full drive, when the test run could make one (a tiny file system
// mapped as a Wine drive, see tests/wine/prefix).
TEST(Files, WriteOnAFullDiskNeverSucceeds) {
  const char* drive = std::getenv("KESTREL_FULL_DRIVE");
  char root[] = "?:\\";
  if (drive && drive[0]) root[0] = drive[0];
  if (!drive || GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no small drive was set up for this run";
  std::string path = std::string(root) + "fill.bin";
  FileHandle out = create_file(path.c_str());
  ASSERT_NE(INVALID_FILE_HANDLE, out);
  std::vector<char> chunk(256 * 1024, 'f');  // larger than the whole drive
  int first = write_all(out, chunk.data(), static_cast<uint32_t>(chunk.size()));
  EXPECT_TRUE(first == 2 || first == 3) << "write_all gave " << first;
  int again = write_all(out, chunk.data(), 4096);  // the drive is full by now
  EXPECT_TRUE(again == 2 || again == 3) << "write_all gave " << again;
  close_file(out);
  DeleteFileA(path.c_str());
}

// Temporary files of shared folders: new files under names with a random
// part that differs from one file to the next.
TEST(UnguessableFiles, EachIsNewUnderARandomName) {
  char temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    char path[MAX_PATH];
    HANDLE file = create_unguessable_file(temp, "_kt", ".tmp", path, sizeof path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::string name = path;
    ASSERT_EQ(std::strlen(temp) + 3 + 8 + 4, name.size()) << name;
    EXPECT_EQ(std::string(temp) + "_kt", name.substr(0, std::strlen(temp) + 3));
    std::string digits = name.substr(std::strlen(temp) + 3, 8);
    EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789abcdef")) << name;
    EXPECT_EQ(".tmp", name.substr(name.size() - 4));
    names.push_back(name);
  }
  EXPECT_NE(names[0], names[1]);
  for (const std::string& name : names) EXPECT_TRUE(DeleteFileA(name.c_str()));
  // A path that does not fit makes no file.
  char small[16];
  EXPECT_EQ(INVALID_HANDLE_VALUE, create_unguessable_file(temp, "_kt", ".tmp", small, sizeof small));
  std::vector<unsigned long> draws;
  for (int i = 0; i < 16; ++i) draws.push_back(random_number());
  std::sort(draws.begin(), draws.end());
  EXPECT_EQ(draws.end(), std::unique(draws.begin(), draws.end()));
}

TEST(System, AnsiCodePageIsWesternEuropean) { EXPECT_EQ(1252u, GetACP()); }

TEST(Family, MatchesTheConfiguredWindows) {
  const char* expected = std::getenv("KESTREL_EXPECT_FAMILY");
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_EQ(148u, version.dwOSVersionInfoSize);
  ASSERT_TRUE(GetVersionExA(&version));
  DWORD platform = expected && std::strcmp(expected, "95") == 0 ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
  EXPECT_EQ(platform, version.dwPlatformId);
}

// A current setup type whose text 6/0 is `title`.
struct CurrentTexts {
  std::vector<uint8_t> list6;
  SetupTypeRecord record = {};
  explicit CurrentTexts(const char* title) {
    list6 = {1, 0};
    list6.insert(list6.end(), title, title + std::strlen(title) + 1);
    record.text_lists[6] = list6.data();
    CurrentRecord = &record;
  }
  ~CurrentTexts() { CurrentRecord = nullptr; }
};

// What the message box showed, seen from a hook that then answers it.
struct SeenBox {
  HWND box;
  char caption[64];
  HWND owner;
  int answer;
};
SeenBox seen;

// Only the first dialog activated counts: closing it activates its owner.
LRESULT CALLBACK answer_box(int code, WPARAM wparam, LPARAM lparam) {
  HWND window = reinterpret_cast<HWND>(wparam);
  char kind[16] = {};
  if (code == HCBT_ACTIVATE && !seen.box && GetClassNameA(window, kind, sizeof kind) &&
      std::strcmp(kind, "#32770") == 0) {
    seen.box = window;
    GetWindowTextA(window, seen.caption, sizeof seen.caption);
    seen.owner = GetWindow(window, GW_OWNER);
    PostMessageA(window, WM_COMMAND, seen.answer, 0);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

int show_and_answer(const char* text, unsigned style, int answer) {
  seen = SeenBox{};
  seen.answer = answer;
  HHOOK hook = SetWindowsHookExA(WH_CBT, answer_box, nullptr, GetCurrentThreadId());
  EXPECT_NE(nullptr, hook);
  int result = message_box(text, style);
  UnhookWindowsHookEx(hook);
  return result;
}

TEST(SetupMessageBox, CaptionIsTheSetupTitleAndOwnerTheTopmostWindow) {
  CurrentTexts texts("Kestrel Test Setup");
  EXPECT_EQ(kIdNo, show_and_answer("Go on?", kMbYesNo | kMbIconQuestion, IDNO));
  ASSERT_NE(nullptr, seen.box);
  EXPECT_STREQ("Kestrel Test Setup", seen.caption);
  EXPECT_EQ(nullptr, seen.owner);  // before the wizard's windows exist

  HWND frame = CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  HWND container = CreateWindowExA(0, "STATIC", "container", WS_POPUP, 0, 0, 100, 50, frame, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, frame);
  ASSERT_NE(nullptr, container);
  FrameWindow = frame;
  EXPECT_EQ(kIdOk, show_and_answer("Notice", kMbIconInformation, IDOK));
  EXPECT_EQ(frame, seen.owner);
  ContainerDialog = container;
  EXPECT_EQ(kIdYes, show_and_answer("Again?", kMbYesNo | kMbIconQuestion, IDYES));
  EXPECT_EQ(container, seen.owner);
  ContainerDialog = FrameWindow = nullptr;
  DestroyWindow(container);
  DestroyWindow(frame);
}

// A DialogTemplateStore of `count` templates laid out back to back.
struct TemplateStore {
  std::vector<uint8_t> bytes;
  TemplateStore(const std::vector<uint32_t>& sizes) {
    uint32_t table = static_cast<uint32_t>(4 * sizes.size());
    bytes.assign(table, 0);
    for (size_t i = 0; i < sizes.size(); ++i) {
      put_u32(bytes.data() + 4 * i, static_cast<uint32_t>(bytes.size()));
      for (uint32_t k = 0; k < sizes[i]; ++k) bytes.push_back(static_cast<uint8_t>(i * 31 + k * 7 + 1));
    }
    DialogTemplateStore = bytes.data();
    DialogTemplateStoreLength = static_cast<uint32_t>(bytes.size());
  }
  ~TemplateStore() {
    DialogTemplateStore = nullptr;
    DialogTemplateStoreLength = 0;
  }
};

TEST(Templates, CopiedIntoMovableZeroedMemoryUpToTheStoreEnd) {
  TemplateStore store({40, 24});
  DLGTEMPLATE* copy = load_template(0);
  ASSERT_NE(nullptr, copy);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(copy);
  // From the template's offset to the end of the store: template 1 comes too.
  EXPECT_EQ(0, std::memcmp(store.bytes.data() + 8, bytes, 64));
  for (uint32_t i = 64; i < kTemplateBlockSize; ++i) ASSERT_EQ(0, bytes[i]) << "at " << i;
  HGLOBAL block = GlobalHandle(copy);
  ASSERT_NE(nullptr, block);
  EXPECT_NE(static_cast<void*>(block), static_cast<void*>(copy));  // a movable block's handle is not its address
  EXPECT_GE(GlobalSize(block), kTemplateBlockSize);
  EXPECT_EQ(1u, GlobalFlags(block) & GMEM_LOCKCOUNT);
  free_template(copy);

  DLGTEMPLATE* last = load_template(1);
  ASSERT_NE(nullptr, last);
  EXPECT_EQ(0, std::memcmp(store.bytes.data() + 48, last, 24));
  EXPECT_EQ(0, reinterpret_cast<const uint8_t*>(last)[24]);
  free_template(last);
  free_template(nullptr);
}

TEST(Templates, AtMostSixteenKilobytes) {
  TemplateStore store({20000});
  DLGTEMPLATE* copy = load_template(0);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0, std::memcmp(store.bytes.data() + 4, copy, kTemplateBlockSize));
  free_template(copy);
}

TEST(Templates, MissingTemplateGivesNull) {
  {
    TemplateStore store({10});
    EXPECT_EQ(nullptr, load_template(1));
    EXPECT_EQ(nullptr, load_template(-1));
  }
  EXPECT_EQ(nullptr, load_template(0));  // no store at all
}

}  // namespace
