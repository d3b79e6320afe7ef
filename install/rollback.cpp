#include "install/rollback.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/lzma_decoder.h"
#include "archive/messages.h"
#include "base/globals.h"
#include "base/library_registration.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/replace.h"
#include "base/scaled.h"
#include "base/search_path.h"
#include "base/setup_log.h"
#include "base/shared_count.h"
#include "install/engine.h"
#include "install/engine_reports.h"
#include "install/engine_state.h"
#include "install/journal.h"
#include "install/journal_file.h"
#include "install/preparation.h"
#include "install/uninstall_record.h"

namespace {

enum : int { kTextNothingChanged = 32, kTextFilesStay = 33, kTextUninstallerRemoves = 34, kTextNothingElseChanged = 39 };
// The files a report names; more are summed up as "...".
enum : uint32_t { kReportedFiles = 6 };
// The progress page is repainted at most this often while changes go back.
enum : DWORD { kDisplayInterval = 40 };

// The files the last rollback could not take back, each as a kind letter
// ('c' made by this run, 'r' replaced) followed by the path and its
// terminator.
struct Leftovers {
  char* text = nullptr;
  uint32_t used = 0;
  uint32_t capacity = 0;
  uint32_t count = 0;
  uint32_t created = 0;
};
Leftovers Left;
bool RolledBack = false;
bool UninstallerKept = false;

void remember_leftover(char kind, const char* path) {
  uint32_t need = static_cast<uint32_t>(strlen(path)) + 2;
  // Without memory the file still stays; only the report misses it.
  if (!grow_block(&Left.text, Left.used, &Left.capacity, Left.used + need, 4096)) return;
  Left.text[Left.used] = kind;
  memcpy(Left.text + Left.used + 1, path, need - 1);
  Left.used += need;
  ++Left.count;
  if (kind == 'c') ++Left.created;
}

void clear_leftovers() {
  free_block(&Left.text);
  Left = Leftovers();
}

HKEY root_of(uint32_t number) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(number)); }

// A file this run made: it goes, read-only or not. A file already gone
// counts as removed.
bool remove_made_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path)) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes);
  return false;
}

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

// A key this run made goes only when nothing is left in it: the Windows 95
// family's RegDeleteKeyA would take the whole tree.
void remove_empty_key(const Change& change) {
  HKEY root = root_of(change.number);
  HKEY key;
  if (open_key(root, change.path, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (result == ERROR_SUCCESS && subkeys == 0 && values == 0) delete_key(root, change.path);
}

// The log's word for each kind of change taken back, by ChangeKind.
const char* const kChangeWords[] = {"created-file",   "replaced-file", "created-folder",     "registry-value",
                                    "created-key",    "added-font",    "registered-library", "path-entry",
                                    "restart-rename", "ini-key",       "shared-count"};

// What the undone changes ask to tell the running programs.
struct Announcements {
  bool fonts;
  bool environment;
};

// Every step of a rollback, one change at a time. False when the change
// stays (a file in use); the caller names it.
bool undo_change(const Change& change, Announcements* announce) {
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
      remove_empty_key(change);
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
  }
  return true;
}

bool is_uninstaller(const Change& change) {
  return change.kind == ChangeKind::kCreatedFile && UninstallerPath[0] && _stricmp(change.path, UninstallerPath) == 0;
}

// Folders and keys go last, once whatever was in them is gone.
bool goes_last(const Change& change) {
  return change.kind == ChangeKind::kCreatedFolder || change.kind == ChangeKind::kCreatedKey;
}

// The progress bar runs back from where the installation stopped.
struct Display {
  uint32_t total;
  uint32_t start_percent;
  DWORD last;
  void show(uint32_t left, const Change& change) {
    DWORD now = GetTickCount();
    if (now - last < kDisplayInterval) return;
    last = now;
    if (change.kind == ChangeKind::kCreatedFile || change.kind == ChangeKind::kReplacedFile)
      show_current_file(change.path);
    set_progress(total ? scaled(left, start_percent, total) : 0);
  }
};

// The records' positions, so that they can be walked newest first; null
// when there is no memory for them.
uint32_t* record_positions(uint32_t count) {
  uint32_t* positions = nullptr;
  if (count == 0 || !alloc_block(count * sizeof(uint32_t), &positions)) return nullptr;
  uint32_t position = 0;
  Change change;
  for (uint32_t i = 0; i < count; ++i) {
    positions[i] = position;
    journal_next(&position, &change);
  }
  return positions;
}

// One walk over the records, newest first; without the positions (no
// memory for them) oldest first, which still takes back every change.
void undo_pass(const uint32_t* positions, uint32_t count, bool last_pass, Display* display, Announcements* announce,
               bool* uninstaller_made) {
  uint32_t next = 0;
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t i = count - 1 - k;
    uint32_t position = positions ? positions[i] : next;
    uint32_t at = position;
    Change change;
    if (!journal_next(&position, &change)) break;
    // The record's index in the journal, for its flag in the file.
    uint32_t index = positions ? i : k;
    if (!positions) next = position;
    if (change.taken_back || goes_last(change) != last_pass) continue;
    if (!last_pass && is_uninstaller(change)) {
      *uninstaller_made = true;
      continue;
    }
    display->show(i, change);
    bool undone = undo_change(change, announce);
    // A run ended from here on does not take it back twice.
    if (undone) journal_file_taken_back(at, index);
    log_event("rollback", kChangeWords[static_cast<unsigned>(change.kind)], change.path, change.other,
              undone ? nullptr : "stays");
    if (!undone) remember_leftover(change.kind == ChangeKind::kCreatedFile ? 'c' : 'r', change.path);
  }
}

