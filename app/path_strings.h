// Small edits of NUL-terminated ANSI paths, in place. The buffer must have
// room for the longer result (callers use 260-byte path buffers).
#pragma once
#include <cstddef>

void add_backslash(char* path);
void strip_backslash(char* path);
void set_extension(char* path, const char* extension);
// Bounded copy that always terminates (capacity counts the terminator).
void copy_string(char* out, const char* text, size_t capacity);
// Appends as much of `text` as fits; `out` stays terminated.
void append_string(char* out, const char* text, size_t capacity);
// Windows compares paths ignoring the case of ASCII letters.
char fold_letter(char c);
bool same_folded(const char* a, const char* b, size_t n);
// Shortens a path in place for display: the leading folders that fit in
// `limit` characters, "...", and the final backslash with the file name
// (never cut, so the result may pass the limit).
void shorten_path(char* path, unsigned limit);
