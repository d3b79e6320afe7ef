// INI files read on the host, as the profile routines of Windows see them:
// [section] lines, key=value lines, ';' comments, blanks trimmed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct IniFileEntry {
  std::string section;  // UTF-8; empty for lines before the first section
  std::string key;
  std::string value;
  bool has_value;  // a line without "=" is a key without a value
};

// Any bytes read as some text: UTF-16 with its byte-order mark, UTF-8 with
// its mark, otherwise code page 1252. Entries in the order of the file.
std::vector<IniFileEntry> parse_ini_text(const uint8_t* data, size_t size);
