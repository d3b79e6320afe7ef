// Installing one item: the helpers of install_next_item (install/engine.h).
#pragma once
#include <cstdint>

#include "archive/file_entry.h"  // the item status values

// 1 write the item, 0 keep the existing file (its version is newer, or its
// language differs, and the user did not want it replaced).
int check_versions(const uint8_t* entry);
// Puts the written temporary file in place of DestPath and sets the item
// status; a file that was there waits as a backup until the installation
// ends. A full disk (error 20) or a refusal that no user of the file causes
// (error 17) sets ErrorState, naming DestPath.
void place_file(uint8_t* entry, const char* temp_path);
// The destination cannot be deleted: schedules it, keeps it, or asks.
// IDRETRY, IDIGNORE or IDABORT.
int ask_replace(uint8_t* entry, const char* temp_path);
