#include "install/folders.h"

#include <direct.h>
#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "install/journal.h"
#include "install/scope.h"

namespace {

// A folder this run makes is noted before it is made, so that a rollback
// (or the next run, after this one was ended) removes it again; one that
// cannot be noted is not made. A note whose folder was not made is
// harmless: only an empty folder is ever removed.
bool enter_or_create(const char* folder) {
  if (SetCurrentDirectoryA(folder)) return true;
  if (!note_created_folder(folder)) return false;
  if (_mkdir(folder) != 0) {
    withdraw_newest_note();
    return false;
  }
  return SetCurrentDirectoryA(folder) != 0;
}

// The items of a folder come one after another: once the first has made
// the folder it is the current one, and so is every folder on its path.
bool is_current_folder(const char* folder) {
  char current[kPathSize];
  DWORD n = GetCurrentDirectoryA(kPathSize, current);
  return n != 0 && n < kPathSize && add_backslash(current, kPathSize) && _stricmp(current, folder) == 0;
}

}  // namespace

int create_folder_chain(const char* path) {
  size_t length = strlen(path);
  char* copy = nullptr;
  char* part = nullptr;
  if (!alloc_block(length + 4, &copy)) return -1;
  memcpy(copy, path, length + 1);
  char* slash = strrchr(copy, '\\');
  if (slash) slash[1] = '\0';
  if (slash && is_current_folder(copy)) {
    free_block(&copy);
    return 0;
  }
  if (!alloc_zeroed(kPathSize, &part)) {
    free_block(&copy);
    return -1;
  }
  // The root is never created: \\server\ or a drive's D:\ .
  const char* rest = copy;
  if (copy[0] == '\\' && copy[1] == '\\')
    rest = copy + 2;
  else if (copy[0] != '\0' && copy[1] == ':' && copy[2] == '\\')
    rest = copy + 3;

  int result = 0;
  if (strchr(rest, '\\')) {
    for (const char* slash = strchr(rest, '\\'); slash; slash = strchr(slash + 1, '\\')) {
      size_t n = static_cast<size_t>(slash - copy);
      if (n >= kPathSize) {
        result = 1;
        break;
      }
      memcpy(part, copy, n);
      part[n] = '\0';
      if (!enter_or_create(part)) {
        result = 1;
        break;
      }
    }
  } else if (length < kPathSize) {
    copy_string(part, copy, kPathSize);
    strip_backslash(part);
    if (!enter_or_create(part)) result = 1;
  } else {
    result = 1;
  }
  free_block(&part);
  free_block(&copy);
  return result;
}

// `folder` is `kept`, or a folder above it.
static bool holds_kept(const char* folder, const char* kept) {
  size_t n = strlen(folder);
  return _strnicmp(folder, kept, n) == 0 && (kept[n] == '\0' || kept[n] == '\\');
}

void remove_given_up_folders(uint32_t from, uint32_t to, const char* kept) {
  // A chain is made outermost first; each walk removes the innermost
  // folders that are empty, so a chain of n folders takes n walks.
  for (bool removed = true; removed;) {
    removed = false;
    Change change;
    for (uint32_t position = from; position < to && journal_next(&position, &change);)
      if (change.kind == ChangeKind::kCreatedFolder && !holds_kept(change.path, kept) &&
          RemoveDirectoryA(change.path))
        removed = true;
  }
}

bool special_folder_path(int csidl, char* out) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return false;
  char path[MAX_PATH];
  bool found = SHGetPathFromIDListA(list, path) != FALSE;
  CoTaskMemFree(list);
  if (found) copy_string(out, path, kPathSize);
  return found;
}

namespace {

int common_folder(int csidl) {
  switch (csidl) {
    case CSIDL_PROGRAMS: return CSIDL_COMMON_PROGRAMS;
    case CSIDL_STARTMENU: return CSIDL_COMMON_STARTMENU;
    case CSIDL_STARTUP: return CSIDL_COMMON_STARTUP;
    default: return CSIDL_COMMON_DESKTOPDIRECTORY;
  }
}

}  // namespace

bool shortcut_folder_path(int csidl, char* out) {
  return (!per_user_scope() && special_folder_path(common_folder(csidl), out)) || special_folder_path(csidl, out);
}

bool join_path(char* out, size_t capacity, const char* folder, const char* file) {
  if (out != folder && !copy_string(out, folder, capacity)) return false;
  return add_backslash(out, capacity) && append_string(out, file, capacity);
}

bool desktop_shortcut_path(char* out, size_t capacity, const char* name) {
  return shortcut_folder_path(CSIDL_DESKTOP, out) && join_path(out, capacity, out, name) &&
         append_string(out, ".lnk", capacity);
}
