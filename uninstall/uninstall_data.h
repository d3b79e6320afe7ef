// Reading the record of an installation that the setup appended to the
// uninstaller: a chain of blocks from the uninstaller's stamped length.
// The record is read in place: its texts point into the caller's bytes,
// which must outlive every use. Portable (no windows.h), so it is checked
// on the host as well.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : uint16_t {
  kRemoveListId = 0x1235,
  kShortcutListId = 0x1236,
  kUninstallKeyBlockId = 0x1238,
  kUninstallEndId = 0x7F7F,
};

// RemoveList record flags.
enum : uint8_t { kRemoveShared = 0x01, kRemoveFont = 0x02, kRemoveSelfRegistering = 0x04 };

// A counted text of the record; not terminated.
struct RecordText {
  const char* text;
  uint16_t length;
};

struct RemoveRecord {
  RecordText folder;  // ".", ".\sub" or an absolute folder
  RecordText name;
  uint8_t flags;
};

// A start-menu shortcut: the folder that holds it (no trailing backslash)
// and its file name, "name.lnk".
struct ShortcutRecord {
  RecordText folder;
  RecordText file;
};

struct UninstallData {
  const uint8_t* remove_list;  // the first RemoveRecord
  uint32_t remove_count;
  const uint8_t* shortcut_list;  // the first ShortcutRecord
  uint32_t shortcut_count;
  bool has_uninstall_key;
  uint32_t uninstall_root;
  RecordText uninstall_key;
};

enum class UninstallDataStatus { kOk, kMissing, kDamaged };

// Parses [data, data + length). Anything that does not fit its block, an
// unknown or compressed block, or a chain without its end block is damage:
// the uninstaller then removes nothing, and out is left empty.
UninstallDataStatus parse_uninstall_data(const uint8_t* data, size_t length, UninstallData* out);

// Read the record at *cursor and move the cursor to the next one. Only for
// lists of a record that parse_uninstall_data accepted, which has checked
// every length; start at remove_list or shortcut_list.
RemoveRecord next_remove_record(const uint8_t** cursor);
ShortcutRecord next_shortcut_record(const uint8_t** cursor);
