// Libraries of the system. A setup runs from a folder full of other
// people's files (a download folder), often with administrator rights: a
// library found there before the system's own would run with them. The
// programs therefore import only Known DLLs, which Windows always takes
// from the System folder, restrict the library search before anything else
// runs, and load every other library by its full path in the System folder.
#pragma once
#include <windows.h>

// Leaves only the System folder in the search for libraries loaded by
// name: SetDefaultDllDirectories where it exists, else SetDllDirectoryA("")
// (which at least drops the current folder); the Windows 95 family has
// neither, and nothing is changed there.
void restrict_library_search();

// LoadLibraryA of System folder + "\" + name; null when it cannot be loaded.
HMODULE load_system_library(const char* name);

// An installed library by its full path (to call its self-registration):
// the libraries it needs are looked for in its own folder first, then in
// the System folder.
HMODULE load_installed_library(const char* path);

// The version library's calls, through version.dll of the System folder,
// loaded at the first call. Without the library they fail as the system
// calls fail: no version information, no shared-file folder.
// Loads version.dll now, where the first version call would.
void load_version_library();
DWORD version_info_size(const char* path, DWORD* handle);
BOOL version_info(const char* path, DWORD handle, DWORD size, void* data);
BOOL version_query(const void* block, const char* sub_block, void** value, UINT* length);
DWORD version_find_file(DWORD flags, const char* file, const char* windows_dir, const char* app_dir, char* current_dir,
                        UINT* current_length, char* dest_dir, UINT* dest_length);

// A call of a library the program imports, looked up by name; null where
// this Windows lacks it. The Windows 95 family lacks several calls of the
// NT family, and a program that imports one of them does not start there
// at all, so such calls are only ever looked up.
FARPROC loaded_library_call(const char* library, const char* name);

// A call through a looked-up address: its own type is not FARPROC's.
template <typename Call>
Call as_call(FARPROC address) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(address));
}

// MoveFileExA, which the Windows 95 family lacks: there it fails with
// ERROR_CALL_NOT_IMPLEMENTED, as the NT family's own stubs do.
BOOL move_file_ex(const char* from, const char* to, DWORD flags);

// GetDiskFreeSpaceExA, which the first Windows 95 lacks; null there.
typedef BOOL(WINAPI* DiskFreeSpaceEx)(const char* root, ULARGE_INTEGER* available, ULARGE_INTEGER* total,
                                      ULARGE_INTEGER* free);
DiskFreeSpaceEx disk_free_space_ex();
