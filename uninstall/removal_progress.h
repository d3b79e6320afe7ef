// How far a removal came, on disk beside the installed uninstaller while it
// runs, so that a run ended by force (killed, crashed, the power gone) is
// finished by the next one without doing twice what cannot be done twice:
// the lowering of shared counts. Everything else a removal does (files,
// shortcuts, settings, keys deleted) can simply be done again. The record
// is marked as carried out only once the removal is whole.
#pragma once
#include "base/shared_count.h"

// Begins the progress of the removal by the uninstaller `installed`: the
// file beside it (its name with the extension ".removing"), made or, when
// an earlier run ended before it had finished, read.
void begin_removal_progress(const char* installed);
// Lowers the count of the shared file at path by one, unless the earlier
// run did so already; then it answers from the count as that run left it.
// The step is written down before it is taken: a run ended in between
// leaves the count one too high, which keeps a file, rather than one too
// low, which would delete a file that another installation still uses.
SharedRelease release_shared_count_once(const char* path);
// The removal is whole: the file goes.
void end_removal_progress(const char* installed);
