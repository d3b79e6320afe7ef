#include "app/path_strings.h"

#include <cstring>

void add_backslash(char* path) {
  size_t n = std::strlen(path);
  if (n > 0 && path[n - 1] != '\\') {
    path[n] = '\\';
    path[n + 1] = '\0';
  }
}

void strip_backslash(char* path) {
  size_t n = std::strlen(path);
  if (n > 3 && path[n - 1] == '\\') path[n - 1] = '\0';
}

// Both slashes separate folders, so a dot in a folder name is never taken
// for the file's extension.
void set_extension(char* path, const char* extension) {
  char* dot = std::strrchr(path, '.');
  if (!dot || std::strpbrk(dot, "\\/"))
    std::strcat(path, extension);
  else
    std::strcpy(dot, extension);
}

void copy_string(char* out, const char* text, size_t capacity) {
  if (capacity == 0) return;
  size_t n = std::strlen(text);
  if (n >= capacity) n = capacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
}

void append_string(char* out, const char* text, size_t capacity) {
  size_t used = std::strlen(out);
  if (used < capacity) copy_string(out + used, text, capacity - used);
}
