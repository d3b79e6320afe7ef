// What removing an installation means, decided before anything is touched:
// every recorded path is resolved against the installation folder and
// checked, and only a record that passes as a whole yields a plan. Portable
// (no windows.h), so it is checked on the host as well.
#pragma once
#include <stdint.h>

#include "app/globals.h"
#include "uninstall/uninstall_data.h"

// The folders that hold the start menu's programs, which shortcut folders
// may lie under, each without a trailing backslash. They themselves, and the
// folders in keep (Startup, the Start Menu), are never removed.
struct MenuFolders {
  char programs[2][kPathSize];
  unsigned program_count;
  char keep[4][kPathSize];
  unsigned keep_count;
};

// A folder that goes when it is empty: base followed by the first length
// bytes of text (base is the installation folder or empty; text lies in the
// record).
struct PlannedFolder {
  const char* base;
  const char* text;
  uint16_t length;
};

// Above any key name below the Uninstall key that Windows allows.
enum : unsigned { kUninstallKeyCapacity = 512 };

struct RemovalPlan {
  UninstallData data;  // the checked record: its files and shortcuts
  const char* install_dir;
  PlannedFolder* folders;  // deepest first, each once; free_removal_plan
  uint32_t folder_count;
  bool has_uninstall_key;
  char uninstall_key[kUninstallKeyCapacity];  // under HKEY_LOCAL_MACHINE
};

// install_dir has no trailing backslash and must outlive the plan, as must
// the record's bytes. False when some record cannot be what the setup wrote
// (a name with a backslash, a folder that is neither relative nor absolute,
// a path too long for Windows, a shortcut that is no .lnk, a key other than
// one below the Uninstall key): then nothing may be removed, and the plan is
// empty.
bool plan_removal(const UninstallData& data, const char* install_dir, const MenuFolders& menu, RemovalPlan* plan);
void free_removal_plan(RemovalPlan* plan);

// The paths of a planned removal, each into kPathSize bytes. A folder item
// of the RemoveList names no file: planned_file_path answers false for it.
bool planned_file_path(const RemovalPlan& plan, const RemoveRecord& record, char* path);
void planned_shortcut_path(const ShortcutRecord& record, char* path);
void planned_folder_path(const PlannedFolder& folder, char* path);
