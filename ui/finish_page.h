// What the finish page decides for the finishing actions, and the restart
// dialog they show.
#pragma once
#include <windows.h>

// The finish page's "run the program" check box; on when the program starts.
extern bool RunProgramOption;

// Opens the installed document item, when it exists on disk.
void open_document_item();
// Dialog procedure of template 8; ends with 1 when the user agrees to restart.
INT_PTR CALLBACK restart_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
