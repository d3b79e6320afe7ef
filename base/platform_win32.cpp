// Win32 side of the seam: thin wrappers over kernel32 files with the
// program's result codes, and the runtime's heap compaction. They need
// nothing of the setup, so the uninstaller uses them as well.
#include <malloc.h>
#include <string.h>
#include <windows.h>

#include "base/byte_order.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/system_libraries.h"
#include "base/unguessable_files.h"

FileHandle open_file(const char* path, int mode) {
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  if (mode == 1) {
    access = GENERIC_WRITE;
    share = 0;
  } else if (mode == 2) {
    access = GENERIC_READ | GENERIC_WRITE;
  }
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle create_file(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle create_temp_file(const char* beside, const char* tag, char* path, size_t capacity) {
  char head[2 * kPathSize];
  if (!temp_name_head(beside, tag, head, sizeof head)) {
    path[0] = '\0';
    return INVALID_FILE_HANDLE;
  }
  return create_unguessable_file("", head, "", path, capacity);
}

FileHandle create_shared_file(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int read_exact(FileHandle file, void* buffer, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, nullptr) || got != count) return 1;
  return 0;
}

uint32_t read_some(FileHandle file, void* buffer, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, nullptr)) return 0;
  return got;
}

// A write that a full disk refuses outright is a short write too: the
// caller reports the full disk.
int write_all(FileHandle file, const void* buffer, uint32_t count) {
  DWORD put = 0;
  if (!WriteFile(file, buffer, count, &put, nullptr)) {
    DWORD error = GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? 3 : 2;
  }
  return put == count ? 0 : 3;
}

uint32_t tell_file(FileHandle file) { return SetFilePointer(file, 0, nullptr, FILE_CURRENT); }

uint32_t seek_to(FileHandle file, uint32_t offset) {
  return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
}

uint32_t skip_file(FileHandle file, int32_t distance) { return SetFilePointer(file, distance, nullptr, FILE_CURRENT); }

uint32_t seek_from_end(FileHandle file, int32_t distance) { return SetFilePointer(file, distance, nullptr, FILE_END); }

uint32_t file_length(FileHandle file) {
  DWORD here = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
  DWORD end = SetFilePointer(file, 0, nullptr, FILE_END);
  SetFilePointer(file, static_cast<LONG>(here), nullptr, FILE_BEGIN);
  return end;
}

int close_file(FileHandle file) { return CloseHandle(file); }

bool delete_file(const char* path) { return DeleteFileA(path) != 0; }

bool rename_file(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

bool replace_file(const char* from, const char* to) {
  if (IsNtFamily) return move_file_ex(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
  // The Windows 95 family has no MoveFileExA: the old file steps aside.
  if (GetFileAttributesA(to) == INVALID_FILE_ATTRIBUTES) return MoveFileA(from, to) != 0;
  char aside[2 * kPathSize];
  if (!temp_name_beside(to, "$~", aside, sizeof aside) || !MoveFileA(to, aside)) return false;
  if (!MoveFileA(from, to)) {
    MoveFileA(aside, to);
    return false;
  }
  DeleteFileA(aside);
  return true;
}

bool set_file_times(FileHandle file, const uint8_t* times) {
  FILETIME t[3];
  for (int i = 0; i < 3; ++i) {
    t[i].dwLowDateTime = get_u32(times + 8 * i);
    t[i].dwHighDateTime = get_u32(times + 8 * i + 4);
  }
  return SetFileTime(file, &t[0], &t[1], &t[2]) != 0;
}

void compact_heap() { _heapmin(); }

void local_time_text(char* out) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  const WORD parts[] = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  static const char kSeparators[] = "-- ::";
  for (int i = 0; i < 6; ++i) {
    format_decimal(out, 5, parts[i], i == 0 ? 4 : 2);
    out += strlen(out);
    if (i < 5) *out++ = kSeparators[i];
  }
}
