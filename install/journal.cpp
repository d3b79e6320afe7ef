#include "install/journal.h"

#include <string.h>

#include "archive/format.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/unguessable_files.h"
#include "install/journal_file.h"
#include "record/journal_records.h"

namespace {

// The records' layout is the journal file's (record/journal_records.h).
enum : uint32_t { kHeaderSize = kRecordHeaderSize, kFirstCapacity = 16384 };

struct Journal {
  uint8_t* bytes = nullptr;
  uint32_t used = 0;
  uint32_t capacity = 0;
  uint32_t count = 0;
  uint32_t newest = 0;  // position of the newest record
};
Journal Changes;

// Room for `more` bytes; the old records move along.
bool make_room(uint32_t more) {
  if (more > 0x40000000u || Changes.used > 0x40000000u - more) return false;
  return grow_block(&Changes.bytes, Changes.used, &Changes.capacity, Changes.used + more,
                    kFirstCapacity);
}

bool add(ChangeKind kind, bool existed, uint32_t number, const char* path, const char* other, const void* data,
         uint32_t data_length) {
  size_t path_length = strlen(path);
  size_t other_length = strlen(other);
  // Bounded so, the size cannot wrap; the journal file's reader takes no
  // larger record.
  if (path_length > 0xFFFF || other_length > 0xFFFF || data_length > kRecordLimit) return false;
  uint32_t size = kHeaderSize + static_cast<uint32_t>(path_length + 1 + other_length + 1) + data_length;
  if (size > kRecordLimit || !make_room(size)) return false;
  write_record(Changes.bytes + Changes.used, size, static_cast<uint8_t>(kind), existed, number, path,
               static_cast<uint32_t>(path_length), other, static_cast<uint32_t>(other_length), data, data_length);
  // On the disk first: what is not there is not made.
  if (!journal_file_add(Changes.bytes + Changes.used, size, kind == ChangeKind::kReplacedFile)) return false;
  Changes.newest = Changes.used;
  Changes.used += size;
  ++Changes.count;
  return true;
}

// A change named by its path alone.
bool add_path(ChangeKind kind, const char* path) { return add(kind, false, 0, path, "", nullptr, 0); }

uint32_t root_number(HKEY root) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(root)); }

// True when this run has made or replaced the file already.
bool file_noted(const char* path) {
  uint32_t position = 0;
  Change change;
  while (journal_next(&position, &change)) {
    if ((change.kind == ChangeKind::kCreatedFile || change.kind == ChangeKind::kReplacedFile) &&
        !change.taken_back && _stricmp(change.path, path) == 0)
      return true;
  }
  return false;
}

// Registry keys are at most a few hundred bytes; longer ones are refused.
enum : size_t { kKeyCapacity = 1024 };
// An INI value is read into room of this size first, doubled while it
// fills it, up to the limit; one longer still is not noted (and so not
// written): a rollback would cut it.
enum : uint32_t { kIniValueRoom = 512, kIniValueLimit = 65536 };
// What the profile functions answer for a missing key: no value holds it.
const char kNoIniValue[] = "\x01";

bool key_exists(HKEY root, const char* key) {
  HKEY handle;
  LONG result = open_key(root, key, KEY_QUERY_VALUE, &handle);
  if (result == ERROR_SUCCESS) RegCloseKey(handle);
  // A key that cannot be opened for another reason is someone's, not new.
  return result != ERROR_FILE_NOT_FOUND;
}

}  // namespace

uint32_t journal_count() { return Changes.count; }

uint32_t journal_size() { return Changes.used; }

const uint8_t* journal_bytes() { return Changes.bytes; }

bool journal_next(uint32_t* position, Change* change) {
  return decode_change(Changes.bytes, Changes.used, position, change);
}

void journal_clear() {
  free_block(&Changes.bytes);
  Changes = Journal();
  journal_file_end();
}

void adopt_journal(uint8_t* bytes, uint32_t used, uint32_t count) {
  free_block(&Changes.bytes);
  Changes = Journal();
  Changes.bytes = bytes;
  Changes.used = Changes.capacity = used;
  Changes.count = count;
}

const char* unmade_backup(const char* path) {
  if (Changes.count == 0) return nullptr;
  uint32_t position = Changes.newest;
  Change change;
  if (!journal_next(&position, &change) || change.kind != ChangeKind::kReplacedFile || change.taken_back ||
      _stricmp(change.path, path) != 0 || GetFileAttributesA(change.other) != INVALID_FILE_ATTRIBUTES)
    return nullptr;
  return change.other;
}

bool note_created_file(const char* path) { return add_path(ChangeKind::kCreatedFile, path); }

void withdraw_newest_note() {
  if (Changes.count == 0) return;
  // Flagged, not removed: the file's records stay where the journal's are.
  put_u16(Changes.bytes + Changes.newest + kFlagsOffset, kChangeTakenBack);
  journal_file_taken_back(Changes.newest, Changes.count - 1);
}

bool note_replaced_file(const char* path, const char* backup, uint32_t attributes) {
  return add(ChangeKind::kReplacedFile, true, attributes, path, backup, nullptr, 0);
}

bool note_created_folder(const char* path) { return add_path(ChangeKind::kCreatedFolder, path); }

