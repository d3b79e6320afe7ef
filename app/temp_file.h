// Temporary files beside the file they stand in for: the written item
// before it is put in place, a patched file while it grows, the backup of
// a replaced file. Their names end in random letters and they are created
// only where nothing of that name exists, so no one can prepare one ahead
// (a planted file or link) or block the setup by taking its names.
#pragma once
#include <cstddef>

#include "archive/platform.h"

// The letters that follow the tag; 40 bits of chance.
enum : size_t { kTempRandomLetters = 8 };

// `path` with its extension (from the last dot of the file name) replaced
// by ".", `tag` and the random letters, into `out` of `capacity` bytes.
// False, with `out` empty, when the name does not fit.
bool temp_name(const char* path, const char* tag, char* out, size_t capacity);

// Creates such a file for writing, trying a few names. INVALID_FILE_HANDLE
// when none can be created; `out` then holds the last name tried (for the
// message) and names no file of ours.
FileHandle create_temp_file(const char* path, const char* tag, char* out, size_t capacity);
