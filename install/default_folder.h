// Default destination folders: the archive's text, or the folder that a
// previous installation remembered in the registry or an INI file.
#pragma once
#include <windows.h>

#include "archive/platform.h"  // default_install_dir

// The root of a record's root-key code: 0 classes root, 1 current user,
// 2 local machine, 3 users, 4 (kRootOfScope) the product's root in this
// installation's scope; any other code the current user.
HKEY root_key(uint32_t code);

// The architecture whose 64-bit mode this run is in (kArchitecture...,
// archive/format.h); kArchitectureX86 outside it.
extern uint32_t ActiveArchitecture;

// Gives every folder of an existing path the letter case stored on disk
// (the drive letter stays as written). Leaves the path unchanged when a
// part of it cannot be found.
void fix_path_case(char* path);
