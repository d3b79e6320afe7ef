// The throwaway Wine of `kestrel try`: a fresh 32-bit (or 64-bit) prefix in
// a temporary folder, never the user's ~/.wine; an Xvfb of its own when there is no
// display; no menu entries or desktop files for the host (winemenubuilder is
// off and the user's shell folders are folders of the prefix). Every drive
// but C: is taken away, Z: (the host's root) among them: the setup sees a
// copy of the files it may read beside itself as S: and the trial's files
// as T:, and nothing else of the host, so what it writes there stays in
// the trial too.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "cli/trial_snapshot.h"

struct TrialPrograms {
  std::string wine;
  std::string wineserver;
  std::string xvfb;    // empty when a display is set
  std::string runner;  // kestrel-try-runner.exe, which Wine runs
};

// Finds what a trial needs; false with *why naming what is missing. For a
// 64-bit prefix (`win64`), where the wine script cannot run (a machine
// without 32-bit x86 code), Debian's 64-bit loader /usr/lib/wine/wine64,
// and the helpers of share/kestrel/x86-64 where kestrel was built with them.
bool find_trial_programs(TrialPrograms* programs, std::string* why, bool win64 = false);

struct TrialPrefix {
  TrialPrograms programs;
  std::string folder;  // the throwaway folder
  std::string prefix;  // folder/prefix, the WINEPREFIX
  std::string share;   // folder/share, drive T:
  std::string log;     // folder/wine.log, what Wine's programs wrote
  std::string source;  // folder/source, drive S:: the copy of the setup's files
  std::string setup_folder;
  pid_t xvfb = -1;
  bool win64 = false;  // set before opening: a 64-bit prefix (WINEARCH=win64)
  // Set before opening: the screen's DPI (LogPixels; 0 leaves Wine's 96),
  // and a screen as much larger than 1024 x 768 as such displays are.
  int dpi = 0;
  std::vector<std::string> environment;
};

enum class RunResult { kEnded, kTimedOut, kInterrupted, kFailed };

// Makes the folder (in $TMPDIR or /tmp) and the prefix, ready for a first
// snapshot, with a copy of `files` (names relative to `setup_folder`, with
// '/'; those that are no file there are left out) for drive S:. On failure
// *why says what went wrong; close_trial_prefix is still to be called.
bool open_trial_prefix(const TrialPrograms& programs, const std::string& setup_folder,
                       const std::vector<std::string>& files, TrialPrefix* trial, std::string* why);

// The drives beside C: that the trial's programs can write, for snapshots:
// S: and T:, less the trial's own files on T:.
std::vector<SnapshotDrive> trial_drives(const TrialPrefix& trial);

// Runs a Windows command line in the prefix, from the setup's folder, and
// waits until it and every program it started have ended, at most
// `timeout_seconds` in all. With kEnded, *exit_code is the whole Windows
// exit code; a command that could not be started is kFailed.
RunResult run_in_prefix(TrialPrefix* trial, const std::string& command, int timeout_seconds, long* exit_code,
                        std::string* why);

// What Windows does at a restart: pending renames and deletions happen.
RunResult restart_prefix(TrialPrefix* trial, int timeout_seconds, std::string* why);

// Ends every program of the prefix and the Xvfb, then removes the folder
// unless `keep`.
void close_trial_prefix(TrialPrefix* trial, bool keep);

// The last `count` lines of a text file (none when it cannot be read).
std::vector<std::string> last_lines(const std::string& path, size_t count);

// The last lines of Wine's own output, for a failure report.
std::string wine_log_tail(const TrialPrefix& trial, size_t lines);

// Set from a signal handler: the waits end early and the trial cleans up.
void interrupt_trial();
