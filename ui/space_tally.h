// The arithmetic of the space check: whole clusters per file, the largest
// file counted once more, and the largest backup that is a copy.
#pragma once
#include <cstdint>

// A drive whose free space cannot be queried: it counts as having room.
enum : uint32_t { kFreeSpaceUnknown = 0xFFFFFFFF };

struct SpaceTally {
  uint64_t unit;  // cluster size in bytes
  uint64_t growth;
  uint64_t largest;
  uint64_t largest_copy;  // of a file replaced where backups are copies
};

// A drive's free bytes in kilobytes, held below kFreeSpaceUnknown: a drive
// with more than 4 TiB free still counts as having room for anything.
uint32_t free_kilobytes(uint64_t free_bytes);

SpaceTally start_tally(uint32_t cluster_kb);
// Every item of the list may be the largest.
void tally_largest(SpaceTally* tally, uint32_t size);
// An item that will be written: its clusters, whole even where it replaces
// a file, since that file stays as the backup until the installation ends.
void tally_growth(SpaceTally* tally, uint32_t size);
// A file an item replaces, where backups are copies: the copy stands
// beside the file until the new one takes its place, so the largest such
// copy counts once more.
void tally_backup_copy(SpaceTally* tally, uint32_t replaced_size);
// True when the need in kilobytes stays below the free kilobytes, or when
// the free space is unknown. Sums are 64-bit: a huge list cannot wrap
// around to look small.
bool tally_fits(const SpaceTally& tally, uint32_t free_kb);
