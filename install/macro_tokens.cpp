#include "install/macro_tokens.h"

#include <cstring>

const char* const kMacroNames[kMacroCount] = {"#Windows#",    "#System#",    "#Program Files#",
                                              "#InstallDir#", "#SourceDir#", "#Date#"};
const char* const kLocationWords[kLocationWordCount] = {"#Start Menu#", "#Startup#"};

const char* next_macro_token(const char* text, size_t* length) {
  const char* first = std::strchr(text, '#');
  if (!first) return nullptr;
  const char* second = std::strchr(first + 1, '#');
  if (!second) return nullptr;
  *length = static_cast<size_t>(second - first) + 1;
  return first;
}

namespace {

// ASCII letters only, as the C library's case-blind compare in the C locale:
// bytes of other code page characters must match exactly.
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int macro_of_token(const char* token, size_t length) {
  for (int m = 0; m < kMacroCount; ++m) {
    const char* name = kMacroNames[m];
    if (std::strlen(name) != length) continue;
    size_t i = 0;
    while (i < length && fold(token[i]) == fold(name[i])) ++i;
    if (i == length) return m;
  }
  return -1;
}
