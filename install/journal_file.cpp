#include "install/journal_file.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/setup_log.h"
#include "base/unguessable_files.h"
#include "install/journal_records.h"
#include "install/scope.h"

namespace {

const char kAnchorKey[] = "Software\\Kestrel\\Interrupted";
const char kAnchorParent[] = "Software\\Kestrel";
// A journal is a few hundred bytes per file installed; one larger than
// this is not one of ours.
enum : DWORD { kJournalFileLimit = 0x10000000 };

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

// A key of ours that holds nothing goes; the Windows 95 family's
// RegDeleteKeyA would take a whole tree.
void remove_if_empty(HKEY root, const char* path) {
  HKEY key;
  if (open_key(root, path, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (result == ERROR_SUCCESS && subkeys == 0 && values == 0) delete_key(root, path);
}

// Windows makes a path's keys one by one: a run ended while it made the
// value's key can leave our keys empty, which the next run lets go.
void remove_empty_anchor_keys() {
  remove_if_empty(product_root(), kAnchorKey);
  remove_if_empty(product_root(), kAnchorParent);
}

void remove_anchor(const char* name) {
  HKEY key;
  if (open_key(product_root(), kAnchorKey, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
  remove_empty_anchor_keys();
}

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
  if (create_key(product_root(), kAnchorKey, &key) != ERROR_SUCCESS) return false;
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
  if (File.handle == INVALID_HANDLE_VALUE) return;
  static const uint8_t kFlags[2] = {kChangeTakenBack, 0};
  if (SetFilePointer(File.handle, change_file_offset(File.head_size, position, index) + kFlagsOffset, nullptr,
                     FILE_BEGIN) != INVALID_SET_FILE_POINTER)
    write_bytes(kFlags, 2);
  SetFilePointer(File.handle, 0, nullptr, FILE_END);
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
  HKEY key;
  if (open_key(product_root(), kAnchorKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    remove_empty_anchor_keys();
    return false;
  }
  // The value of any name this product's runs give their journals.
  bool found = false;
  for (int i = -1; i < SetupTypeCount && !found; ++i) {
    product_name(i < 0 ? nullptr : SetupTypeTable[i].record.uninstall_name, File.name);
    DWORD type = 0;
    DWORD size = kPathSize - 1;
    found = RegQueryValueExA(key, File.name, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS;
    if (found) {
      path[size < kPathSize ? size : kPathSize - 1] = '\0';
      if (type != REG_SZ) path[0] = '\0';
    }
  }
  RegCloseKey(key);
  if (!found) {
    remove_empty_anchor_keys();
    return false;
  }
  // A run that still goes holds its journal open without sharing.
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
    log_event("interrupted", "still running", path);
    return false;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return true;
}

bool read_interrupted_journal(const char* path, uint8_t** changes, JournalContents* contents) {
  HANDLE file = path[0] ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
  DWORD error = GetLastError();
  uint8_t* bytes = nullptr;
  *changes = nullptr;
  *contents = JournalContents();
  JournalReading reading = JournalReading::kNotAJournal;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD size = GetFileSize(file, nullptr);
    DWORD read = 0;
    bool whole = size != INVALID_FILE_SIZE && size <= kJournalFileLimit && alloc_block(size + 1, &bytes) &&
                 alloc_block(size + 1, changes) && ReadFile(file, bytes, size, &read, nullptr) && read == size;
    if (whole) reading = read_journal(bytes, size, File.name, *changes, contents);
    free_block(&bytes);
    if (!whole && size <= kJournalFileLimit) {
      // Without the memory to read it, it waits for the next run.
      free_block(changes);
      CloseHandle(file);
      log_event("interrupted", "not read", path);
      return false;
    }
  } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    // The run ended between setting the value and making the file.
    reading = JournalReading::kCutShort;
  }
  static const char* const kReadings[] = {"whole", "cut short", "damaged", "not a journal", "another product"};
  log_event("interrupted", kReadings[static_cast<unsigned>(reading)], path);
  if (reading == JournalReading::kNotAJournal || reading == JournalReading::kOtherProduct) {
    // Not trusted, and not deleted either: only the value that led here goes.
    free_block(changes);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    remove_anchor(File.name);
    return false;
  }
  // The journal is this run's now: its changes are flagged in it as they
  // are taken back, and it goes when they all are.
  char name[kJournalNameLimit + 1];
  copy_string(name, File.name, sizeof name);
  File = JournalFile();
  File.begun = true;
  File.handle = file;
  copy_string(File.path, path, sizeof File.path);
  copy_string(File.name, name, sizeof File.name);
  File.head_size = journal_head_size(name);
  return true;
}
