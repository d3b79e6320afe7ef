// This program's own installation record: the bytes that the setup
// appended behind the stamped image of the uninstaller or, when the image
// is signed, its side file (record/uninstall_data.h).
#pragma once
#include <windows.h>

#include "record/uninstall_data.h"

struct OwnRecord {
  uint8_t* bytes;  // the record as read; data points into it
  uint32_t length;
  bool side;                // read from the side file, which is `side_path`
  char side_path[MAX_PATH];
  UninstallData data;
};

// Reads and parses the record behind the image in the file own_path, or,
// for a signed image, the side file of the installed uninstaller at
// `installed`. An image that was never stamped, or a file that ends at
// the image, has no record; a signed one without its side file has a
// damaged one. free_own_record releases it whatever the answer.
UninstallDataStatus read_own_record(const char* own_path, const char* installed, OwnRecord* record);
void free_own_record(OwnRecord* record);

// Marks the record of the uninstaller at path as carried out, when that
// file is still the one own_path was copied from (byte for byte), and a
// side file still holds the record as read: another file at that path
// since, such as the next installation's uninstaller or record, is left
// alone. False when nothing was marked.
bool mark_record_used(const char* path, const char* own_path, const OwnRecord& record);