// The files made by this run that stay, for the uninstaller's record.
void created_leftovers(const char** paths) {
  uint32_t n = 0;
  for (uint32_t at = 0; at < Left.used; at += static_cast<uint32_t>(strlen(Left.text + at)) + 1)
    if (Left.text[at] == 'c') paths[n++] = Left.text + at + 1;
}

// The uninstaller stays when it can remove what this rollback left: one
// this run made gets a record of just those files; one put back with the
// record of an earlier installation gets them added to that record.
void settle_uninstaller(bool uninstaller_made) {
  UninstallerKept = false;
  if (!uninstaller_made && !UninstallerPath[0]) return;
  if (Left.created > 0) {
    const char** paths = nullptr;
    if (alloc_block(Left.created * sizeof(const char*), &paths)) {
      created_leftovers(paths);
      UninstallerKept = uninstaller_made ? record_remaining_files(paths, Left.created, UninstallerImageSize)
                                         : append_remaining_files(paths, Left.created);
      free_block(&paths);
    }
  }
  if (uninstaller_made && !UninstallerKept && !remove_made_file(UninstallerPath))
    remember_leftover('c', UninstallerPath);
}

}  // namespace

void roll_back_changes() {
  bool native = native_files(true);
  clear_leftovers();
  RolledBack = true;
  // The folders to remove must not be the current one.
  char windows[kPathSize];
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  if (n > 0 && n < sizeof windows) SetCurrentDirectoryA(windows);
  show_rollback_texts();
  uint32_t count = journal_count();
  uint32_t* positions = record_positions(count);
  uint32_t done = static_cast<uint32_t>(ItemIndex + 1);
  if (done > ItemCount) done = ItemCount;
  Display display = {count, ItemCount ? scaled(done, 100, ItemCount) : 0,
                     GetTickCount() - kDisplayInterval};
  Announcements announce = {false, false};
  bool uninstaller_made = false;
  undo_pass(positions, count, false, &display, &announce, &uninstaller_made);
  settle_uninstaller(uninstaller_made);
  undo_pass(positions, count, true, &display, &announce, &uninstaller_made);
  free_block(&positions);
  if (announce.fonts) SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  if (announce.environment) announce_environment_change();
  set_progress(0);
  show_current_file("");
  journal_clear();
  // Nothing waits for a restart any more that this run scheduled.
  RestartNeeded = false;
  native_files(native);
}

void abandon_install() {
  close_data_file();
  forget_role_items();
  stop_removing_other_types();
  roll_back_changes();
  InstallRunning = false;
}

void keep_changes() {
  journal_file_complete();
  bool native = native_files(true);
  uint32_t position = 0;
  Change change;
  while (journal_next(&position, &change)) {
    if (change.kind != ChangeKind::kReplacedFile || GetFileAttributesA(change.other) == INVALID_FILE_ATTRIBUTES)
      continue;
    SetFileAttributesA(change.other, FILE_ATTRIBUTE_NORMAL);
    // A backup still held by someone goes at the next start of Windows.
    if (!DeleteFileA(change.other)) replace_at_restart(nullptr, change.other);
  }
  journal_clear();
  native_files(native);
}

void take_back_interrupted_run(const char* path) {
  uint8_t* changes = nullptr;
  JournalContents contents;
  if (!read_interrupted_journal(path, &changes, &contents)) return;
  adopt_journal(changes, contents.records_end, contents.count);
  if (contents.complete) {
    keep_changes();
    log_event("interrupted", "completed");
    return;
  }
  roll_back_changes();
  forget_rollback_report();
  log_event("interrupted", "taken back");
}

void forget_rollback_report() {
  RolledBack = false;
  UninstallerKept = false;
  clear_leftovers();
}

void append_rollback_report(char* message, size_t capacity) {
  if (!RolledBack) return;
  auto append_part = [&](const char* separator, const char* part) {
    if (!*part) return;
    if (*message) append_string(message, separator, capacity);
    append_string(message, part, capacity);
  };
  // Another setup type's installation that went before: this is not put
  // back, so the report never says that nothing was changed.
  char part[kMessageCapacity];
  int removals = 0;
  while (removal_report_part(removals, part, sizeof part)) {
    append_part("\r\n\r\n", part);
    ++removals;
  }
  if (Left.count == 0) {
    append_part("\r\n\r\n", get_text(6, removals ? kTextNothingElseChanged : kTextNothingChanged));
    return;
  }
  char list[kMessageCapacity] = "";
  uint32_t named = 0;
  for (uint32_t at = 0; at < Left.used; at += static_cast<uint32_t>(strlen(Left.text + at)) + 1) {
    if (named == kReportedFiles) {
      append_string(list, "\r\n...", sizeof list);
      break;
    }
    if (named++) append_string(list, "\r\n", sizeof list);
    append_string(list, Left.text + at + 1, sizeof list);
  }
  format_text(part, sizeof part, get_text(6, kTextFilesStay), list);
  append_part("\r\n\r\n", part);
  if (UninstallerKept) {
    format_text(part, sizeof part, get_text(6, kTextUninstallerRemoves), UninstallerPath);
    append_part("\r\n\r\n", part);
  }
}
