// Disk space of the destination drive and the check made before installing.
#pragma once
#include <cstdint>

#include "ui/space_tally.h"  // kFreeSpaceUnknown

// Set by space_check when an existing destination file was not both
// readable and writable; the ready page asks about it.
extern bool ReadOnlyFilesFound;

// Kilobytes free on the path's drive, kFreeSpaceUnknown when it cannot be
// queried.
uint32_t free_space_kb(const char* path);
// The drive's cluster size in kilobytes rounded up, 32 when unknown.
uint32_t cluster_size_kb(const char* path);
// Whether the current FileList fits into InstallDir: 0 go on, 9 a file
// cannot be made writable (its name in MessageArgument), 11 too little space.
enum : int { kSpaceOk = 0, kNotWritable = 9, kNoSpace = 11 };
int space_check();
