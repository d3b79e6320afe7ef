#include "install/preparation.h"

#include <stdio.h>
#include <string.h>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/error_codes.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/lzma_decoder.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/text_format.h"
#include "base/uninstall_turn.h"
#include "install/engine_reports.h"
#include "install/engine_state.h"
#include "install/running_programs.h"
#include "install/scope.h"
#include "install/uninstall_record.h"

namespace {

enum : unsigned { kCommandSize = 520, kUninstallStringSize = 360 };
enum : DWORD { kDeleteWaitMs = 3000 };
// How long an uninstaller may run before the setup stops waiting for it;
// the page stays usable meanwhile, so a slow removal may take its time.
// Each step watches it for a moment and then lets the page's messages in.
enum : DWORD { kUninstallerWaitMs = 5 * 60 * 1000, kWatchMs = 50 };
// The progress page's text while an uninstaller runs.
enum : int { kTextWaiting = 40 };

// How another setup type's removal went, and the text that reports each
// way: removed, removed but for files that go at the next start, removed
// in part, its uninstaller left running.
enum class Removal : uint8_t { kDone, kAtRestart, kInPart, kStillRunning };
const int kReportTexts[] = {36, 37, 38, 42};

struct OtherTypeRemoval {
  bool pending;          // begin_install asked for it and it is not over
  int next_type;         // the next setup type to look at
  int type;              // the one whose uninstaller runs
  HANDLE process;        // that uninstaller, or null
  DWORD started;         // GetTickCount when it started
  char program[kUninstallStringSize];
  int done_count;        // the removals that changed something, in order
  int done_types[kMaxSetupTypes];
  Removal done[kMaxSetupTypes];
};
OtherTypeRemoval Others;

// Another setup type whose installation left an uninstaller behind: its
// first item is the uninstaller and it has an uninstall name.
bool is_removable(int v) {
  if (v == CurrentSetupType) return false;
  const SetupTypeSlot& slot = SetupTypeTable[v];
  if (!slot.file_list || slot.file_list_length < 4 + kEntryFixedSize || get_u32(slot.file_list) == 0) return false;
  if (!(slot.file_list[4 + kEntryFlags] & kItemUninstaller)) return false;
  const char* name = slot.record.uninstall_name;
  return name && *name;
}

// The "UninstallString" registered for that uninstall name, under the
// product's root; false when there is none.
bool read_uninstall_string(const char* name, char* value) {
  char key_path[kUninstallKeySize];
  uninstall_key_path(key_path, name);
  HKEY key;
  if (open_key(product_root(), key_path, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  memset(value, 0, kUninstallStringSize);
  DWORD size = kUninstallStringSize - 1;  // the last byte stays the terminator
  LONG result = RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  // Setups write the path quoted, as Windows runs it; the file is what
  // lies between the quotes.
  if (result == ERROR_SUCCESS && value[0] == '"') {
    char* close = strchr(value + 1, '"');
    if (!close) return false;
    *close = '\0';
    memmove(value, value + 1, strlen(value + 1) + 1);
  }
  return result == ERROR_SUCCESS;
}

void look_at_messages() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

const char* type_name(int v) { return SetupTypeTable[v].record.uninstall_name; }

// Text 6/n about setup type v, its "%s" the type's uninstall name.
void compose(char* out, size_t capacity, int n, int v) { format_text(out, capacity, get_text(6, n), type_name(v)); }

const char* const kRemovalWords[] = {"removed", "at-restart", "in-part", "still-running"};

void note_removal(Removal how) {
  Others.done_types[Others.done_count] = Others.type;
  Others.done[Others.done_count++] = how;
  log_event("other-type", type_name(Others.type), Others.program, kRemovalWords[static_cast<unsigned>(how)]);
}

// Starts the next other type's uninstaller; false when none is left.
bool start_next_uninstaller() {
  while (Others.next_type < SetupTypeCount) {
    int v = Others.next_type++;
    if (!is_removable(v) || !read_uninstall_string(type_name(v), Others.program)) continue;
    FileHandle file = open_file(Others.program, 0);
    if (file == INVALID_FILE_HANDLE) continue;
    close_file(file);
    // Quoted, so that a folder with a blank cannot start another program.
    char quoted[kUninstallStringSize + 2];
    quoted[0] = '"';
    copy_string(quoted + 1, Others.program, kUninstallStringSize);  // always whole: it was read so
    append_string(quoted, "\"", sizeof quoted);
    Others.type = v;
    if (!start_program(quoted, "/X", &Others.process)) return true;  // the caller finds no process
    Others.started = GetTickCount();
    char waiting[kMessageCapacity];
    compose(waiting, sizeof waiting, kTextWaiting, v);
    show_status(waiting);
    return true;
  }
  return false;
}

// Whether the uninstaller whose process ended removed what it could: its
// record is marked as carried out. Its working copy marks it only once the
// installed program has ended, holding the uninstall turn until then: the
// record is read once the turn is free.
bool record_carried_out(const char* program) {
  HANDLE turn = wait_for_turn(program);
  bool used = turn && uninstaller_record_status(program) == UninstallDataStatus::kUsed;
  release_turn(turn);
  return used;
}

// The uninstaller has ended. 0, 3010 (files go at the next start) and a
// record it marked as carried out (it removed what it could) are a
// removal done: the record removes nothing any more, so its file goes. An
// uninstaller that removed nothing keeps its file, which can still remove
// the installation; nothing is installed then. A removal done in part is
// told at once when `tell`.
bool settle_ended_uninstaller(bool tell) {
  DWORD code = 1;
  GetExitCodeProcess(Others.process, &code);
  CloseHandle(Others.process);
  Others.process = nullptr;
  show_current_file("");
  Removal how = code == 0 ? Removal::kDone : Removal::kAtRestart;
  if (code != 0 && code != 3010) {
    if (!record_carried_out(Others.program)) {
      log_number("other-type", static_cast<long>(code), type_name(Others.type), Others.program);
      return fail_install(kErrorOtherTypeKept, Others.program);
    }
    how = Removal::kInPart;
  }
  note_removal(how);
  if (how == Removal::kAtRestart) RestartNeeded = true;
  if (how == Removal::kInPart && tell) {
    char text[kMessageCapacity];
    compose(text, sizeof text, kReportTexts[static_cast<unsigned>(how)], Others.type);
    if (*text) message_box(text, kMbIconInformation);
  }
  // A signed uninstaller's record, used now, lies beside it and goes too.
  char side[kPathSize];
  bool beside = record_beside(Others.program, side);
  DWORD start = GetTickCount();
  do {
    look_at_messages();
    if (delete_file(Others.program)) break;
  } while (GetTickCount() - start < kDeleteWaitMs);
  if (beside) delete_file(side);
  return true;
}

// The user gave up at the disk prompt: the installation ends as cancelled.
void give_up_installation() {
  PageResult = kPageToClosing;
  ErrorState = kErrorDiskGivenUp;
  forget_role_items();
}

}  // namespace

int begin_install() {
  close_running_programs();
  ErrorState = 0;
  ItemIndex = -1;
  volume_number = 0;
  CurrentEntry = CurrentFirstEntry;
  ItemCount = CurrentFileCount;
  DiskGiveUpHandler = give_up_installation;
  stop_removing_other_types();
  Others = OtherTypeRemoval();
  // A preparation run again after a cancelled one must not leak the
  // handle it left open.
  close_data_file();
  copy_string(ArchivePath, SourcePath, kPathSize);
  data_file = open_file(ArchivePath, 0);
  if (data_file == INVALID_FILE_HANDLE) return fail_install(kErrorOpen, ArchivePath);
  seek_to(data_file, data_start + 4);
  // The other installations go first, on the page's ticks, once the page
  // shows (remove_other_types_step); nothing is removed when this setup
  // cannot even read its own data.
  Others.pending = (SetupFlags & kSetupRemoveOthers) != 0;
  InstallRunning = true;
  return 1;
}

bool removing_other_types() { return Others.pending; }

int remove_other_types_step() {
  if (!Others.process) {
    if (!start_next_uninstaller()) {
      Others.pending = false;
      return 1;
    }
    if (Others.process) return 1;
    Others.pending = false;
    fail_install(kErrorOtherTypeKept, Others.program);
    return 0;
  }
  // Back as soon as it ends or the page has input; Cancel and painting
  // get through between two steps.
  MsgWaitForMultipleObjects(1, &Others.process, FALSE, kWatchMs, QS_ALLINPUT);
  if (is_still_running(Others.process)) {
    if (GetTickCount() - Others.started < kUninstallerWaitMs) return 1;
    stop_removing_other_types();
    fail_install(kErrorOtherTypeHung, Others.program);
    return 0;
  }
  if (settle_ended_uninstaller(true)) return 1;
  Others.pending = false;
  return 0;
}

void stop_removing_other_types() {
  Others.pending = false;
  if (!Others.process) return;
  if (!is_still_running(Others.process)) {
    settle_ended_uninstaller(false);
    return;
  }
  // Left to itself: it may still be at work when the setup has ended.
  CloseHandle(Others.process);
  Others.process = nullptr;
  show_current_file("");
  note_removal(Removal::kStillRunning);
}

bool removal_report_part(int i, char* out, size_t capacity) {
  if (i >= Others.done_count) return false;
  compose(out, capacity, kReportTexts[static_cast<unsigned>(Others.done[i])], Others.done_types[i]);
  return true;
}

int start_program(const char* program, const char* argument, HANDLE* process) {
  *process = nullptr;
  char* command = nullptr;
  if (!alloc_block(kCommandSize, &command)) return 0;
  // A command cut to fit would start something else.
  if (!copy_string(command, program, kCommandSize) || !append_string(command, " ", kCommandSize) ||
      !append_string(command, argument, kCommandSize)) {
    free_block(&command);
    return 0;
  }
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  BOOL ok = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                           &startup, &started);
  free_block(&command);
  if (!ok) return 0;
  CloseHandle(started.hThread);
  *process = started.hProcess;
  return 1;
}

int is_still_running(HANDLE process) {
  DWORD code = 0;
  return GetExitCodeProcess(process, &code) && code == STILL_ACTIVE ? 1 : 0;
}
