// Reading the record of an installation that the setup appended to the
// uninstaller: a chain of blocks from the uninstaller's stamped length.
// Portable (no windows.h), so it is checked on the host as well.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint16_t {
  kRemoveListId = 0x1235,
  kShortcutListId = 0x1236,
  kUninstallKeyBlockId = 0x1238,
  kUninstallEndId = 0x7F7F,
};

// RemoveList record flags.
enum : uint8_t { kRemoveShared = 0x01, kRemoveFont = 0x02, kRemoveSelfRegistering = 0x04 };

struct RemoveRecord {
  std::string folder;  // ".", ".\sub" or an absolute folder
  std::string name;
  uint8_t flags = 0;
};

// A start-menu shortcut: the folder that holds it (no trailing backslash)
// and its file name, "name.lnk".
struct ShortcutRecord {
  std::string folder;
  std::string file;
};

struct UninstallData {
  std::vector<RemoveRecord> remove_list;
  std::vector<ShortcutRecord> shortcut_list;
  bool has_uninstall_key = false;
  uint32_t uninstall_root = 0;
  std::string uninstall_key;
};

enum class UninstallDataStatus { kOk, kMissing, kDamaged };

// Parses [data, data + length). Anything that does not fit its block, an
// unknown or compressed block, or a chain without its end block is damage:
// the uninstaller then removes nothing.
UninstallDataStatus parse_uninstall_data(const uint8_t* data, size_t length, UninstallData* out);
