#include "app/relaunch.h"

#include <windows.h>

#include "archive/loader.h"
#include "archive/pe_header.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/unguessable_files.h"

bool started_from_removable_media() {
  char root[kPathSize];
  DWORD n = GetModuleFileNameA(nullptr, root, sizeof root);
  if (n == 0 || n >= sizeof root) return false;
  // A drive path is cut to its root; a network path is asked about whole.
  if (root[0] && root[1] == ':' && root[2] == '\\') root[3] = '\0';
  return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

// Creates a new "_inst<random>.exe" in the temporary folder; its path
// stays in TempPath.
static FileHandle create_relaunch_file() {
  char folder[kPathSize];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder || !add_backslash(folder, sizeof folder)) return INVALID_FILE_HANDLE;
  return create_unguessable_file(folder, "_inst", ".exe", TempPath, kPathSize);
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

bool make_relaunch_copy(char* command, size_t capacity) {
  FileHandle copy = create_relaunch_file();
  if (copy == INVALID_FILE_HANDLE) return false;
  bool copied = copy_stub(copy);
  close_file(copy);
  // Both paths quoted: a blank in the temporary folder would otherwise end
  // the program's name there and push its switches out of reach.
  bool made = copied && copy_string(command, "\"", capacity) && append_string(command, TempPath, capacity) &&
              append_string(command, "\" /S\"", capacity) && append_string(command, SourcePath, capacity) &&
              append_string(command, "\" /DEL", capacity);
  if (!made) delete_file(TempPath);
  return made;
}

bool relaunch_from_removable_media(int show) {
  char command[kRelaunchCommandSize];
  if (!started_from_removable_media() || !make_relaunch_copy(command, sizeof command)) return false;
  if (WinExec(command, show) > 31) return true;
  // The copy did not start: run in place rather than not at all.
  delete_file(TempPath);
  return false;
}
