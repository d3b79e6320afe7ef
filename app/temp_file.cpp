#include "app/temp_file.h"

#include <cstring>

namespace {

// A name taken by chance is tried again; any other failure (no folder, a
// full disk) fails every try alike, so a few are enough.
enum : int { kTempTries = 8 };

const char kLetters[] = "abcdefghijklmnopqrstuvwxyz234567";

}  // namespace

bool temp_name(const char* path, const char* tag, char* out, size_t capacity) {
  const char* dot = std::strrchr(path, '.');
  size_t base = dot && !std::strpbrk(dot, "\\/") ? static_cast<size_t>(dot - path) : std::strlen(path);
  size_t tag_length = std::strlen(tag);
  if (capacity == 0) return false;
  out[0] = '\0';
  if (base + 1 + tag_length + kTempRandomLetters >= capacity) return false;
  uint8_t random[kTempRandomLetters];
  unpredictable_bytes(random, sizeof random);
  char* p = out;
  std::memcpy(p, path, base);
  p += base;
  *p++ = '.';
  std::memcpy(p, tag, tag_length);
  p += tag_length;
  for (uint8_t r : random) *p++ = kLetters[r & 31];
  *p = '\0';
  return true;
}

FileHandle create_temp_file(const char* path, const char* tag, char* out, size_t capacity) {
  for (int i = 0; i < kTempTries; ++i) {
    if (!temp_name(path, tag, out, capacity)) return INVALID_FILE_HANDLE;
    FileHandle file = create_new_file(out);
    if (file != INVALID_FILE_HANDLE) return file;
  }
  return INVALID_FILE_HANDLE;
}
