// Temporary files in shared folders: a name that can be guessed ahead lets
// someone else put a file (or a link) there first and have it taken for
// ours, so each name carries a random part and the file is created only
// when no file of that name exists (CREATE_NEW).
#pragma once
#include <windows.h>

#include <cstddef>

// Creates folder + prefix + eight random hexadecimal digits + suffix for
// writing, without sharing, and puts its path into `path`. `folder` ends in
// a backslash. INVALID_HANDLE_VALUE when the path does not fit or no new
// file can be made.
HANDLE create_unguessable_file(const char* folder, const char* prefix, const char* suffix, char* path,
                               size_t capacity);
