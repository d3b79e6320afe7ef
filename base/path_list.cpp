#include "base/path_list.h"

#include <cstring>

#include "base/path_strings.h"

namespace {

// The entry's length without its trailing backslashes.
size_t trimmed(const char* text, size_t length) {
  while (length > 0 && text[length - 1] == '\\') --length;
  return length;
}

bool same_entry(const char* a, size_t a_length, const char* entry) {
  size_t n = trimmed(a, a_length);
  size_t m = trimmed(entry, std::strlen(entry));
  return n == m && same_folded(a, entry, n);
}

// The last entry of [list, list + length) that is `entry`: its start, or
// null.
const char* find_last(const char* list, size_t length, const char* entry, size_t* entry_length) {
  const char* found = nullptr;
  const char* end = list + length;
  for (const char* p = list; p <= end;) {
    const char* stop = static_cast<const char*>(std::memchr(p, ';', static_cast<size_t>(end - p)));
    if (!stop) stop = end;
    if (stop > p && same_entry(p, static_cast<size_t>(stop - p), entry)) {
      found = p;
      *entry_length = static_cast<size_t>(stop - p);
    }
    p = stop + 1;
  }
  return found;
}

}  // namespace

const char* path_scope_word(uint8_t scope) { return scope == kPathScopeMachine ? "machine" : "user"; }

bool path_list_holds(const char* list, size_t length, const char* entry) {
  size_t n = 0;
  return trimmed(entry, std::strlen(entry)) > 0 && find_last(list, length, entry, &n) != nullptr;
}

bool path_list_append(char* list, size_t capacity, const char* entry) {
  size_t used = std::strlen(list);
  bool join = used > 0 && list[used - 1] != ';';
  size_t n = std::strlen(entry);
  if (used + (join ? 1 : 0) + n + 1 > capacity) return false;
  if (join) list[used++] = ';';
  std::memcpy(list + used, entry, n + 1);
  return true;
}

bool path_list_remove(char* list, const char* entry) {
  size_t length = std::strlen(list), n = 0;
  char* at = const_cast<char*>(find_last(list, length, entry, &n));
  if (!at) return false;
  char* from = at;
  char* to = at + n;
  // The ';' after it goes along; for the last entry, the one before it.
  if (*to == ';') ++to;
  else if (from > list && from[-1] == ';') --from;
  std::memmove(from, to, std::strlen(to) + 1);
  return true;
}
