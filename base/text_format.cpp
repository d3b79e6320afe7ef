#include "base/text_format.h"

#include <cstring>

// The formatter of wsprintfA with one string argument, made safe for texts
// from the archive: "%%" gives "%", the first "%s" gives the argument, any
// later "%s" gives nothing (there is no second argument), and other
// conversions stand as written.
void format_text(char* out, size_t capacity, const char* text, const char* argument) {
  size_t used = 0;
  bool argument_used = false;
  auto put = [&](const char* from, size_t count) {
    if (used + count > capacity - 1) count = capacity - 1 - used;
    std::memcpy(out + used, from, count);
    used += count;
  };
  for (const char* p = text; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      put("%", 1);
      ++p;
    } else if (p[0] == '%' && p[1] == 's') {
      if (!argument_used) put(argument, std::strlen(argument));
      argument_used = true;
      ++p;
    } else {
      put(p, 1);
    }
  }
  out[used] = '\0';
}
