#include "ui/space_tally.h"

static uint64_t in_clusters(const SpaceTally& tally, uint64_t size) {
  return (size + tally.unit - 1) / tally.unit * tally.unit;
}

uint32_t free_kilobytes(uint64_t free_bytes) {
  uint64_t kilobytes = free_bytes / 1024;
  return kilobytes < kFreeSpaceUnknown ? static_cast<uint32_t>(kilobytes) : kFreeSpaceUnknown - 1;
}

SpaceTally start_tally(uint32_t cluster_kb) {
  // A drive that reports no cluster size counts bytes.
  return {cluster_kb ? uint64_t{cluster_kb} * 1024 : 1, 0, 0};
}

void tally_largest(SpaceTally* tally, uint32_t size) {
  uint64_t clusters = in_clusters(*tally, size);
  if (clusters > tally->largest) tally->largest = clusters;
}

void tally_growth(SpaceTally* tally, uint32_t size, bool replaces, uint32_t replaced_size) {
  uint64_t needed = in_clusters(*tally, size);
  uint64_t present = replaces ? in_clusters(*tally, replaced_size) : 0;
  if (needed > present) tally->growth += needed - present;
}

bool tally_fits(const SpaceTally& tally, uint32_t free_kb) {
  if (free_kb == kFreeSpaceUnknown) return true;
  return (in_clusters(tally, tally.largest) + tally.growth) / 1024 < free_kb;
}
