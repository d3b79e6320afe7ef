// The folders that the current setup type adds to the search path of the
// user or the machine ([[type.path]]): each once, as an entry of its own,
// and taken back as that entry alone (base/search_path.h). Skipped on the
// Windows 95 family, which keeps its PATH in AUTOEXEC.BAT.
#pragma once

struct RecordFile;
// Adds the entries that are not there yet, each noted for a rollback, and
// tells the running programs when the environment changed. Before the
// installation record, which lists what was added.
void add_path_entries();
// The PathEntries block of the installation record: the entries that this
// run added (as its journal notes them), and nothing when there are none.
void record_path_entries(RecordFile* log);
