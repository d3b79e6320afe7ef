#include "install/settings_lists.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/error_codes.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "install/default_folder.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/journal.h"
#include "install/path_macros.h"
#include "record/removal_plan.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"

namespace {

// The pattern search reads the file through a window of two halves: every
// start position in the lower half is tested while more of the file
// follows, so a pattern of up to one half that straddles two reads is seen.
enum : uint32_t { kSearchHalf = 16384, kSearchWindow = 2 * kSearchHalf };

// `text` with its macros expanded, in a block of its own that the caller
// frees; null when the block cannot be had. *length is what the block holds.
char* expanded_copy(const char* text, uint32_t* length) {
  uint32_t n = expand_macros(nullptr, text, kMacroCapacity);
  char* copy = nullptr;
  if (!alloc_block(n + 1, &copy)) return nullptr;
  expand_macros(copy, text, n + 1);
  *length = static_cast<uint32_t>(strlen(copy));  // an expansion past the working buffer is cut
  return copy;
}

void flush_ini_cache(const char* file) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, file); }

// A change of the file that could not be noted for a rollback (its backup
// finds a full disk or no access, or there is no memory) fails the
// installation, naming the file with the system's words: left unmade it
// would be a part of the installation missing without a word.
bool noted_change(bool noted, const char* path) {
  if (noted) return true;
  DWORD error = GetLastError();
  if (ErrorState == 0) {
    SavedSystemError = error ? error : ERROR_NOT_ENOUGH_MEMORY;
    fail_install(kErrorSystem, path);
  }
  return false;
}

// A file about to be changed in place, noted for a rollback.
bool note_changed_file(const char* path) { return noted_change(note_file_change(path), path); }

// The INI key as it is before this run writes it, kept for a rollback: the
// file is shared, and others may change it before that.
bool note_ini_entry(const char* name, const char* section, const char* key) {
  char path[2 * kPathSize];
  profile_file_path(name, path);
  return path[0] && noted_change(note_ini_key(path, section, key), path);
}

// A text value, written once the keys it creates and the value as it was
// are noted for a rollback; `length` bytes of it are stored.
void set_registry_text(HKEY root, const char* key_path, const char* name, const char* text, DWORD length) {
  HKEY key;
  if (!note_registry_key(root, key_path) || !note_registry_value(root, key_path, name) ||
      create_key(root, key_path, &key) != ERROR_SUCCESS)
    return;
  if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length) == ERROR_SUCCESS)
    log_registry_value(root, key_path, name, text);
  RegCloseKey(key);
}

// An INI value, written once the key as it was is noted for a rollback.
void write_ini_text(const char* file, const char* section, const char* key, const char* text) {
  if (!note_ini_entry(file, section, key)) return;
  if (WritePrivateProfileStringA(section, key, text, file)) log_event("ini", file, section, key, text);
  flush_ini_cache(file);
}

// True when the value exists and holds something: any data, but for a text
// more than its terminator.
bool has_registry_value(HKEY root, const char* key_path, const char* name) {
  HKEY key;
  if (open_key(root, key_path, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  BYTE first = 0;
  DWORD size = sizeof first;
  LONG result = RegQueryValueExA(key, name, nullptr, &type, &first, &size);
  RegCloseKey(key);
  if (result == ERROR_MORE_DATA) return true;
  if (result != ERROR_SUCCESS || size == 0) return false;
  bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  return !(text && first == 0);
}

// Position just after the first occurrence of the pattern in `file`, or -1.
int64_t find_after_pattern(FileHandle file, const uint8_t* pattern, uint32_t n) {
  uint32_t size = file_length(file);
  if (n == 0 || n > kSearchHalf || size < n) return -1;
  uint32_t in_window = size < kSearchWindow ? size : kSearchWindow;
  uint8_t* window = nullptr;
  if (!alloc_block(in_window, &window)) return -1;
  int64_t found = -1;
  seek_to(file, 0);
  if (read_exact(file, window, in_window) == 0) {
    uint32_t rest = size - in_window;
    uint32_t base = 0;
    for (;;) {
      uint32_t starts = rest ? kSearchHalf : in_window - n + 1;
      for (uint32_t p = 0; p < starts; ++p) {
        if (memcmp(window + p, pattern, n) == 0) {
          found = static_cast<int64_t>(base) + p + n;
          break;
        }
      }
      if (found >= 0 || rest == 0) break;
      // While more follows the window is full, so its upper half is whole.
      memmove(window, window + kSearchHalf, kSearchHalf);
      base += kSearchHalf;
      uint32_t more = rest < kSearchHalf ? rest : kSearchHalf;
      if (read_exact(file, window + kSearchHalf, more) != 0) break;
      in_window = kSearchHalf + more;
      rest -= more;
    }
  }
  free_block(&window);
  return found;
}

void apply_string_patch(const StringPatchEntry& patch) {
  // Only -1 asks for the search; any other negative offset names no place
  // in the file, and seeking there would leave the write at the start.
  if (patch.offset < -1 || !resolve_target_file(patch.file)) return;
  uint32_t length = 0;
  char* text = expanded_copy(patch.text, &length);
  if (!text) return;
  FileHandle file = length > 0 && note_changed_file(DestPath) ? open_file(DestPath, 2) : INVALID_FILE_HANDLE;
  if (file != INVALID_FILE_HANDLE) {
    int64_t position = patch.offset;
    if (patch.offset == -1) position = find_after_pattern(file, patch.pattern, patch.pattern_length);
    if (position >= 0) {
      seek_to(file, static_cast<uint32_t>(position));
      write_all(file, text, length);
      seek_from_end(file, 0);
    }
    close_file(file);
  }
  free_block(&text);
}

// The stored form of a root: its HKEY's 32-bit value.
uint32_t stored_root(HKEY root) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(root)); }

