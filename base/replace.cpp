#include "base/replace.h"

#include <string.h>
#include <windows.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/system_libraries.h"

namespace {

const char kSection[] = "Rename";
// The key that a deletion is written under before its line is turned
// into NUL=: the profile functions keep one value per key, and a deletion
// needs a line of its own however many there are.
const char kPlaceholder[] = "xyz";

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";
// A list larger than this is nobody's: it is left alone.
enum : DWORD { kRenameListLimit = 0x1000000 };

// Turns the first "xyz=<source>" line of the file into "NUL=<source>".
bool rename_placeholder(const char* file, const char* source) {
  FileHandle h = open_file(file, 2);
  if (h == INVALID_FILE_HANDLE) return false;
  uint32_t length = file_length(h);
  char* text = nullptr;
  bool done = false;
  if (length < 0xFFFFFFFFu - 512 && alloc_zeroed(length + 512, &text) && read_exact(h, text, length) == 0) {
    char line[kPathSize + sizeof kPlaceholder + 1];
    copy_string(line, kPlaceholder, sizeof line);
    append_string(line, "=", sizeof line);
    append_string(line, source, sizeof line);
    uint32_t n = static_cast<uint32_t>(strlen(line));
    for (uint32_t p = 0; p + n <= length; ++p) {
      if (memcmp(text + p, line, n) == 0) {
        memcpy(text + p, "NUL", 3);
        done = seek_to(h, 0) == 0 && write_all(h, text, length) == 0;
        break;
      }
    }
  }
  free_block(&text);
  close_file(h);
  return done;
}

// A name in the NT family's list is the path with \??\ before it, and
// "!" before that for a target that is replaced.
bool names_path(const char* entry, const char* path) {
  if (*entry == '!') ++entry;
  if (strncmp(entry, "\\??\\", 4) == 0) entry += 4;
  return _stricmp(entry, path) == 0;
}

}  // namespace

void restart_list_name(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, kPathSize);
  if (n == 0 || n >= kPathSize) copy_string(out, path, kPathSize);
}

bool cancel_restart_rename(const char* target, const char* source) {
  if (!target) target = "";
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0;
  DWORD size = 0;
  char* list = nullptr;
  bool done = false;
  // Two zeros beyond what is read end every text, whatever the value holds.
  if (RegQueryValueExA(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      size < kRenameListLimit && alloc_zeroed(size + 2, &list) &&
      RegQueryValueExA(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(list), &size) == ERROR_SUCCESS) {
    // Pairs of source and target (empty for a deletion) up to an empty
    // source; ours is the newest that names both.
    DWORD found = 0, found_end = 0;
    for (DWORD at = 0; at < size && list[at];) {
      DWORD pair = at;
      const char* from = list + at;
      at += static_cast<DWORD>(strlen(from)) + 1;
      const char* to = list + at;
      at += static_cast<DWORD>(strlen(to)) + 1;
      if (at > size) break;
      if (names_path(from, source) && names_path(to, target)) {
        found = pair;
        found_end = at;
      }
    }
    if (found_end) {
      memmove(list + found, list + found_end, size - found_end);
      size -= found_end - found;
      list[size] = '\0';
      done = list[0] == '\0' ? RegDeleteValueA(key, kPendingRenames) == ERROR_SUCCESS
                              : RegSetValueExA(key, kPendingRenames, 0, type, reinterpret_cast<const BYTE*>(list),
                                               size) == ERROR_SUCCESS;
    }
  }
  free_block(&list);
  RegCloseKey(key);
  return done;
}

bool replace_at_restart(const char* target, const char* source) {
  if (IsNtFamily)
    return move_file_ex(source, target,
                        target ? MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING : MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
  char short_source[kPathSize];
  char short_target[kPathSize];
  char file[kPathSize];
  restart_list_name(source, short_source);
  UINT n = GetWindowsDirectoryA(file, kPathSize);
  if (n == 0 || n >= kPathSize) return false;
  append_string(file, "\\WININIT.INI", sizeof file);
  if (target) restart_list_name(target, short_target);
  bool written = WritePrivateProfileStringA(kSection, target ? short_target : kPlaceholder, short_source, file) != 0;
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
  return written && (target || rename_placeholder(file, short_source));
}
