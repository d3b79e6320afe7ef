// Removing the uninstaller's working copy, which cannot go while it runs.
#pragma once

// Starts a hidden batch file from the temporary folder that deletes
// own_path as soon as this program has ended, then itself. False when it
// could not be started.
bool remove_after_exit(const char* own_path);
