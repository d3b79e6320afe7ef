#include "uninstall/self_removal.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Tries for about this many seconds (ping waits one second between its
// two echoes); a file that still cannot be deleted then stays.
constexpr int kAttempts = 30;

// The short form needs no quotes on the Windows 95 family's command.com;
// a path that has none is quoted as it stands.
std::string batch_path_text(const char* path) {
  char short_path[MAX_PATH];
  DWORD n = GetShortPathNameA(path, short_path, sizeof short_path);
  return "\"" + std::string(n != 0 && n < sizeof short_path ? short_path : path) + "\"";
}

bool create_batch(const char* temp_dir, char* batch_path, HANDLE* file) {
  for (unsigned tries = 0; tries < 100; ++tries) {
    int n = std::snprintf(batch_path, MAX_PATH, "%skun%lx.bat", temp_dir,
                          static_cast<unsigned long>(GetTickCount() + tries) & 0xFFFFF);
    if (n <= 0 || n >= MAX_PATH) return false;
    *file = CreateFileA(batch_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return true;
  }
  return false;
}

}  // namespace

bool remove_after_exit(const char* own_path, const char* folder) {
  char temp_dir[MAX_PATH];
  DWORD n = GetTempPathA(sizeof temp_dir, temp_dir);
  if (n == 0 || n >= sizeof temp_dir) return false;
  char batch_path[MAX_PATH];
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!create_batch(temp_dir, batch_path, &file)) return false;

  DWORD attributes = GetFileAttributesA(own_path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(own_path, attributes & ~FILE_ATTRIBUTE_READONLY);
  std::string own = batch_path_text(own_path);
  std::string script = "@echo off\r\n";
  for (int i = 0; i < kAttempts; ++i) {
    script += "del " + own + " >nul\r\n";
    script += "if not exist " + own + " goto gone\r\n";
    script += "ping -n 2 127.0.0.1 >nul\r\n";
  }
  script += ":gone\r\nrd " + batch_path_text(folder) + " >nul\r\n";
  script += "del " + batch_path_text(batch_path) + " >nul\r\n";
  DWORD written = 0;
  bool ok = WriteFile(file, script.data(), static_cast<DWORD>(script.size()), &written, nullptr) &&
            written == script.size();
  CloseHandle(file);
  if (!ok) {
    DeleteFileA(batch_path);
    return false;
  }

  char shell[MAX_PATH];
  n = GetEnvironmentVariableA("COMSPEC", shell, sizeof shell);
  if (n == 0 || n >= sizeof shell) lstrcpyA(shell, GetVersion() < 0x80000000 ? "cmd.exe" : "command.com");
  std::string command = "\"" + std::string(shell) + "\" /c " + batch_path_text(batch_path);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  // Started from the temporary folder, so the shell does not hold the
  // installation folder as its current folder.
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr, temp_dir,
                      &startup, &process)) {
    DeleteFileA(batch_path);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
