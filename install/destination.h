// Destination paths of FileList entries and of the files that the settings
// lists name.
#pragma once
#include <cstdint>

// Writes the entry's destination into DestPath; 1 when it is a shared system
// file that is in use, else 0.
int item_destination(const uint8_t* entry);
// Writes into DestPath the file that an INI entry or a string patch names:
// the destination of the FileList entry of that name, else the name with its
// macros expanded.
void resolve_target_file(const char* name);
