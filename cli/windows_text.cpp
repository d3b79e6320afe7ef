#include "cli/windows_text.h"

#include <vector>

namespace {

// Code page 1252 between 0x80 and 0x9F; 0 where it has no character.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void append_utf8(std::string* out, uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string utf16_to_utf8(const uint16_t* units, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(&out, c);
  }
  return out;
}

std::string utf16le_bytes_to_utf8(const uint8_t* bytes, size_t count) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i + 1 < count; i += 2) units.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
  return utf16_to_utf8(units.data(), units.size());
}

std::string cp1252_to_utf8(const uint8_t* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = bytes[i];
    if (c >= 0x80 && c < 0xA0) c = kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : 0xFFFD;
    append_utf8(&out, c);
  }
  return out;
}

std::string fold_case(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}
