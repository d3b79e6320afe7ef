#include "ui/space_tally.h"

// In 32 bits, as every size is: a 64-bit division would bring the C
// runtime's general one into the stub.
static uint64_t in_clusters(const SpaceTally& tally, uint32_t size) {
  if (size == 0) return 0;
  if (tally.unit >= size) return tally.unit;
  uint32_t unit = static_cast<uint32_t>(tally.unit);
  return uint64_t{size / unit + (size % unit != 0)} * unit;
}

uint32_t free_kilobytes(uint64_t free_bytes) {
  uint64_t kilobytes = free_bytes / 1024;
  return kilobytes < kFreeSpaceUnknown ? static_cast<uint32_t>(kilobytes) : kFreeSpaceUnknown - 1;
}

SpaceTally start_tally(uint32_t cluster_kb) {
  // A drive that reports no cluster size counts bytes.
  return {cluster_kb ? uint64_t{cluster_kb} * 1024 : 1, 0, 0, 0};
}

void tally_largest(SpaceTally* tally, uint32_t size) {
  uint64_t clusters = in_clusters(*tally, size);
  if (clusters > tally->largest) tally->largest = clusters;
}

void tally_growth(SpaceTally* tally, uint32_t size) { tally->growth += in_clusters(*tally, size); }

void tally_backup_copy(SpaceTally* tally, uint32_t replaced_size) {
  uint64_t clusters = in_clusters(*tally, replaced_size);
  if (clusters > tally->largest_copy) tally->largest_copy = clusters;
}

bool tally_fits(const SpaceTally& tally, uint32_t free_kb) {
  if (free_kb == kFreeSpaceUnknown) return true;
  // The largest and the copy are in whole clusters already.
  return (tally.largest + tally.growth + tally.largest_copy) / 1024 < free_kb;
}
