// The earlier installations that a new record takes over from the record
// of the uninstaller it is written over. Every reinstall into a folder
// would otherwise carry every earlier record whole, and the record would
// soon outgrow what the uninstaller reads (kMaxRecordLength). So their
// files are merged into one EarlierRemovals block, one record per path and
// flags, and each installation's other blocks (shortcuts, key, settings,
// folders) are kept once, with an empty RemoveList. Portable (no
// windows.h), so that it is checked on the host as well.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "record/uninstall_data_writer.h"

// `old` is the record written over, which parse_uninstall_data accepted and
// record_plans took for `uninstaller_folder`; `own_list` is the RemoveList
// block (header and payload) that the new record begins with, whose "." is
// InstallDir (ending in a backslash). A file that the new list names again
// with the same flags is not listed twice, but for a shared file: its
// record counts the earlier installations that raised its count, so that
// the uninstaller lowers it as often. Borrows DestPath. False, with
// nothing written, when the merge cannot be made (no memory for it).
bool write_earlier_installations(RecordFile* log, const uint8_t* old, size_t old_length,
                                 const char* uninstaller_folder, const uint8_t* own_list, size_t own_list_length);
