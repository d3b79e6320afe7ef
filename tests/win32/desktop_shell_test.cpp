// A program that a setup with administrator rights starts after
// installing runs as the desktop's user: the desktop's shell starts it, so
// it is the shell's child, not the setup's. Wine gives every program the
// same rights, so the test judges by the parent process: the program
// started through the shell names explorer.exe, the desktop's process, as
// its parent; started directly (ShellExecute, as before), this test.
#include <windows.h>

#include <tlhelp32.h>

#include <string>

#include <gtest/gtest.h>

#include "install/desktop_shell.h"

namespace {

std::string own_folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.rfind('\\'));
}

// The parent of a running process of that name, and the parent's name;
// false when there is none.
bool parent_of(const char* name, DWORD* parent, std::string* parent_name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
    if (lstrcmpiA(entry.szExeFile, name) == 0) {
      found = true;
      *parent = entry.th32ParentProcessID;
    }
  parent_name->clear();
  for (BOOL more = Process32First(snapshot, &entry); found && more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == *parent) *parent_name = entry.szExeFile;
  CloseHandle(snapshot);
  return found;
}

// Waits, ten seconds at most, until the program runs (or no longer runs).
bool wait_for(const char* name, bool running, DWORD* parent, std::string* parent_name) {
  for (int i = 0; i < 100; ++i, Sleep(100))
    if (parent_of(name, parent, parent_name) == running) return true;
  return false;
}

// Ends the stand-in program (it waits for a file named like it + ".go").
void end_program(const std::string& program) {
  std::string go = program + ".go";
  CloseHandle(CreateFileA(go.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD parent;
  std::string name;
  EXPECT_TRUE(wait_for("kestrel-stuck.exe", false, &parent, &name));
  DeleteFileA(go.c_str());
}

TEST(DesktopShell, TheProgramIsTheShellsChildNotTheSetups) {
  OleInitialize(nullptr);
  const std::string program = own_folder() + "\\kestrel-stuck.exe";
  DWORD parent = 0;
  std::string parent_name;
  // Started directly, the program is this process's child: the test can
  // tell the two ways apart.
  ASSERT_GT(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", program.c_str(), nullptr, nullptr, SW_SHOW)), 32);
  ASSERT_TRUE(wait_for("kestrel-stuck.exe", true, &parent, &parent_name));
  EXPECT_EQ(GetCurrentProcessId(), parent);
  end_program(program);

  ASSERT_TRUE(start_through_shell(program.c_str(), "", own_folder().c_str()));
  ASSERT_TRUE(wait_for("kestrel-stuck.exe", true, &parent, &parent_name));
  EXPECT_NE(GetCurrentProcessId(), parent);
  EXPECT_EQ(0, lstrcmpiA(parent_name.c_str(), "explorer.exe")) << parent_name;
  end_program(program);
  OleUninitialize();
}

}  // namespace
