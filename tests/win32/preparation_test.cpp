// The preparation step: opening the archive, starting and watching real
// child processes, and running the other setup types' uninstallers.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/engine.h"
#include "install/engine_state.h"
#include "install/preparation.h"
#include "tests/win32/file_entries.h"

namespace {

const char kFolder[] = "C:\\KestrelPrep";
const char kWaitSwitch[] = "--kestrel-wait-for ";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string read_file(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<none>";
  char data[1024];
  DWORD got = 0;
  ReadFile(f, data, sizeof data, &got, nullptr);
  CloseHandle(f);
  return std::string(data, got);
}

void write_file(const std::string& path, const std::string& bytes) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(f);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// This program is also the child of these tests. Started with "/X" it plays
// an uninstaller: it notes its command line beside itself and ends. Started
// with the wait switch it runs until the named file appears.
struct ChildRoles {
  ChildRoles() {
    std::string line = GetCommandLineA();
    if (line.size() >= 3 && line.compare(line.size() - 3, 3, " /X") == 0) {
      char self[MAX_PATH];
      GetModuleFileNameA(nullptr, self, MAX_PATH);
      write_file(std::string(self) + ".ran", line);
      ExitProcess(0);
    }
    size_t wait = line.find(kWaitSwitch);
    if (wait != std::string::npos) {
      std::string go = line.substr(wait + std::strlen(kWaitSwitch));
      for (int i = 0; i < 3000 && !exists(go); ++i) Sleep(100);
      ExitProcess(7);
    }
  }
} child_roles;

std::string self_path() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return self;
}

TEST(StartProgram, ARealChildRunsUntilItEndsAndItsHandleTellsSo) {
  CreateDirectoryA(kFolder, nullptr);
  std::string go = std::string(kFolder) + "\\go";
  DeleteFileA(go.c_str());
  std::string program = "\"" + self_path() + "\"";
  HANDLE process = nullptr;
  ASSERT_EQ(1, start_program(program.c_str(), (kWaitSwitch + go).c_str(), &process));
  ASSERT_NE(nullptr, process);
  EXPECT_EQ(1, is_still_running(process));
  write_file(go, "go");
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 120000));
  EXPECT_EQ(0, is_still_running(process));
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(7u, code);
  CloseHandle(process);
  DeleteFileA(go.c_str());

  ASSERT_EQ(1, start_program("cmd", "/c exit 3", &process));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 120000));
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(3u, code);
  CloseHandle(process);
}

TEST(StartProgram, WhatCannotBeStarted) {
  HANDLE process = INVALID_HANDLE_VALUE;
  EXPECT_EQ(0, start_program("C:\\KestrelPrep\\no such program.exe", "/X", &process));
  EXPECT_EQ(nullptr, process);
  // A command line longer than its buffer is refused rather than cut.
  std::string argument(600, 'a');
  process = INVALID_HANDLE_VALUE;
  EXPECT_EQ(0, start_program("cmd", argument.c_str(), &process));
  EXPECT_EQ(nullptr, process);
  EXPECT_EQ(0, is_still_running(nullptr));
}

class BeginInstall : public ::testing::Test {
 protected:
  TestFileList files[5];
  std::vector<uint8_t> blocks[5];
  char folders[5][kPathSize] = {};
  std::string copies[5];

  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    ErrorState = 5;
    InstallRunning = false;
    ItemIndex = 3;
    volume_number = 2;
    SetupFlags = 0;
    if (data_file != INVALID_FILE_HANDLE) CloseHandle(data_file);
    data_file = INVALID_FILE_HANDLE;
  }
  void TearDown() override {
    if (data_file != INVALID_FILE_HANDLE) CloseHandle(data_file);
    data_file = INVALID_FILE_HANDLE;
    for (int v = 0; v < 5; ++v) {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallRoot) + "Kestrel Prep " + char('0' + v)).c_str());
      if (copies[v].empty()) continue;
      DeleteFileA(copies[v].c_str());
      DeleteFileA((copies[v] + ".ran").c_str());
    }
    SetupFlags = 0;
  }

  // Setup type v with the given first entries; registered as installed
  // under "Kestrel Prep v" with `uninstaller` as its UninstallString.
  void setup_type(int v, bool named, bool first_is_uninstaller, const std::string& uninstaller) {
    TestEntry first, later;
    first.flags = first_is_uninstaller ? kItemUninstaller : 0;
    first.strings[0] = "first";
    later.flags = first_is_uninstaller ? 0 : kItemUninstaller;
    later.strings[0] = "later";
    files[v].add(first);
    files[v].add(later);
    blocks[v] = files[v].block();
    SetupTypeSlot& slot = SetupTypeTable[v];
    slot = SetupTypeSlot();
    slot.folder = folders[v];
    slot.file_list = blocks[v].data();
    slot.file_list_length = static_cast<uint32_t>(blocks[v].size());
    static const char* names[] = {"Kestrel Prep 0", "Kestrel Prep 1", "Kestrel Prep 2", "Kestrel Prep 3",
                                  "Kestrel Prep 4"};
    slot.record.uninstall_name = named ? names[v] : "";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstallRoot) + names[v]).c_str(), &key));
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstaller.c_str()),
                   static_cast<DWORD>(uninstaller.size()));
    RegCloseKey(key);
  }
  // A copy of this program as setup type v's uninstaller.
  std::string uninstaller_copy(int v) {
    copies[v] = std::string(kFolder) + "\\uninst" + char('0' + v) + ".exe";
    EXPECT_TRUE(CopyFileA(self_path().c_str(), copies[v].c_str(), FALSE));
    return copies[v];
  }
  bool ran(int v) { return exists(copies[v] + ".ran"); }
  // The steps that install_next_item takes before the first item.
  static void remove_other_types() {
    while (removing_other_types() && remove_other_types_step()) {
    }
  }
};

