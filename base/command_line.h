// The setup's command line. Two switches come from the first setups:
// /S path (read the archive from that file) and /DEL (this is a relaunched
// copy). The others run it without a person at the screen: /SILENT,
// /VERYSILENT, /DIR="path", /TYPE=n, /NORESTART and /LOG="path"; /LANG=code
// chooses one of the setup's languages; /ALLUSERS and /CURRENTUSER answer a
// setup that lets its user choose the scope; /ALLOWDOWNGRADE,
// /CLOSEAPPLICATIONS and /RESTARTAPPLICATIONS answer an upgrade's
// questions.
// Either prefix, any case. Portable, so that it is tested on the host.
#pragma once
#include <cstddef>

#include "base/globals.h"

enum class RunMode : unsigned char {
  kWizard,      // the wizard, as without switches
  kSilent,      // no pages: a small window with the progress display only
  kVerySilent,  // no window at all
};

// The scope a switch asked for; the last one given counts.
enum class SetupScope : unsigned char { kNotGiven, kAllUsers, kCurrentUser };

// All zero (in the BSS, costing the stub no bytes) until parsed.
struct SetupSwitches {
  RunMode mode;
  bool no_restart;          // /NORESTART: never restart Windows
  SetupScope scope;         // /ALLUSERS or /CURRENTUSER
  bool allow_downgrade;       // /ALLOWDOWNGRADE: an older version may replace a newer one
  bool close_applications;    // /CLOSEAPPLICATIONS: programs holding the folder's files are closed
  bool restart_applications;  // /RESTARTAPPLICATIONS: the programs closed start again at the end
  bool has_type;            // /TYPE=n was given,
  int setup_type;           // with this number
  char dir[kPathSize];      // /DIR: the installation folder; empty when not given
  char log[kPathSize];      // /LOG: the log file; empty when not given
  char lang[10];            // /LANG: a language's code ("de", "pt-BR"); empty when not given
  // The first switch that cannot be used, as written (cut to fit); empty
  // when every switch could be read.
  char bad[64];
};

extern SetupSwitches Switches;

// Fills SourcePath from /S, sets IsRelaunchCopy for /DEL and Switches for
// the rest. A word that does not begin with - or / ends the scan.
void parse_command_line(const char* text);
