// The progress page: drives the installation from timer 11, so that
// painting and Cancel get through between two items. A tick installs items
// for about kTickBudget ms: an item takes far less than a tick on today's
// machines, and a pause after each would leave the installation idle. A
// cancelled installation is taken back here, on this page, before the
// wizard moves on.
#include "archive/config.h"
#include "archive/messages.h"
#include "archive/patch.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/system_libraries.h"
#include "install/engine.h"
#include "install/engine_reports.h"
#include "install/rollback.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/progress_display.h"
#include "ui/sequencer.h"

enum : UINT_PTR { kInstallTimer = 11 };
enum : UINT { kNextTick = USER_TIMER_MINIMUM };
enum : DWORD { kTickBudget = 30 };

static UINT_PTR InstallTimer;
static bool InstallPaused;
// Items are being installed: one may wait in a question of its own, whose
// message loop lets ticks and a close through. A tick then starts nothing;
// a close is asked about once the item has returned, never in the middle
// of it.
static bool ItemRunning;
static bool CancelWaiting;


// While the installation runs, the frame refuses the end of the session
// (WM_QUERYENDSESSION); Windows Vista and later show the user why, in the
// page's own words (text 4/2). Older Windows lack both calls.
static void block_shutdown(bool on) {
  typedef BOOL(WINAPI * Create)(HWND, const WCHAR*);
  typedef BOOL(WINAPI * Destroy)(HWND);
  FARPROC call = loaded_library_call("user32.dll", on ? "ShutdownBlockReasonCreate" : "ShutdownBlockReasonDestroy");
  if (!call) return;
  if (!on) {
    as_call<Destroy>(call)(FrameWindow);
    return;
  }
  WCHAR reason[kMessageCapacity];
  MultiByteToWideChar(CP_ACP, 0, get_text(4, 2), -1, reason, kMessageCapacity);
  as_call<Create>(call)(FrameWindow, reason);
}

// Without a timer the rest of the installation runs inside this message;
// set_progress still paints through its own device context.
static void install_remaining_items() {
  while (install_next_item()) {
  }
  show_waiting_file();
  finish_install();
}

// False when no timer could be had: the installation has run to its end.
static bool arm_timer_or_finish(HWND page) {
  InstallTimer = SetTimer(page, kInstallTimer, kNextTick, nullptr);
  if (InstallTimer) return true;
  install_remaining_items();
  return false;
}

static void stop_timer(HWND page) {
  if (!InstallTimer) return;
  KillTimer(page, kInstallTimer);
  InstallTimer = 0;
}

// One item at least, more while the budget lasts and nothing ended the
// page or waits to be asked. True while items remain.
static bool install_for_a_while() {
  DWORD start = GetTickCount();
  ItemRunning = true;
  bool more;
  do more = install_next_item() != 0;
  while (more && PageResult == 0 && !CancelWaiting && GetTickCount() - start < kTickBudget);
  ItemRunning = false;
  // The page shows the last item until the next tick.
  show_waiting_file();
  return more;
}

// The installation is given up: everything it changed is taken back with
// the page showing it, the user learns how that went, and the wizard goes
// to the closing page. No tick may start an item meanwhile.
static void cancel_installation(HWND page) {
  stop_timer(page);
  apply_button_mask(0);
  abandon_install();
  char notice[kMessageCapacity];
  copy_string(notice, get_text(6, 15), sizeof notice);
  append_rollback_report(notice, sizeof notice);
  message_box(notice, kMbIconInformation);
  PageResult = kPageToClosing;
}

// Cancel asks first, except in single-page mode, where it ends at once;
// either way the run ends as cancelled.
static bool cancel_confirmed() {
  bool yes = single_page_mode();
  if (!yes) {
    InstallPaused = true;
    yes = asked_yes(13);
    InstallPaused = false;
  }
  if (yes) UserCancelled = true;
  return yes;
}

// Between two slices of a long item: the bar moves and the page answers.
// A Cancel that came meanwhile is asked about here, where the item is
// between two writes and waits for nothing else; Yes ends the item, and
// the tick takes it back with the rest. Outside the ticks (no timer, or
// no wizard) nothing is let through.
bool item_slice(unsigned percent) {
  if (!ItemRunning || !ProgressWindow) return true;
  set_progress(percent);
  MSG message;
  while (PageResult == 0 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // For the page's own loop, once the item is done.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    dispatch_wizard_message(&message, ProgressWindow);
  }
  if (CancelWaiting && PageResult == 0) {
    CancelWaiting = false;
    if (cancel_confirmed()) PageResult = kPageToClosing;
  }
  return PageResult != kPageToClosing;
}

static void install_on_tick(HWND page) {
  if (!InstallRunning || InstallPaused || ItemRunning) return;
  // Armed again before the items, so that the next tick is due when they
  // are done and comes as soon as paint, input and Cancel have gone
  // through: a timer armed afterwards would first wait out its delay.
  if (!arm_timer_or_finish(page)) return;
  bool more = install_for_a_while();
  // The user gave up at the disk prompt: as a confirmed Cancel.
  if (PageResult == kPageToClosing) {
    cancel_installation(page);
    return;
  }
  bool asked = CancelWaiting;
  CancelWaiting = false;
  if (asked && ErrorState == 0 && cancel_confirmed()) {
    cancel_installation(page);
    return;
  }
  if (more) return;
  stop_timer(page);
  finish_install();
}

// Windows ends the session, and the process with it once this returns:
// what the run changed is taken back now, without a question or a box.
// Inside an item (waiting in a question of its own) nothing is touched:
// the journal on the disk leaves that run to the next start of the setup.
void session_ending() {
  if (!InstallRunning || !ProgressWindow) return;
  if (ItemRunning) {
    log_event("session", "ending", "left to the next run");
    return;
  }
  log_event("session", "ending", "taking back");
  stop_timer(ProgressWindow);
  apply_button_mask(0);
  UserCancelled = true;
  abandon_install();
}

// Cancel, or a close of the window, while the installation runs.
static INT_PTR cancel_while_installing(HWND page) {
  // A close while the question is already up adds nothing.
  if (InstallPaused) return command_handled_answer(page);
  if (ItemRunning)
    CancelWaiting = true;
  else if (cancel_confirmed())
    cancel_installation(page);
  return command_handled_answer(page);
}

INT_PTR CALLBACK progress_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ProgressWindow = page;
      // A patched item reports as its new file grows, not only when done.
      PatchProgressReport = set_progress;
      page_setup(page, ButtonCancel);
      set_button_caption(IDCANCEL, 5);
      ItemRunning = CancelWaiting = false;
      forget_rollback_report();
      if (begin_install()) {
        block_shutdown(true);
        InstallPaused = false;
        arm_timer_or_finish(page);
      } else {
        // The archive cannot be opened (error 16): the final step reports
        // it and takes back the folder the wizard made. A page left
        // waiting would leave a hidden run waiting for ever.
        finish_install();
      }
      return TRUE;
    case WM_TIMER:
      install_on_tick(page);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) != IDCANCEL) break;
      if (InstallRunning) return cancel_while_installing(page);
      break;
    case WM_PAINT:
      paint_window(page, draw_progress);
      return TRUE;
    case WM_DESTROY:
      block_shutdown(false);
      stop_timer(page);
      ProgressWindow = nullptr;
      PatchProgressReport = nullptr;
      break;
  }
  return control_colour_answer(page, message, wparam, lparam);
}
