#include "base/restart.h"

#include <windows.h>

#include "base/globals.h"
#include "base/system_libraries.h"

void restart_windows() {
  if (IsNtFamily) {
    // The NT family's security calls, which the Windows 95 family lacks.
    typedef BOOL(WINAPI * OpenToken)(HANDLE, DWORD, HANDLE*);
    typedef BOOL(WINAPI * LookupPrivilege)(const char*, const char*, LUID*);
    typedef BOOL(WINAPI * AdjustPrivileges)(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD, TOKEN_PRIVILEGES*, DWORD*);
    OpenToken open_token = as_call<OpenToken>(loaded_library_call("advapi32.dll", "OpenProcessToken"));
    LookupPrivilege lookup = as_call<LookupPrivilege>(loaded_library_call("advapi32.dll", "LookupPrivilegeValueA"));
    AdjustPrivileges adjust = as_call<AdjustPrivileges>(loaded_library_call("advapi32.dll", "AdjustTokenPrivileges"));
    HANDLE token;
    if (!open_token || !lookup || !adjust ||
        !open_token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
      return;
    TOKEN_PRIVILEGES privileges = {};
    lookup(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    adjust(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  ExitWindowsEx(EWX_REBOOT, 0);
}
