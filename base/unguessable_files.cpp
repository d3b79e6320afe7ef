#include "base/unguessable_files.h"

#include "base/path_strings.h"
#include "base/random_number.h"

namespace {

// Names taken by someone else are passed over; this many are enough for a
// folder where nobody plays foul, and end the search where someone does.
enum : int { kTries = 100 };

}  // namespace

bool unguessable_name(const char* folder, const char* prefix, const char* suffix, char* path, size_t capacity) {
  char digits[12];
  wsprintfA(digits, "%08lx", random_number());
  return copy_string(path, folder, capacity) && append_string(path, prefix, capacity) &&
         append_string(path, digits, capacity) && append_string(path, suffix, capacity);
}

bool temp_name_head(const char* beside, const char* tag, char* head, size_t capacity) {
  char extension[8] = ".";
  return append_string(extension, tag, sizeof extension) && copy_string(head, beside, capacity) &&
         set_extension(head, capacity, extension);
}

bool temp_name_beside(const char* beside, const char* tag, char* path, size_t capacity) {
  char head[520];
  return temp_name_head(beside, tag, head, sizeof head) && unguessable_name("", head, "", path, capacity);
}

HANDLE create_unguessable_file(const char* folder, const char* prefix, const char* suffix, char* path,
                               size_t capacity, const NameClaim* claim) {
  for (int i = 0; i < kTries; ++i) {
    if (!unguessable_name(folder, prefix, suffix, path, capacity)) return INVALID_HANDLE_VALUE;
    if (claim && !claim->take(path)) return INVALID_HANDLE_VALUE;
    // Readable too: a record written into one is read back where the
    // earlier installations are merged into it.
    HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (claim) claim->give_back();
    // A file of that name, or a folder (which answers "access denied"):
    // try another name. Anything else, such as a missing folder, no other
    // name mends.
    SetLastError(error);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
      return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}
