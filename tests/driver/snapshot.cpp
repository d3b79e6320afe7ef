#include "tests/driver/snapshot.h"

#include <algorithm>
#include <cctype>

namespace {

bool begins_with(const std::string& line, const std::string& prefix) {
  if (prefix.size() > line.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (tolower(static_cast<unsigned char>(line[i])) != tolower(static_cast<unsigned char>(prefix[i]))) return false;
  return true;
}

}  // namespace

bool starts_with_any(const std::string& line, const std::vector<std::string>& prefixes) {
  for (const std::string& prefix : prefixes)
    if (begins_with(line, prefix)) return true;
  return false;
}

std::vector<std::string> snapshot_differences(std::vector<std::string> before, std::vector<std::string> after,
                                              const std::vector<std::string>& allowed) {
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  std::vector<std::string> differences;
  size_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    bool gone = j >= after.size() || (i < before.size() && before[i] < after[j]);
    bool added = i >= before.size() || (j < after.size() && after[j] < before[i]);
    if (gone) {
      if (!starts_with_any(before[i], allowed)) differences.push_back("- " + before[i]);
      ++i;
    } else if (added) {
      if (!starts_with_any(after[j], allowed)) differences.push_back("+ " + after[j]);
      ++j;
    } else {
      ++i;
      ++j;
    }
  }
  return differences;
}

std::string snapshot_text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::vector<std::string> snapshot_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
