#include "app/unguessable_files.h"

#include "app/path_strings.h"
#include "app/random_number.h"

namespace {

// Names taken by someone else are passed over; this many are enough for a
// folder where nobody plays foul, and end the search where someone does.
enum : int { kTries = 100 };

}  // namespace

HANDLE create_unguessable_file(const char* folder, const char* prefix, const char* suffix, char* path,
                               size_t capacity) {
  for (int i = 0; i < kTries; ++i) {
    char digits[12];
    wsprintfA(digits, "%08lx", random_number());
    if (!copy_string(path, folder, capacity) || !append_string(path, prefix, capacity) ||
        !append_string(path, digits, capacity) || !append_string(path, suffix, capacity))
      return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    // A file of that name, or a folder (which answers "access denied"):
    // try another name. Anything else, such as a missing folder, no other
    // name mends.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
      return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}
