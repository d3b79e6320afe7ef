// Started from a removable disk, the setup copies its stub to the temporary
// folder and runs the copy, so that the drive stays free for further disks.
#pragma once

// True when DestPath (the program's own path) lies on a removable drive.
bool started_from_removable_media();
// Writes the stub alone to the first free "_inst%d.exe" of the temporary
// folder and leaves the copy's command line in TempPath; false when no copy
// could be made (the setup then runs in place).
bool make_relaunch_copy();
// The whole decision: true when a copy was started and this process ends.
bool relaunch_from_removable_media(int show);
