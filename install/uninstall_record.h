// The uninstall record appended to the installed uninstaller.
#pragma once
#include <windows.h>

// u16 length, then the text's bytes without terminator.
void write_counted_string(HANDLE log, const char* text);
