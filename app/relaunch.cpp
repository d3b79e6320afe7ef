#include "app/relaunch.h"

#include <windows.h>

#include <cstring>

#include "app/globals.h"
#include "app/memory.h"
#include "app/pe_header.h"
#include "app/path_strings.h"
#include "archive/loader.h"
#include "archive/platform.h"

enum : int { kRelaunchNames = 998 };

bool started_from_removable_media() {
  DWORD n = GetModuleFileNameA(nullptr, DestPath, kPathSize);
  if (n == 0 || n >= kPathSize) return false;
  // A drive path is cut to its root; a network path is asked about whole.
  if (DestPath[0] && DestPath[1] == ':' && DestPath[2] == '\\') DestPath[3] = '\0';
  return GetDriveTypeA(DestPath) == DRIVE_REMOVABLE;
}

// Creates the first "_inst%d.exe" of the temporary folder that does not
// exist yet; its path stays in TempPath.
static FileHandle create_relaunch_file() {
  for (int i = 1; i <= kRelaunchNames; ++i) {
    DWORD n = GetTempPathA(kPathSize, TempPath);
    if (n == 0 || n >= kPathSize) return INVALID_FILE_HANDLE;
    add_backslash(TempPath);
    char name[16];
    wsprintfA(name, "_inst%d.exe", i);
    size_t used = std::strlen(TempPath);
    if (used + std::strlen(name) >= kPathSize) return INVALID_FILE_HANDLE;
    copy_string(TempPath + used, name, kPathSize - used);
    FileHandle existing = open_file(TempPath, 0);
    if (existing != INVALID_FILE_HANDLE) {
      close_file(existing);
      continue;
    }
    FileHandle created = create_file(TempPath);
    if (created != INVALID_FILE_HANDLE) return created;
  }
  return INVALID_FILE_HANDLE;
}

// The stub's bytes of SourcePath into `copy`; false when any of them could
// not be read or written, as a cut stub would not run. A signed setup's
// header names the certificate table at the end of the setup file, which
// the copy does not carry: the copy names none.
static bool copy_stub(FileHandle copy) {
  if (StubSize == 0) return false;
  FileHandle source = open_file(SourcePath, 0);
  if (source == INVALID_FILE_HANDLE) return false;
  uint8_t* buffer = nullptr;
  bool copied = alloc_block(StubSize, &buffer) && read_exact(source, buffer, StubSize) == 0;
  if (copied) forget_missing_certificate_table(buffer, StubSize);
  copied = copied && write_all(copy, buffer, StubSize) == 0;
  free_block(&buffer);
  close_file(source);
  return copied;
}

bool make_relaunch_copy() {
  FileHandle copy = create_relaunch_file();
  if (copy == INVALID_FILE_HANDLE) return false;
  bool copied = copy_stub(copy);
  close_file(copy);
  static const char kSwitch[] = " /S\"";
  static const char kDelete[] = "\" /DEL";
  // The command must hold the whole path of the setup file on the disk.
  bool fits = std::strlen(TempPath) + std::strlen(kSwitch) + std::strlen(SourcePath) + std::strlen(kDelete) <
              kPathSize;
  if (!copied || !fits) {
    delete_file(TempPath);
    return false;
  }
  size_t used = std::strlen(TempPath);
  copy_string(TempPath + used, kSwitch, kPathSize - used);
  used = std::strlen(TempPath);
  copy_string(TempPath + used, SourcePath, kPathSize - used);
  used = std::strlen(TempPath);
  copy_string(TempPath + used, kDelete, kPathSize - used);
  return true;
}

bool relaunch_from_removable_media(int show) {
  if (!started_from_removable_media() || !make_relaunch_copy()) return false;
  if (WinExec(TempPath, show) > 31) return true;
  // The copy did not start: run in place rather than not at all.
  if (char* arguments = std::strstr(TempPath, " /S\"")) *arguments = '\0';
  delete_file(TempPath);
  return false;
}
