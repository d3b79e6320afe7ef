#include "record/ended_run.h"

#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/setup_log.h"
#include "record/change_undo.h"

const char kEndedRunKey[] = "Software\\Kestrel\\Interrupted";

namespace {

const char kEndedRunParent[] = "Software\\Kestrel";
// A journal is a few hundred bytes per file installed; one larger than
// this is not one of ours.
enum : DWORD { kJournalFileLimit = 0x10000000 };

}  // namespace

bool ended_run_path(HKEY root, const char* name, char* path) {
  HKEY key;
  if (open_key(root, kEndedRunKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = kPathSize - 1;
  bool found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (found) {
    path[size < kPathSize ? size : kPathSize - 1] = '\0';
    if (type != REG_SZ) path[0] = '\0';
  }
  return found;
}

bool ended_run_still_going(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
    log_event("interrupted", "still running", path);
    return true;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return false;
}

void remove_empty_ended_run_keys(HKEY root) {
  remove_key_if_empty(root, kEndedRunKey);
  remove_key_if_empty(root, kEndedRunParent);
}

void remove_ended_run_value(HKEY root, const char* name) {
  HKEY key;
  if (open_key(root, kEndedRunKey, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
  remove_empty_ended_run_keys(root);
}

EndedRunReading read_ended_run(HKEY root, const char* path, const char* name, EndedRun* run) {
  *run = EndedRun();
  HANDLE file = path[0] ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
  DWORD error = GetLastError();
  uint8_t* bytes = nullptr;
  JournalReading reading = JournalReading::kNotAJournal;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD size = GetFileSize(file, nullptr);
    DWORD read = 0;
    bool whole = size != INVALID_FILE_SIZE && size <= kJournalFileLimit && alloc_block(size + 1, &bytes) &&
                 alloc_block(size + 1, &run->changes) && ReadFile(file, bytes, size, &read, nullptr) && read == size;
    if (whole) reading = read_journal(bytes, size, name, run->changes, &run->contents);
    free_block(&bytes);
    if (!whole && size <= kJournalFileLimit) {
      free_block(&run->changes);
      CloseHandle(file);
      log_event("interrupted", "not read", path);
      return EndedRunReading::kNotRead;
    }
  } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    reading = JournalReading::kCutShort;
  }
  static const char* const kReadings[] = {"whole", "cut short", "damaged", "not a journal", "another product"};
  log_event("interrupted", kReadings[static_cast<unsigned>(reading)], path);
  if (reading == JournalReading::kNotAJournal || reading == JournalReading::kOtherProduct) {
    // Not deleted either: only the value that led here goes.
    free_block(&run->changes);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    remove_ended_run_value(root, name);
    run->contents = JournalContents();
    return EndedRunReading::kUntrusted;
  }
  run->file = file;
  run->head_size = journal_head_size(name);
  return EndedRunReading::kTrusted;
}

void flag_taken_back(HANDLE file, uint32_t head_size, uint32_t at, uint32_t index) {
  if (file == INVALID_HANDLE_VALUE) return;
  static const uint8_t kFlags[2] = {kChangeTakenBack, 0};
  DWORD written;
  if (SetFilePointer(file, change_file_offset(head_size, at, index) + kFlagsOffset, nullptr, FILE_BEGIN) !=
      INVALID_SET_FILE_POINTER)
    WriteFile(file, kFlags, 2, &written, nullptr);
  SetFilePointer(file, 0, nullptr, FILE_END);
}

void end_ended_run(HKEY root, const char* path, const char* name, EndedRun* run) {
  if (run->file != INVALID_HANDLE_VALUE) CloseHandle(run->file);
  run->file = INVALID_HANDLE_VALUE;
  free_block(&run->changes);
  // The file before the value: a value without its file is let go by the
  // next run, a file without its value would stay unfound.
  if (path[0] && (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND)) remove_ended_run_value(root, name);
}
