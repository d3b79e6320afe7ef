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

}  // namespace

void record_path_entries(RecordFile* log) {
  uint32_t block = 0, count = 0, position = 0;
  Change change;
  while (journal_next(&position, &change)) {
    // An entry whose addition failed is not the installation's.
    uint8_t scope = static_cast<uint8_t>(change.number);
    if (change.kind != ChangeKind::kPathEntry || !search_path_holds(scope, change.path)) continue;
    if (count++ == 0) {
      block = open_block(log, kPathEntriesId);
      write_record_u32(log, 0);
    }
    write_path_entry(log, scope, change.path);
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
    const char* scope = path_scope_word(entry.scope);
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
