// Stands in for a setup that knows the silent switches, for the tests of
// `kestrel try`. It installs a small product without a window and registers
// itself, copied into the product's folder, as the uninstaller.
//
//   setup:       sample-setup.exe /VERYSILENT [/NORESTART] [/DIR="path"] [/TYPE=n] [/LOG="path"]
//   uninstaller: uninstall.exe /SILENT [/KEEP]
//
// The setup type chooses what goes wrong, so that each outcome of a trial
// can be produced for real:
//   0  a clean product: the uninstaller removes everything;
//   1  registers only "UninstallString" (quoted), with /KEEP in it: the
//      uninstaller leaves the registry value and settings.ini behind;
//   2  fails: writes one file, removes it again and ends with 1603;
//   3  replaces readme.txt at the next restart and ends with 3010;
//   4  waits for an answer that never comes;
//   5  as 0, but first writes beside itself (#SourceDir#): a new file, and
//      beside.txt, which it finds there, changed.
#include <windows.h>
#include <shlobj.h>

#include <string.h>

namespace {

enum : int { kSuccess = 0, kRestartNeeded = 3010, kCancelled = 1602, kFailed = 1603 };

const char kProduct[] = "Kestrel Try Sample";
const char kValueKey[] = "Software\\Kestrel Try Sample";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel Try Sample";
const char kReadme[] = "Read me: the sample product.\r\n";
const char kReadmeAfterRestart[] = "Read me: the sample product, replaced at the restart.\r\n";

struct Switches {
  bool very_silent;
  bool silent;
  bool keep;
  int type;
  char dir[MAX_PATH];
  char log[MAX_PATH];
};

// Copies the switch's value (after NAME=, quotes dropped) into `out`.
bool take_value(const char* token, size_t length, const char* name, char* out, size_t size) {
  size_t n = strlen(name);
  if (length <= n || _strnicmp(token, name, n) != 0) return false;
  size_t j = 0;
  for (size_t i = n; i < length && j + 1 < size; ++i)
    if (token[i] != '"') out[j++] = token[i];
  out[j] = 0;
  return true;
}

void read_switches(const char* line, Switches* s) {
  // The program's own name first, quoted or not.
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line) {
    while (*line == ' ' || *line == '\t') ++line;
    const char* start = line;
    bool quoted = false;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
      if (*line == '"') quoted = !quoted;
      ++line;
    }
    size_t length = static_cast<size_t>(line - start);
    if (length < 2 || (start[0] != '/' && start[0] != '-')) continue;
    const char* t = start + 1;
    --length;
    char number[16];
    s->very_silent |= length == 10 && !_strnicmp(t, "VERYSILENT", 10);
    s->silent |= length == 6 && !_strnicmp(t, "SILENT", 6);
    s->keep |= length == 4 && !_strnicmp(t, "KEEP", 4);
    if (take_value(t, length, "TYPE=", number, sizeof number)) s->type = atoi(number);
    take_value(t, length, "DIR=", s->dir, sizeof s->dir);
    take_value(t, length, "LOG=", s->log, sizeof s->log);
  }
}

HANDLE Log = INVALID_HANDLE_VALUE;

void log_line(const char* action, const char* what) {
  if (Log == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(Log, action, lstrlenA(action), &written, nullptr);
  WriteFile(Log, "\t", 1, &written, nullptr);
  WriteFile(Log, what, lstrlenA(what), &written, nullptr);
  WriteFile(Log, "\r\n", 2, &written, nullptr);
}

void join(char* out, const char* folder, const char* name) {
  lstrcpynA(out, folder, MAX_PATH);
  size_t n = strlen(out);
  if (n && out[n - 1] != '\\' && n + 1 < MAX_PATH) lstrcatA(out, "\\");
  if (strlen(out) + strlen(name) < MAX_PATH) lstrcatA(out, name);
}

// A name beyond ASCII, made through the wide calls so that it does not
// hang on the prefix's ANSI code page: "Übersicht.txt".
const wchar_t kOverview[] = L"\u00DCbersicht.txt";

bool overview_path(const char* dir, wchar_t* out) {
  int n = MultiByteToWideChar(CP_ACP, 0, dir, -1, out, MAX_PATH);
  if (n <= 0 || n + 1 + lstrlenW(kOverview) > MAX_PATH) return false;
  lstrcatW(out, L"\\");
  lstrcatW(out, kOverview);
  return true;
}

bool write_text(const char* path, const char* text) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(f, text, lstrlenA(text), &written, nullptr);
  CloseHandle(f);
  log_line("file", path);
  return ok && written == static_cast<DWORD>(lstrlenA(text));
}

void set_string(HKEY root, const char* key_path, const char* name, const char* value) {
  HKEY key;
  if (RegCreateKeyA(root, key_path, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
  RegCloseKey(key);
  log_line("registry", name);
}

bool menu_folder(char* out) {
  char programs[MAX_PATH];
  if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE)) return false;
  join(out, programs, kProduct);
  return true;
}

void make_shortcut(const char* target, const char* link, const char* arguments) {
  IShellLinkA* shell_link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&shell_link))))
    return;
  shell_link->SetPath(target);
  shell_link->SetArguments(arguments);
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link, -1, wide, MAX_PATH);
    file->Save(wide, TRUE);
    file->Release();
    log_line("shortcut", link);
  }
  shell_link->Release();
}

