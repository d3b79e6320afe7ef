// Taking back a cancelled or failed installation from its journal
// (install/journal.h), and keeping a finished one.
#pragma once
#include <cstddef>

// Undoes every change of the journal, newest first, and empties it: files
// this run made go, replaced files come back from their backups, registry
// values and keys, fonts and registrations are as they were, and then the
// folders and keys it made go when they are empty. The progress page, when
// it is there, shows the files as they are taken back. A file made by this
// run that cannot be removed (in use) stays; with an uninstaller of this
// run the record of such files is written into it and it is registered,
// so that it can remove them later; an earlier installation's uninstaller
// that the rollback put back gets them added to its record.
void roll_back_changes();
// The installation stands: the backups go and the journal empties.
void keep_changes();
// Appends to a message what the last rollback left: that nothing was
// changed (text 6/32), or the files that stay (6/33) and the uninstaller
// that removes them (6/34). Nothing when there was no rollback.
void append_rollback_report(char* message, size_t capacity);
// Forgets the report of the last rollback.
void forget_rollback_report();
// Takes back a run of this product that was ended by force, from the
// journal file `path` (install/journal_file.h), logging each step, or,
// when that run was complete, deletes its backups; the journal goes.
void take_back_interrupted_run(const char* path);
