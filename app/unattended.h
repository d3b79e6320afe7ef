// The switches that tell the setup what a user would tell the wizard
// (/TYPE, /DIR), the run without the wizard's pages (/SILENT,
// /VERYSILENT), and the exit code of every run.
#pragma once
#include "base/text_format.h"

// Exit codes: -1 for a setup that cannot run at all, the others those
// Windows Installer gives the same outcomes.
enum : int {
  kExitNoArchive = -1,  // the archive cannot be loaded
  kExitNoWindow = -1,   // the window (its class, the frame, the container) cannot be made
  kExitRestartNeeded = 3010,
  kExitCancelled = 1602,
  kExitFailed = 1603,
  kExitAnotherSetupRuns = 1618,
  kExitBadCommandLine = 1639,
  kExitDowngrade = 1638,  // a newer version of the product is installed
  kExitUnsupportedPlatform = 1633,  // a 64-bit-mode setup on a Windows that cannot take it
  kExitNamesUnwritable = 1623,      // the names need a code page the system does not use
};
// The texts (list 6) of the refusals before the setup starts.
enum : int {
  kTextNoSetupType = 47,
  kTextNoLogFile,
  kTextBadSwitch,
  kTextNoSuchLanguage,
  kTextLanguageNotShown,
  kTextNamesUnwritable,
  kTextDowngradeQuestion = 55,  // a newer version is installed: install this one anyway?
  kTextDowngradeRefused,        // a newer version is installed, and this one is not installed over it
};

bool unattended();
// The log's first line, written once: the setup, its command line
// (StartCommandLine) and, in a setup of several languages, the language
// it speaks.
extern const char* StartCommandLine;
void log_start();
// Says (in the log, and in a box unless very silent) why the setup stops
// before it starts: text 6/`text` (kText... above, in English where the
// setup does not carry it) with `what` in its %s or %d; answers `code`.
int refuse_start(int code, int text, const char* what, TextArgument kind);
// refuse_start of kExitBadCommandLine.
int refuse_command_line(int text, const char* what);
// Says (in the log, and in a box with text 6/43 unless very silent) that
// this Windows cannot take the setup's 64-bit mode; answers
// kExitUnsupportedPlatform.
int refuse_platform();
// After loading: /TYPE makes its setup type current and /DIR becomes the
// folder of every setup type, over the default and the remembered one.
// Answers 0, or the exit code when /TYPE names no setup type of this setup.
int apply_switches();
// The folder checked as a typed one (created when missing), then the
// progress page alone, in a small window (/SILENT) or none (/VERYSILENT),
// then the outcome settled as the finish page settles it.
void run_unattended();
// Finds the installed version of the product (a setup with a product id)
// and, when it is newer, settles the downgrade by the setup's rule:
// "allow" goes on; "ask" goes on with /ALLOWDOWNGRADE, else asks text 6/55
// (unattended the answer is No); "refuse" says text 6/56. Both texts have
// the installed version in their %s. Answers 0 to go on, or
// kExitDowngrade, with nothing done.
int settle_product_case();
// 0 done, 3010 done but Windows must restart, 1602 cancelled by the user
// (also by giving up at the disk prompt), 1603 failed (or, unattended, not
// carried out; a disk prompt given up unattended).
int outcome_code();
