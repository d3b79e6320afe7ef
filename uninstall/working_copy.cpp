#include "uninstall/working_copy.h"

#include <string.h>

#include "base/path_strings.h"
#include "base/uninstall_turn.h"
#include "base/unguessable_files.h"

namespace {

const char kCopySwitch[] = "/WORKCOPY:";
const char kLogSwitch[] = "/LOG=";
// The installed program ends as soon as it has the answer.
enum : DWORD { kEndWaitMs = 10000 };
// A virus scanner may hold a program file that was just written, and the
// system then refuses to write or start it for a moment; a few tries a
// second apart outlast that.
enum : int { kStartTries = 5 };
enum : DWORD { kStartPauseMs = 1000 };
// The copy's first byte, before any answer: from then on it works, and an
// end without an answer is no longer a start to try again.
enum : BYTE { kCopyBegun = 0xFF };
// wsprintfA writes at most 1024 bytes.
enum : unsigned { kCommandSize = 1024 };

// The next blank-separated word into out (capacity bytes, cut to fit); a
// word in double quotes may hold blanks. False at the end of the line.
bool next_word(const char** cursor, char* out, size_t capacity) {
  const char* p = *cursor;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\0') return false;
  size_t n = 0;
  bool quoted = false;
  for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (n + 1 < capacity) {
      out[n++] = *p;
    }
  }
  out[n] = '\0';
  *cursor = p;
  return true;
}

bool read_hex(const char** p, ULONG_PTR* value) {
  *value = 0;
  const char* start = *p;
  for (;; ++*p) {
    char c = **p;
    unsigned digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 16;
    if (digit == 16) break;
    *value = *value * 16 + digit;
  }
  return *p != start;
}

// "/WORKCOPY:answer:process", both handles in hex.
bool read_handles(const char* word, UninstallerArguments* out) {
  const char* p = word + sizeof kCopySwitch - 1;
  ULONG_PTR answer = 0, process = 0;
  if (!read_hex(&p, &answer) || *p++ != ':' || !read_hex(&p, &process) || *p != '\0') return false;
  out->answer = reinterpret_cast<HANDLE>(answer);
  out->original_process = reinterpret_cast<HANDLE>(process);
  return true;
}

void send_byte(HANDLE pipe, BYTE byte) {
  DWORD put = 0;
  WriteFile(pipe, &byte, 1, &put, nullptr);
}

// A program started by one without a window may not take the foreground
// unless that one lets it; the call exists from Windows 98 and 2000 on.
void let_take_foreground(DWORD process_id) {
  typedef BOOL(WINAPI * Allow)(DWORD);
  HMODULE user = GetModuleHandleA("user32.dll");
  Allow allow = user ? reinterpret_cast<Allow>(reinterpret_cast<void (*)()>(
                           GetProcAddress(user, "AllowSetForegroundWindow")))
                     : nullptr;
  if (allow) allow(process_id);
}

// Starts the copy with inherited handles for its answer and for waiting
// on this process. Answers its exit code; kNoWorkingCopy when it began
// but ended without one; -1 when it never began (it could not be
// started, or it ended before it ran), which another try may mend.
int start_and_wait(const char* copy, const char* folder, const char* own_path, const UninstallerArguments& arguments) {
  HANDLE self = GetCurrentProcess();
  HANDLE read_end = nullptr, write_end = nullptr, answer = nullptr, process = nullptr;
  if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return kNoWorkingCopy;
  // Only the copy's ends are inherited, so that the pipe breaks when the
  // copy ends without an answer.
  bool handles = DuplicateHandle(self, write_end, self, &answer, 0, TRUE, DUPLICATE_SAME_ACCESS) &&
                 DuplicateHandle(self, self, self, &process, SYNCHRONIZE, TRUE, 0);
  CloseHandle(write_end);
  char command[kCommandSize];
  wsprintfA(command, "\"%s\"%s%s /LOG=\"%s\" %s%lx:%lx \"%s\"", copy, arguments.by_setup ? " /X" : "",
            arguments.silent ? " /SILENT" : "", arguments.log, kCopySwitch,
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(answer)),
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(process)), own_path);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  // The copy works from the temporary folder, which holds none of the
  // folders it removes.
  bool running = handles && CreateProcessA(copy, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                                           folder, &startup, &started);
  if (answer) CloseHandle(answer);
  if (process) CloseHandle(process);
  int code = -1;
  if (running) {
    let_take_foreground(started.dwProcessId);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    BYTE byte = 0;
    DWORD got = 0;
    while (ReadFile(read_end, &byte, 1, &got, nullptr) && got == 1) {
      if (byte != kCopyBegun) {
        code = byte;
        break;
      }
      code = kNoWorkingCopy;
    }
  }
  CloseHandle(read_end);
  return code;
}

}  // namespace

