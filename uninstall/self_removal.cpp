#include "uninstall/self_removal.h"

#include <windows.h>

#include <string.h>

#include "base/path_strings.h"
#include "base/unguessable_files.h"

namespace {

// Tries for about this many seconds (ping waits one second between its
// two echoes); a file that still cannot be deleted then stays.
constexpr int kAttempts = 30;

// A quoted path, every character of it doubled at worst, and room for the
// command around it.
enum : unsigned { kQuotedSize = 2 * MAX_PATH + 2, kCommandSize = 3 * MAX_PATH + 16 };

// The short form needs no quotes on the Windows 95 family's command.com;
// a path that has none is quoted as it stands. A percent sign is doubled:
// the command interpreter would take it for the start of a variable.
void quote_for_batch(const char* path, char* quoted) {
  char short_path[MAX_PATH];
  DWORD n = GetShortPathNameA(path, short_path, sizeof short_path);
  const char* text = n != 0 && n < sizeof short_path ? short_path : path;
  size_t used = 0;
  quoted[used++] = '"';
  for (; *text && used + 3 < kQuotedSize; ++text) {
    if (*text == '%') quoted[used++] = '%';
    quoted[used++] = *text;
  }
  quoted[used++] = '"';
  quoted[used] = '\0';
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

bool remove_after_exit(const char* own_path) {
  char temp_dir[MAX_PATH];
  DWORD n = GetTempPathA(sizeof temp_dir, temp_dir);
  if (n == 0 || n >= sizeof temp_dir) return false;
  char batch_path[MAX_PATH];
  HANDLE file = create_unguessable_file(temp_dir, "kun", ".bat", batch_path, sizeof batch_path);
  if (file == INVALID_HANDLE_VALUE) return false;

  DWORD attributes = GetFileAttributesA(own_path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(own_path, attributes & ~FILE_ATTRIBUTE_READONLY);
  char own[kQuotedSize], quoted_batch[kQuotedSize];
  quote_for_batch(own_path, own);
  quote_for_batch(batch_path, quoted_batch);
  Batch batch{file, true};
  batch.put("@echo off\r\n");
  for (int i = 0; i < kAttempts; ++i) {
    batch.line("del ", own, " >nul\r\n");
    batch.line("if not exist ", own, " goto gone\r\n");
    batch.put("ping -n 2 127.0.0.1 >nul\r\n");
  }
  batch.line(":gone\r\ndel ", quoted_batch, " >nul\r\n");
  CloseHandle(file);
  if (!batch.ok) {
    DeleteFileA(batch_path);
    return false;
  }

  char shell[MAX_PATH];
  n = GetEnvironmentVariableA("COMSPEC", shell, sizeof shell);
  if (n == 0 || n >= sizeof shell) lstrcpyA(shell, GetVersion() < 0x80000000 ? "cmd.exe" : "command.com");
  // The batch by its name alone, from its folder: a percent sign of the
  // folder would be taken for a variable on the command line, where no
  // doubling helps.
  char command[kCommandSize];
  copy_string(command, "\"", sizeof command);
  append_string(command, shell, sizeof command);
  append_string(command, "\" /c ", sizeof command);
  append_string(command, batch_path + strlen(temp_dir), sizeof command);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr, temp_dir, &startup,
                      &process)) {
    DeleteFileA(batch_path);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
