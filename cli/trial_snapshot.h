// What `kestrel try` looks at in its Wine prefix, read on the host while no
// Windows program runs: the files under drive_c (and the trial's other
// drives) with their sizes, the
// registry from Wine's system.reg and user.reg, the entries of every INI
// file and where every shortcut leads. Two pictures compared give what a
// setup or an uninstaller changed, grouped for the report.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/ini_text.h"
#include "cli/registry_text.h"
#include "cli/shell_link.h"

struct FileFacts {
  char kind;  // 'f' file, 'd' folder, 'l' symbolic link, 'o' anything else
  uint64_t size;
  int64_t modified_ns;
  uint32_t crc;  // of a file's content
};

struct ShortcutFacts {
  bool readable;
  ShellLink link;
  std::string why;  // when not readable
};

struct IniFacts {
  std::string file;  // C:\... as found
  IniFileEntry entry;
};

// Names are Windows paths ("C:\Program Files\...", "HKLM\Software\...");
// the maps are keyed by names with their letters folded where Windows
// ignores letter case (registry and INI names).
struct PrefixSnapshot {
  std::map<std::string, FileFacts> files;       // path, exactly as on the disk
  std::map<std::string, std::string> keys;      // folded key → key, ancestors included
  std::map<std::string, RegistryValue> values;  // folded key + '\n' + folded name; value.key is "HKLM\..."
  std::map<std::string, IniFacts> ini;          // folded file + '\n' + section + '\n' + key: the first such line counts
  std::map<std::string, ShortcutFacts> shortcuts;  // path
};

// A drive beside C: that the trial's programs can write: its name ("S:"),
// the host folder it leads to, and the files at its top that are the
// trial's own, which are no change of the setup's.
struct SnapshotDrive {
  std::string name;
  std::string folder;
  std::vector<std::string> own;
};

// Reads the prefix at `prefix` (the folder holding drive_c and the .reg
// files) and the files of `drives`. Contents are compared by checksum; a
// file of `reference` with the same size and time is not read again. False
// with *why when the registry cannot be read.
bool take_snapshot(const std::string& prefix, const PrefixSnapshot* reference, PrefixSnapshot* out, std::string* why,
                   const std::vector<SnapshotDrive>& drives = {});

// Adds the values and keys of one registry file, under `root` ("HKLM").
void add_registry(const RegistryText& text, const std::string& root, PrefixSnapshot* out);

enum class ChangeGroup { kFiles, kRegistry, kIni, kShortcuts, kUninstallEntries };
constexpr int kChangeGroupCount = 5;
const char* change_group_title(ChangeGroup group);

struct Change {
  ChangeGroup group;
  char mark;  // '+' new, '-' gone, '~' changed
  std::string text;
  std::vector<std::string> details;  // the values of an Add/Remove entry
};

// What differs from `before` to `after`, by group, each group in name order.
// Wine's own bookkeeping (its settings, the hardware it enumerates) is left out.
std::vector<Change> compare_snapshots(const PrefixSnapshot& before, const PrefixSnapshot& after);

// An Add/Remove entry and the command that uninstalls it without a word.
struct UninstallEntry {
  std::string key;  // HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NAME
  std::string display_name;
  std::string quiet_command;  // "QuietUninstallString", else "UninstallString" with /SILENT
};

// The Add/Remove entries in `after` that `before` does not have.
std::vector<UninstallEntry> new_uninstall_entries(const PrefixSnapshot& before, const PrefixSnapshot& after);
