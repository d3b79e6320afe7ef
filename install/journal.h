// What this run of the setup has changed on the machine, in the order it
// did it, kept in memory so that a cancelled or failed installation can be
// taken back (install/rollback.h). Every change is noted before it is
// made, with what stood there before; a change that cannot be noted (no
// memory, no backup) is not made. Each record holds only paths, a number
// and, for a registry value, its earlier data: a few dozen bytes per file.
#pragma once
#include <windows.h>

#include <cstdint>

enum class ChangeKind : uint8_t {
  kCreatedFile,        // path: a file that was not there
  kReplacedFile,       // path, backup, number = its attributes: the old file waits as backup
  kCreatedFolder,      // path
  kRegistryValue,      // number = root, path = key, name, earlier data (type, bytes) or none
  kCreatedKey,         // number = root, path = key
  kAddedFont,          // path: AddFontResourceA
  kRegisteredLibrary,  // path: DllRegisterServer was called
  kPathEntry,          // number = scope, path = the entry added to that search path
};

struct Change {
  ChangeKind kind;
  bool existed;     // kRegistryValue: the value was there, with type and data
  uint32_t number;  // attributes or root key
  uint32_t type;    // kRegistryValue: the earlier value's type
  const char* path;
  const char* other;  // backup or value name; "" when unused
  const uint8_t* data;
  uint32_t data_length;
};

// The journal's records lie one after the other; a position names one.
// journal_next answers false at the end.
uint32_t journal_count();
uint32_t journal_size();  // bytes held
bool journal_next(uint32_t* position, Change* change);
// Forgets every record (the memory goes too).
void journal_clear();

// Each notes one change before it is made; false when it cannot be noted.
bool note_created_file(const char* path);
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
// Each level of the key that does not exist yet, outermost first.
bool note_registry_key(HKEY root, const char* key);
// A file about to be changed in place (an INI file, a patched file, a
// shortcut written again): noted once per run, as created when it is not
// there, else by a copy kept as its backup; a file this run made or
// replaced already needs nothing more. False when the copy cannot be made.
bool note_file_change(const char* path);
// The file of a profile name as the profile functions find it: a name
// without a folder lies in the Windows folder.
void profile_file_path(const char* name, char* out);
