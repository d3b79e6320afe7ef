#include "uninstall/removal_progress.h"

#include <windows.h>

#include "base/byte_order.h"
#include "base/globals.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/setup_log.h"

namespace {

// The file: u32 kProgressMagic, u32 the shared counts lowered (the last
// of them perhaps only begun), u32 how the last one went: kPending while
// it is being lowered, else 1 + its SharedRelease.
enum : uint32_t { kProgressMagic = 0x4D52534B, kPending = 0 };  // "KSRM"

struct Progress {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint32_t done_before = 0;  // begun by the run that was ended
  uint32_t last_outcome = kPending;
  uint32_t steps = 0;  // taken by this run, counted from the start
};
Progress State;

bool progress_path(const char* installed, char* path) {
  return copy_string(path, installed, kPathSize) && set_extension(path, kPathSize, ".removing");
}

}  // namespace

void begin_removal_progress(const char* installed) {
  State = Progress();
  char path[kPathSize];
  if (!progress_path(installed, path)) return;
  State.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (State.file == INVALID_HANDLE_VALUE) return;
  uint8_t bytes[12];
  DWORD read = 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS && ReadFile(State.file, bytes, sizeof bytes, &read, nullptr) &&
      read == sizeof bytes && get_u32(bytes) == kProgressMagic) {
    State.done_before = get_u32(bytes + 4);
    State.last_outcome = get_u32(bytes + 8);
    log_number("resumed", static_cast<long>(State.done_before), path);
  }
}

namespace {

void write_progress(uint32_t steps, uint32_t outcome) {
  if (State.file == INVALID_HANDLE_VALUE) return;
  uint8_t bytes[12];
  put_u32(bytes, kProgressMagic);
  put_u32(bytes + 4, steps);
  put_u32(bytes + 8, outcome);
  DWORD written;
  SetFilePointer(State.file, 0, nullptr, FILE_BEGIN);
  WriteFile(State.file, bytes, sizeof bytes, &written, nullptr);
}

}  // namespace

SharedRelease release_shared_count_once(const char* path) {
  uint32_t step = State.steps++;
  if (step < State.done_before) {
    if (step + 1 == State.done_before && State.last_outcome != kPending)
      return static_cast<SharedRelease>(State.last_outcome - 1);
    // Lowered by the earlier run. A count still there has other users; one
    // that is gone was the last when that run ended while lowering it (its
    // file is then to go); before that, its file went in that run already.
    HKEY key;
    bool counted = open_key(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
    if (counted) {
      counted = RegQueryValueExA(key, path, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
      RegCloseKey(key);
    }
    if (counted) return SharedRelease::kStillUsed;
    return step + 1 == State.done_before ? SharedRelease::kLastUser : SharedRelease::kUnknown;
  }
  write_progress(step + 1, kPending);
  SharedRelease release = release_shared_count(path);
  write_progress(step + 1, 1 + static_cast<uint32_t>(release));
  return release;
}

void end_removal_progress(const char* installed) {
  if (State.file != INVALID_HANDLE_VALUE) CloseHandle(State.file);
  State = Progress();
  char path[kPathSize];
  if (progress_path(installed, path)) DeleteFileA(path);
}
