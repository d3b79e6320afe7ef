// The data-area writer against the reader: layout of the setup file and the
// volume files, and items read back across volume boundaries.
#include <gtest/gtest.h>

#include "builder/data_area_writer.h"

#include <sys/stat.h>

#include <cstring>

#include "archive/data_area.h"
#include "tests/native/data_area_fixture.h"

namespace {

uint64_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Reads `count` data-area bytes at `position` as the installation does:
// seek_data, then read_data until done or until it stops delivering.
std::vector<uint8_t> read_back(uint32_t position, uint32_t count) {
  std::vector<uint8_t> out(count);
  EXPECT_EQ(seek_data(position), 0u);
  uint32_t done = 0;
  while (done < count) {
    uint32_t got = 0;
    if (read_data(data_file, out.data() + done, count - done, &got) != 0 || got == 0) break;
    done += got;
  }
  out.resize(done);
  return out;
}

TEST(VolumeNames, AgreeWithTheReadersExtensionRule) {
  EXPECT_EQ(volume_path("A:\\SETUP.EXE", 1), "A:\\SETUP.D01");
  EXPECT_EQ(volume_path("A:\\SETUP.EXE", 2), "A:\\SETUP.D02");
  EXPECT_EQ(volume_path("A:\\SETUP.EXE", 100), "A:\\SETUP.D100");
  EXPECT_EQ(volume_path("out/setup", 1), "out/setup.D01");
  // The reader applies set_extension to the path it opened; the same rule
  // must name the files the writer leaves.
  for (const char* path : {"A:\\SETUP.EXE", "C:\\dir.x\\setup", "C:\\a.b\\setup.exe", "setup", "out.d/setup"}) {
    char buffer[kPathSize];
    copy_string(buffer, path, sizeof buffer);
    set_extension(buffer, sizeof buffer, ".D07");
    EXPECT_EQ(volume_path(path, 7), buffer) << path;
  }
}

TEST(DataAreaWriter, SingleVolumeLayoutAndPlacements) {
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::vector<std::vector<uint8_t>> items = {pattern_bytes(1000, 1), {}, pattern_bytes(5000, 2)};
  std::vector<DataPlacement> placed;
  uint32_t volumes = 99;
  ASSERT_TRUE(write_setup_file(setup, 300, items, 0, &placed, &volumes));
  EXPECT_EQ(volumes, 0u);
  EXPECT_FALSE(file_exists(volume_path(setup, 1)));

  std::vector<uint8_t> file = read_bytes(setup);
  ASSERT_EQ(file.size(), 300u + 12 + 6000);
  EXPECT_EQ(get_u16(&file[300]), kBlockDataArea);
  EXPECT_EQ(get_u16(&file[302]), 0u);
  EXPECT_EQ(get_u32(&file[304]), 6000u);  // stored size: volume 0's data
  EXPECT_EQ(get_u32(&file[308]), 6000u);  // data length
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_EQ(placed[0].position, 0u);
  EXPECT_EQ(placed[0].length, 1000u);
  EXPECT_EQ(placed[1].position, 1000u);
  EXPECT_EQ(placed[1].length, 0u);
  EXPECT_EQ(placed[2].position, 1000u);
  EXPECT_EQ(placed[2].length, 5000u);
  EXPECT_TRUE(std::equal(items[2].begin(), items[2].end(), file.begin() + 312 + 1000));

  ASSERT_TRUE(open_data_area(setup, 300));
  EXPECT_EQ(read_back(placed[0].position, placed[0].length), items[0]);
  EXPECT_EQ(read_back(placed[2].position, placed[2].length), items[2]);
  close_data_area();
}

TEST(DataAreaWriter, EmptyDataAreaStillCountsItsLengthWord) {
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  ASSERT_TRUE(write_setup_file(setup, 64, {}, 0, nullptr));
  std::vector<uint8_t> file = read_bytes(setup);
  ASSERT_EQ(file.size(), 64u + 12);
  EXPECT_EQ(get_u32(&file[68]), 4u);  // not 0, which would mean "no data area"
  EXPECT_EQ(get_u32(&file[72]), 0u);
}

TEST(DataAreaWriter, ItemsSpanVolumes) {
  TempDir dir;
  std::string setup = dir.file("SETUP.EXE");
  const uint64_t kVolume = 4096;
  const uint32_t kPrefix = 1000;  // volume 0 keeps 4096 - 1000 - 12 = 3084 data bytes
  std::vector<std::vector<uint8_t>> items = {pattern_bytes(2500, 3), pattern_bytes(3000, 4), pattern_bytes(10000, 5)};
  std::vector<DataPlacement> placed;
  uint32_t volumes = 0;
  ASSERT_TRUE(write_setup_file(setup, kPrefix, items, kVolume, &placed, &volumes));
  ASSERT_EQ(volumes, 4u);  // 15500 = 3084 + 3 * 4092 + 140
  EXPECT_FALSE(file_exists(volume_path(setup, 5)));

  std::vector<uint8_t> first = read_bytes(setup);
  EXPECT_EQ(first.size(), kVolume);
  EXPECT_EQ(get_u32(&first[kPrefix + 4]), 3084u);
  EXPECT_EQ(get_u32(&first[kPrefix + 8]), 3084u);
  uint64_t total = 3084;
  for (uint32_t k = 1; k <= volumes; ++k) {
    std::vector<uint8_t> volume = read_bytes(volume_path(setup, k));
    ASSERT_GE(volume.size(), 4u);
    EXPECT_LE(volume.size(), kVolume);
    EXPECT_EQ(get_u32(volume.data()), volume.size() - 4) << "volume " << k;
    total += volume.size() - 4;
  }
  EXPECT_EQ(total, 15500u);

  ASSERT_TRUE(open_data_area(setup, kPrefix));
  EXPECT_EQ(read_back(placed[0].position, placed[0].length), items[0]);
  // 584 bytes in the setup file, the rest at the start of SETUP.D01: one
  // read continues into the next volume.
  ASSERT_EQ(seek_data(placed[1].position), 0u);
  std::vector<uint8_t> second(3000);
  uint32_t got = 0;
  EXPECT_EQ(read_data(data_file, second.data(), 3000, &got), 0);
  EXPECT_EQ(got, 3000u);
  EXPECT_EQ(second, items[1]);
  EXPECT_EQ(volume_number, 1u);
  // Across four volume files.
  EXPECT_EQ(read_back(placed[2].position, placed[2].length), items[2]);
  EXPECT_EQ(volume_number, 4u);
  close_data_area();
}

TEST(DataAreaWriter, PositionAtTheVolumeEndBelongsToTheNextVolume) {
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::vector<std::vector<uint8_t>> items = {pattern_bytes(3084, 6), pattern_bytes(100, 7)};
  std::vector<DataPlacement> placed;
  ASSERT_TRUE(write_setup_file(setup, 1000, items, 4096, &placed));
  EXPECT_EQ(size_of(volume_path(setup, 1)), 104u);
  ASSERT_TRUE(open_data_area(setup, 1000));
  EXPECT_EQ(read_back(placed[1].position, 100), items[1]);
  EXPECT_EQ(volume_number, 1u);
  close_data_area();
}

TEST(DataAreaWriter, FirstVolumeWithoutRoomForData) {
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::vector<std::vector<uint8_t>> items = {pattern_bytes(5000, 8)};
  std::vector<DataPlacement> placed;
  ASSERT_TRUE(write_setup_file(setup, 4096 - 12, items, 4096, &placed));
  std::vector<uint8_t> first = read_bytes(setup);
  ASSERT_EQ(first.size(), 4096u);
  EXPECT_EQ(get_u32(&first[4096 - 8]), 4u);
  EXPECT_EQ(get_u32(&first[4096 - 4]), 0u);
  ASSERT_TRUE(open_data_area(setup, 4096 - 12));
  EXPECT_EQ(read_back(0, 5000), items[0]);
  close_data_area();
}

TEST(DataAreaWriter, RefusesVolumesThatCannotHoldTheSetup) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(write_setup_file(dir.file("a.exe"), 5000, {pattern_bytes(10, 9)}, 4096, nullptr, nullptr, &error));
  EXPECT_NE(error.find("do not fit"), std::string::npos) << error;
  EXPECT_FALSE(write_setup_file(dir.file("b.exe"), 0, {pattern_bytes(10, 9)}, 4, nullptr, nullptr, &error));
  EXPECT_NE(error.find("too small"), std::string::npos) << error;
  EXPECT_FALSE(write_setup_file(dir.file("c.exe"), 0, {}, uint64_t(1) << 31, nullptr, nullptr, &error));
  EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
}

}  // namespace
