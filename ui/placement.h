// Where the wizard's windows go: the frame's two styles, the frame fitted
// around a window in windowed mode, and a dialog centred on the screen.
#pragma once
#include <windows.h>

enum : DWORD {
  kFullScreenStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
  kWindowedStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
};
static_assert(kFullScreenStyle == 0x02CF0000 && kWindowedStyle == 0x00CA0000, "frame styles");

// The screen's centre, recorded when the frame is made.
extern int ScreenCentreX, ScreenCentreY;

// Windowed mode (and the window of a silent run, around the progress page
// alone): moves and sizes the frame so that its client area is exactly
// where `inner` is, and `inner` to the client origin.
void fit_frame_around(HWND inner);
// Moves a child of the frame to the screen centre, kept inside the frame.
void place_centred(HWND dialog);
