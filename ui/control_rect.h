// Where a dialog's control lies, for drawing and placing around it.
#pragma once
#include <windows.h>

// The control's window rectangle in the dialog's client coordinates; false
// when the dialog has no such control.
bool control_rect(HWND dialog, int id, RECT* rect);
