// Small edits of NUL-terminated ANSI paths, in place. Every routine takes
// the capacity of its buffer (counting the terminator). A path edit that
// would not fit answers false and leaves the path as it was: a cut path
// names another file.
#pragma once
#include <cstddef>

// Appends `\` unless the path is empty or already ends in one.
bool add_backslash(char* path, size_t capacity);
void strip_backslash(char* path);
// Replaces the extension from the last `.` of the file name on, or appends
// `extension` (which includes its dot) when the name has none.
bool set_extension(char* path, size_t capacity, const char* extension);
// Bounded copy that always terminates; false when `text` had to be cut
// (fine for a text shown to the user, never for a path).
bool copy_string(char* out, const char* text, size_t capacity);
// Appends as much of `text` as fits; `out` stays terminated. False when it
// was cut, as above.
bool append_string(char* out, const char* text, size_t capacity);
// `value` in decimal, zero-padded to at least `min_digits` digits, cut to
// `capacity` bytes with the terminator. The setup programs' own formatter:
// the C library's snprintf would link a whole printf engine into them.
void format_decimal(char* out, size_t capacity, unsigned long value, unsigned min_digits);
// Windows compares paths ignoring the case of ASCII letters.
char fold_letter(char c);
bool same_folded(const char* a, const char* b, size_t n);
// Shortens a path in place for display: the leading folders that fit in
// `limit` characters, "...", and the final backslash with the file name
// (never cut, so the result may pass the limit).
void shorten_path(char* path, unsigned limit);
