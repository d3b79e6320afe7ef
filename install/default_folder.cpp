#include "install/default_folder.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/format.h"
#include "archive/platform.h"
#include "base/globals.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/system_libraries.h"
#include "install/path_macros.h"
#include "install/registry_values.h"
#include "install/scope.h"

bool ArchitectureRefused;
uint32_t ActiveArchitecture;

void take_architecture(uint32_t code) {
  uint16_t machine = native_machine();
  bool x64 = machine == IMAGE_FILE_MACHINE_AMD64;
  bool arm64 = machine == IMAGE_FILE_MACHINE_ARM64;
  // x64 programs run on ARM64 Windows under its emulation.
  bool taken = code == kArchitectureX86 || (code == kArchitectureX64 && x64) ||
               (code == kArchitectureArm64 && arm64) || (code == kArchitectureX64Compatible && (x64 || arm64));
  ArchitectureRefused = !taken;
  if (!taken || code == kArchitectureX86) return;
  ActiveArchitecture = code;
  enter_native_mode();
  // Loaded now, from the 32-bit System folder: with the redirection off
  // (around the items) it would be the 64-bit library, which cannot load.
  load_version_library();
}

HKEY root_key(uint32_t code) {
  switch (code) {
    case 0: return HKEY_CLASSES_ROOT;
    case 2: return HKEY_LOCAL_MACHINE;
    case 3: return HKEY_USERS;
    case kRootOfScope: return product_root();
    default: return HKEY_CURRENT_USER;
  }
}

namespace {

// Whether `path` can be entered as a folder. The current folder is
// restored afterwards: left in an old installation's folder it would keep
// that folder from being removed, and would change what a relative
// setup-file path names.
bool folder_exists(const char* path) {
  char saved[kPathSize];
  DWORD kept = GetCurrentDirectoryA(kPathSize, saved);
  bool entered = path[0] && SetCurrentDirectoryA(path);
  if (kept > 0 && kept < kPathSize) SetCurrentDirectoryA(saved);
  return entered;
}

// Replaces the last component of `result` (from `start`) by the name the
// file system stores for it. False when it cannot be found, or the lookup
// would be a pattern or the stored name does not fit.
bool take_stored_name(char* result, size_t start) {
  if (strchr(result + start, '*') || strchr(result + start, '?')) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(result, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  size_t n = strlen(found.cFileName);
  if (start + n >= kPathSize) return false;
  memcpy(result + start, found.cFileName, n + 1);
  return true;
}

// Appends a backslash and `count` characters of `component` to `result`.
bool append_component(char* result, const char* component, size_t count, size_t* start) {
  size_t n = strlen(result);
  if (n + 1 + count >= kPathSize) return false;
  result[n] = '\\';
  memcpy(result + n + 1, component, count);
  result[n + 1 + count] = '\0';
  *start = n + 1;
  return true;
}

}  // namespace

void fix_path_case(char* path) {
  // The drive ("C:"), where the path names one.
  size_t drive = path[0] && path[1] == ':' ? 2 : 0;
  char result[kPathSize];
  copy_string(result, path, drive + 1);
  const char* p = path + drive;
  while (*p == '\\') ++p;
  if (!*p) return;  // a drive or root alone has nothing to look up
  size_t start = 0;
  for (const char* slash; (slash = strchr(p, '\\')) != nullptr; p = slash + 1) {
    if (!append_component(result, p, slash - p, &start) || !take_stored_name(result, start)) return;
  }
  if (*p) {
    if (!append_component(result, p, strlen(p), &start)) return;
    strip_backslash(result);
    if (!take_stored_name(result, start)) return;
  } else {
    // A folder written with its trailing backslash keeps it.
    size_t n = strlen(result);
    if (n + 1 >= kPathSize) return;
    result[n] = '\\';
    result[n + 1] = '\0';
  }
  copy_string(path, result, kPathSize);
}

void default_install_dir(const SetupTypeRecord* record) {
  // Each setup type starts from its own text, not from the folder of the
  // type read before it.
  InstallDir[0] = '\0';
  bool remembered = false;
  if (record->registry_key) {
    read_registry_path(root_key(record->root_key), record->registry_key, record->registry_value, TempPath);
    remembered = TempPath[0] != '\0';
  } else if (record->ini_file && record->ini_section && record->ini_key) {
    GetPrivateProfileStringA(record->ini_section, record->ini_key, "", TempPath, kPathSize, record->ini_file);
    remembered = TempPath[0] != '\0';
  }
  // A remembered folder is taken as stored, without macros, while it is
  // there. One that is gone gives the default: a shorter prefix of it can
  // be another product's folder ("Foo 2" cut back to "Foo"), whose record
  // the installation would then take over.
  if (remembered && folder_exists(TempPath)) {
    copy_string(InstallDir, TempPath, kPathSize);
    fix_path_case(InstallDir);
    return;
  }
  // A folder cut to fit would be another folder: the user then names one.
  if (record->default_folder && expand_macros(InstallDir, record->default_folder, kPathSize) >= kPathSize)
    InstallDir[0] = '\0';
}
