// Texts with one argument, formatted into bounded buffers.
#pragma once
#include <cstddef>

// wsprintfA's output limit; every message buffer holds this many bytes.
enum : size_t { kMessageCapacity = 1024 };

// What the argument of a text stands for: a string ("%s") or a number
// already written out in decimal ("%d", "%i", "%u", also with "l").
enum class TextArgument : unsigned char { kString, kNumber };

// `text` with `argument` in place of its first conversion of that kind,
// cut to `capacity` bytes with the terminator; safe for any text from the
// archive.
void format_text(char* out, size_t capacity, const char* text, const char* argument,
                 TextArgument kind = TextArgument::kString);
