#include "base/replace.h"

#include <string.h>
#include <windows.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/system_libraries.h"

namespace {

const char kSection[] = "Rename";
// The key that a deletion is written under before its line is turned
// into NUL=: the profile functions keep one value per key, and a deletion
// needs a line of its own however many there are.
const char kPlaceholder[] = "xyz";

void short_path(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, kPathSize);
  if (n == 0 || n >= kPathSize) copy_string(out, path, kPathSize);
}

// Turns the first "xyz=<source>" line of the file into "NUL=<source>".
bool rename_placeholder(const char* file, const char* source) {
  FileHandle h = open_file(file, 2);
  if (h == INVALID_FILE_HANDLE) return false;
  uint32_t length = file_length(h);
  char* text = nullptr;
  bool done = false;
  if (length < 0xFFFFFFFFu - 512 && alloc_zeroed(length + 512, &text) && read_exact(h, text, length) == 0) {
    char line[kPathSize + sizeof kPlaceholder + 1];
    copy_string(line, kPlaceholder, sizeof line);
    append_string(line, "=", sizeof line);
    append_string(line, source, sizeof line);
    uint32_t n = static_cast<uint32_t>(strlen(line));
    for (uint32_t p = 0; p + n <= length; ++p) {
      if (memcmp(text + p, line, n) == 0) {
        memcpy(text + p, "NUL", 3);
        done = seek_to(h, 0) == 0 && write_all(h, text, length) == 0;
        break;
      }
    }
  }
  free_block(&text);
  close_file(h);
  return done;
}

}  // namespace

bool replace_at_restart(const char* target, const char* source) {
  if (IsNtFamily)
    return move_file_ex(source, target,
                        target ? MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING : MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
  char short_source[kPathSize];
  char short_target[kPathSize];
  char file[kPathSize];
  short_path(source, short_source);
  UINT n = GetWindowsDirectoryA(file, kPathSize);
  if (n == 0 || n >= kPathSize) return false;
  append_string(file, "\\WININIT.INI", sizeof file);
  if (target) short_path(target, short_target);
  bool written = WritePrivateProfileStringA(kSection, target ? short_target : kPlaceholder, short_source, file) != 0;
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
  return written && (target || rename_placeholder(file, short_source));
}
