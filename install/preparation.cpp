#include "install/preparation.h"

#include <stdio.h>
#include <string.h>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/error_codes.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "install/engine_reports.h"
#include "install/engine_state.h"
#include "install/uninstall_record.h"

namespace {

enum : unsigned { kCommandSize = 520, kUninstallStringSize = 360 };
enum : DWORD { kDeleteWaitMs = 3000 };

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

// The "UninstallString" registered for that uninstall name; false when
// there is none.
bool read_uninstall_string(const char* name, char* value) {
  char key_path[kUninstallKeySize];
  uninstall_key_path(key_path, name);
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return false;
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

bool fail_removal(const char* uninstaller) { return fail_install(kErrorOtherTypeKept, uninstaller); }

// The user gave up at the disk prompt: the installation ends as cancelled.
void give_up_installation() {
  PageResult = kPageToClosing;
  ErrorState = kErrorDiskGivenUp;
  forget_role_items();
}

}  // namespace

int begin_install() {
  ErrorState = 0;
  ItemIndex = -1;
  volume_number = 0;
  CurrentEntry = CurrentFirstEntry;
  ItemCount = CurrentFileCount;
  DiskGiveUpHandler = give_up_installation;
  if ((SetupFlags & kSetupRemoveOthers) && !remove_previous_versions()) {
    // Nothing is installed: the first tick finds no item and the final
    // step reports the error.
    CurrentEntry = nullptr;
    ItemCount = 0;
    InstallRunning = true;
    return 1;
  }
  // A preparation run again after a cancelled one must not leak the
  // handle it left open.
  if (data_file != INVALID_FILE_HANDLE) close_file(data_file);
  copy_string(ArchivePath, SourcePath, kPathSize);
  data_file = open_file(ArchivePath, 0);
  if (data_file == INVALID_FILE_HANDLE) return fail_install(kErrorOpen, ArchivePath);
  seek_to(data_file, data_start + 4);
  InstallRunning = true;
  return 1;
}

bool remove_previous_versions() {
  char program[kUninstallStringSize];
  for (int v = 0; v < SetupTypeCount; ++v) {
    if (!is_removable(v) || !read_uninstall_string(SetupTypeTable[v].record.uninstall_name, program)) continue;
    FileHandle file = open_file(program, 0);
    if (file == INVALID_FILE_HANDLE) continue;
    close_file(file);
    // Quoted, so that a folder with a blank cannot start another program.
    char quoted[kUninstallStringSize + 2];
    quoted[0] = '"';
    copy_string(quoted + 1, program, kUninstallStringSize);  // always whole: it was read so
    append_string(quoted, "\"", sizeof quoted);
    HANDLE process;
    if (!start_program(quoted, "/X", &process)) return fail_removal(program);
    // The queue is looked at, never dispatched: no window procedure of the
    // wizard may run while another setup's uninstaller works.
    while (is_still_running(process)) look_at_messages();
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    // An uninstaller that did not remove everything keeps its file: it is
    // what can still remove the rest.
    if (code != 0) return fail_removal(program);
    DWORD start = GetTickCount();
    do {
      look_at_messages();
      if (delete_file(program)) break;
    } while (GetTickCount() - start < kDeleteWaitMs);
  }
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
