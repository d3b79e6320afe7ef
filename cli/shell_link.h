// Shortcut files (.lnk) read on the host: where a shortcut leads and with
// which arguments. The file comes from the program under trial and is not
// trusted: every size and offset in it is checked against the bytes there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct ShellLink {
  std::string target;  // the local path (or network path), empty when the link holds none
  std::string arguments;
  std::string working_folder;
  std::string icon;  // icon file, with icon_index
  int32_t icon_index;
  std::string relative_path;  // the target relative to the shortcut, when stored
};

// False, with *why, for bytes that are not a shortcut or end inside one of
// its parts.
bool parse_shell_link(const uint8_t* data, size_t size, ShellLink* out, std::string* why);
