#include "app/scope_choice.h"

#include <windows.h>

#include "app/relaunch.h"
#include "app/unattended.h"
#include "archive/config.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/setup_log.h"
#include "install/desktop_shell.h"
#include "install/scope.h"

namespace {

enum { kTextAskScope = 53, kTextMachineOnly = 54 };

// This setup again with administrator rights, its switches and /ALLUSERS;
// answers that run's exit code.
int run_elevated(const char* command_line) {
  char own[kPathSize], parameters[kRelaunchCommandSize];
  DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
  if (n == 0 || n >= sizeof own || !copy_string(parameters, command_line, sizeof parameters) ||
      !append_string(parameters, " /ALLUSERS", sizeof parameters))
    return kExitBadCommandLine;
  close_log();  // the new run writes it anew
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "runas";
  info.lpFile = own;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExA(&info) && info.hProcess) return wait_for_copy(info.hProcess);
  // Refused at the prompt for the rights, the user has cancelled.
  return GetLastError() == ERROR_CANCELLED ? kExitCancelled : kExitFailed;
}

}  // namespace

bool settle_scope(const char* command_line, int* code) {
  if (!HasScopeChoice) return false;
  bool elevated = runs_elevated();
  bool machine = Switches.scope == SetupScope::kAllUsers || (Switches.scope == SetupScope::kNotGiven && elevated);
  *code = kExitCancelled;
  if (get_u32(ScopeChoice) & kScopeMachineOnly) {
    machine = true;
    if (!unattended() && !elevated && message_text(kTextMachineOnly, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
      return true;
  } else if (!unattended() && Switches.scope == SetupScope::kNotGiven) {
    int answer = message_text(kTextAskScope, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return true;
    machine = answer == IDYES;
  }
  if (machine && !elevated) {
    *code = run_elevated(command_line);
    return true;
  }
  log_event("scope", machine ? "all users" : "this user");
  choose_scope(!machine);
  return false;
}
