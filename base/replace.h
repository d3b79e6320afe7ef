// Replacing or deleting a file at the next start of Windows, for files that
// are in use now.
#pragma once

// With a target: target is replaced by source at the next start. With a
// null target: source is deleted then. False when it could not be
// scheduled.
bool replace_at_restart(const char* target, const char* source);
// The name the Windows 95 family's list (WININIT.INI, section "Rename")
// gives a path: its short form, or the path itself when it has none.
void restart_list_name(const char* path, char* out);
// Takes one replacement of target by source off the NT family's list
// (PendingFileRenameOperations), the newest such pair, and nothing else;
// the list goes when nothing is left in it. False when the pair is not
// there or the list cannot be written.
bool cancel_restart_rename(const char* target, const char* source);
