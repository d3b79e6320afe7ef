// The uninstaller works from a copy of itself in the temporary folder. A
// running program's file cannot be written or deleted; the copy's can be
// left behind, so the installed file's record can be marked as carried
// out, and the file deleted, once the removal is done. The installed
// program starts the copy and waits for its answer, so that whoever waits
// for the installed program (a setup, Add/Remove Programs) finds the
// removal done when it ends. The record is marked only once the installed
// program has ended; until then the copy holds the turn
// (base/uninstall_turn.h), which a second run and a setup that would take
// the record over wait for.
#pragma once
#include <windows.h>

// Exit code of an uninstaller that could not start its working copy.
enum : int { kNoWorkingCopy = 5 };

struct UninstallerArguments {
  bool by_setup;      // /X: started by a setup, which asks no questions and deletes the uninstaller itself
  bool silent;        // /SILENT (or /VERYSILENT): no question and no box
  bool working_copy;  // started by the installed uninstaller, as below
  char log[MAX_PATH];       // /LOG="path": the log; empty for none
  char original[MAX_PATH];  // the installed uninstaller
  HANDLE answer;            // takes the exit code, one byte
  HANDLE original_process;  // ends once it has the answer
};

// Reads lpCmdLine (without the program's own name). A path may be quoted;
// switches begin with / or -, in any case.
void read_arguments(const char* command_line, UninstallerArguments* out);

// The installed program's part: copies own_path to the temporary folder,
// starts the copy with the switches it was given and answers its exit
// code, or kNoWorkingCopy. A copy that cannot be written or started, or
// ends before it begins, is tried again a few times. One working copy at a
// time: the installed file is copied only once an earlier copy has marked
// its record.
int run_working_copy(const char* own_path, const UninstallerArguments& arguments);

// The copy's first word to the installed program, before it does anything:
// it runs. An end before this word is a failed start, tried again.
void tell_installed_program_begun(const UninstallerArguments& arguments);

// The copy's part: hands the exit code to the installed program and waits
// (a few seconds at most) until it has ended and its file is free.
void answer_installed_program(const UninstallerArguments& arguments, int code);
