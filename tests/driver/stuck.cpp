// Stands in for an uninstaller that does not end: it waits until a file
// named like itself with ".go" behind appears, ten minutes at most, so
// that a scenario can end it once it has seen the setup wait.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char go[MAX_PATH + 4];
  DWORD n = GetModuleFileNameA(nullptr, go, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  lstrcatA(go, ".go");
  for (int i = 0; i < 6000 && GetFileAttributesA(go) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  return 0;
}
