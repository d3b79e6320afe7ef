#include "ui/control_rect.h"

bool control_rect(HWND dialog, int id, RECT* rect) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || !GetWindowRect(control, rect)) return false;
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(rect), 2);
  return true;
}
