#include "uninstall/ended_setup.h"

#include <windows.h>

#include <string.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/setup_log.h"
#include "record/change_undo.h"
#include "record/ended_run.h"
#include "uninstall/settings_removal.h"

namespace {

struct Walk {
  const EndedRun* run;
  const char* installed;
};

bool is_installed(const Change& change, const char* installed) {
  return (change.kind == ChangeKind::kCreatedFile || change.kind == ChangeKind::kReplacedFile) &&
         lstrcmpiA(change.path, installed) == 0;
}

// The ended run wrote the record of the installed uninstaller, which then
// holds what that run installed.
bool wrote_record(const EndedRun& run, const char* installed) {
  uint32_t position = 0;
  Change change;
  while (decode_change(run.changes, run.contents.records_end, &position, &change))
    if (change.kind == ChangeKind::kRecordWritten && lstrcmpiA(change.path, installed) == 0) return true;
  return false;
}

// The installed uninstaller runs and waits for this copy: it is not put
// back (it is the one that was there), and its backup goes.
bool take_change(const Change& change, uint32_t, void* context) {
  if (!is_installed(change, static_cast<Walk*>(context)->installed)) return true;
  drop_backup(change);
  return false;
}

void change_done(const Change&, uint32_t at, uint32_t index, bool undone, void* context) {
  const EndedRun& run = *static_cast<Walk*>(context)->run;
  if (undone) flag_taken_back(run.file, run.head_size, at, index);
}

void take_back(const EndedRun& run, const char* installed) {
  const uint8_t* bytes = run.changes;
  uint32_t used = run.contents.records_end;
  uint32_t count = run.contents.count;
  uint32_t* positions = change_positions(bytes, used, count);
  Walk walk = {&run, installed};
  UndoHooks hooks = {take_change, change_done, &walk};
  ChangeAnnouncements announce = {false, false};
  undo_pass(bytes, used, positions, count, false, hooks, &announce);
  undo_pass(bytes, used, positions, count, true, hooks, &announce);
  free_block(&positions);
  announce_changes(announce);
}

void settle_ended_setup(HKEY root, const char* name, const char* installed) {
  char path[kPathSize];
  if (!ended_run_path(root, name, path)) {
    remove_empty_ended_run_keys(root);
    return;
  }
  // The setup that started this uninstaller holds its own journal open.
  if (ended_run_still_going(path)) return;
  log_event("interrupted", "found", path);
  EndedRun run;
  if (read_ended_run(root, path, name, &run) != EndedRunReading::kTrusted) return;
  if (run.contents.complete || wrote_record(run, installed)) {
    uint32_t position = 0;
    Change change;
    while (decode_change(run.changes, run.contents.records_end, &position, &change)) drop_backup(change);
    log_event("interrupted", "completed");
  } else {
    take_back(run, installed);
    log_event("interrupted", "taken back");
  }
  end_ended_run(root, path, name, &run);
}

}  // namespace

void settle_ended_setups(const RemovalPlan& plan, const char* installed) {
  bool native = native_files(true);
  char key[kUninstallKeyCapacity];
  for (uint32_t i = 0; i < plan.installation_count; ++i) {
    uint32_t root = 0;
    if (!planned_uninstall_key(plan.installations[i], key, &root)) continue;
    // The product's name is the last part of its Uninstall key.
    const char* name = strrchr(key, '\\');
    settle_ended_setup(root_key(root), name ? name + 1 : key, installed);
  }
  native_files(native);
}
