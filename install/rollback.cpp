#include "install/rollback.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/lzma_decoder.h"
#include "archive/messages.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/scaled.h"
#include "base/setup_log.h"
#include "install/engine.h"
#include "install/engine_reports.h"
#include "install/engine_state.h"
#include "install/journal.h"
#include "install/journal_file.h"
#include "install/preparation.h"
#include "install/uninstall_record.h"
#include "record/change_undo.h"

namespace {

enum : int { kTextNothingChanged = 32, kTextFilesStay = 33, kTextUninstallerRemoves = 34, kTextNothingElseChanged = 39 };
// The files a report names; more are summed up as "...".
enum : uint32_t { kReportedFiles = 6 };
// The progress page is repainted at most this often while changes go back.
enum : DWORD { kDisplayInterval = 40 };

// The files the last rollback could not take back, each as a kind letter
// ('c' made by this run, 'r' replaced) followed by the path and its
// terminator.
struct Leftovers {
  char* text = nullptr;
  uint32_t used = 0;
  uint32_t capacity = 0;
  uint32_t count = 0;
  uint32_t created = 0;
};
Leftovers Left;
bool RolledBack = false;
bool UninstallerKept = false;

void remember_leftover(char kind, const char* path) {
  uint32_t need = static_cast<uint32_t>(strlen(path)) + 2;
  // Without memory the file still stays; only the report misses it.
  if (!grow_block(&Left.text, Left.used, &Left.capacity, Left.used + need, 4096)) return;
  Left.text[Left.used] = kind;
  memcpy(Left.text + Left.used + 1, path, need - 1);
  Left.used += need;
  ++Left.count;
  if (kind == 'c') ++Left.created;
}

void clear_leftovers() {
  free_block(&Left.text);
  Left = Leftovers();
}

bool is_uninstaller(const Change& change) {
  return change.kind == ChangeKind::kCreatedFile && UninstallerPath[0] && _stricmp(change.path, UninstallerPath) == 0;
}

// The progress bar runs back from where the installation stopped.
struct Display {
  uint32_t total;
  uint32_t start_percent;
  DWORD last;
  void show(uint32_t left, const Change& change) {
    DWORD now = GetTickCount();
    if (now - last < kDisplayInterval) return;
    last = now;
    if (change.kind == ChangeKind::kCreatedFile || change.kind == ChangeKind::kReplacedFile)
      show_current_file(change.path);
    set_progress(total ? scaled(left, start_percent, total) : 0);
  }
};

// The setup's walk: the progress page shows it, this run's uninstaller
// waits for settle_uninstaller, and what stays is remembered for the report.
struct Walk {
  Display display;
  bool last_pass;
  bool uninstaller_made;
};

bool take_change(const Change& change, uint32_t i, void* context) {
  Walk* walk = static_cast<Walk*>(context);
  if (!walk->last_pass && is_uninstaller(change)) {
    walk->uninstaller_made = true;
    return false;
  }
  walk->display.show(i, change);
  return true;
}

void change_done(const Change& change, uint32_t at, uint32_t index, bool undone, void*) {
  // A run ended from here on does not take it back twice.
  if (undone) journal_file_taken_back(at, index);
  else remember_leftover(change.kind == ChangeKind::kCreatedFile ? 'c' : 'r', change.path);
}

// The files made by this run that stay, for the uninstaller's record.
void created_leftovers(const char** paths) {
  uint32_t n = 0;
  for (uint32_t at = 0; at < Left.used; at += static_cast<uint32_t>(strlen(Left.text + at)) + 1)
    if (Left.text[at] == 'c') paths[n++] = Left.text + at + 1;
}

// The uninstaller stays when it can remove what this rollback left: one
// this run made gets a record of just those files; one put back with the
// record of an earlier installation gets them added to that record.
void settle_uninstaller(bool uninstaller_made) {
  UninstallerKept = false;
  if (!uninstaller_made && !UninstallerPath[0]) return;
  if (Left.created > 0) {
    const char** paths = nullptr;
    if (alloc_block(Left.created * sizeof(const char*), &paths)) {
      created_leftovers(paths);
      UninstallerKept = uninstaller_made ? record_remaining_files(paths, Left.created, UninstallerImageSize)
                                         : append_remaining_files(paths, Left.created);
      free_block(&paths);
    }
  }
  if (uninstaller_made && !UninstallerKept && !remove_made_file(UninstallerPath))
    remember_leftover('c', UninstallerPath);
}

}  // namespace

