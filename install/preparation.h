// The preparation step of the installation: the engine reset, the removal of
// the other setup types' installations, and the archive opened at its data.
#pragma once
#include <windows.h>

#include <cstddef>

// The removal of the other setup types' installations, which begin_install
// asks for when the archive wants it: each one's registered uninstaller runs
// with "/X", one after another, and its file goes once it has ended. True
// until that is over.
bool removing_other_types();
// One step of it, which install_next_item takes on each call until it is
// over: starts the next uninstaller, or watches the one that runs for a
// moment, so that the page paints and takes Cancel in between. 0, with
// ErrorState, ends the installation before anything is installed: an
// uninstaller that cannot be started or removed nothing (35; its
// installation stays whole, uninstaller and all), or one that has not
// ended after five minutes (41). An end with 3010 is a removal done whose
// files go at the next start: a restart is needed. One that removed what
// it could (its record is marked as carried out) is done too, and is told.
int remove_other_types_step();
// Stops waiting for an uninstaller that still runs (the installation is
// cancelled, or it took too long): it is left to itself.
void stop_removing_other_types();
// Text i of what the removal did, for the report of a cancelled or failed
// installation: another installation removed (text 6/36), removed but for
// files that go at the next start (6/37), removed in part (6/38), or its
// uninstaller still running (6/42), each naming its type. False past the
// last one.
bool removal_report_part(int i, char* out, size_t capacity);
// Starts "program argument"; 1 with the process handle (the caller closes
// it), 0 with a null handle when it cannot be started.
int start_program(const char* program, const char* argument, HANDLE* process);
// 1 while the process has not ended.
int is_still_running(HANDLE process);
