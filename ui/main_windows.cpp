#include "ui/main_windows.h"

HWND FrameWindow;
HWND ContainerDialog;
