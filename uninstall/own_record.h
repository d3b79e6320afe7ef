// This program's own installation record: the bytes that the setup
// appended behind the stamped image of the uninstaller.
#pragma once
#include "record/uninstall_data.h"

struct OwnRecord {
  uint8_t* bytes;  // the record as read; data points into it
  UninstallData data;
};

// Reads and parses the record behind the image in the file own_path. An
// image that was never stamped, or a file that ends at the image, has no
// record. free_own_record releases it whatever the answer.
UninstallDataStatus read_own_record(const char* own_path, OwnRecord* record);
void free_own_record(OwnRecord* record);

// Marks the record of the uninstaller at path as carried out, when that
// file is still the one own_path was copied from (byte for byte): another
// file at that path since, such as the next installation's uninstaller, is
// left alone. False when nothing was marked.
bool mark_record_used(const char* path, const char* own_path);
