// Started from a removable disk, the setup copies its stub to the temporary
// folder and runs the copy, so that the drive stays free for further disks.
#pragma once
#include <cstddef>

#include "base/globals.h"

// Room for the copy's command line: two quoted paths and the switches.
enum : unsigned { kRelaunchCommandSize = 2 * kPathSize + 16 };

// True when the program's own file lies on a removable drive.
bool started_from_removable_media();
// Writes the stub alone to a new "_inst<random>.exe" of the temporary
// folder (its path in TempPath) and the copy's command line into
// `command`; false when no copy could be made (the setup then runs in
// place), and then no copy is left.
bool make_relaunch_copy(char* command, size_t capacity);
// The whole decision: true when a copy was started and this process ends.
bool relaunch_from_removable_media(int show);
