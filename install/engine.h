// The installation engine as the wizard sees it: the three steps the
// progress page drives, and the state the finish page and the finishing
// actions read afterwards.
#pragma once
#include <cstdint>

// The installation's first failure: 0, or a code N shown as text 6/N
// (15 cancelled; 1000 a system error kept in SavedSystemError).
extern int32_t ErrorState;
extern uint32_t SavedSystemError;
// Sets ErrorState to `code`, with `argument` as its message's %s; false,
// for the caller to return.
bool fail_install(int32_t code, const char* argument);
// The user confirmed Cancel, or closed the window, before the installation
// was done.
extern bool UserCancelled;
// A file waits for replacement at the next start of Windows.
extern bool RestartNeeded;
// Set by begin_install, cleared by finish_install.
extern bool InstallRunning;
// Set once finish_install has run: the installation went to its end.
extern bool InstallDone;

// The items with a role after installing (null when none): the last
// screen saver, the last document to open and the last program to run.
extern const uint8_t* ScreenSaverItem;
extern const uint8_t* DocumentItem;
extern const uint8_t* ProgramItem;

// Resets the engine and opens the archive at its data; when the archive
// asks for it, the other setup types' installations are then removed by
// the first calls of install_next_item. 1 ready, 0 the archive cannot be
// opened (ErrorState 16).
int begin_install();
// Installs the next item of the current setup type, after a step of the
// other types' removal while that goes on. 1 while more calls are wanted;
// 0 when the list is done or the item or the removal failed (ErrorState).
int install_next_item();
// Closes the data, writes the uninstall data and the settings when no
// error occurred, takes everything back when one did (in an item or in
// this step), and moves the wizard to the finish page.
void finish_install();
// Ends an installation that the user cancelled (or gave up at the disk
// prompt, or closed the window on): closes the data, forgets the role
// items and takes back everything the installation changed.
void abandon_install();
// Forgets the three role items: a cancelled or failed installation runs,
// opens and installs nothing afterwards.
void forget_role_items();
