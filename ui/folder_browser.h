// The Save-As common dialog turned into a folder picker.
#pragma once
#include <windows.h>

// Non-zero when the user confirmed a folder; `path` (260 bytes) then holds
// it, not necessarily with a trailing backslash. Unchanged on cancel.
int browse_for_folder(HWND owner, char* path);
