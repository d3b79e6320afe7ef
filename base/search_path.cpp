#include "base/search_path.h"

#include <windows.h>

#include <string.h>

#include "base/memory.h"

namespace {

// The time-out of the announcement, for each window that answers slowly.
enum : UINT { kAnnounceTimeout = 2000 };

const char kValueName[] = "Path";

// The key of the scope's value, opened (or made) for `access`: the
// system's answer.
LONG open_place(uint8_t scope, REGSAM access, bool create, HKEY* key) {
  HKEY root = HKEY_CURRENT_USER;
  const char* path = "Environment";
  if (scope == kPathScopeMachine) {
    root = HKEY_LOCAL_MACHINE;
    path = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  } else if (scope != kPathScopeUser) {
    return ERROR_INVALID_PARAMETER;
  }
  if (create) return RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, key, nullptr);
  return RegOpenKeyExA(root, path, 0, access, key);
}

// The value as it is now, terminated, in a block of its own with `room`
// bytes to spare; a missing value reads as an empty REG_EXPAND_SZ, the
// type it is made with. False for a value that is no text.
bool read_value(HKEY key, size_t room, char** text, DWORD* type) {
  DWORD size = 0;
  LONG result = RegQueryValueExA(key, kValueName, nullptr, type, nullptr, &size);
  if (result == ERROR_FILE_NOT_FOUND) {
    *type = REG_EXPAND_SZ;
    size = 0;
  } else if (result != ERROR_SUCCESS || (*type != REG_SZ && *type != REG_EXPAND_SZ) || size > 0x100000) {
    return false;
  }
  // One byte more than asked: the value may grow between the two reads.
  DWORD got = size + 1;
  if (!alloc_zeroed(got + 1 + room, text)) return false;
  if (size > 0 && RegQueryValueExA(key, kValueName, nullptr, type, reinterpret_cast<BYTE*>(*text), &got) !=
                      ERROR_SUCCESS) {
    free_block(text);
    return false;
  }
  return true;
}

bool write_value(HKEY key, DWORD type, const char* text) {
  return RegSetValueExA(key, kValueName, 0, type, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(strlen(text) + 1)) == ERROR_SUCCESS;
}

}  // namespace

SearchPathResult add_search_path_entry(uint8_t scope, const char* entry) {
  HKEY key;
  if (open_place(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, true, &key) != ERROR_SUCCESS)
    return SearchPathResult::kFailed;
  char* text = nullptr;
  DWORD type = 0;
  size_t room = strlen(entry) + 1;
  SearchPathResult result = SearchPathResult::kFailed;
  if (read_value(key, room, &text, &type)) {
    size_t used = strlen(text);
    if (path_list_holds(text, used, entry)) result = SearchPathResult::kUnchanged;
    else if (path_list_append(text, used + 1 + room, entry) && write_value(key, type, text))
      result = SearchPathResult::kChanged;
  }
  free_block(&text);
  RegCloseKey(key);
  return result;
}

SearchPathResult remove_search_path_entry(uint8_t scope, const char* entry) {
  HKEY key;
  LONG opened = open_place(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, false, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return SearchPathResult::kUnchanged;
  if (opened != ERROR_SUCCESS) return SearchPathResult::kFailed;
  char* text = nullptr;
  DWORD type = 0;
  SearchPathResult result = SearchPathResult::kFailed;
  if (read_value(key, 0, &text, &type)) {
    if (!path_list_remove(text, entry)) result = SearchPathResult::kUnchanged;
    else if (write_value(key, type, text)) result = SearchPathResult::kChanged;
  }
  free_block(&text);
  RegCloseKey(key);
  return result;
}

bool search_path_holds(uint8_t scope, const char* entry) {
  HKEY key;
  if (open_place(scope, KEY_QUERY_VALUE, false, &key) != ERROR_SUCCESS) return false;
  char* text = nullptr;
  DWORD type = 0;
  bool holds = read_value(key, 0, &text, &type) && path_list_holds(text, strlen(text), entry);
  free_block(&text);
  RegCloseKey(key);
  return holds;
}

void announce_environment_change() {
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG,
                      kAnnounceTimeout, nullptr);
}
