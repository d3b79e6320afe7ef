#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "uninstall/font_removal.h"
#include "uninstall/library_registration.h"
#include "uninstall/shared_count.h"

namespace {

// Deletes a recorded file; a file already gone counts as removed. A name
// that is a folder is never deleted as a file.
bool delete_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  // The setup keeps installed read-only files read-only.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path)) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes);
  return false;
}

bool remove_file(const char* path, uint8_t flags) {
  // Another installation's count keeps a shared file; so does a count we
  // cannot read, since deleting a library in use elsewhere breaks that user.
  if ((flags & kRemoveShared) && release_shared_count(path) != SharedRelease::kLastUser) return true;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  if (flags & kRemoveSelfRegistering) unregister_library(path);
  if (flags & kRemoveFont) remove_font(path);
  return delete_file(path);
}

// Adds the shell folder csidl to folders, without a trailing backslash.
void add_special_folder(int csidl, char (*folders)[kPathSize], unsigned* count) {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || !list) return;
  char* path = folders[*count];
  path[0] = '\0';
  bool found = SHGetPathFromIDListA(list, path) && path[0] != '\0';
  IMalloc* shell_malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&shell_malloc))) {
    shell_malloc->Free(list);
    shell_malloc->Release();
  }
  if (!found) return;
  size_t n = strlen(path);
  if (n > 3 && path[n - 1] == '\\') path[n - 1] = '\0';
  ++*count;
}

}  // namespace

void find_menu_folders(MenuFolders* menu) {
  *menu = MenuFolders();
  const int programs[] = {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS};
  const int kept[] = {CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU};
  for (int csidl : programs) add_special_folder(csidl, menu->programs, &menu->program_count);
  for (int csidl : kept) add_special_folder(csidl, menu->keep, &menu->keep_count);
}

unsigned carry_out_removal(const RemovalPlan& plan) {
  unsigned left = 0;
  char path[kPathSize];
  const uint8_t* cursor = plan.data.remove_list;
  for (uint32_t i = 0; i < plan.data.remove_count; ++i) {
    RemoveRecord record = next_remove_record(&cursor);
    if (planned_file_path(plan, record, path)) left += !remove_file(path, record.flags);
  }
  cursor = plan.data.shortcut_list;
  for (uint32_t i = 0; i < plan.data.shortcut_count; ++i) {
    planned_shortcut_path(next_shortcut_record(&cursor), path);
    left += !delete_file(path);
  }
  // RemoveDirectoryA takes only empty folders, so whatever the user added
  // keeps its folder.
  for (uint32_t i = 0; i < plan.folder_count; ++i) {
    planned_folder_path(plan.folders[i], path);
    RemoveDirectoryA(path);
  }
  if (plan.has_uninstall_key) {
    LONG r = RegDeleteKeyA(HKEY_LOCAL_MACHINE, plan.uninstall_key);
    left += r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND;
  }
  return left;
}
