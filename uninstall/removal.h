// Carrying out a removal plan on this machine: files, shortcuts, the
// folders left empty and the Uninstall key go, in that order.
#pragma once
#include "uninstall/removal_plan.h"

// The menu folders of this machine, from the shell.
void find_menu_folders(MenuFolders* menu);

// Carries out the plan; answers how many recorded files, shortcuts or keys
// are still there afterwards. Folders that stay because they are not empty
// are not counted: what the user added there stays by design.
unsigned carry_out_removal(const RemovalPlan& plan);
