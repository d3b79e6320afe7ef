// The small drive that the test run provides where it can (a 64 KiB file
// system mapped as a Wine drive, see tests/wine/prefix), for full disks.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>

// Its root ("K:\"), or "" when this run has none.
inline std::string small_drive_root() {
  const char* drive = std::getenv("KESTREL_FULL_DRIVE");
  if (!drive || !drive[0]) return "";
  std::string root = std::string(1, drive[0]) + ":\\";
  return GetDriveTypeA(root.c_str()) == DRIVE_NO_ROOT_DIR ? "" : root;
}
