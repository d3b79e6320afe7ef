// The setup program's entry.
#include <windows.h>

#include "app/command_line.h"
#include "app/globals.h"
#include "app/stub_size.h"
#include "archive/loader.h"

static void read_windows_family() {
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the size the Windows 95 family accepts");
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  IsNtFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  StubSize = stamped_stub_size();
  DWORD n = GetModuleFileNameA(nullptr, SourcePath, kPathSize);
  if (n == 0 || n >= kPathSize) SourcePath[0] = '\0';  // a cut path would name another file
  read_windows_family();
  parse_command_line(command_line);
  if (!load_archive()) return -1;
  free_archive();
  return 0;
}
