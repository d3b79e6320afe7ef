#include "base/text_format.h"

#include <cstring>

// The last character of a conversion of that kind that begins at `p`
// (behind its "%"); null when there is none.
static const char* conversion_end(const char* p, TextArgument kind) {
  if (kind == TextArgument::kString) return *p == 's' ? p : nullptr;
  if (*p == 'l') ++p;
  return *p == 'd' || *p == 'i' || *p == 'u' ? p : nullptr;
}

// The formatter of wsprintfA with one argument, made safe for texts from
// the archive: "%%" gives "%", the first conversion of the argument's kind
// gives the argument, any later one gives nothing (there is no second
// argument), and other conversions stand as written.
void format_text(char* out, size_t capacity, const char* text, const char* argument, TextArgument kind) {
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
    } else if (const char* end = p[0] == '%' ? conversion_end(p + 1, kind) : nullptr) {
      if (!argument_used) put(argument, std::strlen(argument));
      argument_used = true;
      p = end;
    } else {
      put(p, 1);
    }
  }
  out[used] = '\0';
}