void roll_back_changes() {
  bool native = native_files(true);
  clear_leftovers();
  RolledBack = true;
  // The folders to remove must not be the current one.
  char windows[kPathSize];
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  if (n > 0 && n < sizeof windows) SetCurrentDirectoryA(windows);
  show_rollback_texts();
  uint32_t count = journal_count();
  const uint8_t* bytes = journal_bytes();
  uint32_t used = journal_size();
  uint32_t* positions = change_positions(bytes, used, count);
  uint32_t done = static_cast<uint32_t>(ItemIndex + 1);
  if (done > ItemCount) done = ItemCount;
  Walk walk = {{count, ItemCount ? scaled(done, 100, ItemCount) : 0, GetTickCount() - kDisplayInterval}, false,
               false};
  UndoHooks hooks = {take_change, change_done, &walk};
  ChangeAnnouncements announce = {false, false};
  undo_pass(bytes, used, positions, count, false, hooks, &announce);
  settle_uninstaller(walk.uninstaller_made);
  walk.last_pass = true;
  undo_pass(bytes, used, positions, count, true, hooks, &announce);
  free_block(&positions);
  announce_changes(announce);
  set_progress(0);
  show_current_file("");
  journal_clear();
  // Nothing waits for a restart any more that this run scheduled.
  RestartNeeded = false;
  native_files(native);
}

void abandon_install() {
  close_data_file();
  forget_role_items();
  stop_removing_other_types();
  roll_back_changes();
  InstallRunning = false;
}

void keep_changes() {
  journal_file_complete();
  bool native = native_files(true);
  uint32_t position = 0;
  Change change;
  while (journal_next(&position, &change)) drop_backup(change);
  journal_clear();
  native_files(native);
}

void take_back_interrupted_run(const char* path) {
  uint8_t* changes = nullptr;
  JournalContents contents;
  if (!read_interrupted_journal(path, &changes, &contents)) return;
  adopt_journal(changes, contents.records_end, contents.count);
  if (contents.complete) {
    keep_changes();
    log_event("interrupted", "completed");
    return;
  }
  roll_back_changes();
  forget_rollback_report();
  log_event("interrupted", "taken back");
}

void forget_rollback_report() {
  RolledBack = false;
  UninstallerKept = false;
  clear_leftovers();
}

void append_rollback_report(char* message, size_t capacity) {
  if (!RolledBack) return;
  auto append_part = [&](const char* separator, const char* part) {
    if (!*part) return;
    if (*message) append_string(message, separator, capacity);
    append_string(message, part, capacity);
  };
  // Another setup type's installation that went before: this is not put
  // back, so the report never says that nothing was changed.
  char part[kMessageCapacity];
  int removals = 0;
  while (removal_report_part(removals, part, sizeof part)) {
    append_part("\r\n\r\n", part);
    ++removals;
  }
  if (Left.count == 0) {
    append_part("\r\n\r\n", get_text(6, removals ? kTextNothingElseChanged : kTextNothingChanged));
    return;
  }
  char list[kMessageCapacity] = "";
  uint32_t named = 0;
  for (uint32_t at = 0; at < Left.used; at += static_cast<uint32_t>(strlen(Left.text + at)) + 1) {
    if (named == kReportedFiles) {
      append_string(list, "\r\n...", sizeof list);
      break;
    }
    if (named++) append_string(list, "\r\n", sizeof list);
    append_string(list, Left.text + at + 1, sizeof list);
  }
  format_text(part, sizeof part, get_text(6, kTextFilesStay), list);
  append_part("\r\n\r\n", part);
  if (UninstallerKept) {
    format_text(part, sizeof part, get_text(6, kTextUninstallerRemoves), UninstallerPath);
    append_part("\r\n\r\n", part);
  }
}
