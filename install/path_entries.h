// The folders that the current setup type adds to the search path of the
// user or the machine ([[type.path]]): each once, as an entry of its own,
// and taken back as that entry alone (base/search_path.h). Skipped on the
// Windows 95 family, which keeps its PATH in AUTOEXEC.BAT.
#pragma once

struct RecordFile;
// The PathEntries block of the installation record: the entries that the
// setup is about to add, which their search path does not hold yet.
// Written before they are added; nothing when there are none.
void record_path_entries(RecordFile* log);
// Adds the entries that are not there yet, each noted for a rollback, and
// tells the running programs when the environment changed.
void add_path_entries();