TEST_F(BeginInstall, AMissingArchiveIsErrorSixteen) {
  copy_string(SourcePath, "C:\\KestrelPrep\\no such setup.exe", kPathSize);
  EXPECT_EQ(0, begin_install());
  EXPECT_EQ(16, ErrorState);
  EXPECT_STREQ("C:\\KestrelPrep\\no such setup.exe", MessageArgument);
  EXPECT_STREQ("C:\\KestrelPrep\\no such setup.exe", ArchivePath);
  EXPECT_FALSE(InstallRunning);
  EXPECT_EQ(INVALID_FILE_HANDLE, data_file);
}

TEST_F(BeginInstall, TheArchiveIsOpenedAtItsFirstDataByteAndTheEngineReset) {
  std::string setup = std::string(kFolder) + "\\setup.exe";
  write_file(setup, "0123456789ABCDEFGHIJ");
  copy_string(SourcePath, setup.c_str(), kPathSize);
  uint8_t list[] = {7, 0, 0, 0};
  CurrentFirstEntry = list + 4;
  CurrentFileCount = 7;
  CurrentEntry = nullptr;
  data_start = 6;  // the data length word at 6, the first data byte at 10
  EXPECT_EQ(1, begin_install());
  EXPECT_EQ(0, ErrorState);
  EXPECT_EQ(-1, ItemIndex);
  EXPECT_EQ(0u, volume_number);
  EXPECT_EQ(list + 4, CurrentEntry);
  EXPECT_EQ(7u, ItemCount);
  EXPECT_TRUE(InstallRunning);
  EXPECT_STREQ(setup.c_str(), ArchivePath);
  ASSERT_NE(INVALID_FILE_HANDLE, data_file);
  char next = 0;
  DWORD got = 0;
  ReadFile(data_file, &next, 1, &got, nullptr);
  EXPECT_EQ('A', next);
  CurrentFirstEntry = nullptr;
  CurrentFileCount = 0;
  DeleteFileA(setup.c_str());
}

TEST_F(BeginInstall, OnlyTheOtherTypesRegisteredUninstallersRunAndTheirFilesGo) {
  std::string setup = std::string(kFolder) + "\\setup.exe";
  write_file(setup, "0123456789");
  copy_string(SourcePath, setup.c_str(), kPathSize);
  data_start = 0;
  setup_type(0, true, true, uninstaller_copy(0));   // the current type
  setup_type(1, true, true, uninstaller_copy(1));   // removable
  setup_type(2, true, false, uninstaller_copy(2));  // only a later entry is the uninstaller
  setup_type(3, true, true, std::string(kFolder) + "\\gone.exe");  // names a missing file
  setup_type(4, false, true, uninstaller_copy(4));  // no uninstall name
  SetupTypeCount = 5;
  CurrentSetupType = -1;
  select_setup_type(0);

  // Without the flag nothing is removed.
  EXPECT_EQ(1, begin_install());
  EXPECT_FALSE(removing_other_types());
  for (int v : {0, 1, 2, 4}) EXPECT_FALSE(ran(v)) << v;
  CloseHandle(data_file);
  data_file = INVALID_FILE_HANDLE;

  SetupFlags = kSetupRemoveOthers;
  EXPECT_EQ(1, begin_install());
  remove_other_types();
  EXPECT_EQ(0, ErrorState);
  EXPECT_EQ("\"" + copies[1] + "\" /X", read_file(copies[1] + ".ran"));
  EXPECT_FALSE(exists(copies[1]));  // deleted once it had ended
  for (int v : {0, 2, 4}) {
    EXPECT_FALSE(ran(v)) << v;
    EXPECT_TRUE(exists(copies[v])) << v;
  }
  EXPECT_TRUE(InstallRunning);
  DeleteFileA(setup.c_str());
}

TEST_F(BeginInstall, AnUninstallerFileThatStaysLockedIsLeftInPlace) {
  std::string setup = std::string(kFolder) + "\\setup.exe";
  write_file(setup, "0123456789");
  copy_string(SourcePath, setup.c_str(), kPathSize);
  data_start = 0;
  setup_type(0, true, true, uninstaller_copy(0));
  setup_type(1, true, true, uninstaller_copy(1));
  SetupTypeCount = 2;
  CurrentSetupType = -1;
  select_setup_type(0);
  HANDLE lock = CreateFileA(copies[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, lock);
  SetupFlags = kSetupRemoveOthers;
  DWORD start = GetTickCount();
  EXPECT_EQ(1, begin_install());
  remove_other_types();
  DWORD waited = GetTickCount() - start;
  CloseHandle(lock);
  EXPECT_TRUE(ran(1));
  EXPECT_TRUE(exists(copies[1]));
  EXPECT_GE(waited, 3000u);
  EXPECT_TRUE(InstallRunning);
  DeleteFileA(setup.c_str());
}

}  // namespace
