#include "install/replace.h"

#include <string.h>
#include <windows.h>

#include "app/globals.h"
#include "app/memory.h"
#include "app/path_strings.h"
#include "app/unguessable_files.h"
#include "archive/platform.h"
#include "install/journal.h"

namespace {

const char kSection[] = "Rename";
// The key that a deletion is written under before its line is turned
// into NUL=: the profile functions keep one value per key, and a deletion
// needs a line of its own however many there are.
const char kPlaceholder[] = "xyz";
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

bool in_use_error(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// A second name for the old file (CreateHardLinkA, where the system and
// the drive have it), else a copy of it.
bool keep_old_file(const char* target, const char* backup) {
  typedef BOOL(WINAPI * HardLink)(const char*, const char*, LPSECURITY_ATTRIBUTES);
  static HardLink link = nullptr;
  static bool looked_up = false;
  if (!looked_up) {
    looked_up = true;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
      link = reinterpret_cast<HardLink>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateHardLinkA")));
  }
  if (link && link(backup, target, nullptr)) return true;
  return CopyFileA(target, backup, TRUE) != 0;
}

// Whether the file's users allow it to be replaced; asked before a second
// name is made for it, which the same users would keep from going again.
bool replaceable(const char* path) {
  HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// The swap itself; GetLastError tells why it failed.
bool swap_files(const char* temp_path, const char* target, const char* backup) {
  if (IsNtFamily) {
    if (!replaceable(target) || !keep_old_file(target, backup)) return false;
    if (MoveFileExA(temp_path, target, MOVEFILE_REPLACE_EXISTING)) return true;
    DWORD error = GetLastError();
    DeleteFileA(backup);
    SetLastError(error);
    return false;
  }
  if (!MoveFileA(target, backup)) return false;
  if (MoveFileA(temp_path, target)) return true;
  DWORD error = GetLastError();
  MoveFileA(backup, target);
  SetLastError(error);
  return false;
}

void short_path(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, kPathSize);
  if (n == 0 || n >= kPathSize) copy_string(out, path, kPathSize);
}

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

}  // namespace

bool replace_at_restart(const char* target, const char* source) {
  if (IsNtFamily) {
    if (target) return MoveFileExA(source, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
    return MoveFileExA(source, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
  }
  char short_source[kPathSize];
  char short_target[kPathSize];
  char file[kPathSize];
  short_path(source, short_source);
  UINT n = GetWindowsDirectoryA(file, kPathSize);
  if (n == 0 || n >= kPathSize) return false;
  append_string(file, "\\WININIT.INI", sizeof file);
  if (target) {
    short_path(target, short_target);
    bool written = WritePrivateProfileStringA(kSection, short_target, short_source, file) != 0;
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
    return written;
  }
  bool written = WritePrivateProfileStringA(kSection, kPlaceholder, short_source, file) != 0;
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
  return written && rename_placeholder(file, short_source);
}

bool schedule_replacement(const char* target, const char* source) {
  if (!note_created_file(source)) return false;
  if (IsNtFamily) {
    if (!note_registry_value(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations")) return false;
  } else {
    char wininit[2 * kPathSize];
    profile_file_path("WININIT.INI", wininit);
    if (!wininit[0] || !note_file_change(wininit)) return false;
  }
  return replace_at_restart(target, source);
}

Replacement replace_with_backup(const char* temp_path, const char* target, uint32_t attributes) {
  char backup[2 * kPathSize];
  if (!temp_name_beside(target, "$~", backup, sizeof backup) || !note_replaced_file(target, backup, attributes))
    return Replacement::kFailed;
  bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!swap_files(temp_path, target, backup)) {
    DWORD error = GetLastError();
    if (read_only) SetFileAttributesA(target, attributes);
    return in_use_error(error) ? Replacement::kInUse : Replacement::kFailed;
  }
  if (read_only)
    SetFileAttributesA(target, (GetFileAttributesA(target) & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY);
  return Replacement::kPlaced;
}
