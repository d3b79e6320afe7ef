#include "install/running_programs.h"

#include <string.h>
#include <windows.h>
#include <tlhelp32.h>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/system_libraries.h"
#include "base/text_format.h"
#include "install/desktop_shell.h"
#include "install/destination.h"

namespace {

enum : int { kTextProgramsQuestion = 57, kTextNotClosed = 58, kMaxPrograms = 16 };
enum : DWORD { kCloseWaitMs = 10000 };

struct Program {
  DWORD id;
  bool closed;
  char name[64];
  char file[kPathSize];  // its program file, to start it again; empty where not found
};
Program Programs[kMaxPrograms];
int ProgramCount;
char Folder[kPathSize];  // InstallDir with its backslash

typedef HANDLE(WINAPI* Snapshot)(DWORD, DWORD);
typedef BOOL(WINAPI* Walk)(HANDLE, void*);
const char* const kToolhelpCalls[] = {"CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                                      "Module32First", "Module32Next"};
FARPROC Toolhelp[5];

bool have_toolhelp() {
  for (int i = 0; i < 5; ++i)
    if (!Toolhelp[i] && !(Toolhelp[i] = loaded_library_call("kernel32.dll", kToolhelpCalls[i]))) return false;
  return true;
}

// A process's first module is its program file.
void add_program(DWORD id, const char* name) {
  if (id == GetCurrentProcessId() || ProgramCount == kMaxPrograms) return;
  for (int i = 0; i < ProgramCount; ++i)
    if (Programs[i].id == id) return;
  Program& program = Programs[ProgramCount++];
  program.id = id;
  program.closed = false;
  copy_string(program.name, name, sizeof program.name);
  program.file[0] = '\0';
  HANDLE modules = have_toolhelp() ? as_call<Snapshot>(Toolhelp[0])(TH32CS_SNAPMODULE, id) : INVALID_HANDLE_VALUE;
  if (modules == INVALID_HANDLE_VALUE) return;
  MODULEENTRY32 module;
  module.dwSize = sizeof module;
  if (as_call<Walk>(Toolhelp[3])(modules, &module)) copy_string(program.file, module.szExePath, kPathSize);
  CloseHandle(modules);
}

// RM_PROCESS_INFO, of which only the process and its name are read.
struct RestartInfo {
  DWORD id;
  FILETIME started;
  WCHAR name[256];
  WCHAR service[64];
  DWORD type, status, session;
  BOOL restartable;
};
typedef DWORD(WINAPI* RmStartSession)(DWORD*, DWORD, WCHAR*);
typedef DWORD(WINAPI* RmRegisterResources)(DWORD, UINT, const WCHAR**, UINT, void*, UINT, const WCHAR**);
typedef DWORD(WINAPI* RmGetList)(DWORD, UINT*, UINT*, RestartInfo*, DWORD*);
typedef DWORD(WINAPI* RmEndSession)(DWORD);

// The Restart Manager asked about the items' files of the folder that
// are there.
void ask_restart_manager() {
  HMODULE library = load_system_library("rstrtmgr.dll");
  if (!library) return;
  FARPROC start = GetProcAddress(library, "RmStartSession"), add = GetProcAddress(library, "RmRegisterResources"),
          list = GetProcAddress(library, "RmGetList"), end = GetProcAddress(library, "RmEndSession");
  DWORD session;
  WCHAR key[34];
  WCHAR* names = nullptr;
  if (start && add && list && end && as_call<RmStartSession>(start)(&session, 0, key) == 0) {
    const WCHAR** files = nullptr;
    UINT count = 0, needed = 0, found = kMaxPrograms;
    uint8_t* entry = CurrentFirstEntry;
    if (alloc_block(CurrentFileCount * (kPathSize * sizeof(WCHAR) + sizeof(WCHAR*)) + 1, &names)) {
      files = reinterpret_cast<const WCHAR**>(names + CurrentFileCount * kPathSize);
      for (uint32_t i = 0; i < CurrentFileCount; ++i, entry = next_entry(entry)) {
        if (entry[kEntryKind] > kKindRemovable || (entry[kEntryFlags] & kItemUninstaller) ||
            entry[kEntryFolderCode] != kFolderInstallDir)
          continue;
        item_destination(entry);
        if (GetFileAttributesA(DestPath) == INVALID_FILE_ATTRIBUTES) continue;
        WCHAR* name = names + count * kPathSize;
        MultiByteToWideChar(CP_ACP, 0, DestPath, -1, name, kPathSize);
        files[count++] = name;
      }
    }
    static RestartInfo info[kMaxPrograms];
    DWORD reasons;
    if (count && as_call<RmRegisterResources>(add)(session, count, files, 0, nullptr, 0, nullptr) == 0 &&
        as_call<RmGetList>(list)(session, &needed, &found, info, &reasons) == 0)
      for (UINT i = 0; i < found; ++i) {
        char name[64];
        WideCharToMultiByte(CP_ACP, 0, info[i].name, -1, name, sizeof name, nullptr, nullptr);
        name[sizeof name - 1] = '\0';
        add_program(info[i].id, name);
      }
    as_call<RmEndSession>(end)(session);
  }
  free_block(&names);
  FreeLibrary(library);
}

// The processes with a module in the folder.
void walk_processes() {
  if (!have_toolhelp()) return;
  const FARPROC* calls = Toolhelp;
  Snapshot snapshot = as_call<Snapshot>(calls[0]);
  HANDLE processes = snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 process;
  process.dwSize = sizeof process;
  size_t n = strlen(Folder);
  for (BOOL more = as_call<Walk>(calls[1])(processes, &process); more;
       more = as_call<Walk>(calls[2])(processes, &process)) {
    HANDLE modules = snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    if (modules == INVALID_HANDLE_VALUE) continue;
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    for (BOOL next = as_call<Walk>(calls[3])(modules, &module); next; next = as_call<Walk>(calls[4])(modules, &module))
      if (same_folded(module.szExePath, Folder, n) && lstrcmpiA(module.szExePath, SourcePath) != 0) {
        const char* slash = strrchr(process.szExeFile, '\\');
        add_program(process.th32ProcessID, slash ? slash + 1 : process.szExeFile);
        break;
      }
    CloseHandle(modules);
  }
  CloseHandle(processes);
}

BOOL CALLBACK close_window(HWND window, LPARAM id) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(id)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// Text 6/`text` with the names of the programs not closed, one a line, in
// its %s; asked or shown in `style`.
int tell_programs(int text, unsigned style) {
  char names[kMessageCapacity / 2] = "", message[kMessageCapacity];
  for (int i = 0; i < ProgramCount; ++i) {
    if (Programs[i].closed) continue;
    append_string(names, Programs[i].name, sizeof names);
    append_string(names, "\r\n", sizeof names);
  }
  format_text(message, sizeof message, get_text(6, text), names);
  return message_box(message, style);
}

}  // namespace

void close_running_programs() {
  if (!ProductIdentity) return;
  ProgramCount = 0;
  copy_string(Folder, InstallDir, sizeof Folder);
  add_backslash(Folder, sizeof Folder);
  ask_restart_manager();
  if (!ProgramCount) walk_processes();
  if (!ProgramCount) return;
  for (int i = 0; i < ProgramCount; ++i) log_event("program", Programs[i].name, "running");
  bool close = Switches.close_applications || (ProductIdentity[1] & kCloseApplications);
  if (tell_programs(kTextProgramsQuestion, MB_YESNO | MB_ICONQUESTION | (close ? 0 : MB_DEFBUTTON2)) != IDYES) return;
  for (int i = 0; i < ProgramCount; ++i) EnumWindows(close_window, static_cast<LPARAM>(Programs[i].id));
  DWORD started = GetTickCount();
  bool left = false;
  for (int i = 0; i < ProgramCount; ++i) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, Programs[i].id);
    DWORD passed = GetTickCount() - started;
    bool ended = !process || WaitForSingleObject(process, passed < kCloseWaitMs ? kCloseWaitMs - passed : 0) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    log_event("program", Programs[i].name, ended ? "closed" : "still-running");
    Programs[i].closed = ended;
    left |= !ended;
  }
  if (left) tell_programs(kTextNotClosed, MB_OK | MB_ICONEXCLAMATION);
}

void restart_closed_programs() {
  if (!Switches.restart_applications) return;
  for (int i = 0; i < ProgramCount; ++i) {
    Program& program = Programs[i];
    if (!program.closed || !program.file[0]) continue;
    program.closed = false;
    // As the desktop's user where the setup has more rights, as the
    // program item is started.
    bool started = runs_elevated() && start_through_shell(program.file, "", "");
    if (!started) {
      char command[kPathSize + 2] = "\"";
      append_string(command, program.file, sizeof command);
      append_string(command, "\"", sizeof command);
      started = WinExec(command, SW_SHOWNORMAL) > 31;
    }
    log_event("program", program.name, started ? "restarted" : "not-restarted");
  }
}
