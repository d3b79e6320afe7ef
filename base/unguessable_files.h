// Temporary files in shared folders: a name that can be guessed ahead lets
// someone else put a file (or a link) there first and have it taken for
// ours, so each name carries a random part and the file is created only
// when no file of that name exists (CREATE_NEW).
#pragma once
#include <windows.h>

#include <cstddef>

// folder + prefix + eight random hexadecimal digits + suffix into `path`;
// false when it does not fit.
bool unguessable_name(const char* folder, const char* prefix, const char* suffix, char* path, size_t capacity);
// The head of a temporary name beside the file `beside` (the file written
// before it takes that file's place, or the backup of that file): its name
// with the extension, from the last dot of the file name, replaced by "."
// and `tag`. False when it does not fit.
bool temp_name_head(const char* beside, const char* tag, char* head, size_t capacity);
// A whole such name, the random digits after the head, for a file that a
// move or a copy makes (which fail rather than replace a file of that name).
bool temp_name_beside(const char* beside, const char* tag, char* path, size_t capacity);

// Creates folder + prefix + eight random hexadecimal digits + suffix for
// writing and reading, without sharing, and puts its path into `path`. `folder` ends in
// a backslash (or is empty when `prefix` holds the whole head).
// INVALID_HANDLE_VALUE when the path does not fit or no new file can be
// made; `path` then names no file of ours.
// With `claim`, each name is handed to claim.take before the file is made
// (false: nothing is made), and claim.give_back is called when it was not.
struct NameClaim {
  bool (*take)(const char* path);
  void (*give_back)();
};
HANDLE create_unguessable_file(const char* folder, const char* prefix, const char* suffix, char* path,
                               size_t capacity, const NameClaim* claim = nullptr);
