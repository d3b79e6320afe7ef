// The 64-bit mode of a setup and its uninstaller, which are 32-bit
// programs: on a 64-bit Windows they reach the native registry view and
// the native System folder instead of the ones Windows shows a 32-bit
// program. Outside that mode every routine here is the plain call.
#pragma once
#include <stdint.h>
#include <windows.h>

// Older headers lack it; the value is fixed by Windows.
#ifndef IMAGE_FILE_MACHINE_ARM64
#define IMAGE_FILE_MACHINE_ARM64 0xAA64
#endif

// The machine this Windows runs on natively, as a PE header names it
// (IMAGE_FILE_MACHINE_AMD64, _ARM64, ...); IMAGE_FILE_MACHINE_I386 for a
// 32-bit Windows, also one that cannot say (the Windows 95 family).
uint16_t native_machine();

// Starts the mode: every key opened from then on is opened in the 64-bit
// view (RegistryView, base/globals.h). The setup loads the version library
// before it switches the redirection off (load_version_library).
void enter_native_mode();

// With `on`, the file-system redirection of this thread is switched off,
// so that the System folder's name reaches the native folder; without,
// it is switched back. Only around the engine's own file operations: with
// it off, a library loaded by name would be the 64-bit one. Nothing
// outside the mode. Answers whether it was off before, for a caller that
// puts it back.
bool native_files(bool on);

// The registry calls of both programs, in the mode's view. create_key
// opens with the rights RegCreateKeyA gives.
LONG open_key(HKEY root, const char* path, REGSAM access, HKEY* key);
LONG create_key(HKEY root, const char* path, HKEY* key);
LONG delete_key(HKEY root, const char* path);
