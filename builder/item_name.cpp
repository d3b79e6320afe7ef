#include "builder/item_name.h"

#include <cstring>

bool split_item_name(const char* name, std::vector<std::string>* parts, bool* ends_in_separator, std::string* why) {
  parts->clear();
  if (name[0] == '\\' || name[0] == '/') {
    *why = "the name is absolute";
    return false;
  }
  if (std::strchr(name, ':')) {
    *why = "the name holds a drive letter or a stream name";
    return false;
  }
  std::string part;
  for (const char* p = name;; ++p) {
    if (*p && *p != '\\' && *p != '/') {
      part += *p;
      continue;
    }
    if (part == "..") {
      *why = "the name climbs out with '..'";
      return false;
    }
    if (!part.empty() && part != ".") parts->push_back(part);
    part.clear();
    if (!*p) break;
  }
  *ends_in_separator = *name && (std::strchr("\\/", name[std::strlen(name) - 1]) != nullptr);
  if (parts->empty()) {
    *why = "the name is empty";
    return false;
  }
  return true;
}
