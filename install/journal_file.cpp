#include "install/journal_file.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/setup_log.h"
#include "base/unguessable_files.h"
#include "record/ended_run.h"
#include "record/journal_records.h"
#include "install/scope.h"

namespace {

struct JournalFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool begun = false;   // tried: a journal that could not be made is not tried again
  bool failed = false;  // a write failed: no change is made any more
  uint32_t head_size = 0;
  uint32_t seed = 0;
  char path[kPathSize] = "";
  char name[kJournalNameLimit + 1] = "";
};
JournalFile File;

// The product's name its journal is found by: its product id, else the
// uninstall name of a setup type, else the setup file's name.
void product_name(const char* uninstall_name, char* out) {
  const char* name = ProductIdentity ? reinterpret_cast<const char*>(ProductIdentity + kProductIdOffset)
                     : uninstall_name && *uninstall_name ? uninstall_name
                                                         : nullptr;
  if (!name) {
    name = SourcePath;
    for (const char* p = SourcePath; *p; ++p)
      if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  }
  copy_string(out, name, kJournalNameLimit + 1);
}

bool write_bytes(const void* bytes, uint32_t size) {
  DWORD written;
  return WriteFile(File.handle, bytes, size, &written, nullptr) && written == size;
}

void remove_anchor(const char* name) { remove_ended_run_value(product_root(), name); }

// The value that finds the file, then the file: a run ended in between
// leaves a value whose file is missing or shorter than its head, which
// the next run lets go, never a file that nothing finds. Without them the
// installation still goes on, with its journal in memory alone, as it
// says in the log.
bool begin_file() {
  File.begun = true;
  product_name(CurrentRecord ? CurrentRecord->uninstall_name : nullptr, File.name);
  char folder[kPathSize];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder || !add_backslash(folder, sizeof folder) ||
      !unguessable_name(folder, "kst", ".jnl", File.path, sizeof File.path))
    return false;
  HKEY key;
  if (create_key(product_root(), kEndedRunKey, &key) != ERROR_SUCCESS) return false;
  bool anchored = RegSetValueExA(key, File.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(File.path),
                                 static_cast<DWORD>(strlen(File.path) + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
  // Only this run's: created new, and shared with nobody while it runs.
  if (anchored)
    File.handle = CreateFileA(File.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (File.handle != INVALID_HANDLE_VALUE) {
    uint8_t head[12 + kJournalNameLimit];
    File.head_size = write_journal_head(File.name, head);
    File.seed = get_u32(head + File.head_size - 4);
    if (write_bytes(head, File.head_size) && FlushFileBuffers(File.handle)) return true;
    CloseHandle(File.handle);
    File.handle = INVALID_HANDLE_VALUE;
    DeleteFileA(File.path);
  }
  remove_anchor(File.name);
  // A file of that name that was there already is not ours.
  File.path[0] = '\0';
  return false;
}

}  // namespace

bool journal_file_add(const uint8_t* record, uint32_t size, bool flush) {
  if (File.failed) return false;
  if (!File.begun && !begin_file()) log_event("journal", "memory only");
  if (File.handle == INVALID_HANDLE_VALUE) return true;
  uint8_t checksum[4];
  uint32_t value = record_checksum(record, size, File.seed);
  put_u32(checksum, value);
  // A change that moves someone's file aside waits until its note is on
  // the disk; the others only reach the system's cache, which outlives
  // the process and is written soon after.
  if (!write_bytes(record, size) || !write_bytes(checksum, 4) || (flush && !FlushFileBuffers(File.handle))) {
    File.failed = true;
    return false;
  }
  File.seed = value;
  return true;
}

void journal_file_taken_back(uint32_t position, uint32_t index) {
  flag_taken_back(File.handle, File.head_size, position, index);
}

void journal_file_complete() {
  if (File.handle == INVALID_HANDLE_VALUE) return;
  uint8_t mark[kRecordHeaderSize + 2] = {};
  put_u32(mark, sizeof mark);
  mark[4] = kMarkComplete;
  uint8_t checksum[4];
  put_u32(checksum, record_checksum(mark, sizeof mark, File.seed));
  if (write_bytes(mark, sizeof mark) && write_bytes(checksum, 4)) FlushFileBuffers(File.handle);
}

void journal_file_end() {
  if (File.handle != INVALID_HANDLE_VALUE) CloseHandle(File.handle);
  // The file before the value: a value without its file is let go by the
  // next run, a file without its value would stay unfound.
  if (File.path[0] && (DeleteFileA(File.path) || GetLastError() == ERROR_FILE_NOT_FOUND)) remove_anchor(File.name);
  File = JournalFile();
}

bool find_interrupted_run(char* path) {
  // The value of any name this product's runs give their journals.
  bool found = false;
  for (int i = -1; i < SetupTypeCount && !found; ++i) {
    product_name(i < 0 ? nullptr : SetupTypeTable[i].record.uninstall_name, File.name);
    found = ended_run_path(product_root(), File.name, path);
  }
  if (!found) remove_empty_ended_run_keys(product_root());
  return found && !ended_run_still_going(path);
}

bool read_interrupted_journal(const char* path, uint8_t** changes, JournalContents* contents) {
  EndedRun run;
  EndedRunReading reading = read_ended_run(product_root(), path, File.name, &run);
  *changes = run.changes;
  *contents = run.contents;
  if (reading != EndedRunReading::kTrusted) return false;
  // The journal is this run's now: its changes are flagged in it as they
  // are taken back, and it goes when they all are.
  char name[kJournalNameLimit + 1];
  copy_string(name, File.name, sizeof name);
  File = JournalFile();
  File.begun = true;
  File.handle = run.file;
  copy_string(File.path, path, sizeof File.path);
  copy_string(File.name, name, sizeof File.name);
  File.head_size = run.head_size;
  return true;
}
