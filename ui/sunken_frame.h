// The sunken frame drawn around the wizard's pictures, the progress bar and
// the container's separator, and the solid rectangles it is made of.
#pragma once
#include <windows.h>

void fill_colour_rect(HDC dc, int x, int y, int width, int height, COLORREF colour);
void draw_sunken_frame(HDC dc, const RECT& rect, bool fill);
void sunken_frame_around_control(HWND dialog, HDC dc, int control_id, bool fill);
