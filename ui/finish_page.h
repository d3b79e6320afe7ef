// What the finish page decides for the finishing actions, and the restart
// dialog they show.
#pragma once
#include <windows.h>

// The finish page's "run the program" check box; on when the program starts.
extern bool RunProgramOption;

// After the installation: an item not placed is a failure (error 22), a
// publisher's restart text asks for a restart, a failure never restarts
// and goes into the log.
void settle_outcome();
// Logs ErrorState with the text the finish page shows for it.
void log_error();
// Opens the installed document item, when it exists on disk.
void open_document_item();
// Dialog procedure of template 8; ends with 1 when the user agrees to restart.
INT_PTR CALLBACK restart_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
