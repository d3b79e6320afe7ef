// Removing an installation as its record lists it. First every recorded
// path is resolved and checked, and only a record that passes as a whole is
// acted on; then files, shortcuts, the folders left empty and the Uninstall
// key go, in that order.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "uninstall/uninstall_data.h"

struct PlannedFile {
  std::string path;
  uint8_t flags;  // RemoveList record flags
};

struct RemovalPlan {
  std::vector<PlannedFile> files;    // RemoveList files and desktop shortcuts
  std::vector<std::string> shortcuts;  // start-menu shortcut files
  std::vector<std::string> folders;    // removed when empty, deepest first
  bool has_uninstall_key = false;
  std::string uninstall_key;         // under HKEY_LOCAL_MACHINE
};

// The folders that hold the start menu's programs, which shortcut folders
// may lie under; each given without a trailing backslash. They themselves,
// and the Startup folders, are never removed.
struct MenuFolders {
  std::vector<std::string> programs;
  std::vector<std::string> keep;
};

// install_dir has no trailing backslash. False when some record cannot be
// what the setup wrote (a name with a backslash, a folder that is neither
// relative nor absolute, a path too long for Windows, a shortcut that is no
// .lnk, a key outside the Uninstall key): then nothing may be removed.
bool plan_removal(const UninstallData& data, const std::string& install_dir, const MenuFolders& menu,
                  RemovalPlan* plan);

// The menu folders of this machine, from the shell.
MenuFolders find_menu_folders();

// Carries out the plan; answers how many recorded files, shortcuts or keys
// are still there afterwards. Folders that stay because they are not empty
// are not counted: what the user added there stays by design.
unsigned carry_out_removal(const RemovalPlan& plan);
