// Messages built from the text table.
#pragma once
#include <cstddef>

// wsprintfA's output limit; every message buffer holds this many bytes.
enum : size_t { kMessageCapacity = 1024 };

// `text` with `argument` in place of its first "%s", cut to `capacity`
// bytes with the terminator; safe for any text from the archive. Other
// `conversions` letters may stand for the argument instead of 's' (an 'l'
// among them allows that prefix: "%lu").
void format_text(char* out, size_t capacity, const char* text, const char* argument,
                 const char* conversions = "s");
// Text 6/n with MessageArgument in place of its %s.
void format_message(char* destination, int n);
