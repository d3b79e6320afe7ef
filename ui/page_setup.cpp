#include "ui/page_setup.h"

#include "archive/config.h"
#include "archive/languages.h"
#include "base/command_line.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "ui/control_rect.h"
#include "ui/main_windows.h"
#include "ui/page_table.h"
#include "ui/placement.h"

HWND CurrentPageWindow;
unsigned StoredButtonMask;

static HFONT DialogFont;
static HBRUSH FaceBrush;
static bool FaceBrushOwned;

enum : unsigned { kCaptionCapacity = 1024 };

void make_face_brush() {
  FaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  FaceBrushOwned = FaceBrush != nullptr;
  if (!FaceBrush) FaceBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
}

void release_dialog_objects() {
  if (DialogFont) DeleteObject(DialogFont);
  DialogFont = nullptr;
  if (FaceBrushOwned) DeleteObject(FaceBrush);
  FaceBrush = nullptr;
  FaceBrushOwned = false;
}


// The text list of the page being shown; none (every text empty) outside
// the wizard.
static int page_text_list() {
  return CurrentPage >= 0 && CurrentPage < kPageCount ? PageTable[CurrentPage].text_list : -1;
}

static void show_titles(int list) {
  const char* page_title = get_text(list, 0);
  const char* setup_title = get_text(6, 0);
  SetWindowTextA(FrameWindow, setup_title);
  if (!page_title[0]) return;
  if (full_screen_mode()) {
    SetWindowTextA(ContainerDialog, page_title);
    return;
  }
  char* caption = nullptr;
  if (!alloc_zeroed(kCaptionCapacity, &caption)) return;
  copy_string(caption, setup_title, kCaptionCapacity);
  append_string(caption, " - ", kCaptionCapacity);
  append_string(caption, page_title, kCaptionCapacity);
  SetWindowTextA(FrameWindow, caption);
  free_block(&caption);
}

void page_setup(HWND page, unsigned button_mask) {
  CurrentPageWindow = page;
  apply_dialog_font(page);
  if (!ContainerDialog) {
    // A silent run's window: the page alone, in the middle of the screen;
    // a very silent run shows nothing.
    place_centred(page);
    fit_frame_around(page);
    if (Switches.mode == RunMode::kSilent) ShowWindow(FrameWindow, SW_SHOWNORMAL);
  } else {
    RECT r;
    // First among the container's windows, so that Tab runs through the
    // page before the buttons.
    if (control_rect(ContainerDialog, kPagePlaceholder, &r))
      SetWindowPos(page, HWND_TOP, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  }
  int list = page_text_list();
  show_titles(list);
  for (int i = 1; i <= 4; ++i)
    set_item_text(page, 999 + i, list, i);
  set_button_caption(kBackButton, 0);
  set_button_caption(kNextButton, 1);
  set_button_caption(kCancelButton, 2);
  if (single_page_mode()) button_mask |= ButtonCancelAtOnce;
  apply_button_mask(button_mask);
  // The page starts with the focus on a button that shows: Next where it is
  // offered, else Cancel; a control of the page that has it keeps it.
  if (ContainerDialog && GetParent(GetFocus()) != page)
    SetFocus(GetDlgItem(ContainerDialog, button_mask & ButtonNext ? kNextButton : kCancelButton));
}

void apply_button_mask(unsigned mask) {
  StoredButtonMask = mask;
  static const struct {
    int id;
    unsigned bit;
  } buttons[] = {{kBackButton, ButtonBack}, {kNextButton, ButtonNext}, {kCancelButton, ButtonCancel}};
  for (const auto& b : buttons)
    if (HWND button = GetDlgItem(ContainerDialog, b.id)) EnableWindow(button, (mask & b.bit) != 0);
}

void set_button_caption(int button_id, unsigned text_index) { set_item_text(ContainerDialog, button_id, 7, text_index); }

void set_item_text(HWND dialog, int id, int list, int index) { SetDlgItemTextA(dialog, id, get_text(list, index)); }

void set_carried_text(HWND control, int list, int index) {
  const char* text = get_text(list, index);
  if (*text) SetWindowTextA(control, text);
}

void apply_dialog_font(HWND dialog) {
  if (!DialogFont) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA description;
    if (!font || GetObjectA(font, sizeof description, &description) != sizeof description) return;
    description.lfWeight = FW_NORMAL;
    // A language of another script names the face its Windows letters
    // dialogs with: the template's has none of its letters.
    if (ChosenLanguage && ChosenLanguage[kLanguageFace]) {
      description.lfCharSet = ChosenLanguage[kLanguageCharset];
      copy_string(description.lfFaceName, reinterpret_cast<const char*>(ChosenLanguage + kLanguageFace),
                  sizeof description.lfFaceName);
    }
    DialogFont = CreateFontIndirectA(&description);
    if (!DialogFont) return;
  }
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont), FALSE);
}

INT_PTR control_colour_answer(HWND, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(FaceBrush ? FaceBrush : GetStockObject(LTGRAY_BRUSH));
    default:
      return 0;
  }
}

INT_PTR command_handled_answer(HWND dialog) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
  return TRUE;
}

void paint_window(HWND window, void (*paint)(HWND, HDC)) {
  PAINTSTRUCT paint_info;
  HDC dc = BeginPaint(window, &paint_info);
  if (dc) paint(window, dc);
  EndPaint(window, &paint_info);
}

