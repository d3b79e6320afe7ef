// The finish page with its error report, the closing page and the restart
// dialog.
#include "ui/finish_page.h"

#include <cstring>

#include "archive/config.h"
#include "archive/error_codes.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/messages.h"
#include "base/globals.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "install/destination.h"
#include "install/document_opener.h"
#include "install/engine.h"
#include "install/rollback.h"
#include "ui/control_rect.h"
#include "ui/error_report.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/sequencer.h"

bool RunProgramOption = true;

enum : int {
  kMainText = 1000,
  kOpenText = 1001,
  kCheckText = 1002,
  kSpareText = 1003,
  kOpenButton = 1014,
  kRunCheckBox = 1015,
  kClosingCaption = 1005,
  kClosingLink = 1006,
  kRestartText = 1000,
};
enum : unsigned { kCancelAtOnce = 0x100 };

static void show_control(HWND dialog, int id, bool shown) {
  if (HWND control = GetDlgItem(dialog, id)) ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

// An offer of the page: its caption, and the control shown.
static void show_offer(HWND page, int id, const char* caption) {
  SetDlgItemTextA(page, id, caption);
  show_control(page, id, true);
}

static bool some_item_not_placed() {
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry))
    if (get_u16(entry + kEntryStatus) == kStatusNotPlaced) return true;
  return false;
}

void open_document_item() {
  if (!DocumentItem) return;
  item_destination(DocumentItem);
  FileHandle file = open_file(DestPath, 0);
  if (file == INVALID_FILE_HANDLE) return;
  close_file(file);
  // The extension of the file name, not a dot in one of its folders.
  const char* name = std::strrchr(DestPath, '\\');
  const char* dot = std::strrchr(name ? name : DestPath, '.');
  open_document(DestPath, dot ? dot : ".");
}

// The system's wording of SavedSystemError, at most 500 characters.
// Inserts are ignored: a text with %1 has no arguments here.
static void system_error_text(char* out, DWORD capacity) {
  enum : DWORD { kSystemTextLimit = 500 };
  out[0] = '\0';
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, SavedSystemError,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), out, capacity < kSystemTextLimit ? capacity : kSystemTextLimit,
                 nullptr);
}

// The report of ErrorState as the finish page shows it.
static void error_report(char* out, size_t capacity) {
  char system_text[kMessageCapacity];
  system_error_text(system_text, sizeof system_text);
  format_error_report(out, capacity, ErrorState, system_text);
}

void log_error() {
  char report[kMessageCapacity];
  error_report(report, sizeof report);
  log_number("error", ErrorState, report);
}

void settle_outcome() {
  // An item that was not placed fails the installation; checked first so
  // that this failure, too, suppresses the restart.
  if (ErrorState == 0 && some_item_not_placed()) ErrorState = kErrorNotReplaced;
  if (*get_text(5, 8)) RestartNeeded = true;
  if (ErrorState != 0) {
    RestartNeeded = false;
    log_error();
  }
}

// The report takes the page down to its bottom: the offers below the
// texts are hidden, and a rollback that lists files in use ends with what
// to do about them.
static void show_error_report(HWND page) {
  RECT main_text, whole;
  if (control_rect(page, kMainText, &main_text) && GetClientRect(page, &whole))
    SetWindowPos(GetDlgItem(page, kMainText), nullptr, 0, 0, main_text.right - main_text.left,
                 whole.bottom - main_text.top, SWP_NOMOVE | SWP_NOZORDER);
  show_control(page, kOpenText, false);
  show_control(page, kCheckText, false);
  char report[kMessageCapacity];
  error_report(report, sizeof report);
  // A failed installation was taken back: say how that went.
  append_rollback_report(report, sizeof report);
  SetDlgItemTextA(page, kMainText, report);
  forget_role_items();
}

static void show_offers(HWND page) {
  bool button_shown = false;
  if (DocumentItem || single_page_mode()) {
    const char* caption = get_text(5, 5);
    if (*caption) {
      show_offer(page, kOpenButton, caption);
      button_shown = true;
    } else {
      open_document_item();
    }
  }
  const char* check_caption = get_text(5, 6);
  if (!RestartNeeded && (ProgramItem || single_page_mode()) && *check_caption) {
    show_offer(page, kRunCheckBox, check_caption);
    RECT box, button;
    if (!button_shown && !*get_text(5, 2) && control_rect(page, kRunCheckBox, &box) &&
        control_rect(page, kOpenButton, &button)) {
      SetWindowPos(GetDlgItem(page, kRunCheckBox), nullptr, box.left, button.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
      set_item_text(page, kOpenText, 5, 3);
      SetDlgItemTextA(page, kCheckText, "");
    }
  }
}

INT_PTR CALLBACK finish_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      settle_outcome();
      page_setup(page, ButtonNext | kCancelAtOnce);
      SetDlgItemTextA(page, kSpareText, "");
      show_control(page, kOpenButton, false);
      show_control(page, kRunCheckBox, false);
      SendDlgItemMessageA(page, kRunCheckBox, BM_SETCHECK, RunProgramOption ? BST_CHECKED : BST_UNCHECKED, 0);
      if (ErrorState != 0)
        show_error_report(page);
      else
        show_offers(page);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
        case IDCANCEL:
          PageResult = kPageToClosing;
          return command_handled_answer(page);
        case kOpenButton:
          open_document_item();
          return command_handled_answer(page);
        case kRunCheckBox:
          RunProgramOption = SendDlgItemMessageA(page, kRunCheckBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
          return command_handled_answer(page);
      }
      break;
  }
  return control_colour_answer(page, message, wparam, lparam);
}

INT_PTR CALLBACK closing_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      page_setup(page, ButtonCancel | kCancelAtOnce);
      // The heading, the text behind it and the web-site button.
      HWND heading = GetDlgItem(page, kClosingCaption);
      set_carried_text(heading, 6, 44);
      set_carried_text(GetWindow(heading, GW_HWNDNEXT), 6, 45);
      set_carried_text(GetDlgItem(page, kClosingLink), 6, 46);
      char caption[99] = "";
      SendDlgItemMessageA(page, kClosingCaption, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption));
      SetWindowTextA(full_screen_mode() ? ContainerDialog : FrameWindow, caption);
      // The web-site button opens the product's address; without one it is not offered.
      show_control(page, kClosingLink, *product_detail(kDetailUrl));
      // Next is not offered here: Enter ends the wizard as Cancel does.
      SendMessageA(ContainerDialog, DM_SETDEFID, IDCANCEL, 0);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == kClosingLink) {
        open_document(product_detail(kDetailUrl), ".htm");
        break;
      }
      PageResult = LOWORD(wparam);
      return command_handled_answer(page);
  }
  return control_colour_answer(page, message, wparam, lparam);
}

INT_PTR CALLBACK restart_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      apply_dialog_font(dialog);
      RECT frame = {}, own = {};
      GetClientRect(FrameWindow, &frame);
      GetClientRect(dialog, &own);
      // A pop-up is placed in screen coordinates: from the frame's client origin.
      POINT origin = {0, 0};
      MapWindowPoints(FrameWindow, nullptr, &origin, 1);
      int x = origin.x + (frame.right - own.right) / 2;
      int y = origin.y + (frame.bottom - own.bottom) / 2;
      SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      SetWindowTextA(dialog, get_text(6, 0));
      set_item_text(dialog, IDOK, 7, 6);
      set_item_text(dialog, IDCANCEL, 7, 2);
      set_item_text(dialog, kRestartText, 5, 7);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
  }
  return control_colour_answer(dialog, message, wparam, lparam);
}
