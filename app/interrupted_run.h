// An earlier run of this product that was ended before it finished (killed,
// crashed, the power gone): found by its journal (install/journal_file.h)
// once the scope is settled, and taken back before anything else is done.
#pragma once

// Takes back the ended run, after text 6/59 (in the program's own words
// where the setup does not carry it) unless unattended, which always takes
// it back. Answers 0 to go on, or kExitCancelled when the user would not
// have it taken back: nothing is done then, and the journal stays for the
// next run.
int settle_interrupted_run();
