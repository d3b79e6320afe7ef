#include "ui/frame_window.h"

#include "archive/config.h"
#include "base/platform.h"
#include "install/engine.h"
#include "ui/background.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/placement.h"
#include "ui/sequencer.h"
#include "ui/sunken_frame.h"

const char kFrameClassName[] = "KestrelClass";

enum : int { kIconResource = 800 };


// A close from the system menu, Alt+F4 or from outside. While installing
// it is a Cancel of the installation, asked like one by the progress page
// (so that a half installation never stays and its program never starts);
// otherwise it ends the page at once.
// A wizard closed before its installation was done counts as cancelled.
static void note_closed_early() {
  if (!single_page_mode() && CurrentPage >= 0 && CurrentPage < kFinishPage) UserCancelled = true;
}

static void close_requested() {
  if (InstallRunning && CurrentPageWindow) {
    SendMessageA(CurrentPageWindow, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  note_closed_early();
  PageResult = kPageToClosing;
}

bool register_frame_class(HINSTANCE instance) {
  WNDCLASSA frame_class = {};
  frame_class.style = CS_VREDRAW | CS_HREDRAW;
  frame_class.lpfnWndProc = frame_window_proc;
  frame_class.hInstance = instance;
  frame_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
  frame_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  frame_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  frame_class.lpszClassName = kFrameClassName;
  return RegisterClassA(&frame_class) != 0;
}

HWND create_frame_window(HINSTANCE instance) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  HWND frame = CreateWindowExA(0, kFrameClassName, get_text(6, 0), full_screen_mode() ? kFullScreenStyle : kWindowedStyle,
                               0, 0, width, height, nullptr, nullptr, instance, nullptr);
  ScreenCentreX = width / 2;
  ScreenCentreY = height / 2;
  return frame;
}

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      if (!full_screen_mode() || IsIconic(window)) break;
      paint_window(window, paint_background);
      // The background may have painted over the container's caption.
      if (ContainerDialog) RedrawWindow(ContainerDialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
      return 0;
    case WM_ACTIVATEAPP:
      if (ContainerDialog) PostMessageA(ContainerDialog, WM_NCACTIVATE, wparam, 0);
      break;
    case WM_CLOSE:
      // From outside (End task): while installing, asked like a Cancel;
      // otherwise the frame goes and with it the wizard and the program.
      if (!InstallRunning) {
        note_closed_early();
        break;
      }
      close_requested();
      return 0;
    case WM_QUERYENDSESSION:
      // Windows would end the setup in the middle of the installation.
      if (InstallRunning) return FALSE;
      break;
    case WM_ENDSESSION:
      if (wparam) session_ending();
      return 0;
    case WM_NCDESTROY:
      // Whoever destroyed it, the handle is stale now: the finishing
      // actions must not wait for a quit that this window cannot post again.
      if (FrameWindow == window) FrameWindow = nullptr;
      PostQuitMessage(0);
      break;
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_MAXIMIZE:
        case SC_RESTORE:
          ShowWindow(ContainerDialog, SW_SHOWNORMAL);
          break;
        case SC_CLOSE:
          close_requested();
          return 0;
      }
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void end_cancelled_wizard() {
  message_text(15, kMbIconInformation);
  PageResult = kPageToClosing;
  UserCancelled = true;
  forget_role_items();
}

static void cancel_pressed() {
  if (StoredButtonMask & ButtonCancelAtOnce) {
    PageResult = kPageToClosing;
    return;
  }
  if (asked_yes(14)) end_cancelled_wizard();
}

static void paint_container(HWND dialog, HDC dc) {
  sunken_frame_around_control(dialog, dc, kSeparator, true);
  if (WizardPicture) draw_picture(dialog, dc, kPictureArea, WizardPicture, WizardPictureLength);
}

INT_PTR CALLBACK container_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      place_centred(dialog);
      apply_dialog_font(dialog);
      PostMessageA(dialog, WM_NCACTIVATE, TRUE, 0);
      return TRUE;
    case WM_PAINT:
      paint_window(dialog, paint_container);
      break;
    case WM_COMMAND:
      if (CurrentPageWindow && SendMessageA(CurrentPageWindow, WM_COMMAND, wparam, lparam) != 0) break;
      switch (LOWORD(wparam)) {
        case kNextButton:
          PageResult = kPageNext;
          break;
        case kBackButton:
          PageResult = kPageBack;
          break;
        case kCancelButton:
          cancel_pressed();
          break;
      }
      break;
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_MINIMIZE:
          ShowWindow(FrameWindow, SW_MINIMIZE);
          break;
        case SC_CLOSE:
          // Left to the default, the close would come back as a posted
          // Cancel and end the closing page before it is seen.
          close_requested();
          return TRUE;
      }
      break;
    case WM_NCDESTROY:
      if (ContainerDialog == dialog) ContainerDialog = nullptr;
      break;
  }
  return control_colour_answer(dialog, message, wparam, lparam);
}
