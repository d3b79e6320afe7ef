#include "uninstall/settings_removal.h"

#include <windows.h>

#include <string.h>

#include "base/native_mode.h"
#include "base/search_path.h"
#include "base/setup_log.h"

HKEY root_key(uint32_t root) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root))); }

namespace {

// Sections hold at most this much that is worth reading for "is it empty";
// an INI file longer than this is not empty either.
enum : DWORD { kSectionProbe = 64, kBlankProbe = 4096 };

bool file_exists(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void flush_ini_cache(const char* file) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, file); }

bool key_is_empty(HKEY root, const char* path) {
  HKEY key;
  if (open_key(root, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  bool empty = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               subkeys == 0 && values == 0;
  RegCloseKey(key);
  return empty;
}

// The key, then each of the created keys above it, while they are empty.
void remove_empty_keys(HKEY root, char* path, unsigned created) {
  for (unsigned removed = 0;; ++removed) {
    if (!key_is_empty(root, path) || delete_key(root, path) != ERROR_SUCCESS) return;
    char* slash = strrchr(path, '\\');
    if (!slash || removed + 1 >= created) return;
    *slash = '\0';
  }
}

bool holds_only_blanks(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[kBlankProbe];
  DWORD got = 0;
  bool blank = GetFileSize(file, nullptr) <= sizeof bytes && ReadFile(file, bytes, sizeof bytes, &got, nullptr);
  for (DWORD i = 0; blank && i < got; ++i)
    blank = bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n';
  CloseHandle(file);
  return blank;
}

}  // namespace

bool delete_setting(const PlannedSetting& setting) {
  if (setting.kind == kSettingRegistryValue) {
    HKEY key;
    LONG r = open_key(root_key(setting.root), setting.path, KEY_SET_VALUE, &key);
    if (r == ERROR_FILE_NOT_FOUND) return true;
    if (r != ERROR_SUCCESS) return false;
    r = RegDeleteValueA(key, setting.name);
    RegCloseKey(key);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
  }
  // Writing to a file that is gone would make it again.
  if (!file_exists(setting.path)) return true;
  bool done = WritePrivateProfileStringA(setting.section, setting.name, nullptr, setting.path) != 0;
  flush_ini_cache(setting.path);
  return done;
}

void remove_emptied_places(const PlannedSetting& setting) {
  if (setting.kind == kSettingRegistryValue) {
    if (!(setting.flags & kSettingDeleteKeyIfEmpty)) return;
    char path[kSettingTextCapacity];
    memcpy(path, setting.path, sizeof path);  // the same capacity
    remove_empty_keys(root_key(setting.root), path, setting.created_keys);
    return;
  }
  if (!file_exists(setting.path)) return;
  char probe[kSectionProbe];
  if (GetPrivateProfileSectionA(setting.section, probe, sizeof probe, setting.path) == 0) {
    WritePrivateProfileStringA(setting.section, nullptr, nullptr, setting.path);
    flush_ini_cache(setting.path);
  }
  if ((setting.flags & kSettingFileCreated) && holds_only_blanks(setting.path)) DeleteFileA(setting.path);
}

bool remove_path_entry(const PathEntryRecord& record, bool* changed) {
  // The record was checked: the entry is shorter than a path.
  char entry[kPathEntryCapacity];
  memcpy(entry, record.entry.text, record.entry.length);
  entry[record.entry.length] = '\0';
  SearchPathResult result = remove_search_path_entry(record.scope, entry);
  if (result == SearchPathResult::kChanged) *changed = true;
  log_event("path-entry", result == SearchPathResult::kChanged  ? "removed"
                          : result == SearchPathResult::kFailed ? "left"
                                                                : "absent",
            path_scope_word(record.scope), entry);
  return result != SearchPathResult::kFailed;
}
