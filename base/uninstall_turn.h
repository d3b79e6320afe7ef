// One at a time for an installed uninstaller's record: its working copy
// holds the turn from before it reads the record until it has marked it
// carried out, and a setup that would take the record over waits for the
// turn before it reads it. The turn is a mutex named after the installed
// uninstaller's path.
#pragma once
#include <windows.h>

// Waits as long as the turn is held (a holder that ends gives it back) and
// answers it, or null when it cannot be had at all: then nothing may read
// the record to act on it.
HANDLE wait_for_turn(const char* installed_path);
// Gives the turn back; null is passed over.
void release_turn(HANDLE turn);
