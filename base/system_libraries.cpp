#include "base/system_libraries.h"

#include "base/globals.h"
#include "base/path_strings.h"

// Not declared by older headers; the values are fixed by Windows.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

FARPROC kernel_call(const char* name) { return loaded_library_call("kernel32.dll", name); }

HMODULE VersionLibrary;  // loaded at the first version call, kept until the end

FARPROC version_call(const char* name) {
  if (!VersionLibrary) VersionLibrary = load_system_library("version.dll");
  return VersionLibrary ? GetProcAddress(VersionLibrary, name) : nullptr;
}

}  // namespace

FARPROC loaded_library_call(const char* library, const char* name) {
  return GetProcAddress(GetModuleHandleA(library), name);
}

BOOL move_file_ex(const char* from, const char* to, DWORD flags) {
  typedef BOOL(WINAPI * Call)(const char*, const char*, DWORD);
  if (FARPROC call = kernel_call("MoveFileExA")) return as_call<Call>(call)(from, to, flags);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

void restrict_library_search() {
  typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
  typedef BOOL(WINAPI * SetDirectory)(const char*);
  if (FARPROC call = kernel_call("SetDefaultDllDirectories")) {
    as_call<SetDefaultDirectories>(call)(LOAD_LIBRARY_SEARCH_SYSTEM32);
  } else if (FARPROC fallback = kernel_call("SetDllDirectoryA")) {
    as_call<SetDirectory>(fallback)("");
  }
}

HMODULE load_system_library(const char* name) {
  char path[kPathSize];
  UINT n = GetSystemDirectoryA(path, sizeof path);
  if (n == 0 || n >= sizeof path || !add_backslash(path, sizeof path) || !append_string(path, name, sizeof path))
    return nullptr;
  return LoadLibraryA(path);
}

HMODULE load_installed_library(const char* path) {
  // The search flags came with SetDefaultDllDirectories; before them the
  // altered search also begins in the library's folder.
  DWORD search = kernel_call("SetDefaultDllDirectories") ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                                         : LOAD_WITH_ALTERED_SEARCH_PATH;
  return LoadLibraryExA(path, nullptr, search);
}

void load_version_library() { version_call(""); }

DWORD version_info_size(const char* path, DWORD* handle) {
  typedef DWORD(WINAPI * Call)(const char*, DWORD*);
  FARPROC call = version_call("GetFileVersionInfoSizeA");
  return call ? as_call<Call>(call)(path, handle) : 0;
}

BOOL version_info(const char* path, DWORD handle, DWORD size, void* data) {
  typedef BOOL(WINAPI * Call)(const char*, DWORD, DWORD, void*);
  FARPROC call = version_call("GetFileVersionInfoA");
  return call ? as_call<Call>(call)(path, handle, size, data) : FALSE;
}

BOOL version_query(const void* block, const char* sub_block, void** value, UINT* length) {
  typedef BOOL(WINAPI * Call)(const void*, const char*, void**, UINT*);
  FARPROC call = version_call("VerQueryValueA");
  return call ? as_call<Call>(call)(block, sub_block, value, length) : FALSE;
}

DWORD version_find_file(DWORD flags, const char* file, const char* windows_dir, const char* app_dir, char* current_dir,
                        UINT* current_length, char* dest_dir, UINT* dest_length) {
  typedef DWORD(WINAPI * Call)(DWORD, const char*, const char*, const char*, char*, UINT*, char*, UINT*);
  FARPROC call = version_call("VerFindFileA");
  return call ? as_call<Call>(call)(flags, file, windows_dir, app_dir, current_dir, current_length, dest_dir, dest_length)
              : 0;
}

DiskFreeSpaceEx disk_free_space_ex() { return as_call<DiskFreeSpaceEx>(kernel_call("GetDiskFreeSpaceExA")); }
