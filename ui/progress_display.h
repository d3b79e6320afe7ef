// The progress page's display: the block bar painted off-screen, the
// percentage and the shortened name of the file being installed.
#pragma once
#include <windows.h>

extern HWND ProgressWindow;     // the progress page while it exists, else null
extern unsigned ProgressPercent;  // 0..100

// Paints the bar into control 1009's place and the percentage into 1010;
// with no device context it takes and releases the window's own.
void draw_progress(HWND window, HDC dc);
