// New files of the uninstaller's own in the temporary folder: its working
// copy and the batch that deletes that copy.
#pragma once
#include <windows.h>

// The temporary folder with its trailing backslash, into MAX_PATH bytes.
bool temporary_folder(char* folder);
// Creates a file of a name not taken yet in folder, "kun" and a number
// with extension (such as ".bat"), into path (MAX_PATH bytes), open for
// writing. False when none could be made.
bool create_temporary_file(const char* folder, const char* extension, char* path, HANDLE* file);