int install(const Switches& s, const char* self) {
  char dir[MAX_PATH];
  if (s.dir[0]) {
    lstrcpynA(dir, s.dir, MAX_PATH);
  } else {
    char program_files[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, program_files, CSIDL_PROGRAM_FILES, FALSE)) return kFailed;
    join(dir, program_files, kProduct);
  }
  if (!CreateDirectoryA(dir, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    log_line("error", "cannot make the folder");
    return kFailed;
  }
  char path[MAX_PATH];
  if (s.type == 5) {
    char source[MAX_PATH];
    lstrcpynA(source, self, MAX_PATH);
    char* slash = strrchr(source, '\\');
    if (slash) *slash = 0;
    join(path, source, "written.txt");
    write_text(path, "written by the setup\r\n");
    join(path, source, "beside.txt");
    write_text(path, "changed by the setup\r\n");
  }
  join(path, dir, "readme.txt");
  if (s.type == 4) Sleep(INFINITE);
  if (s.type == 2) {
    write_text(path, kReadme);
    DeleteFileA(path);
    RemoveDirectoryA(dir);
    log_line("error", "1603 the sample fails on purpose");
    return kFailed;
  }
  if (!write_text(path, kReadme)) return kFailed;
  wchar_t overview[MAX_PATH];
  if (!overview_path(dir, overview)) return kFailed;
  HANDLE f = CreateFileW(overview, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return kFailed;
  DWORD written = 0;
  WriteFile(f, kReadme, lstrlenA(kReadme), &written, nullptr);
  CloseHandle(f);
  char program[MAX_PATH];
  join(program, dir, "sample.exe");
  char uninstaller[MAX_PATH];
  join(uninstaller, dir, "uninstall.exe");
  if (!CopyFileA(self, program, FALSE) || !CopyFileA(self, uninstaller, FALSE)) return kFailed;
  char ini[MAX_PATH];
  join(ini, dir, "settings.ini");
  WritePrivateProfileStringA("Sample", "Greeting", "hello", ini);
  WritePrivateProfileStringA(kProduct, "Folder", dir, "win.ini");
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "win.ini");
  set_string(HKEY_CURRENT_USER, kValueKey, "Greeting", "hello");
  char folder[MAX_PATH];
  if (menu_folder(folder)) {
    CreateDirectoryA(folder, nullptr);
    char link[MAX_PATH];
    join(link, folder, "Sample.lnk");
    make_shortcut(program, link, "/open \"readme.txt\"");
  }
  // The Add/Remove entry, as a real setup writes it.
  char command[2 * MAX_PATH];
  wsprintfA(command, "\"%s\"", uninstaller);
  set_string(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", kProduct);
  if (s.type == 1) {
    wsprintfA(command, "\"%s\" /KEEP", uninstaller);
    set_string(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", command);
  } else {
    set_string(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", command);
    wsprintfA(command, "\"%s\" /SILENT", uninstaller);
    set_string(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString", command);
  }
  if (s.type == 3) {
    char waiting[MAX_PATH];
    join(waiting, dir, "readme.new");
    write_text(waiting, kReadmeAfterRestart);
    if (!MoveFileExA(waiting, path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) return kFailed;
    log_line("scheduled", path);
    return kRestartNeeded;
  }
  return kSuccess;
}

// The uninstaller's own file and its folder go after it has ended.
void remove_after_exit(const char* self, const char* dir) {
  char command[3 * MAX_PATH];
  wsprintfA(command, "cmd /c ping -n 2 127.0.0.1 >nul & del \"%s\" & rd \"%s\"", self, dir);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

int uninstall(const Switches& s, const char* self) {
  if (!s.silent) return kCancelled;  // nobody to answer the question
  char dir[MAX_PATH];
  lstrcpynA(dir, self, MAX_PATH);
  char* slash = strrchr(dir, '\\');
  if (!slash) return kFailed;
  *slash = 0;
  char path[MAX_PATH];
  const char* files[] = {"readme.txt", "sample.exe", "settings.ini"};
  for (const char* name : files) {
    if (s.keep && !strcmp(name, "settings.ini")) continue;
    join(path, dir, name);
    DeleteFileA(path);
  }
  wchar_t overview[MAX_PATH];
  if (overview_path(dir, overview)) DeleteFileW(overview);
  char folder[MAX_PATH];
  if (menu_folder(folder)) {
    join(path, folder, "Sample.lnk");
    DeleteFileA(path);
    RemoveDirectoryA(folder);
  }
  WritePrivateProfileStringA(kProduct, nullptr, nullptr, "win.ini");
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, "win.ini");
  if (!s.keep) RegDeleteKeyA(HKEY_CURRENT_USER, kValueKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  remove_after_exit(self, dir);
  return kSuccess;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Switches s;
  memset(&s, 0, sizeof s);
  read_switches(GetCommandLineA(), &s);
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return kFailed;
  const char* name = strrchr(self, '\\');
  bool is_uninstaller = name && !lstrcmpiA(name + 1, "uninstall.exe");
  if (!is_uninstaller && !s.very_silent) return kCancelled;  // this stand-in has no window to show
  if (s.log[0]) Log = CreateFileA(s.log, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  CoInitialize(nullptr);
  int result = is_uninstaller ? uninstall(s, self) : install(s, self);
  CoUninitialize();
  if (Log != INVALID_HANDLE_VALUE) CloseHandle(Log);
  return result;
}
