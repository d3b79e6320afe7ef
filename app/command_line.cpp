#include "app/command_line.h"

#include "app/globals.h"

static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Reads a quoted or blank-ended path into SourcePath, at most 259
// characters kept; returns the position behind it.
static const char* read_path(const char* p) {
  while (*p == ' ') ++p;
  unsigned n = 0;
  if (*p == '"') {
    ++p;
    for (; *p && *p != '"'; ++p)
      if (n < kPathSize - 1) SourcePath[n++] = *p;
    if (*p == '"') ++p;
  } else {
    for (; *p && *p != ' '; ++p)
      if (n < kPathSize - 1) SourcePath[n++] = *p;
  }
  SourcePath[n] = '\0';
  return p;
}

void parse_command_line(const char* text) {
  if (!text) return;
  const char* p = text;
  while (*p == ' ') ++p;
  while (*p == '-' || *p == '/') {
    char letter = upper(p[1]);
    p += p[1] ? 2 : 1;
    if (letter == 'D' && upper(p[0]) == 'E' && upper(p[1]) == 'L') IsRelaunchCopy = true;
    if (letter == 'S') p = read_path(p);
    while (*p && *p != ' ' && *p != '-' && *p != '/') ++p;
    while (*p == ' ') ++p;
  }
}
