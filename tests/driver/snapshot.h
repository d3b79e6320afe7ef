// A picture of the machine's state as lines of text (one per file, folder,
// registry key and value), and the comparison of two pictures. Portable, so
// that the comparison is tested on the host; driver.cpp takes the pictures.
#pragma once

#include <string>
#include <vector>

// The lines of state that are in one picture and not in the other, each
// marked "- " (gone) or "+ " (new), in order; lines that begin with one of
// the allowed prefixes (letter case ignored) are left out.
std::vector<std::string> snapshot_differences(std::vector<std::string> before, std::vector<std::string> after,
                                              const std::vector<std::string>& allowed);

// Whether the line begins with one of the prefixes, letter case ignored.
bool starts_with_any(const std::string& line, const std::vector<std::string>& prefixes);

// A picture as a file's text, one line each, and back.
std::string snapshot_text(const std::vector<std::string>& lines);
std::vector<std::string> snapshot_lines(const std::string& text);
