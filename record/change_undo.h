// Taking back the changes a journal notes (record/journal_records.h), one
// by one: the setup's rollback of its own run and of a run ended by force,
// and the uninstaller's of a setup's run ended by force, all do it so.
#pragma once
#include <windows.h>

#include <cstdint>

#include "record/journal_records.h"

// What the undone changes ask to tell the running programs.
struct ChangeAnnouncements {
  bool fonts;
  bool environment;
};

// What a walk does besides taking each change back. take (may be null)
// answers false to pass a change over, which then stays unflagged; i is
// its place among the changes. done hears how each one that was tried
// went; at and index name it in its journal, for its flag in the file.
struct UndoHooks {
  bool (*take)(const Change& change, uint32_t i, void* context);
  void (*done)(const Change& change, uint32_t at, uint32_t index, bool undone, void* context);
  void* context;
};

// The positions of the count changes in [0, used), so that they can be
// walked newest first; null when there is no memory for them.
uint32_t* change_positions(const uint8_t* bytes, uint32_t used, uint32_t count);
// One walk over the changes not yet taken back, newest first (oldest first
// without positions, which still takes back every one), logging each:
// the files, values and the rest, or (last_pass) the folders and keys
// that held them, which go only when they are empty.
void undo_pass(const uint8_t* bytes, uint32_t used, const uint32_t* positions, uint32_t count, bool last_pass,
               const UndoHooks& hooks, ChangeAnnouncements* announce);
// Tells the running programs what the walks changed.
void announce_changes(const ChangeAnnouncements& announce);

// A file a run made goes, read-only or not; one already gone counts as
// removed. False while it is in use.
bool remove_made_file(const char* path);
// A key goes only when nothing is left in it: the Windows 95 family's
// RegDeleteKeyA would take a whole tree.
void remove_key_if_empty(HKEY root, const char* path);
// The installation stands: a replaced file's backup goes, at the next
// start of Windows when it is held.
void drop_backup(const Change& change);
