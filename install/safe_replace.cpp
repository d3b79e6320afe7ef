#include "install/safe_replace.h"

#include <windows.h>

#include "base/globals.h"
#include "base/path_strings.h"
#include "base/replace.h"
#include "base/system_libraries.h"
#include "base/unguessable_files.h"
#include "install/journal.h"

namespace {

bool sharing_error(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

typedef BOOL(WINAPI * HardLink)(const char*, const char*, LPSECURITY_ATTRIBUTES);

// CreateHardLinkA, which systems before Windows 2000 lack; null then.
HardLink hard_link_call() {
  static HardLink link = nullptr;
  static bool looked_up = false;
  if (!looked_up) {
    looked_up = true;
    link = as_call<HardLink>(loaded_library_call("kernel32.dll", "CreateHardLinkA"));
  }
  return link;
}

// A second name for the old file (CreateHardLinkA, where the system and
// the drive have it), else a copy of it.
bool keep_old_file(const char* target, const char* backup) {
  HardLink link = hard_link_call();
  if (link && link(backup, target, nullptr)) return true;
  return CopyFileA(target, backup, TRUE) != 0;
}

// Whether the file's users allow it to be replaced; asked before a second
// name is made for it, which the same users would keep from going again.
// A running program or a loaded library lets its file be opened for
// deleting but not for writing, and no name of it can go while it runs: a
// second name made for it would stay behind.
bool replaceable(const char* path) {
  HANDLE file = CreateFileA(path, DELETE | FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Why the swap failed. Access denied is also the system's answer to
// deleting or renaming a running program's file, so it means in use unless
// the file shows that no user holds it: on the NT family a user makes the
// open for writing and deleting fail with a sharing violation (a running
// program's file too), so a file that opens, or that refuses the open
// itself (its permissions, a read-only file), was refused for other reasons
// (its folder takes no backup, the file may not be changed). The 95 family
// has no permissions on its drives: there, access denied stays in use.
Replacement failure_of(DWORD error, const char* target) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return Replacement::kDiskFull;
  if (sharing_error(error)) return Replacement::kInUse;
  if (error != ERROR_ACCESS_DENIED) return Replacement::kFailed;
  if (!IsNtFamily || (!replaceable(target) && sharing_error(GetLastError()))) return Replacement::kInUse;
  return Replacement::kDenied;
}

// The swap itself; GetLastError tells why it failed.
bool swap_files(const char* temp_path, const char* target, const char* backup) {
  if (IsNtFamily) {
    if (!replaceable(target) || !keep_old_file(target, backup)) return false;
    if (move_file_ex(temp_path, target, MOVEFILE_REPLACE_EXISTING)) return true;
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

}  // namespace

bool schedule_replacement(const char* target, const char* source) {
  if (!note_created_file(source)) return false;
  // The list is shared with every other program: only this entry of it is
  // noted, so that a rollback takes off that one alone.
  if (IsNtFamily) {
    if (!note_restart_rename(target, source)) return false;
  } else {
    char wininit[2 * kPathSize];
    char name[kPathSize];
    profile_file_path("WININIT.INI", wininit);
    restart_list_name(target, name);
    if (!wininit[0] || !note_ini_key(wininit, "Rename", name)) return false;
  }
  return replace_at_restart(target, source);
}

bool backup_is_copy(const char* folder) {
  if (!IsNtFamily) return false;
  if (!hard_link_call()) return true;
  // Only a drive letter's root is asked; a network path counts as a copy.
  if (!folder[0] || folder[1] != ':') return true;
  char root[4] = {folder[0], ':', '\\', '\0'};
  char system[16];
  DWORD flags = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, system, sizeof system)) return true;
  // Systems before Windows 7 do not report the flag, but NTFS always has links.
  return !(flags & FILE_SUPPORTS_HARD_LINKS) && lstrcmpiA(system, "NTFS") != 0;
}

Replacement replace_with_backup(const char* temp_path, const char* target, uint32_t attributes) {
  char backup[2 * kPathSize];
  // Retried after the file was in use, the replacement keeps its record,
  // so that retries pile up neither records nor backups.
  if (const char* earlier = unmade_backup(target)) {
    copy_string(backup, earlier, sizeof backup);
  } else if (!temp_name_beside(target, "$~", backup, sizeof backup) ||
             !note_replaced_file(target, backup, attributes)) {
    return Replacement::kFailed;
  }
  bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!swap_files(temp_path, target, backup)) {
    // Asked before the file is read-only again, which would refuse the
    // look at its users.
    Replacement failure = failure_of(GetLastError(), target);
    if (read_only) SetFileAttributesA(target, attributes);
    return failure;
  }
  if (read_only)
    SetFileAttributesA(target, (GetFileAttributesA(target) & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY);
  return Replacement::kPlaced;
}
