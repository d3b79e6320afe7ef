// Desktop and start-menu shortcuts through the shell link object.
#pragma once
#include <windows.h>

// A .lnk file at link_path that starts target_path; arguments may be null.
HRESULT create_shortcut(const char* target_path, const char* link_path, const char* arguments, int icon_index);
struct RecordFile;
// One start-menu shortcut in `location` (a start-menu folder path relative
// to the Programs folder); recorded in `log` when it is not null, and then
// made only once its record is written. True when it wrote a record.
bool make_menu_shortcut(const char* target_path, const char* location, const char* name, const char* arguments,
                        int icon_index, RecordFile* log);
// Every start-menu shortcut of the current FileList; with a record, one
// ShortcutList block at its current end. Once a write of the record has
// failed, no further shortcut is made.
void make_menu_shortcuts(RecordFile* log);
