// kestrel-preview-runner SETUP FOLDER [SWITCHES]: what `kestrel preview` runs
// inside its throwaway prefix. Starts SETUP with SWITCHES and walks its
// wizard as a user pressing Next would, saving a PNG of every page and of
// every box it shows into FOLDER: on the first page it also presses Cancel
// once and says No to the question, so that box is seen too. Boxes are
// answered Yes (or OK, Retry), the restart dialog "Don't restart". Exit 0
// when the setup ended and every picture was written; 1 otherwise, also
// when the setup stood still for a minute.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/png_image.h"

namespace {

const DWORD kPollMs = 50;
const DWORD kStillMs = 60000;

DWORD setup_id;

HWND find_frame() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "KestrelClass", nullptr)) != nullptr) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (id == setup_id) return window;
  }
  return nullptr;
}

HWND child_dialog(HWND parent) { return parent ? FindWindowExA(parent, nullptr, "#32770", nullptr) : nullptr; }

// A message box or the restart dialog of the setup, when one shows.
HWND find_box() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (id == setup_id && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

bool is_class(HWND window, const char* name) {
  char text[64] = "";
  return window && GetClassNameA(window, text, sizeof text) && !lstrcmpiA(text, name);
}

// The page's name, from the controls that only it has (as the wizard
// driver of the tests tells them apart).
const char* page_name(HWND page, HWND container) {
  if (is_class(GetDlgItem(page, 1004), "Edit")) return "destination";
  if (GetDlgItem(page, 1008) || GetDlgItem(page, 1009) || GetDlgItem(page, 1010)) return "progress";
  for (int id = 1021; id <= 1026; ++id)
    if (GetDlgItem(page, id)) return "setup-type";
  if (GetDlgItem(page, 1014) || GetDlgItem(page, 1015)) return "finish";
  if (is_class(GetDlgItem(page, 1005), "Static")) return "closing";
  HWND text = GetDlgItem(page, 1000);
  if (is_class(text, "Edit") && (GetWindowLongA(text, GWL_STYLE) & ES_MULTILINE)) return "licence";
  if (!text) return "page";
  HWND back = GetDlgItem(container, 1007);
  return back && IsWindowEnabled(back) ? "ready" : "welcome";  // they share a template
}

BOOL CALLBACK child_needs_paint(HWND child, LPARAM found) {
  if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}

bool needs_paint(HWND window) {
  bool found = GetUpdateRect(window, nullptr, FALSE) != FALSE;
  if (!found) EnumChildWindows(window, child_needs_paint, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Waits (a few seconds at most) until the windows have painted.
void settle(HWND frame, HWND box) {
  for (HWND w : {frame, box})
    if (w) RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  for (int i = 0; i < 100 && ((frame && needs_paint(frame)) || (box && needs_paint(box))); ++i) Sleep(kPollMs);
  Sleep(300);  // a full-screen background paints after its children
}

bool write_whole(const std::string& path, const std::vector<uint8_t>& data) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  return CloseHandle(file) && ok && written == data.size();
}

// What the user sees of the frame window and the box on it, cut to the
// screen, as FOLDER\NN-NAME.png.
bool shoot(const std::string& folder, int number, const std::string& name, HWND frame, HWND box) {
  settle(frame, box);
  RECT all = {0, 0, 0, 0}, r;
  for (HWND w : {frame, box}) {
    if (!w || !GetWindowRect(w, &r)) continue;
    if (IsRectEmpty(&all)) all = r;
    else UnionRect(&all, &all, &r);
  }
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (!IntersectRect(&all, &all, &screen)) return false;
  int w = all.right - all.left, h = all.bottom - all.top;
  HDC screen_dc = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen_dc);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = memory && bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen_dc, all.left, all.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  std::vector<uint8_t> rgb;
  if (ok) {
    size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
    rgb.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          rgb[(static_cast<size_t>(y) * w + x) * 3 + c] = static_cast<uint8_t*>(bits)[stride * y + x * 3 + 2 - c];
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen_dc);
  char file[32];
  wsprintfA(file, "\\%02d-", number);
  std::string path = folder + file + name + ".png";
  ok = ok && write_whole(path, encode_png(w, h, rgb.data()));
  printf("%s %s\n", ok ? "saved" : "could not save", path.c_str());
  return ok;
}

// A push button, pressed as the dialog manager reports it.
void press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool usable(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: kestrel-preview-runner SETUP FOLDER [SWITCHES]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::string folder = argv[2];
  std::string command = std::string("\"") + argv[1] + "\"";
  for (int i = 3; i < argc; ++i) command += std::string(" ") + argv[i];
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(argv[1], &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "kestrel-preview-runner: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);
  setup_id = process.dwProcessId;

  int number = 0;
  bool ok = true, asked_cancel = false, asking = false;
  HWND shot_page = nullptr, pressed_page = nullptr, shot_box = nullptr;
  std::string page = "start";
  DWORD last_change = GetTickCount();
  while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
    if (GetTickCount() - last_change > kStillMs) {
      fprintf(stderr, "kestrel-preview-runner: the setup stood still for %lu s on the %s page\n", kStillMs / 1000,
              page.c_str());
      TerminateProcess(process.hProcess, 1);
      return 1;
    }
    HWND frame = find_frame();
    HWND box = find_box();
    if (box && box != shot_box) {
      shot_box = box;
      last_change = GetTickCount();
      // The restart dialog has a text of its own (1000); a message box not.
      bool restart = GetDlgItem(box, 1000) && GetDlgItem(box, IDCANCEL);
      ok = shoot(folder, ++number, restart ? "restart" : page + "-box", frame, box) && ok;
      int answer = asking ? IDNO : restart ? IDCANCEL : 0;
      for (int id : {IDYES, IDOK, IDRETRY, IDIGNORE, IDCANCEL})
        if (!answer && GetDlgItem(box, id)) answer = id;
      asking = false;
      press(box, answer);
      continue;
    }
    if (box) continue;
    HWND container = child_dialog(frame);
    HWND current = child_dialog(container);
    if (!current || !IsWindowVisible(current)) continue;
    if (current != shot_page) {
      // A quick page (progress) may be gone once painting is done: the
      // picture is named after the page that shows then.
      settle(frame, nullptr);
      if (child_dialog(child_dialog(find_frame())) != current || find_box()) continue;
      shot_page = current;
      last_change = GetTickCount();
      page = page_name(current, container);
      ok = shoot(folder, ++number, page, frame, nullptr) && ok;
      if (!asked_cancel && usable(container, IDCANCEL)) {
        asked_cancel = asking = true;  // the question whether to quit, answered No
        press(container, IDCANCEL);
        for (int i = 0; i < 100 && !find_box(); ++i) Sleep(kPollMs);
        asking = find_box() != nullptr;
        continue;
      }
    }
    if (current == pressed_page) continue;
    // The program the finish page offers to run would outlive the setup.
    HWND run = GetDlgItem(current, 1015);
    if (run && IsWindowVisible(run) && SendMessageA(run, BM_GETCHECK, 0, 0) == BST_CHECKED) {
      PostMessageA(run, BM_CLICK, 0, 0);
      for (int i = 0; i < 40 && SendMessageA(run, BM_GETCHECK, 0, 0) == BST_CHECKED; ++i) Sleep(kPollMs);
    }
    if (usable(container, IDOK)) {
      pressed_page = current;
      press(container, IDOK);
    } else if (page == "closing" && usable(container, IDCANCEL)) {
      pressed_page = current;
      press(container, IDCANCEL);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("the setup ended with %ld\n", static_cast<long>(code));
  return ok && number > 0 ? 0 : 1;
}
