#include "record/change_undo.h"

#include <string.h>

#include "base/library_registration.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/platform.h"
#include "base/replace.h"
#include "base/search_path.h"
#include "base/setup_log.h"
#include "base/shared_count.h"

namespace {

HKEY root_of(uint32_t number) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(number)); }

}  // namespace

bool remove_made_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path)) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes);
  return false;
}

namespace {

// A replaced file comes back from its backup, with its attributes. No
// backup means nothing was moved aside: the file is the one that was there,
// but a run ended right before the move may have taken away its read-only
// attribute. A file that cannot be put back now is put back at the next
// start of Windows where that can be arranged; its backup is never deleted.
bool restore_backup(const char* path, const char* backup, uint32_t attributes) {
  if (GetFileAttributesA(backup) == INVALID_FILE_ATTRIBUTES) {
    if (attributes && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path, attributes);
    return true;
  }
  DWORD now = GetFileAttributesA(path);
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path, now & ~FILE_ATTRIBUTE_READONLY);
  if (replace_file(backup, path)) {
    // A run ended between linking the backup and moving the new file in
    // left two names of one file, and a move of one onto the other may do
    // nothing (as POSIX rename does): the backup's name goes then.
    if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES) DeleteFileA(backup);
    SetFileAttributesA(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    return true;
  }
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY)) SetFileAttributesA(path, now);
  replace_at_restart(path, backup);
  return false;
}

void restore_registry_value(const Change& change) {
  HKEY root = root_of(change.number);
  HKEY key;
  if (!change.existed) {
    if (open_key(root, change.path, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, change.other);
    RegCloseKey(key);
    return;
  }
  if (create_key(root, change.path, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, change.other, 0, change.type, change.data, change.data_length);
  RegCloseKey(key);
}

// The key as it was: its earlier value, or none. Whatever else the file
// holds, changed by others meanwhile, stays; a section and a file that this
// run made go only when nothing else is left in them.
void restore_ini_key(const Change& change) {
  const char* key = reinterpret_cast<const char*>(change.data);
  const char* earlier = change.existed ? key + strlen(key) + 1 : nullptr;
  WritePrivateProfileStringA(change.other, key, earlier, change.path);
  char probe[4];
  if ((change.number & kIniSectionMade) &&
      GetPrivateProfileSectionA(change.other, probe, sizeof probe, change.path) == 0)
    WritePrivateProfileStringA(change.other, nullptr, nullptr, change.path);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, change.path);
  if (!(change.number & kIniFileMade)) return;
  // Its size from its folder entry: the Windows 95 family has no
  // GetFileAttributesExA.
  WIN32_FIND_DATAA file;
  HANDLE found = FindFirstFileA(change.path, &file);
  if (found == INVALID_HANDLE_VALUE) return;
  FindClose(found);
  if (file.nFileSizeHigh == 0 && file.nFileSizeLow == 0) DeleteFileA(change.path);
}

}  // namespace

void remove_key_if_empty(HKEY root, const char* path) {
  HKEY key;
  if (open_key(root, path, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (result == ERROR_SUCCESS && subkeys == 0 && values == 0) delete_key(root, path);
}

namespace {

// The log's word for each kind of change taken back, by ChangeKind.
const char* const kChangeWords[] = {"created-file",   "replaced-file", "created-folder",     "registry-value",
                                    "created-key",    "added-font",    "registered-library", "path-entry",
                                    "restart-rename", "ini-key",       "shared-count",       "record-written"};

// Every step of a rollback, one change at a time. False when the change
// stays (a file in use); the caller names it.
bool undo_change(const Change& change, ChangeAnnouncements* announce) {
  switch (change.kind) {
    case ChangeKind::kCreatedFile:
      return remove_made_file(change.path);
    case ChangeKind::kReplacedFile:
      return restore_backup(change.path, change.other, change.number);
    case ChangeKind::kCreatedFolder:
      // A folder that holds something of someone else's stays.
      RemoveDirectoryA(change.path);
      return true;
    case ChangeKind::kRegistryValue:
      restore_registry_value(change);
      return true;
    case ChangeKind::kCreatedKey:
      remove_key_if_empty(root_of(change.number), change.path);
      return true;
    case ChangeKind::kAddedFont:
      if (RemoveFontResourceA(change.path)) announce->fonts = true;
      return true;
    case ChangeKind::kRegisteredLibrary:
      unregister_library(change.path);
      return true;
    case ChangeKind::kPathEntry:
      // The entry alone: what else the value gained meanwhile stays.
      if (remove_search_path_entry(static_cast<uint8_t>(change.number), change.path) == SearchPathResult::kChanged)
        announce->environment = true;
      return true;
    case ChangeKind::kRestartRename:
      cancel_restart_rename(change.other, change.path);
      return true;
    case ChangeKind::kIniKey:
      restore_ini_key(change);
      return true;
    case ChangeKind::kSharedCount:
      take_back_shared_count(change.path, change.number, change.existed);
      return true;
    case ChangeKind::kRecordWritten:
      return true;
  }
  return true;
}

// Folders and keys go last, once whatever was in them is gone.
bool goes_last(const Change& change) {
  return change.kind == ChangeKind::kCreatedFolder || change.kind == ChangeKind::kCreatedKey;
}

}  // namespace

uint32_t* change_positions(const uint8_t* bytes, uint32_t used, uint32_t count) {
  uint32_t* positions = nullptr;
  if (count == 0 || !alloc_block(count * sizeof(uint32_t), &positions)) return nullptr;
  uint32_t position = 0;
  Change change;
  for (uint32_t i = 0; i < count; ++i) {
    positions[i] = position;
    decode_change(bytes, used, &position, &change);
  }
  return positions;
}

void undo_pass(const uint8_t* bytes, uint32_t used, const uint32_t* positions, uint32_t count, bool last_pass,
               const UndoHooks& hooks, ChangeAnnouncements* announce) {
  uint32_t next = 0;
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t i = count - 1 - k;
    uint32_t position = positions ? positions[i] : next;
    uint32_t at = position;
    Change change;
    if (!decode_change(bytes, used, &position, &change)) break;
    // The record's index in the journal, for its flag in the file.
    uint32_t index = positions ? i : k;
    if (!positions) next = position;
    if (change.taken_back || goes_last(change) != last_pass) continue;
    if (hooks.take && !hooks.take(change, i, hooks.context)) continue;
    bool undone = undo_change(change, announce);
    log_event("rollback", kChangeWords[static_cast<unsigned>(change.kind)], change.path, change.other,
              undone ? nullptr : "stays");
    hooks.done(change, at, index, undone, hooks.context);
  }
}

void announce_changes(const ChangeAnnouncements& announce) {
  if (announce.fonts) SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  if (announce.environment) announce_environment_change();
}

void drop_backup(const Change& change) {
  if (change.kind != ChangeKind::kReplacedFile || GetFileAttributesA(change.other) == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(change.other, FILE_ATTRIBUTE_NORMAL);
  // A backup still held by someone goes at the next start of Windows.
  if (!DeleteFileA(change.other)) replace_at_restart(nullptr, change.other);
}
