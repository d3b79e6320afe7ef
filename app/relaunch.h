// Started from a removable disk, the setup copies its stub to the temporary
// folder and runs the copy, so that the drive stays free for further disks.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/globals.h"

// Room for the copy's command line: its own quoted path, /S with the
// setup file, /DEL, and the switches passed on, /DIR and /LOG with paths.
enum : unsigned { kRelaunchCommandSize = 4 * kPathSize + 64 };

// True when the program's own file lies on a removable drive.
bool started_from_removable_media();
// Writes the stub alone to a new "_inst<random>.exe" of the temporary
// folder (its path in TempPath) and the copy's command line into
// `command`, with every switch this run accepted; false when no copy could
// be made (the setup then runs in place), and then no copy is left.
bool make_relaunch_copy(char* command, size_t capacity);
// The whole decision: true when a copy was started, its process in
// `copy`; this process then only waits for it (wait_for_copy).
bool relaunch_from_removable_media(int show, HANDLE* copy);
// Waits for the copy to end, handling this process's messages meanwhile,
// and answers its exit code: a caller that waits for the setup learns how
// the installation went, not that a copy was started.
int wait_for_copy(HANDLE copy);
