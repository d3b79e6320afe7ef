#include "install/path_entries.h"

#include <string.h>

#include "archive/entry_lists.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/search_path.h"
#include "base/setup_log.h"
#include "install/journal.h"
#include "install/path_macros.h"
#include "install/settings_lists.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"

namespace {

const char* const kScopeWords[] = {"user", "machine"};

// The entry that `entry` stands for: its folder with the macros expanded
// and without a trailing backslash, into kPathSize bytes. False when it
// comes to nothing, to more than a path, or to a folder with a ';', which
// the search path would take for two.
bool expanded_entry(const PathEntry& entry, char* out) {
  uint32_t n = expand_macros(nullptr, entry.folder, kMacroCapacity);
  if (n == 0 || n >= kPathSize) return false;
  expand_macros(out, entry.folder, kPathSize);
  strip_backslash(out);
  return out[0] != '\0' && !strchr(out, ';');
}

// True when an entry before the one at `until` in the list comes to the
// same entry of the same search path: it is added, and recorded, once.
bool given_before(const uint8_t* p, const uint8_t* end, const uint8_t* until, uint8_t scope, const char* text) {
  char other[kPathSize];
  while (p && p < until) {
    PathEntry entry;
    if (!(p = parse_path_entry(p, end, &entry))) return false;
    if (entry.scope == scope && expanded_entry(entry, other) && path_list_holds(other, strlen(other), text))
      return true;
  }
  return false;
}

}  // namespace

void record_path_entries(RecordFile* log) {
  const uint8_t *first, *end;
  uint16_t n;
  if (!IsNtFamily || !current_list(kPathList, &first, &end, &n)) return;
  uint32_t block = 0, count = 0;
  char text[kPathSize];
  const uint8_t* p = first;
  for (; n > 0; --n) {
    const uint8_t* at = p;
    PathEntry entry;
    if (!(p = parse_path_entry(p, end, &entry))) break;
    if (!expanded_entry(entry, text) || given_before(first, end, at, entry.scope, text) ||
        search_path_holds(entry.scope, text))
      continue;
    if (count++ == 0) {
      block = open_block(log, kPathEntriesId);
      write_record_u32(log, 0);
    }
    write_path_entry(log, entry.scope, text);
  }
  if (count) close_block(log, block, kPathEntriesId, &count);
}

void add_path_entries() {
  const uint8_t *p, *end;
  uint16_t n;
  if (!current_list(kPathList, &p, &end, &n)) return;
  bool changed = false;
  char text[kPathSize];
  for (; n > 0; --n) {
    PathEntry entry;
    if (!(p = parse_path_entry(p, end, &entry))) break;
    if (!expanded_entry(entry, text)) continue;
    const char* scope = kScopeWords[entry.scope];
    if (!IsNtFamily) {
      log_event("path-entry", "skipped", scope, text);
      continue;
    }
    if (search_path_holds(entry.scope, text)) {
      log_event("path-entry", "there", scope, text);
      continue;
    }
    if (!note_path_entry(entry.scope, text)) continue;
    bool added = add_search_path_entry(entry.scope, text) == SearchPathResult::kChanged;
    log_event("path-entry", added ? "added" : "failed", scope, text);
    changed = changed || added;
  }
  if (changed) announce_environment_change();
}
