// What the setup does once the wizard has ended: the screen saver, the
// restart, the program of the installed product, and the release of
// everything start-up and loading made.
#pragma once

// Takes back an installation that the wizard left neither kept nor taken
// back (the window went while installing), or a folder that the
// destination page made for an installation that never ran. Before the
// outcome is settled: its lines belong in the log, and a file it takes
// back no longer waits for a restart.
void take_back_unfinished_install();
// The whole sequence, once the container dialog is gone and anything
// unfinished taken back.
void finish_setup();
// Destroys the frame window and handles every message until WM_QUIT.
void drain_messages();
// Starts the program item through its short path with InstallDir as the
// current folder; false when it cannot be started.
bool run_program_item();
// Deletes the dialog font and the face brush and ends OLE; the buffers
// of the archive go with free_archive.
void release_font_brush_and_ole();
