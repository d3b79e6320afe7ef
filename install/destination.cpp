#include "install/destination.h"

#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/system_libraries.h"
#include "install/folders.h"
#include "install/path_macros.h"

namespace {

const char* after_last_backslash(const char* path) {
  const char* slash = strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

bool exists_for_reading(const char* path) {
  FileHandle file = open_file(path, 0);
  if (file == INVALID_FILE_HANDLE) return false;
  close_file(file);
  return true;
}

// A shared system file goes where the version library says such a file
// belongs: normally the System folder, whatever subfolders its name has.
struct SharedFileFolders {
  char current[kPathSize];
  char destination[kPathSize];
  char windows[kPathSize];
};

int shared_file_destination(const char* name) {
  SharedFileFolders* folders = nullptr;
  if (!alloc_zeroed(sizeof(SharedFileFolders), &folders)) return -1;
  strip_backslash(DestPath);
  const char* file = after_last_backslash(name);
  UINT n = GetWindowsDirectoryA(folders->windows, kPathSize);
  if (n == 0 || n >= kPathSize) folders->windows[0] = '\0';
  UINT current_length = kPathSize;
  UINT destination_length = kPathSize;
  DWORD r = version_find_file(VFFF_ISSHAREDFILE, file, folders->windows, DestPath, folders->current, &current_length,
                              folders->destination, &destination_length);
  int in_use = (r & VFF_FILEINUSE) ? 1 : 0;
  folders->current[kPathSize - 1] = '\0';
  folders->destination[kPathSize - 1] = '\0';
  if (folders->destination[0] != '\0') {
    join_path(DestPath, sizeof(DestPath), folders->destination, file);
  } else {
    n = GetSystemDirectoryA(DestPath, kPathSize);
    if (n >= kPathSize) DestPath[0] = '\0';
    join_path(DestPath, sizeof(DestPath), DestPath, file);
  }
  int result;
  if (exists_for_reading(DestPath)) {
    result = in_use;
  } else if (folders->current[0] == '\0') {
    result = 0;
  } else {
    // The current copy's full path, in the destination field that is no
    // longer needed.
    bool whole = join_path(folders->destination, kPathSize, folders->current, file);
    result = whole && _stricmp(folders->destination, DestPath) == 0 ? in_use : 0;
  }
  free_block(&folders);
  return result;
}

}  // namespace

bool beside_setup_file(char* out, size_t capacity, const char* name) {
  const char* slash = strrchr(SourcePath, '\\');
  copy_string(out, SourcePath, slash ? static_cast<size_t>(slash - SourcePath) + 2 : 1);
  return append_string(out, name, capacity);
}

int item_destination(const uint8_t* entry) {
  copy_string(DestPath, InstallDir, sizeof(DestPath));
  const char* name = entry_string(entry, 0);
  if (entry[kEntryKind] == kKindInSource) {
    beside_setup_file(DestPath, sizeof(DestPath), name);
    return 0;
  }
  switch (entry[kEntryFolderCode]) {
    case kFolderWindows: {
      UINT n = GetWindowsDirectoryA(DestPath, kPathSize);
      if (n == 0 || n >= kPathSize) copy_string(DestPath, InstallDir, sizeof(DestPath));
      break;
    }
    case kFolderFonts:
      special_folder_path(CSIDL_FONTS, DestPath);
      break;
    case kFolderShared: {
      int result = shared_file_destination(name);
      if (result >= 0) return result;
      break;  // without its work area it goes where a plain item goes
    }
    default:
      break;
  }
  join_path(DestPath, sizeof(DestPath), DestPath, name);
  return 0;
}

bool resolve_target_file(const char* name) {
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    if (_stricmp(entry_string(entry, 0), name) == 0) {
      item_destination(entry);
      return true;
    }
  }
  // A name cut to fit would be another file.
  return expand_macros(DestPath, name, kPathSize) < kPathSize;
}
