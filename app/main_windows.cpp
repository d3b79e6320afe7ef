#include "app/main_windows.h"

HWND FrameWindow;
HWND ContainerDialog;
