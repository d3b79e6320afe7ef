// Default destination folders: the archive's text, or the folder that a
// previous installation remembered in the registry or an INI file.
#pragma once
#include "archive/platform.h"  // default_install_dir

// Gives every folder of an existing path the letter case stored on disk
// (the drive letter stays as written). Leaves the path unchanged when a
// part of it cannot be found.
void fix_path_case(char* path);