bool note_added_font(const char* path) { return add_path(ChangeKind::kAddedFont, path); }

bool note_registered_library(const char* path) { return add_path(ChangeKind::kRegisteredLibrary, path); }

bool note_path_entry(uint8_t scope, const char* entry) {
  return add(ChangeKind::kPathEntry, false, scope, entry, "", nullptr, 0);
}

bool note_registry_value(HKEY root, const char* key, const char* name) {
  if (!name) name = "";
  HKEY handle;
  bool noted = false;
  bool open = open_key(root, key, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS;
  DWORD type = 0;
  DWORD size = 0;
  if (!open || RegQueryValueExA(handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    noted = add(ChangeKind::kRegistryValue, false, root_number(root), key, name, nullptr, 0);
  } else {
    uint8_t* data = nullptr;
    // One byte more than asked: the value may grow between the two reads.
    // Its type goes before it; a record cannot be that large anyway.
    DWORD room = size + 1;
    if (size < 0x40000000u && alloc_block(4 + room, &data) &&
        RegQueryValueExA(handle, name, nullptr, &type, data + 4, &room) == ERROR_SUCCESS) {
      put_u32(data, type);
      noted = add(ChangeKind::kRegistryValue, true, root_number(root), key, name, data, 4 + room);
    }
    free_block(&data);
  }
  if (open) RegCloseKey(handle);
  return noted;
}

bool note_restart_rename(const char* target, const char* source) {
  return add(ChangeKind::kRestartRename, false, 0, source, target, nullptr, 0);
}

bool note_ini_key(const char* file, const char* section, const char* key) {
  if (file_noted(file)) return true;
  uint32_t made = 0;
  char probe[4];
  if (GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES)
    made = kIniFileMade | kIniSectionMade;
  else if (GetPrivateProfileSectionA(section, probe, sizeof probe, file) == 0)
    made = kIniSectionMade;
  size_t key_length = strlen(key);
  bool noted = false;
  for (uint32_t room = kIniValueRoom; key_length <= 0xFFFF && room <= kIniValueLimit; room *= 2) {
    char* data = nullptr;
    if (!alloc_block(key_length + 1 + room, &data)) break;
    memcpy(data, key, key_length + 1);
    char* value = data + key_length + 1;
    DWORD n = GetPrivateProfileStringA(section, key, kNoIniValue, value, room, file);
    bool whole = n + 1 < room;
    if (whole) {
      bool existed = strcmp(value, kNoIniValue) != 0;
      uint32_t length = static_cast<uint32_t>(key_length + 1) + (existed ? n + 1 : 0);
      noted = add(ChangeKind::kIniKey, existed, made, file, section, data, length);
    }
    free_block(&data);
    if (whole) break;
  }
  // The caller names the failure in the system's words.
  if (!noted) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return noted;
}

bool note_shared_count(const char* path, uint32_t raised, bool existed) {
  return add(ChangeKind::kSharedCount, existed, raised, path, "", nullptr, 0);
}

bool note_record_written(const char* uninstaller) { return add_path(ChangeKind::kRecordWritten, uninstaller); }

bool note_registry_key(HKEY root, const char* key) {
  char level[kKeyCapacity];
  size_t length = strlen(key);
  if (length >= sizeof level) return false;
  // The first level that is missing, and every one below it, is new.
  bool missing = false;
  for (size_t end = 0; end <= length; ++end) {
    if (key[end] != '\\' && key[end] != '\0') continue;
    if (end == 0) continue;
    memcpy(level, key, end);
    level[end] = '\0';
    if (!missing) missing = !key_exists(root, level);
    if (missing && !add(ChangeKind::kCreatedKey, false, root_number(root), level, "", nullptr, 0))
      return false;
  }
  return true;
}

bool note_file_change(const char* path) {
  if (file_noted(path)) return true;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return note_created_file(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  char backup[2 * kPathSize];
  // A copy: the file stays where it is, under its own name, for its users.
  // The copy is noted as made before it is made, and as the backup once it
  // is whole: a run ended while it copied leaves a part that the next run
  // deletes, never one that it would put back.
  for (int tries = 0; tries < 8; ++tries) {
    if (!temp_name_beside(path, "$~", backup, sizeof backup) || !note_created_file(backup)) return false;
    if (CopyFileA(path, backup, TRUE)) {
      if (note_replaced_file(path, backup, attributes)) return true;
      DeleteFileA(backup);
      return false;
    }
    DWORD error = GetLastError();
    withdraw_newest_note();
    if (error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

void profile_file_path(const char* name, char* out) {
  out[0] = '\0';
  if (!strchr(name, '\\') && !strchr(name, '/')) {
    UINT n = GetWindowsDirectoryA(out, kPathSize);
    if (n == 0 || n >= kPathSize) {
      out[0] = '\0';
      return;
    }
    if (!add_backslash(out, 2 * kPathSize) || !append_string(out, name, 2 * kPathSize)) out[0] = '\0';
    return;
  }
  DWORD n = GetFullPathNameA(name, 2 * kPathSize, out, nullptr);
  if (n == 0 || n >= 2 * kPathSize) out[0] = '\0';
}
