// Window handles of the wizard, null while they do not exist. Message
// boxes are owned by the topmost of them.
#pragma once
#include <windows.h>

extern HWND FrameWindow;      // the KestrelClass window
extern HWND ContainerDialog;  // the dialog that holds the pages and the buttons
