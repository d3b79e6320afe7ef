// Folders that the installation makes or looks up.
#pragma once
#include <cstddef>
#include <cstdint>

// Creates every folder of `path` up to its last backslash (a path without
// one names the folder itself) and leaves it the current folder.
// 0 success, 1 a folder cannot be created or entered, -1 out of memory.
int create_folder_chain(const char* path);
// Removes the folders that the journal's records from byte `from` to `to`
// made, innermost first, where they are empty and are neither `kept` nor a
// folder above it: what the destination page made for a folder the user
// then gave up. Their records stay; a rollback passes over a folder that
// is gone.
void remove_given_up_folders(uint32_t from, uint32_t to, const char* kept);
// The file-system path of a shell folder (CSIDL_...) into a 260-byte
// buffer; false, with `out` unchanged, when the shell has none.
bool special_folder_path(int csidl, char* out);
// The shell folder that a shortcut of the user's folder `csidl`
// (CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_STARTUP or CSIDL_DESKTOP) goes
// to, into a 260-byte buffer: per machine the folder that all users share,
// where the system has one (the Windows 95 family has none), else and per
// user the user's own.
bool shortcut_folder_path(int csidl, char* out);
// out = folder, a backslash when it has none at its end, and the file
// name. `out` may be `folder`. False when that does not fit: `out` is then
// cut, and callers pass a buffer longer than any path Windows opens
// (MAX_PATH), so the cut path names no file.
bool join_path(char* out, size_t capacity, const char* folder, const char* file);
// out = the desktop's shortcut (.lnk) of that name, on the desktop that
// shortcut_folder_path names; false when that desktop cannot be found or the path does not fit (`out` then names no
// file, as with join_path).
bool desktop_shortcut_path(char* out, size_t capacity, const char* name);
