// What this run of the setup has changed on the machine, in the order it
// did it, kept in memory so that a cancelled or failed installation can be
// taken back (install/rollback.h), and written to a file as well, so that
// the next run can take back one that was ended by force
// (install/journal_file.h). Every change is noted before it is
// made, with what stood there before; a change that cannot be noted (no
// memory, no backup) is not made. Each record holds only paths, a number
// and, for a registry value or an INI key, its earlier data: a few dozen
// bytes per file. Lists that other programs share (the replacements at the
// next start, shared counts, INI files) are noted by this run's own entry
// in them, never whole, so that a rollback leaves what others added.
#pragma once
#include <windows.h>

#include <cstdint>

#include "record/journal_records.h"

// The journal's records lie one after the other; a position names one.
// journal_next answers false at the end.
uint32_t journal_count();
uint32_t journal_size();  // bytes held
const uint8_t* journal_bytes();
bool journal_next(uint32_t* position, Change* change);
// Forgets every record (the memory goes too), and ends the journal's file.
void journal_clear();
// The records of an ended run's journal file (install/journal_file.h), in
// a block of at least `used` bytes that the journal now owns.
void adopt_journal(uint8_t* bytes, uint32_t used, uint32_t count);

// Each notes one change before it is made; false when it cannot be noted.
bool note_created_file(const char* path);
// The newest note was of a change that could not be made after all (the
// name was taken when the file was to be made): it names nothing to take
// back.
void withdraw_newest_note();
bool note_replaced_file(const char* path, const char* backup, uint32_t attributes);
// The backup that the newest record names when that record is the
// replacement of `path` and the backup was never made (the file was in
// use): a retry is that replacement again and takes it over. Null else.
const char* unmade_backup(const char* path);
bool note_created_folder(const char* path);
bool note_added_font(const char* path);
bool note_registered_library(const char* path);
// An entry about to be added to a search path that does not hold it: its
// rollback takes out that entry alone, not the value as it was.
bool note_path_entry(uint8_t scope, const char* entry);
// The value as it is now (or that there is none).
bool note_registry_value(HKEY root, const char* key, const char* name);
// A replacement of target by source about to be added to the NT family's
// list of replacements at the next start.
bool note_restart_rename(const char* target, const char* source);
// An INI key about to be written, with its value as it is now (or that
// there is none); `file` is a whole path. A file this run made or replaced
// already needs nothing more. False without memory.
bool note_ini_key(const char* file, const char* section, const char* key);
// A shared library's count about to be raised by `raised`; `existed`: a
// count was there.
bool note_shared_count(const char* path, uint32_t raised, bool existed);
// The uninstaller's record holds this run now: its uninstaller, started
// after a kill, removes what the run installed rather than take it back.
bool note_record_written(const char* uninstaller);
// Each level of the key that does not exist yet, outermost first.
bool note_registry_key(HKEY root, const char* key);
// A file about to be changed in place (a patched file, a shortcut written
// again): noted once per run, as created when it is not
// there, else by a copy kept as its backup; a file this run made or
// replaced already needs nothing more. False when the copy cannot be made.
bool note_file_change(const char* path);
// The file of a profile name as the profile functions find it: a name
// without a folder lies in the Windows folder.
void profile_file_path(const char* name, char* out);
