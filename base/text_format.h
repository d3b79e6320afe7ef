// Texts with one argument, formatted into bounded buffers.
#pragma once
#include <cstddef>

// wsprintfA's output limit; every message buffer holds this many bytes.
enum : size_t { kMessageCapacity = 1024 };

// `text` with `argument` in place of its first "%s", cut to `capacity`
// bytes with the terminator; safe for any text from the archive.
void format_text(char* out, size_t capacity, const char* text, const char* argument);
