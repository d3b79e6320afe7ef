#include "uninstall/self_removal.h"

#include <windows.h>

#include <string.h>

#include "app/path_strings.h"
#include "app/unguessable_files.h"

namespace {

// Tries for about this many seconds (ping waits one second between its
// two echoes); a file that still cannot be deleted then stays.
constexpr int kAttempts = 30;

// A quoted path and room for the command around it.
enum : unsigned { kQuotedSize = MAX_PATH + 2, kCommandSize = 2 * MAX_PATH + 16 };

// The short form needs no quotes on the Windows 95 family's command.com;
// a path that has none is quoted as it stands.
void quote_for_batch(const char* path, char* quoted) {
  char short_path[MAX_PATH];
  DWORD n = GetShortPathNameA(path, short_path, sizeof short_path);
  copy_string(quoted, "\"", kQuotedSize);
  append_string(quoted, n != 0 && n < sizeof short_path ? short_path : path, kQuotedSize);
  append_string(quoted, "\"", kQuotedSize);
}

bool create_batch(const char* temp_dir, char* batch_path, HANDLE* file) {
  *file = create_unguessable_file(temp_dir, "kun", ".bat", batch_path, MAX_PATH);
  return *file != INVALID_HANDLE_VALUE;
}

// Writes the batch text piece by piece; ok turns false for good at the
// first failed or short write.
struct Batch {
  HANDLE file;
  bool ok;
  void put(const char* text) {
    DWORD n = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    ok = ok && WriteFile(file, text, n, &written, nullptr) && written == n;
  }
  void line(const char* command, const char* path, const char* rest) {
    put(command);
    put(path);
    put(rest);
  }
};

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
  char own[kQuotedSize], quoted_folder[kQuotedSize], quoted_batch[kQuotedSize];
  quote_for_batch(own_path, own);
  quote_for_batch(folder, quoted_folder);
  quote_for_batch(batch_path, quoted_batch);
  Batch batch{file, true};
  batch.put("@echo off\r\n");
  for (int i = 0; i < kAttempts; ++i) {
    batch.line("del ", own, " >nul\r\n");
    batch.line("if not exist ", own, " goto gone\r\n");
    batch.put("ping -n 2 127.0.0.1 >nul\r\n");
  }
  batch.line(":gone\r\nrd ", quoted_folder, " >nul\r\n");
  batch.line("del ", quoted_batch, " >nul\r\n");
  CloseHandle(file);
  if (!batch.ok) {
    DeleteFileA(batch_path);
    return false;
  }

  char shell[MAX_PATH];
  n = GetEnvironmentVariableA("COMSPEC", shell, sizeof shell);
  if (n == 0 || n >= sizeof shell) lstrcpyA(shell, GetVersion() < 0x80000000 ? "cmd.exe" : "command.com");
  char command[kCommandSize];
  copy_string(command, "\"", sizeof command);
  append_string(command, shell, sizeof command);
  append_string(command, "\" /c ", sizeof command);
  append_string(command, quoted_batch, sizeof command);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  // Started from the temporary folder, so the shell does not hold the
  // installation folder as its current folder.
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr, temp_dir, &startup,
                      &process)) {
    DeleteFileA(batch_path);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
