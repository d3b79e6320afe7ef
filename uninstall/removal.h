// Carrying out a removal plan on this machine: the settings, the files, the
// shortcuts, the folders left empty and the Uninstall keys go, in that order.
#pragma once
#include "record/removal_plan.h"

// The menu folders of this machine, from the shell.
void find_menu_folders(MenuFolders* menu);

struct RemovalOutcome {
  // Recorded files, shortcuts, settings or keys that are still there and
  // will stay. Folders that stay because they are not empty are not
  // counted: what the user added there stays by design.
  unsigned left;
  // Files in use now, deleted at the next start of Windows.
  unsigned at_restart;
};

RemovalOutcome carry_out_removal(const RemovalPlan& plan);
// Deletes a file; one already gone counts as deleted, and one that cannot
// go now (in use, read-only to us) is scheduled for the next start of
// Windows, which outcome counts. A name that is a folder is never deleted.
void delete_or_schedule(const char* path, RemovalOutcome* outcome);
// On the NT family, which can delete empty folders at the next start: the
// folder goes then if nothing is left in it.
void schedule_folder_removal(const char* path);
