#include "cli/ini_text.h"

#include "cli/windows_text.h"

namespace {

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(start, end - start + 1);
}

std::string as_utf8(const uint8_t* data, size_t size) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return utf16le_bytes_to_utf8(data + 2, size - 2);
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
    return std::string(reinterpret_cast<const char*>(data) + 3, size - 3);
  return cp1252_to_utf8(data, size);
}

}  // namespace

std::vector<IniFileEntry> parse_ini_text(const uint8_t* data, size_t size) {
  std::string text = as_utf8(data, size);
  std::vector<IniFileEntry> entries;
  std::string section;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      continue;
    }
    size_t equals = line.find('=');
    IniFileEntry entry;
    entry.section = section;
    entry.has_value = equals != std::string::npos;
    entry.key = trimmed(line.substr(0, equals));
    if (entry.has_value) entry.value = trimmed(line.substr(equals + 1));
    entries.push_back(entry);
  }
  return entries;
}