bool key_exists(HKEY root, const char* path) {
  HKEY key;
  if (open_key(root, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// How many keys at the end of the path do not exist yet: RegCreateKeyA
// will make them.
uint8_t keys_to_create(HKEY root, const char* key_path) {
  char path[kSettingTextCapacity];
  copy_string(path, key_path, sizeof path);
  uint8_t created = 0;
  while (path[0] != '\0' && created < 0xFF && !key_exists(root, path)) {
    ++created;
    char* slash = strrchr(path, '\\');
    if (!slash) break;
    *slash = '\0';
  }
  return created;
}

bool fits_setting(const char* text) { return strlen(text) < kSettingTextCapacity; }

// Records one registry value; one the uninstaller could not take whole is
// left out, and so stays: a key it would refuse (an empty, "." or ".."
// step) would void the whole record.
void record_registry_value(RecordFile* log, uint32_t* count, HKEY root, const char* key, const char* name,
                           bool key_if_empty) {
  if (!key || !is_plain_registry_key(key, strlen(key)) || !fits_setting(name)) return;
  write_registry_setting(log, stored_root(root), key, name, key_if_empty ? kSettingDeleteKeyIfEmpty : 0,
                         keys_to_create(root, key));
  ++*count;
}

// An INI file named without a folder lies in the Windows folder, where the
// profile functions look for it; the record names it whole.
void record_ini_entry(RecordFile* log, uint32_t* count, const char* file, const char* section, const char* key) {
  char path[kPathSize];
  if (!strchr(file, '\\')) {
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    if (!add_backslash(path, sizeof path) || !append_string(path, file, sizeof path)) return;
  } else if (strlen(file) < sizeof path) {
    copy_string(path, file, sizeof path);
  } else {
    return;
  }
  if (!section || !key || !fits_setting(section) || !fits_setting(key) || !is_plain_file_path(path, strlen(path)))
    return;
  bool created = GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
  write_ini_setting(log, path, section, key, created ? kSettingFileCreated : 0);
  ++*count;
}

bool keeps_existing_ini_value(const IniEntry& entry) {
  char existing[20];
  return (entry.flags & kEntryKeepExisting) &&
         GetPrivateProfileStringA(entry.section, entry.key, "", existing, sizeof existing, DestPath) > 0;
}

}  // namespace

bool current_list(EntryListKind kind, const uint8_t** records, const uint8_t** end, uint16_t* count) {
  if (CurrentSetupType < 0) return false;
  const SetupTypeSlot& slot = SetupTypeTable[CurrentSetupType];
  const uint8_t* list = slot.entry_lists[kind];
  uint32_t length = slot.entry_list_lengths[kind];
  if (!list || length < 2) return false;
  *count = get_u16(list);
  *records = list + 2;
  *end = list + length;
  return true;
}

void record_settings_to_delete(RecordFile* log) {
  uint32_t block = 0, count = 0;
  bool opened = false;
  auto open_once = [&] {
    if (opened) return;
    opened = true;
    block = open_block(log, kSettingsListId);
    write_record_u32(log, 0);
  };
  const uint8_t *p, *end;
  uint16_t n;
  // What a "keep existing" entry finds already there is not the setup's:
  // it is neither written nor taken back.
  if (current_list(kIniList, &p, &end, &n)) {
    for (; n > 0; --n) {
      IniEntry entry;
      if (!(p = parse_ini_entry(p, end, &entry))) break;
      if (!(entry.flags & kEntryDeleteAtUninstall)) continue;
      resolve_target_file(entry.file);
      if (keeps_existing_ini_value(entry)) continue;
      open_once();
      record_ini_entry(log, &count, DestPath, entry.section, entry.key);
    }
  }
  if (current_list(kRegistryList, &p, &end, &n)) {
    for (; n > 0; --n) {
      RegistryEntry entry;
      if (!(p = parse_registry_entry(p, end, &entry))) break;
      if (!(entry.flags & kEntryDeleteAtUninstall)) continue;
      HKEY root = root_key(entry.root_key);
      if ((entry.flags & kEntryKeepExisting) && has_registry_value(root, entry.key, entry.value_name)) continue;
      open_once();
      record_registry_value(log, &count, root, entry.key, entry.value_name,
                            (entry.flags & kEntryDeleteKeyIfEmpty) != 0);
    }
  }
  const SetupTypeRecord* record = CurrentRecord;
  if (record && (record->flags & kTypeForgetFolder)) {
    if ((record->flags & kTypeRememberInRegistry) && record->registry_key) {
      open_once();
      record_registry_value(log, &count, root_key(record->root_key), record->registry_key,
                            record->registry_value ? record->registry_value : "",
                            (record->flags & kTypeForgetFolderKey) != 0);
    }
    if ((record->flags & kTypeRememberInIni) && record->ini_file && record->ini_section && record->ini_key) {
      open_once();
      record_ini_entry(log, &count, record->ini_file, record->ini_section, record->ini_key);
    }
  }
  if (opened) close_block(log, block, kSettingsListId, &count);
}

void log_registry_value(HKEY root, const char* key, const char* name, const char* data) {
  if (!log_is_open()) return;
  char path[2 * kPathSize];
  registry_log_path(path, sizeof path, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(root)), key);
  log_event("registry", path, name, data);
}

void write_ini_entries() {
  const uint8_t *p, *end;
  uint16_t count;
  if (!current_list(kIniList, &p, &end, &count)) return;
  for (; count > 0; --count) {
    IniEntry entry;
    p = parse_ini_entry(p, end, &entry);
    if (!p) return;
    if (!resolve_target_file(entry.file) || keeps_existing_ini_value(entry)) continue;
    uint32_t length;
    char* value = expanded_copy(entry.value, &length);
    if (!value) continue;
    write_ini_text(DestPath, entry.section, entry.key, value);
    free_block(&value);
  }
}

void write_registry_entries() {
  const uint8_t *p, *end;
  uint16_t count;
  if (!current_list(kRegistryList, &p, &end, &count)) return;
  for (; count > 0; --count) {
    RegistryEntry entry;
    p = parse_registry_entry(p, end, &entry);
    if (!p) return;
    HKEY root = root_key(entry.root_key);
    if ((entry.flags & kEntryKeepExisting) && has_registry_value(root, entry.key, entry.value_name)) continue;
    uint32_t length;
    char* value = expanded_copy(entry.value, &length);
    if (!value) continue;
    // Stored without the terminator, as the archive's values always were.
    set_registry_text(root, entry.key, entry.value_name, value, length);
    free_block(&value);
  }
}

void apply_string_patches() {
  const uint8_t *p, *end;
  uint16_t count;
  if (!current_list(kStringPatchList, &p, &end, &count)) return;
  for (; count > 0; --count) {
    StringPatchEntry patch;
    p = parse_string_patch(p, end, &patch);
    if (!p) return;
    apply_string_patch(patch);
  }
}

void remember_install_dir() {
  const SetupTypeRecord* record = CurrentRecord;
  if (!record) return;
  if ((record->flags & kTypeRememberInRegistry) && record->registry_key)
    set_registry_text(root_key(record->root_key), record->registry_key, record->registry_value, InstallDir,
                      static_cast<DWORD>(strlen(InstallDir) + 1));
  if ((record->flags & kTypeRememberInIni) && record->ini_file && record->ini_section && record->ini_key)
    write_ini_text(record->ini_file, record->ini_section, record->ini_key, InstallDir);
}
