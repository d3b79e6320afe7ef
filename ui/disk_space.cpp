#include "ui/disk_space.h"

#include <windows.h>

#include <cstring>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/system_libraries.h"
#include "install/destination.h"
#include "install/safe_replace.h"
#include "ui/space_tally.h"

bool ReadOnlyFilesFound;

enum : uint32_t { kUnknownCluster = 32 };

// The path the drive is asked about: a network path whole, a drive-letter
// path cut to its root.
static void drive_root(const char* path, char* root) {
  copy_string(root, path, kPathSize);
  if (root[0] && root[1] == ':') {
    root[2] = '\\';
    root[3] = '\0';
  }
}

static bool query_drive(const char* path, DWORD* sectors, DWORD* bytes, DWORD* free_clusters) {
  char root[kPathSize];
  drive_root(path, root);
  DWORD total;
  return GetDiskFreeSpaceA(root, sectors, bytes, free_clusters, &total);
}

uint32_t free_space_kb(const char* path) {
  // GetDiskFreeSpaceA reports at most 2 GB on some systems, and its
  // figures multiplied in 32 bits wrap around at 1 TiB: ask for the bytes
  // themselves where the system can tell them.
  if (DiskFreeSpaceEx ask = disk_free_space_ex()) {
    char root[kPathSize];
    drive_root(path, root);
    ULARGE_INTEGER available, total, free;
    if (!ask(root, &available, &total, &free)) return kFreeSpaceUnknown;
    return free_kilobytes(available.QuadPart);
  }
  DWORD sectors, bytes, free_clusters;
  if (!query_drive(path, &sectors, &bytes, &free_clusters)) return kFreeSpaceUnknown;
  return free_kilobytes(uint64_t{sectors} * bytes * free_clusters);
}

uint32_t cluster_size_kb(const char* path) {
  DWORD sectors, bytes, free_clusters;
  if (!query_drive(path, &sectors, &bytes, &free_clusters)) return kUnknownCluster;
  return (sectors * bytes + 1023) / 1024;
}

// Existing file not both readable and writable: try to make it so, then
// put its permission back. False when even then it cannot be opened.
static bool writable_file(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

static bool writable_after_change(const char* path) {
  DWORD before = GetFileAttributesA(path);
  if (before == INVALID_FILE_ATTRIBUTES) return false;
  SetFileAttributesA(path, before & ~FILE_ATTRIBUTE_READONLY);
  bool granted = writable_file(path);
  SetFileAttributesA(path, before);
  return granted;
}

int space_check() {
  uint32_t free_kb = free_space_kb(InstallDir);
  SpaceTally tally = start_tally(cluster_size_kb(InstallDir));
  ReadOnlyFilesFound = false;
  // An installation folder that is not there yet holds no files: its
  // items need no look of their own (a fresh installation of many files
  // would otherwise try to open each).
  bool fresh = GetFileAttributesA(InstallDir) == INVALID_FILE_ATTRIBUTES;
  bool copies = backup_is_copy(InstallDir);
  uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    int in_use = item_destination(entry);
    uint32_t size = get_u32(entry + kEntrySize);
    tally_largest(&tally, size);
    uint8_t kind = entry[kEntryKind];
    if (kind == kKindInSource || kind == kKindFolder) continue;
    bool absent = fresh && entry[kEntryFolderCode] == kFolderInstallDir;
    FileHandle existing = absent ? INVALID_FILE_HANDLE : open_file(DestPath, 0);
    tally_growth(&tally, size);
    if (existing == INVALID_FILE_HANDLE) continue;
    if (copies) tally_backup_copy(&tally, file_length(existing));
    close_file(existing);
    if (entry[kEntryFolderCode] == kFolderFonts) {
      // A font that was already there is not the uninstaller's to remove.
      if (kind == kKindRemovable) entry[kEntryKind] = kKindFile;
      continue;
    }
    if (in_use) continue;
    if (writable_file(DestPath)) continue;
    ReadOnlyFilesFound = true;
    if (!writable_after_change(DestPath)) {
      copy_string(MessageArgument, DestPath, kPathSize);
      return kNotWritable;
    }
  }
  return tally_fits(tally, free_kb) ? kSpaceOk : kNoSpace;
}
