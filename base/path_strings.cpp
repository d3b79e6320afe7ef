#include "base/path_strings.h"

#include <cstring>

bool add_backslash(char* path, size_t capacity) {
  size_t n = std::strlen(path);
  if (n == 0 || path[n - 1] == '\\') return true;
  if (n + 2 > capacity) return false;
  path[n] = '\\';
  path[n + 1] = '\0';
  return true;
}

void strip_backslash(char* path) {
  size_t n = std::strlen(path);
  if (n > 3 && path[n - 1] == '\\') path[n - 1] = '\0';
}

// Both slashes separate folders, so a dot in a folder name is never taken
// for the file's extension.
bool set_extension(char* path, size_t capacity, const char* extension) {
  char* dot = std::strrchr(path, '.');
  char* from = !dot || std::strchr(dot, '\\') || std::strchr(dot, '/') ? path + std::strlen(path) : dot;
  size_t n = std::strlen(extension);
  if (static_cast<size_t>(from - path) + n + 1 > capacity) return false;
  std::memcpy(from, extension, n + 1);
  return true;
}

char fold_letter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_folded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (fold_letter(a[i]) != fold_letter(b[i])) return false;
  return true;
}

bool copy_string(char* out, const char* text, size_t capacity) {
  if (capacity == 0) return text[0] == '\0';
  size_t n = std::strlen(text);
  bool whole = n < capacity;
  if (!whole) n = capacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return whole;
}

bool append_string(char* out, const char* text, size_t capacity) {
  size_t used = std::strlen(out);
  if (used >= capacity) return text[0] == '\0';
  return copy_string(out + used, text, capacity - used);
}

void format_decimal(char* out, size_t capacity, unsigned long value, unsigned min_digits) {
  char digits[24];
  unsigned n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < sizeof digits);
  while (n < min_digits && n < sizeof digits) digits[n++] = '0';
  if (capacity == 0) return;
  size_t used = 0;
  while (n > 0 && used + 1 < capacity) out[used++] = digits[--n];
  out[used] = '\0';
}

void shorten_path(char* path, unsigned limit) {
  size_t length = std::strlen(path);
  char* first = std::strchr(path, '\\');
  if (length <= limit || !first) return;
  char* last = std::strrchr(path, '\\');
  if (last - first < 4) return;
  size_t tail = length - (last - path);  // the final backslash and the name
  char* cut = first;
  char* start = first + 1;
  for (;;) {
    if (last - cut < 4) break;
    if (tail + (cut - path) >= limit) break;
    start = cut + 1;
    cut = std::strchr(start, '\\');
    if (!cut) break;
  }
  // start + 3 <= last: start only moves on while 4 or more characters
  // remain before the last backslash.
  std::memcpy(start, "...", 3);
  std::memmove(start + 3, last, tail + 1);
}
