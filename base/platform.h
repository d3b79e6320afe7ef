// The seam between the portable code and the system under it: files, the
// clock, message boxes and the heap. The Win32 side lives in
// base/platform_win32.cpp and app/message_box.cpp; the host side in
// archive/platform_host.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

typedef void* FileHandle;
// Equal to INVALID_HANDLE_VALUE on Win32.
#define INVALID_FILE_HANDLE ((FileHandle)(intptr_t)-1)

// File routines. Results: 0 success, 1 read failed or short, 2 write failed,
// 3 short write. Positions are 32-bit.
FileHandle open_file(const char* path, int mode);  // 0 read, 1 write, 2 read+write
FileHandle create_file(const char* path);
// Created (or emptied) for writing while others may read it: a log.
FileHandle create_shared_file(const char* path);
// Creates a new file for writing and reading beside the file `beside`: its
// name with the extension replaced by "." + tag + eight random hexadecimal
// digits,
// made only where nothing of that name exists, so that no one can have
// prepared it (a planted file or link). Its path goes into `path` of
// `capacity` bytes; INVALID_FILE_HANDLE when none can be made, and `path`
// then names no file of ours.
FileHandle create_temp_file(const char* beside, const char* tag, char* path, size_t capacity);
int read_exact(FileHandle file, void* buffer, uint32_t count);
uint32_t read_some(FileHandle file, void* buffer, uint32_t count);
int write_all(FileHandle file, const void* buffer, uint32_t count);
uint32_t tell_file(FileHandle file);
uint32_t seek_to(FileHandle file, uint32_t offset);
uint32_t skip_file(FileHandle file, int32_t distance);
uint32_t seek_from_end(FileHandle file, int32_t distance);
uint32_t file_length(FileHandle file);
int close_file(FileHandle file);
// DeleteFileA, MoveFileA (fails when `to` exists) and SetFileTime; true on
// success. times: creation, last-access and last-write FILETIMEs, 8 bytes each.
bool delete_file(const char* path);
bool rename_file(const char* from, const char* to);
bool set_file_times(FileHandle file, const uint8_t* times);
// Puts `from` in the place of `to`, which may exist, so that one of the two
// always stands there: in one step where the system can (MoveFileExA on the
// NT family); on the Windows 95 family the old file waits under a
// temporary name until the new one is in place and comes back when the
// move fails. False leaves `to` as it was.
bool replace_file(const char* from, const char* to);

// The local date and time as "yyyy-mm-dd hh:mm:ss".
enum : unsigned { kLocalTimeSize = 20 };
void local_time_text(char* out);

// Message box styles and answers, with the values Win32 gives them
// (base/platform_win32.cpp checks that they agree).
enum : unsigned {
  kMbOk = 0x00,
  kMbOkCancel = 0x01,
  kMbYesNo = 0x04,
  kMbRetryCancel = 0x05,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7 };

// MessageBoxA with caption text 6/0, owned by the wizard's topmost window.
int message_box(const char* text, unsigned style);

// Gives freed heap memory back so that a retried allocation may succeed.
void compact_heap();
