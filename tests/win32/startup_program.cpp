// The stub's and the uninstaller's start-up code (base/startup.cpp), run the
// way those programs run: static constructors, WinMain's command tail and show state, WinMain's result as the exit code.
// Started without arguments it starts itself under command lines of either
// form and ends with 0 when every run saw what it should, else with the
// number of the check that failed.
#include <windows.h>

#include <string.h>

namespace {

int constructed = 0;
struct Counted {
  Counted() { ++constructed; }
} first, second;

// Runs this program with `command_line`, whose first word names some other
// program: the start-up code must skip it whatever it says.
DWORD run_again(const char* command_line, bool show_minimized) {
  char own_path[MAX_PATH];
  char line[200];
  if (!GetModuleFileNameA(nullptr, own_path, sizeof own_path)) return 90;
  lstrcpynA(line, command_line, sizeof line);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (show_minimized) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
  }
  PROCESS_INFORMATION info;
  if (!CreateProcessA(own_path, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 91;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 92;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  if (constructed != 2) return 1;
  if (instance != GetModuleHandleA(nullptr) || previous) return 2;
  // A quoted name with blanks, and a quote inside the tail kept as it is.
  if (strncmp(tail, "quoted", 6) == 0) return strcmp(tail, "quoted \"x y\" ") == 0 && show == SW_SHOWDEFAULT ? 0 : 3;
  // A bare name, blanks and a tab before the tail, the show state asked for.
  if (strncmp(tail, "bare", 4) == 0) return strcmp(tail, "bare z") == 0 && show == SW_SHOWMINNOACTIVE ? 0 : 4;
  if (*tail) return 5;
  DWORD code = run_again("\"C:\\some folder\\my setup.exe\" quoted \"x y\" ", false);
  if (code != 0) return static_cast<int>(code);
  return static_cast<int>(run_again("C:\\setup.exe  \t bare z", true));
}
