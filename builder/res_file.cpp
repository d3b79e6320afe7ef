#include "builder/res_file.h"

#include <algorithm>

#include "archive/format.h"

namespace {

enum : uint16_t { kResourceDialog = 5 };

// A resource type or name: 0xFFFF and a number, or a NUL-terminated UTF-16
// string. *number is -1 for a string.
bool read_id(const uint8_t* p, const uint8_t* end, const uint8_t** next, int32_t* number) {
  if (end - p < 2) return false;
  if (get_u16(p) == 0xFFFF) {
    if (end - p < 4) return false;
    *number = get_u16(p + 2);
    *next = p + 4;
    return true;
  }
  for (; end - p >= 2; p += 2)
    if (get_u16(p) == 0) {
      *number = -1;
      *next = p + 2;
      return true;
    }
  return false;
}

}  // namespace

bool read_res_dialogs(const uint8_t* data, size_t size, std::map<uint16_t, std::vector<uint8_t>>* dialogs,
                      std::string* error) {
  // A resource file opens with an empty record: no data, type 0, name 0.
  static const uint8_t kOpening[] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  if (size < 32 || !std::equal(kOpening, kOpening + sizeof kOpening, data)) {
    *error = "not a compiled resource file (.res)";
    return false;
  }
  size_t at = 0;
  while (at < size) {
    if (size - at < 8) {
      *error = "a resource record is cut off at byte " + std::to_string(at);
      return false;
    }
    uint32_t data_size = get_u32(data + at), header_size = get_u32(data + at + 4);
    if (header_size < 24 || header_size > size - at || data_size > size - at - header_size) {
      *error = "a resource record runs past the end of the file at byte " + std::to_string(at);
      return false;
    }
    const uint8_t* header_end = data + at + header_size;
    int32_t type = -1, name = -1;
    const uint8_t* p = nullptr;
    if (!read_id(data + at + 8, header_end, &p, &type) || !read_id(p, header_end, &p, &name)) {
      *error = "a resource record has a damaged header at byte " + std::to_string(at);
      return false;
    }
    if (type == kResourceDialog && name >= 0) {
      const uint8_t* content = data + at + header_size;
      (*dialogs)[static_cast<uint16_t>(name)] = std::vector<uint8_t>(content, content + data_size);
    }
    at += header_size + ((data_size + 3) & ~size_t{3});  // records start on 4-byte boundaries
  }
  return true;
}
