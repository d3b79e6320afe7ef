/* The 64-bit program that the 64-bit-mode scenarios install: it ends with
   64 when it runs as a 64-bit process from the native Program Files
   folder, which a 32-bit program's view names "Program Files (x86)". */
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  char own[MAX_PATH], folder[MAX_PATH];
  (void)instance, (void)previous, (void)command_line, (void)show;
  DWORD n = GetModuleFileNameA(NULL, own, sizeof own);
  DWORD m = GetEnvironmentVariableA("ProgramFiles", folder, sizeof folder);
  if (n == 0 || n >= sizeof own || m == 0 || m >= sizeof folder) return 1;
  if (sizeof(void*) != 8) return 2;
  return _strnicmp(own, folder, m) == 0 && own[m] == '\\' ? 64 : 3;
}
