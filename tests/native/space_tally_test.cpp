// The space check's arithmetic: whole clusters, the largest file counted
// once more, the largest backup copy, and a strict comparison.
#include <gtest/gtest.h>

#include "ui/space_tally.h"

namespace {

enum : uint32_t { kKiB = 1024 };

TEST(SpaceTally, EveryFileTakesWholeClusters) {
  SpaceTally tally = start_tally(4);
  for (int i = 0; i < 14; ++i) {
    tally_largest(&tally, 1);
    tally_growth(&tally, 1);
  }
  // 14 clusters of growth and one for the largest: 60 KiB.
  EXPECT_TRUE(tally_fits(tally, 61));
  EXPECT_FALSE(tally_fits(tally, 60));  // the need must stay below the free space
  tally_growth(&tally, 4 * kKiB + 1);  // just over one cluster: two
  EXPECT_FALSE(tally_fits(tally, 68));
  EXPECT_TRUE(tally_fits(tally, 69));
}

TEST(SpaceTally, TheLargestFileCountsTwice) {
  SpaceTally tally = start_tally(4);
  tally_largest(&tally, 32 * kKiB);
  tally_growth(&tally, 32 * kKiB);
  tally_largest(&tally, 8 * kKiB);
  tally_growth(&tally, 8 * kKiB);
  EXPECT_FALSE(tally_fits(tally, 72));  // 40 grown + 32 largest
  EXPECT_TRUE(tally_fits(tally, 73));
}

// A replaced file stays as the backup until the installation ends: the
// item counts whole. Where backups are copies, the largest copy stands
// beside its file for a moment and counts once more.
TEST(SpaceTally, ReplacedFilesCountWholeAndTheLargestCopyOnceMore) {
  SpaceTally tally = start_tally(4);
  tally_largest(&tally, 20 * kKiB);
  tally_growth(&tally, 20 * kKiB);  // over a file of 8 KiB
  tally_largest(&tally, 4 * kKiB);
  tally_growth(&tally, 4 * kKiB);  // over a file of 40 KiB
  EXPECT_FALSE(tally_fits(tally, 44));  // 24 grown + 20 largest
  EXPECT_TRUE(tally_fits(tally, 45));
  tally_backup_copy(&tally, 8 * kKiB);
  tally_backup_copy(&tally, 40 * kKiB);
  EXPECT_FALSE(tally_fits(tally, 84));  // and the 40 KiB copy
  EXPECT_TRUE(tally_fits(tally, 85));
  // Copies are rounded too: 1 byte over 4 KiB holds two clusters.
  SpaceTally rounded = start_tally(4);
  tally_backup_copy(&rounded, 4 * kKiB + 1);
  EXPECT_FALSE(tally_fits(rounded, 8));
  EXPECT_TRUE(tally_fits(rounded, 9));
}

TEST(SpaceTally, SkippedItemsStillCountAsTheLargest) {
  SpaceTally tally = start_tally(32);
  tally_largest(&tally, 1);  // a folder or a file already in the source folder
  EXPECT_FALSE(tally_fits(tally, 32));
  EXPECT_TRUE(tally_fits(tally, 33));
}

TEST(SpaceTally, UnknownFreeSpaceAndHugeListsPass) {
  SpaceTally tally = start_tally(32);
  for (int i = 0; i < 3; ++i) {
    tally_largest(&tally, 0xFFFFFFFFu);
    tally_growth(&tally, 0xFFFFFFFFu);
  }
  EXPECT_TRUE(tally_fits(tally, kFreeSpaceUnknown));
  // 16 GiB needed against 1 GiB free: 32-bit sums would wrap to almost
  // nothing (each file rounds up to exactly 4 GiB) and pass.
  EXPECT_FALSE(tally_fits(tally, 1024 * 1024));
  EXPECT_TRUE(tally_fits(tally, 16 * 1024 * 1024 + 1));
  SpaceTally empty = start_tally(4);
  EXPECT_TRUE(tally_fits(empty, 1));
  EXPECT_FALSE(tally_fits(empty, 0));
}

// A drive's free bytes in kilobytes: whole at 1 TiB and beyond, where 32
// bits would wrap around, and just below "unknown" past 4 TiB.
TEST(SpaceTally, FreeKilobytesOfLargeDrives) {
  EXPECT_EQ(0u, free_kilobytes(1023));
  EXPECT_EQ(1u << 30, free_kilobytes(1ull << 40));
  EXPECT_EQ(3u << 30, free_kilobytes(3ull << 40));
  EXPECT_EQ(kFreeSpaceUnknown - 1, free_kilobytes(4ull << 40));
  EXPECT_EQ(kFreeSpaceUnknown - 1, free_kilobytes(~0ull));
}

}  // namespace
