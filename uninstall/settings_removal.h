// Taking back the registry values and INI entries that the project marked
// for deletion at uninstall, and the entries the setup added to a search
// path.
#pragma once
#include <windows.h>

#include "record/removal_plan.h"

// The HKEY of a root as a record stores it: the HKEY's 32-bit value, which
// the 64-bit HKEYs extend with its sign.
HKEY root_key(uint32_t root);

// Deletes the value or the entry. False when it is still there: the key or
// file could not be changed. One already gone counts as deleted.
bool delete_setting(const PlannedSetting& setting);
// After every setting's delete_setting: a key marked for it goes when it
// is left empty, and so do the keys above it that the setup created; an
// INI section left empty goes, and so does an INI file that the setup made
// once nothing is left in it but blanks.
void remove_emptied_places(const PlannedSetting& setting);
// Takes the entry out of its search path, leaving the rest of the value as
// it is now; *changed becomes true when the value was changed. False when
// the value holds it still.
bool remove_path_entry(const PathEntryRecord& record, bool* changed);
