#include "app/relaunch.h"

#include <windows.h>

#include "archive/loader.h"
#include "archive/pe_header.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/unguessable_files.h"

bool started_from_removable_media() {
  char root[kPathSize];
  DWORD n = GetModuleFileNameA(nullptr, root, sizeof root);
  if (n == 0 || n >= sizeof root) return false;
  // A drive path is cut to its root; a network path is asked about whole.
  if (root[0] && root[1] == ':' && root[2] == '\\') root[3] = '\0';
  return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

// Creates a new "_inst<random>.exe" in the temporary folder; its path
// stays in TempPath.
static FileHandle create_relaunch_file() {
  char folder[kPathSize];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder || !add_backslash(folder, sizeof folder)) return INVALID_FILE_HANDLE;
  return create_unguessable_file(folder, "_inst", ".exe", TempPath, kPathSize);
}

// The stub's bytes of SourcePath into `copy`; false when any of them could
// not be read or written, as a cut stub would not run. A signed setup's
// header names the certificate table at the end of the setup file, which
// the copy does not carry: the copy names none.
static bool copy_stub(FileHandle copy) {
  if (StubSize == 0) return false;
  FileHandle source = open_file(SourcePath, 0);
  if (source == INVALID_FILE_HANDLE) return false;
  uint8_t* buffer = nullptr;
  bool copied = alloc_block(StubSize, &buffer) && read_exact(source, buffer, StubSize) == 0;
  if (copied) forget_missing_certificate_table(buffer, StubSize);
  copied = copied && write_all(copy, buffer, StubSize) == 0;
  free_block(&buffer);
  close_file(source);
  return copied;
}

// ` name"value"` after the command; true when there is no value to pass.
static bool append_quoted(char* command, size_t capacity, const char* name, const char* value) {
  return !value[0] || (append_string(command, name, capacity) && append_string(command, value, capacity) &&
                       append_string(command, "\"", capacity));
}

// The switches this run accepted, so that the copy runs as this run would
// have. Unattended runs never relaunch: there is no mode to pass.
static bool append_switches(char* command, size_t capacity) {
  char type[] = " /TYPE=0";
  type[sizeof type - 2] = static_cast<char>('0' + Switches.setup_type);
  return append_quoted(command, capacity, " /DIR=\"", Switches.dir) &&
         append_quoted(command, capacity, " /LOG=\"", Switches.log) &&
         append_quoted(command, capacity, " /LANG=\"", Switches.lang) &&
         (!Switches.has_type || append_string(command, type, capacity)) &&
         (!Switches.no_restart || append_string(command, " /NORESTART", capacity)) &&
         (Switches.scope != SetupScope::kAllUsers || append_string(command, " /ALLUSERS", capacity)) &&
         (Switches.scope != SetupScope::kCurrentUser || append_string(command, " /CURRENTUSER", capacity));
}

bool make_relaunch_copy(char* command, size_t capacity) {
  FileHandle copy = create_relaunch_file();
  if (copy == INVALID_FILE_HANDLE) return false;
  bool copied = copy_stub(copy);
  close_file(copy);
  // Both paths quoted: a blank in the temporary folder would otherwise end
  // the program's name there and push its switches out of reach.
  bool made = copied && copy_string(command, "\"", capacity) && append_string(command, TempPath, capacity) &&
              append_string(command, "\" /S\"", capacity) && append_string(command, SourcePath, capacity) &&
              append_string(command, "\" /DEL", capacity) && append_switches(command, capacity);
  if (!made) delete_file(TempPath);
  return made;
}

bool relaunch_from_removable_media(int show, HANDLE* copy) {
  char command[kRelaunchCommandSize];
  if (!started_from_removable_media() || !make_relaunch_copy(command, sizeof command)) return false;
  // The copy writes the log anew, and cannot while this run holds it.
  close_log();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION started;
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    CloseHandle(started.hThread);
    *copy = started.hProcess;
    return true;
  }
  // The copy did not start: run in place rather than not at all.
  if (Switches.log[0]) open_log_to_append(Switches.log);
  delete_file(TempPath);
  return false;
}

int wait_for_copy(HANDLE copy) {
  // Messages sent to this process's windows (broadcasts) must not wait
  // for the whole installation.
  while (MsgWaitForMultipleObjects(1, &copy, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(copy, &code);
  CloseHandle(copy);
  return static_cast<int>(code);
}
