// What removing an installation means, decided before anything is touched:
// every recorded path is resolved against the installation folder and
// checked, and only a record that passes as a whole yields a plan. Portable
// (no windows.h), so it is checked on the host as well.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "uninstall/uninstall_data.h"

struct PlannedFile {
  std::string path;
  uint8_t flags;  // RemoveList record flags
};

struct RemovalPlan {
  std::vector<PlannedFile> files;      // RemoveList files and desktop shortcuts
  std::vector<std::string> shortcuts;  // start-menu shortcut files
  std::vector<std::string> folders;    // removed when empty, deepest first
  bool has_uninstall_key = false;
  std::string uninstall_key;  // under HKEY_LOCAL_MACHINE
};

// The folders that hold the start menu's programs, which shortcut folders
// may lie under, each without a trailing backslash. They themselves, and the
// folders in keep (Startup, the Start Menu), are never removed.
struct MenuFolders {
  std::vector<std::string> programs;
  std::vector<std::string> keep;
};

// install_dir has no trailing backslash. False when some record cannot be
// what the setup wrote (a name with a backslash, a folder that is neither
// relative nor absolute, a path too long for Windows, a shortcut that is no
// .lnk, a key other than one below the Uninstall key): then nothing may be
// removed, and the plan is empty.
bool plan_removal(const UninstallData& data, const std::string& install_dir, const MenuFolders& menu,
                  RemovalPlan* plan);
