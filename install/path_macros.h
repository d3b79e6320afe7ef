// PathMacro tokens ("#Windows#", "#System#", "#Program Files#",
// "#InstallDir#", "#SourceDir#", "#Date#") in configuration texts.
#pragma once
#include <cstdint>

// Size of the working buffer; callers that keep the result themselves ask
// for the length with this capacity first.
enum : uint32_t { kMacroCapacity = 65500 };

// Expands the tokens of `text` into `out` (may be null: length only;
// capacity counts the terminator, and the result is cut to fit). Tokens
// match ignoring case; unknown tokens vanish; an unpaired '#' stays. Returns
// the full expanded length. `out` may be the same buffer as `text` or as
// InstallDir. An expansion longer than the working buffer keeps its first
// kMacroCapacity - 1 characters.
uint32_t expand_macros(char* out, const char* text, uint32_t capacity);
