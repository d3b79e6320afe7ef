#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "uninstall/font_removal.h"
#include "uninstall/library_registration.h"
#include "uninstall/shared_count.h"

namespace {

// Deletes a recorded file; a file already gone counts as removed. A name
// that is a folder is never deleted as a file.
bool delete_file(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  // The setup keeps installed read-only files read-only.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path.c_str())) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes);
  return false;
}

bool remove_file(const PlannedFile& file) {
  const char* path = file.path.c_str();
  // Another installation's count keeps a shared file; so does a count we
  // cannot read, since deleting a library in use elsewhere breaks that user.
  if ((file.flags & kRemoveShared) && release_shared_count(path) != SharedRelease::kLastUser) return true;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  if (file.flags & kRemoveSelfRegistering) unregister_library(path);
  if (file.flags & kRemoveFont) remove_font(path);
  return delete_file(file.path);
}

bool special_folder(int csidl, std::string* out) {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || !list) return false;
  char path[MAX_PATH] = "";
  bool found = SHGetPathFromIDListA(list, path) && path[0] != '\0';
  IMalloc* shell_malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&shell_malloc))) {
    shell_malloc->Free(list);
    shell_malloc->Release();
  }
  if (!found) return false;
  *out = path;
  if (out->size() > 3 && out->back() == '\\') out->pop_back();
  return true;
}

}  // namespace

MenuFolders find_menu_folders() {
  MenuFolders menu;
  std::string path;
  for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    if (special_folder(csidl, &path)) menu.programs.push_back(path);
  for (int csidl : {CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU})
    if (special_folder(csidl, &path)) menu.keep.push_back(path);
  return menu;
}

unsigned carry_out_removal(const RemovalPlan& plan) {
  unsigned left = 0;
  for (const PlannedFile& file : plan.files) left += !remove_file(file);
  for (const std::string& shortcut : plan.shortcuts) left += !delete_file(shortcut);
  // RemoveDirectoryA takes only empty folders, so whatever the user added
  // keeps its folder.
  for (const std::string& folder : plan.folders) RemoveDirectoryA(folder.c_str());
  if (plan.has_uninstall_key) {
    LONG r = RegDeleteKeyA(HKEY_LOCAL_MACHINE, plan.uninstall_key.c_str());
    left += r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND;
  }
  return left;
}