void read_arguments(const char* command_line, UninstallerArguments* out) {
  *out = UninstallerArguments();
  const char* cursor = command_line ? command_line : "";
  char word[MAX_PATH + 8];
  while (next_word(&cursor, word, sizeof word)) {
    // Either prefix, as the setup takes its switches.
    if (word[0] == '-') word[0] = '/';
    if (lstrcmpiA(word, "/X") == 0) {
      out->by_setup = true;
    } else if (lstrcmpiA(word, "/SILENT") == 0 || lstrcmpiA(word, "/VERYSILENT") == 0) {
      out->silent = true;
    } else if (_strnicmp(word, kLogSwitch, sizeof kLogSwitch - 1) == 0) {
      copy_string(out->log, word + sizeof kLogSwitch - 1, sizeof out->log);
    } else if (_strnicmp(word, kCopySwitch, sizeof kCopySwitch - 1) == 0 && read_handles(word, out)) {
      out->working_copy = next_word(&cursor, out->original, sizeof out->original) && out->original[0] != '\0';
    }
  }
}

namespace {

// The working copies of runs that were ended by force (killed, crashed)
// before they could delete themselves: "kun", eight hexadecimal digits,
// ".exe" in the temporary folder. One that still runs cannot be deleted.
void delete_ended_copies(const char* folder) {
  char path[MAX_PATH];
  if (!copy_string(path, folder, sizeof path) || !append_string(path, "kun????????.exe", sizeof path)) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const char* name = found.cFileName;
    bool ours = strlen(name) == 15 && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    for (int i = 3; ours && i < 11; ++i) ours = strchr("0123456789abcdefABCDEF", name[i]) != nullptr;
    if (ours && copy_string(path, folder, sizeof path) && append_string(path, name, sizeof path)) DeleteFileA(path);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

int run_working_copy(const char* own_path, const UninstallerArguments& arguments) {
  char folder[MAX_PATH], copy[MAX_PATH] = "";
  DWORD n = GetTempPathA(sizeof folder, folder);
  // The copy's path, its switches and both paths quoted.
  if (n == 0 || n >= sizeof folder || strlen(own_path) + strlen(arguments.log) + MAX_PATH + 64 > kCommandSize)
    return kNoWorkingCopy;
  delete_ended_copies(folder);
  int code = -1;
  for (int attempt = 0; attempt < kStartTries && code < 0; ++attempt) {
    if (attempt > 0) Sleep(kStartPauseMs);
    if (!copy[0]) {
      HANDLE file = create_unguessable_file(folder, "kun", ".exe", copy, sizeof copy);
      if (file == INVALID_HANDLE_VALUE) {
        copy[0] = '\0';
        continue;
      }
      CloseHandle(file);
    }
    // The copy is made once an earlier working copy has marked the record;
    // without the turn none is made.
    HANDLE turn = wait_for_turn(own_path);
    bool copied = turn && CopyFileA(own_path, copy, FALSE) != 0;
    release_turn(turn);
    if (copied) code = start_and_wait(copy, folder, own_path, arguments);
  }
  // A copy that never began is ours to delete; one that began deletes itself.
  if (code < 0) {
    if (copy[0]) DeleteFileA(copy);
    code = kNoWorkingCopy;
  }
  return code;
}

void tell_installed_program_begun(const UninstallerArguments& arguments) {
  send_byte(arguments.answer, kCopyBegun);
}

void answer_installed_program(const UninstallerArguments& arguments, int code) {
  send_byte(arguments.answer, static_cast<BYTE>(code));
  CloseHandle(arguments.answer);
  WaitForSingleObject(arguments.original_process, kEndWaitMs);
  CloseHandle(arguments.original_process);
}
