#include "ui/progress_display.h"


#include "archive/config.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/engine_reports.h"
#include "ui/control_rect.h"
#include "ui/page_setup.h"
#include "ui/sunken_frame.h"

HWND ProgressWindow;
unsigned ProgressPercent;

enum : int { kCurrentFile = 1008, kBarArea = 1009, kPercentText = 1010, kFileLabel = 1000, kBelowBar = 1001 };
enum : int { kTextFileLabel = 1, kTextUndoingLabel = 5, kTextUndoing = 6 };
enum : unsigned { kShownPathLimit = 30 };
// A name waits at most this long to be shown while items go in quickly.
enum : DWORD { kNameInterval = 25 };

// The name of the item being installed while it waits to be shown.
static char WaitingName[kPathSize];
static bool NameWaiting;
static DWORD NameShownAt;
// The label before the name is empty while a status is shown in its place.
static bool StatusShown;

// A text control of the page painted at once: the engine may go on for a
// while (a rollback, an installation without a timer) before the message
// loop paints again.
static void paint_now(int id) {
  if (HWND control = GetDlgItem(ProgressWindow, id)) RedrawWindow(control, nullptr, nullptr, RDW_UPDATENOW);
}

// A hidden page (an unattended run) is not painted; its own paint shows
// the current state once it is shown.
static bool page_shown() { return ProgressWindow && IsWindowVisible(ProgressWindow); }

void set_progress(unsigned percent) {
  percent = percent < 100 ? percent : 100;
  // Most items of a large product leave the bar where it was: it shows
  // this value already, or the page's next paint will.
  if (percent == ProgressPercent) return;
  ProgressPercent = percent;
  // Without a page there is nothing to paint (and GetDC(null) is the screen).
  if (!page_shown()) return;
  draw_progress(ProgressWindow, nullptr);
  paint_now(kPercentText);
}

static void show_name(const char* shown) {
  if (StatusShown) {
    StatusShown = false;
    set_item_text(ProgressWindow, kFileLabel, 4, kTextFileLabel);
    paint_now(kFileLabel);
  }
  SetDlgItemTextA(ProgressWindow, kCurrentFile, shown);
  paint_now(kCurrentFile);
  NameShownAt = GetTickCount();
}

void show_current_file(const char* path) {
  NameWaiting = false;
  if (!ProgressWindow) return;
  char shown[kPathSize];
  copy_string(shown, path, sizeof shown);
  shorten_path(shown, kShownPathLimit);
  show_name(shown);
}

void show_status(const char* text) {
  NameWaiting = false;
  if (!ProgressWindow) return;
  SetDlgItemTextA(ProgressWindow, kFileLabel, "");
  paint_now(kFileLabel);
  show_name(text);
  StatusShown = true;
}

void announce_file(const char* path, bool takes_a_while) {
  if (!ProgressWindow) return;
  copy_string(WaitingName, path, sizeof WaitingName);
  NameWaiting = true;
  if (takes_a_while || GetTickCount() - NameShownAt >= kNameInterval) show_waiting_file();
}

void show_waiting_file() {
  if (!NameWaiting || !ProgressWindow) return;
  // A hidden page (an unattended run) is not painted; its name keeps
  // waiting in case the page is shown, and is looked at again in a while.
  NameShownAt = GetTickCount();
  if (!page_shown()) return;
  NameWaiting = false;
  shorten_path(WaitingName, kShownPathLimit);
  show_name(WaitingName);
}

void show_rollback_texts() {
  if (!ProgressWindow) return;
  StatusShown = false;
  set_item_text(ProgressWindow, kFileLabel, 4, kTextUndoingLabel);
  set_item_text(ProgressWindow, kBelowBar, 4, kTextUndoing);
  paint_now(kFileLabel);
  paint_now(kBelowBar);
}

void draw_progress(HWND window, HDC dc) {
  HDC target = dc ? dc : GetDC(window);
  if (!target) return;
  char percent[16];
  wsprintfA(percent, "%d%%", static_cast<int>(ProgressPercent));
  SetDlgItemTextA(window, kPercentText, percent);

  RECT place;
  if (control_rect(window, kBarArea, &place)) {
    int w = place.right - place.left;
    int h = place.bottom - place.top;
    POINT corner = {place.left, place.top};
    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(target, w, h) : nullptr;
    HGDIOBJ previous = bitmap ? SelectObject(memory, bitmap) : nullptr;
    if (previous) {
      // The face inside a sunken frame: the frame's lines cover the outer pixels.
      RECT bar = {0, 0, w, h};
      draw_sunken_frame(memory, bar, true);
      HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
      if (brush) {
        unsigned half = h / 2;
        unsigned filled = ProgressPercent * w / 100;
        for (unsigned k = 0;; ++k) {
          int left = 1 + k * (half + 2);
          RECT block = {left, 2, left + static_cast<int>(half), h - 2};
          FillRect(memory, &block, brush);
          unsigned next_right = 1 + (k + 1) * (half + 2) + half;
          if (next_right >= static_cast<unsigned>(w) || next_right >= filled) break;
        }
        BitBlt(target, corner.x, corner.y, w, h, memory, 0, 0, SRCCOPY);
        DeleteObject(brush);
      }
      SelectObject(memory, previous);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
  }
  if (!dc) ReleaseDC(window, target);
}
