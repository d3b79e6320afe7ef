// Machinery every wizard dialog shares: page set-up, the container's
// button mask, the dialog font, the face brush and small painting helpers.
#pragma once

#include <windows.h>

// Button mask bits: which container buttons a page enables, and whether
// Cancel ends the page without asking first.
enum : unsigned { ButtonBack = 1, ButtonNext = 2, ButtonCancel = 4, ButtonCancelAtOnce = 0x100 };

// Container controls the pages rely on.
enum : int {
  kNextButton = IDOK,
  kCancelButton = IDCANCEL,
  kBackButton = 1007,
  kPagePlaceholder = 1006,
  kPictureArea = 1011,
  kSeparator = 1012,
};

extern HWND CurrentPageWindow;    // set by page set-up; not cleared when the page goes
extern unsigned StoredButtonMask;  // the last mask page set-up applied

// The solid face-colour brush, or the stock light-grey brush when it cannot
// be made; made at start-up and deleted with the dialog font at shutdown.
void make_face_brush();
void release_dialog_objects();

// Called by every page procedure on WM_INITDIALOG.
void page_setup(HWND page, unsigned button_mask);
// Stores the mask and enables or disables Back, Next and Cancel.
void apply_button_mask(unsigned mask);
// Back (1007), Next (1) or Cancel (2) of the container gets text 7/index.
void set_button_caption(int button_id, unsigned text_index);
// Control `id` of the dialog gets text list/index.
void set_item_text(HWND dialog, int id, int list, int index);
// Text list/index on a control whose template gives it words of its own:
// a setup that does not carry the text (built before it was one, or of
// one language) keeps the template's.
void set_carried_text(HWND control, int list, int index);
// Gives the dialog font to every direct child window.
void apply_dialog_font(HWND dialog);
// Default branch of every wizard dialog procedure; a brush or 0.
INT_PTR control_colour_answer(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Sets DWL_MSGRESULT to 1 and returns TRUE: the page consumed a button.
INT_PTR command_handled_answer(HWND dialog);
// A WM_PAINT answered: `paint` draws into the window's device context
// between BeginPaint and EndPaint, when BeginPaint gave one.
void paint_window(HWND window, void (*paint)(HWND, HDC));
