/* Demo Viewer: the example product's program. It shows where it was
   installed and the notes that came with it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  char path[MAX_PATH], text[MAX_PATH + 64];
  DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
  (void)instance, (void)previous, (void)command_line, (void)show;
  if (n == 0 || n >= sizeof path) lstrcpyA(path, "an unknown folder");
  wsprintfA(text, "Demo Viewer 1.0 runs from\r\n%s", path);
  MessageBoxA(NULL, text, "Demo Viewer", MB_ICONINFORMATION);
  return 0;
}
