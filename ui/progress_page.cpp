// The progress page: drives the installation from timer 11, one item per
// tick, so that painting and Cancel get through between two items.
#include "app/sequencer.h"
#include "archive/config.h"
#include "archive/platform.h"
#include "install/engine.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/progress_display.h"

enum : UINT_PTR { kInstallTimer = 11 };
enum : UINT { kFirstTick = 100, kNextTick = 50 };

static UINT_PTR InstallTimer;
static bool InstallPaused;

// Without a timer the rest of the installation runs inside this message;
// set_progress still paints through its own device context.
static void install_remaining_items() {
  while (install_next_item()) {
  }
  finish_install();
}

static void arm_timer_or_finish(HWND page, UINT delay) {
  InstallTimer = SetTimer(page, kInstallTimer, delay, nullptr);
  if (!InstallTimer) install_remaining_items();
}

static void install_on_tick(HWND page) {
  if (!InstallRunning || InstallPaused) return;
  KillTimer(page, kInstallTimer);
  InstallTimer = 0;
  if (install_next_item())
    arm_timer_or_finish(page, kNextTick);
  else
    finish_install();
}

static INT_PTR ask_to_cancel(HWND page) {
  InstallPaused = true;
  if (message_box(get_text(6, 13), kMbYesNo | kMbIconQuestion) == kIdYes) {
    message_box(get_text(6, 15), kMbIconInformation);
    PageResult = kPageToClosing;
    UserCancelled = true;
    forget_role_items();
  } else {
    InstallPaused = false;
  }
  return command_handled_answer(page);
}

INT_PTR CALLBACK progress_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ProgressWindow = page;
      page_setup(page, ButtonCancel);
      set_button_caption(IDCANCEL, 5);
      if (begin_install()) {
        InstallPaused = false;
        arm_timer_or_finish(page, kFirstTick);
      }
      return TRUE;
    case WM_TIMER:
      install_on_tick(page);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL && StartPageNumber == 0xFFFF) return ask_to_cancel(page);
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(page, &paint);
      if (dc) draw_progress(page, dc);
      EndPaint(page, &paint);
      return TRUE;
    }
    case WM_DESTROY:
      if (InstallTimer) {
        KillTimer(page, kInstallTimer);
        InstallTimer = 0;
      }
      ProgressWindow = nullptr;
      break;
  }
  return control_colour_answer(page, message, wparam, lparam);
}
