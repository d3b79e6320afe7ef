// Replacing files during the installation so that a rollback can take it
// back: now, with the old file kept until the installation ends, or at the
// next start of Windows with the restart list noted first.
#pragma once
#include <cstdint>

// replace_at_restart for the installation: the restart list it writes and
// the file that waits are noted in the journal first, so that a rollback
// takes the replacement back.
bool schedule_replacement(const char* target, const char* source);

enum class Replacement { kPlaced, kInUse, kDiskFull, kDenied, kFailed };
// Puts the temporary file in the place of the existing file `target`,
// whose attributes are given. The old file is kept as a backup beside it
// until the installation ends (noted in the journal): a hard link or a
// copy on the NT family, which then replaces in one step, the old file
// itself moved aside on the Windows 95 family, put back when the new one
// cannot follow. A read-only file is replaced and the new one is
// read-only. kInUse when a user of the file keeps it from being replaced,
// kDiskFull when the drive has no room for the backup or the new file,
// kDenied when the system refuses for another reason than a user of the
// file (its permissions or its folder's).
Replacement replace_with_backup(const char* temp_path, const char* target, uint32_t attributes);
// Whether replace_with_backup's backup of a file in `folder` is a copy,
// which takes room beside the old file: on the NT family without hard
// links, or on a drive that holds none (anything but NTFS, unless it says
// it does). A link or, on the 95 family, the old file moved aside, takes
// none of its own; the old file's room stays taken either way.
bool backup_is_copy(const char* folder);
