// Desktop and start-menu shortcuts through the shell link object.
#pragma once
#include <windows.h>

// A .lnk file at link_path that starts target_path; arguments may be null.
HRESULT create_shortcut(const char* target_path, const char* link_path, const char* arguments, int icon_index);
// One start-menu shortcut in `location` (a start-menu folder path relative
// to the Programs folder); recorded in `log` when it is not
// INVALID_HANDLE_VALUE. True when it wrote a record.
bool make_menu_shortcut(const char* target_path, const char* location, const char* name, const char* arguments,
                        int icon_index, HANDLE log);
// Every start-menu shortcut of the current FileList; with a log file, one
// ShortcutList block at its current end.
void make_menu_shortcuts(HANDLE log);
