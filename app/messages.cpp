#include "app/messages.h"

#include <cstring>

#include "app/globals.h"
#include "app/path_strings.h"
#include "archive/config.h"

// The formatter of wsprintfA with one argument, made safe for texts from
// the archive: "%%" gives "%", the first conversion gives the argument, any
// later one gives nothing (there is no second argument), and other
// conversions stand as written.
void format_text(char* out, size_t capacity, const char* text, const char* argument, const char* conversions) {
  size_t used = 0;
  bool argument_used = false;
  for (const char* p = text; *p; ++p) {
    const char* piece = p;
    size_t count = 1;
    if (p[0] == '%') {
      const char* letter = p + 1;
      if (*letter == 'l' && std::strchr(conversions, 'l')) ++letter;
      if (p[1] == '%') {
        ++p;
      } else if (*letter && *letter != 'l' && std::strchr(conversions, *letter)) {
        piece = argument_used ? "" : argument;
        count = std::strlen(piece);
        argument_used = true;
        p = letter;
      }
    }
    if (used + count > capacity - 1) count = capacity - 1 - used;
    std::memcpy(out + used, piece, count);
    used += count;
  }
  out[used] = '\0';
}

void format_message(char* destination, int n) {
  const char* text = get_text(6, n);
  if (std::strstr(text, "%s"))
    format_text(destination, kMessageCapacity, text, MessageArgument);
  else
    copy_string(destination, text, kMessageCapacity);
}
