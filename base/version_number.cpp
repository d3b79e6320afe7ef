#include "base/version_number.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The part at *p, its leading zeros passed over: where its digits begin,
// and their count in *n; *p moves behind the part and its dot.
const char* next_part(const char** p, unsigned* n) {
  const char* s = *p;
  while (*s == '0') ++s;
  const char* digits = s;
  while (is_digit(*s)) ++s;
  *n = static_cast<unsigned>(s - digits);
  if (*s == '.' && is_digit(s[1])) ++s;
  else if (!is_digit(*s)) s = "";  // the end of the version
  *p = s;
  return digits;
}

}  // namespace

bool is_version_number(const char* text) {
  for (;;) {
    if (!is_digit(*text)) return false;
    while (is_digit(*text)) ++text;
    if (*text == '\0') return true;
    if (*text++ != '.') return false;
  }
}

int compare_versions(const char* a, const char* b) {
  while (*a || *b) {
    unsigned na, nb;
    const char* da = next_part(&a, &na);
    const char* db = next_part(&b, &nb);
    if (na != nb) return na < nb ? -1 : 1;
    for (unsigned i = 0; i < na; ++i)
      if (da[i] != db[i]) return da[i] < db[i] ? -1 : 1;
  }
  return 0;
}
