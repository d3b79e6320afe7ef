// The journal file that a setup's run ended by force left (its layout:
// record/journal_records.h), as the next run of a setup of the product, or
// its uninstaller, finds, reads, flags and ends it. The value named after
// the product under Software\Kestrel\Interrupted, in the root of the
// installation's scope, holds the file's path; the setup writes both
// (install/journal_file.h).
#pragma once
#include <windows.h>

#include <cstdint>

#include "record/journal_records.h"

extern const char kEndedRunKey[];

// The path that the value `name` holds into path (kPathSize bytes, "" for
// a value that is not a text); false when there is no such value.
bool ended_run_path(HKEY root, const char* name, char* path);
// A run that still goes holds its journal open without sharing: it is not
// an ended one (logged "still running").
bool ended_run_still_going(const char* path);
// The value `name` goes, and the keys that hold it when they are empty.
void remove_ended_run_value(HKEY root, const char* name);
// Our keys go when they hold nothing: Windows makes a path's keys one at a
// time, so a run ended while it made them can leave them empty.
void remove_empty_ended_run_keys(HKEY root);

// An ended run's journal, read: the file stays open without sharing, for
// the flags of the changes taken back.
struct EndedRun {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint32_t head_size = 0;
  uint8_t* changes = nullptr;  // the sound records, without their checksums; the caller frees them
  JournalContents contents = JournalContents();
};
enum class EndedRunReading : uint8_t {
  kTrusted,    // the records before the first bad one may be taken back
  kUntrusted,  // not a journal, or another product's: left as it is, only the value goes
  kNotRead,    // no memory to read it: it waits for the next run
};
// Reads the journal at `path` for the product `name`, logging how it read
// ("interrupted" and the reading). A missing file (a run ended between
// setting the value and making the file) reads as a trusted journal of no
// changes.
EndedRunReading read_ended_run(HKEY root, const char* path, const char* name, EndedRun* run);
// The change at `at` of the records, the index-th, is taken back: flagged
// in the journal file (head_size bytes of head), so that a run ended from
// here on does not take it back twice.
void flag_taken_back(HANDLE file, uint32_t head_size, uint32_t at, uint32_t index);
// The journal is done with: the file goes, then its value.
void end_ended_run(HKEY root, const char* path, const char* name, EndedRun* run);
