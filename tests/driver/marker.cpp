// Stands in for an installed product's program in the scenarios: writes
// ran.txt into the current folder, with the command line it got, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  HANDLE file = CreateFileA("ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, command_line, lstrlenA(command_line), &written, nullptr);
  CloseHandle(file);
  return 0;
}
