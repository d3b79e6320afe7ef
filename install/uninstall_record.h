// The record of an installation that the uninstaller reads back: the
// UninstallData appended to the installed uninstaller (or in the side file
// of a signed one), and the Uninstall key that registers it with Windows.
#pragma once
#include <cstdint>

#include "base/platform.h"
#include "record/uninstall_data.h"

enum : unsigned { kUninstallKeySize = 392 };

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" and the uninstall
// name (the product id instead, for a setup that has one), cut to
// kUninstallKeySize bytes with the terminator.
void uninstall_key_path(char* out, const char* uninstall_name);
// Called before the uninstaller item is written over UninstallerPath:
// keeps the record of the uninstaller already there, when it holds one
// that was not carried out, so that the new record takes it over and one
// uninstaller removes every installation in the folder. It waits for the
// uninstaller's turn (base/uninstall_turn.h) while a working copy of it
// is between its removal and its mark. Only a record of the same product
// is kept; another product's uninstaller is set aside beside it, with its
// record, and its Uninstall key names it there. False, with the
// installation failed, when that cannot be done.
bool keep_earlier_record();
// The uninstaller item just placed over an earlier installation's carries
// that one's record at once, until the final step writes the new record
// in its place: an uninstaller started meanwhile (after this run was ended
// by force) removes the installation as it stood, having first taken this
// run back.
void carry_earlier_record();
// After a rollback that could not remove every file it made: appends to
// the uninstaller placed by this run (its image `image_size` bytes long)
// a record of just these files and registers it, so that it removes them
// later. False when that cannot be done.
bool record_remaining_files(const char* const* paths, uint32_t count, uint32_t image_size);
// The state of the record in the uninstaller file at that path: kUsed once
// its uninstaller has carried it out; kMissing when the file cannot be read.
UninstallDataStatus uninstaller_record_status(const char* uninstaller);
// After a rollback that put back an earlier installation's uninstaller,
// with its record, and could not remove every file it made: appends these
// files to that record's RemoveList, so that the uninstaller removes them
// with the rest. False when there is no such record or it cannot be written.
bool append_remaining_files(const char* const* paths, uint32_t count);
// Whether the uninstaller at that path is signed, and so keeps its record
// in its side file, whose path goes into `side` (kPathSize bytes).
bool record_beside(const char* uninstaller, char* side);
// Forgets the record kept by keep_earlier_record.
void forget_earlier_record();
// Appends the UninstallData to the installed uninstaller and, once it is
// whole, registers it. An uninstaller that cannot be opened, or is too
// short to hold the header that its last 8 bytes make room for, gets no
// record and no Uninstall key: the start-menu shortcuts are then made
// without one. False when the record could not be written whole.
bool write_uninstall_data();
