#include "ui/sunken_frame.h"

#include "ui/control_rect.h"

void fill_colour_rect(HDC dc, int x, int y, int width, int height, COLORREF colour) {
  RECT r = {x, y, x + width, y + height};
  SetBkColor(dc, colour);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
}

void draw_sunken_frame(HDC dc, const RECT& rect, bool fill) {
  int w = rect.right - rect.left;
  int h = rect.bottom - rect.top;
  if (fill) fill_colour_rect(dc, rect.left + 1, rect.top + 1, w - 2, h - 2, GetSysColor(COLOR_BTNFACE));
  COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  fill_colour_rect(dc, rect.left, rect.top, w - 1, 1, shadow);
  fill_colour_rect(dc, rect.left, rect.top, 1, h - 1, shadow);
  COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  fill_colour_rect(dc, rect.left, rect.bottom - 1, w, 1, highlight);
  fill_colour_rect(dc, rect.right - 1, rect.top, 1, h, highlight);
}

void sunken_frame_around_control(HWND dialog, HDC dc, int control_id, bool fill) {
  RECT r;
  if (control_rect(dialog, control_id, &r)) draw_sunken_frame(dc, r, fill);
}
