// The search path of the user or the machine, changed one entry at a time
// (base/path_list.h): the setup adds its folder, the rollback and the
// uninstaller take exactly that entry out again, and whatever else the
// value holds at that moment stays, as does its type. The Windows 95
// family has no such value (its PATH is set in AUTOEXEC.BAT); callers
// skip it there. Win32, shared by the setup and the uninstaller.
#pragma once
#include <cstdint>

#include "base/path_list.h"

enum class SearchPathResult { kChanged, kUnchanged, kFailed };

// kUnchanged: the value holds the entry already.
SearchPathResult add_search_path_entry(uint8_t scope, const char* entry);
// kUnchanged: the value does not hold it (any more).
SearchPathResult remove_search_path_entry(uint8_t scope, const char* entry);
// True when the scope's value holds the entry now.
bool search_path_holds(uint8_t scope, const char* entry);
// Tells the running programs (Explorer above all) to read the environment
// again, without waiting long for one that hangs.
void announce_environment_change();
