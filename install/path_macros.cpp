#include "install/path_macros.h"

#include <string.h>
#include <windows.h>

#include "app/globals.h"
#include "app/memory.h"
#include "app/path_strings.h"

namespace {

// Appends to the working buffer as far as it has room, and counts every
// character, stored or not. The count stops short of the largest u32 so
// that a caller's length + 1 never wraps.
struct Expansion {
  char* buffer;
  uint32_t stored;
  uint32_t length;

  void put(const char* text, size_t count) {
    uint32_t room = kMacroCapacity - 1 - stored;
    uint32_t n = count < room ? static_cast<uint32_t>(count) : room;
    memcpy(buffer + stored, text, n);
    stored += n;
    uint64_t total = static_cast<uint64_t>(length) + count;
    length = total < 0xFFFFFFFFu ? static_cast<uint32_t>(total) : 0xFFFFFFFEu;
  }
};

enum class Token { kReplaced, kDropped, kKept };

bool is_token(const char* token, size_t length, const char* name) {
  return strlen(name) == length && _strnicmp(token, name, length) == 0;
}

// A directory query into a 260-byte buffer: empty when the call fails or
// the folder does not fit.
void folder_or_empty(char* value, UINT result) {
  if (result == 0 || result >= kPathSize) value[0] = '\0';
}

bool read_program_files(char* value) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  DWORD size = kPathSize;
  LONG result = RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  // A value that fills the buffer exactly may lack its terminator.
  value[kPathSize - 1] = '\0';
  return result == ERROR_SUCCESS;
}

// value: kPathSize bytes.
Token replace_token(const char* token, size_t length, char* value) {
  value[0] = '\0';
  if (is_token(token, length, "#Windows#")) {
    folder_or_empty(value, GetWindowsDirectoryA(value, kPathSize));
  } else if (is_token(token, length, "#System#")) {
    folder_or_empty(value, GetSystemDirectoryA(value, kPathSize));
  } else if (is_token(token, length, "#Program Files#")) {
    if (!read_program_files(value)) return Token::kKept;
  } else if (is_token(token, length, "#InstallDir#")) {
    copy_string(value, InstallDir, kPathSize);
  } else if (is_token(token, length, "#SourceDir#")) {
    copy_string(value, SourcePath, kPathSize);
    char* slash = strrchr(value, '\\');
    // A bare file name has no folder to name.
    if (slash) *slash = '\0';
    else value[0] = '\0';
  } else if (is_token(token, length, "#Date#")) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wsprintfA(value, "%lu", static_cast<unsigned long>(now.wYear * 10000ul + now.wMonth * 100ul + now.wDay));
  } else {
    return Token::kDropped;
  }
  strip_backslash(value);
  return Token::kReplaced;
}

}  // namespace

uint32_t expand_macros(char* out, const char* text, uint32_t capacity) {
  Expansion e = {nullptr, 0, 0};
  if (!alloc_zeroed(kMacroCapacity, &e.buffer)) {
    if (out) copy_string(out, text, capacity);
    return static_cast<uint32_t>(strlen(text));
  }
  char value[kPathSize];
  const char* p = text;
  for (;;) {
    const char* first = strchr(p, '#');
    if (!first) break;
    e.put(p, first - p);
    const char* second = strchr(first + 1, '#');
    if (!second) {
      p = first;  // an unpaired '#' and what follows stay as written
      break;
    }
    size_t length = second - first + 1;
    switch (replace_token(first, length, value)) {
      case Token::kReplaced: e.put(value, strlen(value)); break;
      case Token::kKept: e.put(first, length); break;
      case Token::kDropped: break;
    }
    p = second + 1;
  }
  e.put(p, strlen(p));

  if (out && capacity > 0) {
    uint32_t n = e.stored < capacity - 1 ? e.stored : capacity - 1;
    memcpy(out, e.buffer, n);
    out[n] = '\0';
  }
  free_block(&e.buffer);
  return e.length;
}
