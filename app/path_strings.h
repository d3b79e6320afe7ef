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
