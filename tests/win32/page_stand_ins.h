// Stand-ins for the wizard's shared page machinery (page set-up and the
// container's answers), for test programs that run one page procedure on
// its own. Include in one file of a test program only.
#pragma once
#include <windows.h>

#include "ui/page_setup.h"

unsigned LastButtonMask;  // the mask of the last page set-up
int LastCaptionButton, LastCaptionText;

void page_setup(HWND, unsigned button_mask) { LastButtonMask = button_mask; }
void set_button_caption(int button_id, unsigned text_index) {
  LastCaptionButton = button_id;
  LastCaptionText = static_cast<int>(text_index);
}
void apply_dialog_font(HWND) {}
INT_PTR control_colour_answer(HWND, UINT, WPARAM, LPARAM) { return 0; }
INT_PTR command_handled_answer(HWND dialog) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
  return TRUE;
}
