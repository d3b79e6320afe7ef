// kestrel-try-runner COMMAND-FILE EXIT-FILE: starts the command line held
// in COMMAND-FILE (UTF-8), waits for it and writes its exit code in decimal
// into EXIT-FILE. `kestrel try` starts setups and uninstallers through it:
// Wine hands Linux only the low 8 bits of an exit code, but 3010 and 1603
// must reach the report whole, and the command line must reach Windows as
// it was registered, without a shell reading it first.
#include <windows.h>

namespace {

// CreateProcessW takes at most this many characters.
enum : DWORD { kCommandMax = 32767 };

int say(const char* text, DWORD error) {
  char line[160];
  wsprintfA(line, "kestrel-try-runner: %s (error %lu)\r\n", text, static_cast<unsigned long>(error));
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, lstrlenA(line), &written, nullptr);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return say("usage: kestrel-try-runner COMMAND-FILE EXIT-FILE", 0);
  HANDLE in = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return say("cannot open the command file", GetLastError());
  static char utf8[4 * kCommandMax];
  DWORD length = 0;
  BOOL read = ReadFile(in, utf8, sizeof utf8 - 1, &length, nullptr);
  CloseHandle(in);
  if (!read) return say("cannot read the command file", GetLastError());
  static wchar_t command[kCommandMax + 1];
  int n = length
              ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(length), command, kCommandMax)
              : 0;
  if (n <= 0) return say("the command is empty, too long or not UTF-8", GetLastError());
  command[n] = 0;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return say("cannot start the command", GetLastError());
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  BOOL known = GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (!known) return say("cannot read the exit code", GetLastError());

  char text[16];
  int size = wsprintfA(text, "%ld", static_cast<long>(code));
  HANDLE out = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return say("cannot create the exit file", GetLastError());
  DWORD written = 0;
  BOOL ok = WriteFile(out, text, static_cast<DWORD>(size), &written, nullptr) && written == static_cast<DWORD>(size);
  ok = CloseHandle(out) && ok;
  return ok ? 0 : say("cannot write the exit file", GetLastError());
}
