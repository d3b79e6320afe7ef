// The preparation step of the installation: the engine reset, the removal of
// the other setup types' installations, and the archive opened at its data.
#pragma once
#include <windows.h>

// Runs each other setup type's registered uninstaller with "/X" and waits
// for it to end and its file to go. False, with ErrorState 35 naming the
// uninstaller, when one could not be started or did not succeed: its
// installation stays whole, uninstaller and all, and nothing is installed.
bool remove_previous_versions();
// Starts "program argument"; 1 with the process handle (the caller closes
// it), 0 with a null handle when it cannot be started.
int start_program(const char* program, const char* argument, HANDLE* process);
// 1 while the process has not ended.
int is_still_running(HANDLE process);
