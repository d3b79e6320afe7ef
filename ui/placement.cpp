#include "ui/placement.h"

#include "ui/main_windows.h"

int ScreenCentreX, ScreenCentreY;

void fit_frame_around(HWND inner) {
  RECT r;
  GetWindowRect(inner, &r);
  AdjustWindowRectEx(&r, kWindowedStyle, FALSE, 0);
  SetWindowPos(FrameWindow, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
  SetWindowPos(inner, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

// Centre on the screen centre, kept inside the frame; a container larger
// than the frame starts at its left or top edge.
// Called, not inlined: both axes share one copy.
__attribute__((noinline)) static int centred(int centre, int size, int room) {
  int x = centre - size / 2;
  int greatest = room - size;
  if (x > greatest) x = greatest;
  return x < 0 ? 0 : x;
}

void place_centred(HWND dialog) {
  RECT own, frame;
  GetWindowRect(dialog, &own);
  GetWindowRect(FrameWindow, &frame);
  int x = centred(ScreenCentreX, own.right - own.left, frame.right - frame.left);
  int y = centred(ScreenCentreY, own.bottom - own.top, frame.bottom - frame.top);
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
