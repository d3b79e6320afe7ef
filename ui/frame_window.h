// The frame window of class KestrelClass, which covers the screen
// (full-screen mode) or fits around the container (windowed mode), and the
// container dialog that holds the pages and the Back, Next and Cancel buttons.
#pragma once
#include <windows.h>

extern const char kFrameClassName[];  // also the single-instance marker

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK container_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Registers KestrelClass with icon resource 800; false when it fails.
bool register_frame_class(HINSTANCE instance);
// Creates the hidden frame window over the whole screen, in the style of
// the archive's mode, and records the screen centre. Null on failure.
HWND create_frame_window(HINSTANCE instance);
// A confirmed Cancel: the user is told (text 6/15), the wizard goes to
// the closing page and the installation counts as cancelled.
void end_cancelled_wizard();
