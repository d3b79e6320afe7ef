// Stands in for a running version of a product's program: it keeps its
// own file open (readable by others, never written over or deleted, under
// Wine too) and has a window titled "Kestrel Holder", and it ends when that
// window is closed, or after ten minutes.
#include <windows.h>

static LRESULT CALLBACK holder_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, w, l);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  HANDLE own = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (own == INVALID_HANDLE_VALUE) return 2;
  WNDCLASSA type = {};
  type.lpfnWndProc = holder_proc;
  type.hInstance = instance;
  type.lpszClassName = "KestrelHolder";
  if (!RegisterClassA(&type)) return 3;
  HWND window = CreateWindowA("KestrelHolder", "Kestrel Holder", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, instance, nullptr);
  if (!window) return 4;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  SetTimer(window, 1, 10 * 60 * 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) DestroyWindow(window);
    DispatchMessageA(&message);
  }
  CloseHandle(own);
  return 0;
}
