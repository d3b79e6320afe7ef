// The journal on disk (record/journal_records.h): every change is written
// to it before it is made, so that a run ended by force leaves what the
// next run needs to take it back. The file lies in the temporary folder of
// the user who runs the setup, under an unguessable name, created without
// sharing; the value named after the product under
// Software\Kestrel\Interrupted, in the root of the installation's scope,
// holds its path. Both are where only that user (per user) or an
// administrator (per machine) can write, and the file goes with the
// value once the installation is complete or fully taken back.
#pragma once
#include <cstdint>

#include "record/journal_records.h"

// The journal's file for this run, begun at its first change; false when
// it cannot be written (the change is then not made).
bool journal_file_add(const uint8_t* record, uint32_t size, bool flush);
// The change at `position`, the index-th, is taken back.
void journal_file_taken_back(uint32_t position, uint32_t index);
// The installation stands: only its backups go from here on.
void journal_file_complete();
// The journal is done with: the file and the value go.
void journal_file_end();

// A journal of an earlier run of this product that was ended before it
// finished, found under the scope's root: its path into `path` (kPathSize
// bytes). False when there is none, or when it is held open by a run that
// is still going.
bool find_interrupted_run(char* path);
// Reads the journal of the ended run that `path` names, logging how it
// read; true when it can be trusted, with its changes (records without
// their checksums, taken-back ones flagged) in a block for the caller to
// own and the file now this run's journal file. A journal that this setup
// cannot trust (not one, or another product's) is left as it is; only the
// value that named it goes. One that cannot be read for want of memory
// waits for the next run. A missing file reads as a journal of no changes.
bool read_interrupted_journal(const char* path, uint8_t** changes, JournalContents* contents);
