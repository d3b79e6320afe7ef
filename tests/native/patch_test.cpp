// File patches: the command set and its offsets, damaged patches, the
// temporary file and progress, and round trips through the generator on
// real Windows binaries.
#include <gtest/gtest.h>

#include "archive/patch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "archive/checksum.h"
#include "archive/file_entry.h"
#include "builder/patch_generator.h"
#include "builder/stream_encoder.h"
#include "tests/native/data_area_fixture.h"

namespace {

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, size_t from, size_t count) {
  return std::vector<uint8_t>(v.begin() + from, v.begin() + from + count);
}

void append(std::vector<uint8_t>* to, const std::vector<uint8_t>& more) { to->insert(to->end(), more.begin(), more.end()); }

std::vector<uint8_t> raw_blocks(const std::vector<uint8_t>& commands, const std::vector<uint8_t>& literals) {
  std::vector<uint8_t> data;
  EXPECT_TRUE(encode_patch(PatchBlocks{commands, literals}, 0, &data));
  return data;
}

// A copy command of `length` bytes (2..65664) at `offset` from the end of
// the previous copy.
void put_copy(std::vector<uint8_t>* commands, uint32_t length, int64_t offset) {
  if (length <= 128) {
    commands->push_back(static_cast<uint8_t>(length - 1));
  } else {
    commands->push_back(0x00);
    commands->push_back(static_cast<uint8_t>(length - 129));
    commands->push_back(static_cast<uint8_t>((length - 129) >> 8));
  }
  put_patch_offset(offset, commands);
}

uint32_t size_field(uint8_t header) { return header & kPatchLongSize ? 4 : 2; }
uint32_t packed_field(uint8_t header) { return header & kPatchLongCompressedSize ? 4 : 2; }

// Bytes of the stored patch block at `at`: header, fields and content.
size_t block_length(const std::vector<uint8_t>& data, size_t at) {
  uint8_t header = data[at];
  uint32_t size = size_field(header) == 4 ? get_u32(&data[at + 1]) : get_u16(&data[at + 1]);
  if (size == 0) return 1 + size_field(header);
  if (!(header & kPatchCompressed)) return 1 + size_field(header) + size;
  const uint8_t* packed = &data[at + 1 + size_field(header)];
  return 1 + size_field(header) + packed_field(header) + (packed_field(header) == 4 ? get_u32(packed) : get_u16(packed));
}

std::vector<uint32_t> reported;
void record_progress(uint32_t percent) { reported.push_back(percent); }

// The names in the folder that start with "file.$", other than `but`: the
// temporary files a patch run leaves.
std::vector<std::string> temp_files(const TempDir& dir, const std::string& but) {
  std::vector<std::string> names;
  DIR* folder = opendir(dir.path().c_str());
  if (!folder) return names;
  while (dirent* e = readdir(folder)) {
    std::string name = e->d_name;
    if (name.rfind("file.$", 0) == 0 && dir.file(name) != but) names.push_back(name);
  }
  closedir(folder);
  return names;
}

// One patched item: the old version on disk, its patch data stored behind
// another item in a setup file, the reader opened, and the FileEntry.
class Patching : public ::testing::Test {
 protected:
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::string old_path = dir.file("file.$$A");
  std::vector<uint8_t> entry;

  void SetUp() override {
    MessageArgument[0] = '\0';
    copy_string(DestPath, "C:\\Program Files\\App\\file.dll", sizeof DestPath);
    PatchProgressReport = nullptr;
    reported.clear();
  }
  void TearDown() override {
    close_data_area();
    PatchProgressReport = nullptr;
  }

  void store(const std::vector<uint8_t>& old_file, const std::vector<uint8_t>& patch_data,
             const std::vector<uint8_t>& expected, uint8_t flags = 0, uint64_t volume_size = 0) {
    close_data_area();
    write_bytes(old_path, old_file);
    std::vector<DataPlacement> placed;
    ASSERT_TRUE(write_setup_file(setup, 2000, {pattern_bytes(777, 1), patch_data}, volume_size, &placed));
    ASSERT_TRUE(open_data_area(setup, 2000));
    uint32_t extra = 0;
    if (flags & (kItemCompareVersion | kItemCompareLanguage)) extra += kEntryVersionSize;
    if (flags & kItemHasTimes) extra += kEntryTimesSize;
    entry.assign(kEntryFixedSize + extra, 0);
    const char strings[] = "file.dll\0\0\0\0\0";
    entry.insert(entry.end(), strings, strings + sizeof strings);
    put_u32(&entry[kEntryLength], static_cast<uint32_t>(entry.size()));
    entry[kEntryFlags] = flags | kItemPatch;
    put_u32(&entry[kEntryChecksum], checksum_block(expected.data(), static_cast<uint32_t>(expected.size()), 0));
    put_u32(&entry[kEntrySize], static_cast<uint32_t>(expected.size()));
    put_u32(&entry[kEntryDataPosition], placed[1].position);
    put_u32(&entry[kEntryDataLength], placed[1].length);
  }

  uint32_t error = 0;
  bool apply(uint32_t from = 0, uint32_t to = 0) {
    error = apply_patch(entry.data(), old_path.c_str(), from, to);
    return error == 0;
  }

  // Builds `expected` from `old_file` with the given blocks and checks it.
  void expect_result(const std::vector<uint8_t>& old_file, const std::vector<uint8_t>& commands,
                     const std::vector<uint8_t>& literals, const std::vector<uint8_t>& expected) {
    store(old_file, raw_blocks(commands, literals), expected);
    ASSERT_TRUE(apply()) << "error " << error;
    EXPECT_EQ(read_bytes(old_path), expected);
    EXPECT_TRUE(temp_files(dir, old_path).empty());
  }

  // The call fails with `code`, and the old version and the folder are as before.
  void expect_failure(uint32_t code, const std::vector<uint8_t>& old_file) {
    EXPECT_FALSE(apply());
    EXPECT_EQ(error, code);
    EXPECT_EQ(read_bytes(old_path), old_file);
    EXPECT_TRUE(temp_files(dir, old_path).empty());
  }
  // MessageArgument names the new file, a temporary one beside the old.
  void expect_new_file_named() {
    std::string named = MessageArgument;
    EXPECT_EQ(named.rfind(dir.file("file.$"), 0), 0u) << named;
    EXPECT_NE(named, old_path);
  }
};

TEST(PatchOffsets, CodedFormsAtEachBoundary) {
  struct Case {
    int64_t offset;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0, {0x80}},
      {-1, {0xBF}},
      {31, {0x9F}},
      {-32, {0xA0}},
      {32, {0x00, 0x00}},
      {-33, {0x7F, 0xFF}},
      {-16416, {0x40, 0x00}},
      {16415, {0x3F, 0xFF}},
      {16416, {0xC0, 0x00, 0x00}},
      {16421, {0xC0, 0x00, 0x05}},
      {-16417, {0xFF, 0xFF, 0xFF}},
      // v = 0x100000 is the escape itself, so that value needs the long form.
      {16416 + 0x100000, {0xD0, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}},
      {16416 + 0x0FFFFF, {0xCF, 0xFF, 0xFF}},
      {16416 + 0x200000, {0xD0, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00}},
      {-16416 - 0x200000, {0xE0, 0x00, 0x00}},
      {-16417 - 0x200000, {0xD0, 0x00, 0x00, 0xFF, 0xDF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    put_patch_offset(c.offset, &out);
    EXPECT_EQ(out, c.bytes) << "offset " << c.offset;
  }
}

TEST_F(Patching, InsertThenShortCopyFromThePreviousEnd) {
  std::vector<uint8_t> old_file = pattern_bytes(1000, 2);
  // 0x09: copy 10 from 10; 0xA5 0x80: insert 1, copy 7 at offset 0.
  std::vector<uint8_t> expected = slice(old_file, 10, 10);
  expected.push_back(0x5A);
  append(&expected, slice(old_file, 20, 7));
  expect_result(old_file, {0x09, 0x8A, 0xA5, 0x80}, {0x5A}, expected);
}

TEST_F(Patching, CopyStartingBeforeThePreviousEnd) {
  std::vector<uint8_t> old_file = pattern_bytes(1000, 3);
  std::vector<uint8_t> expected = slice(old_file, 10, 4);
  append(&expected, slice(old_file, 13, 6));
  expect_result(old_file, {0x03, 0x8A, 0x05, 0xBF}, {}, expected);
}

TEST_F(Patching, OffsetFormsAsWrittenInTheArchive) {
  std::vector<uint8_t> old_file = pattern_bytes(40000, 4);
  std::vector<uint8_t> commands = {0x03, 0x00, 0x00,                                // 32: at 32
                                   0x03, 0xC0, 0x00, 0x00,                          // 16416: at 16452
                                   0x03, 0x7F, 0xFF,                                // -33: at 16423
                                   0x03, 0x40, 0x00,                                // -16416: at 11
                                   0x03, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,  // 16421: at 16436
                                   0x9F,                                            // 32 inserts
                                   0x00, 0x00, 0x00, 0x80};                         // 129 at offset 0
  std::vector<uint8_t> literals = pattern_bytes(32, 5);
  std::vector<uint8_t> expected;
  for (size_t at : {32, 16452, 16423, 11, 16436}) append(&expected, slice(old_file, at, 4));
  append(&expected, literals);
  append(&expected, slice(old_file, 16440, 129));
  expect_result(old_file, commands, literals, expected);
}

TEST_F(Patching, LongCopiesLargerThanTheCopyBuffer) {
  std::vector<uint8_t> old_file = pattern_bytes(140000, 6);
  std::vector<uint8_t> commands;
  put_copy(&commands, 129, 5);      // 0x00 with w = 0
  put_copy(&commands, 65664, 0);    // w = 0xFFFF, more than 65,536 bytes in one command
  put_copy(&commands, 65664, 1000 - (134 + 65664));  // back to 1000
  ASSERT_EQ(commands[0], 0x00);
  ASSERT_EQ(commands[1], 0x00);
  ASSERT_EQ(get_u16(&commands[5]), 0xFFFF);
  std::vector<uint8_t> expected = slice(old_file, 5, 129);
  append(&expected, slice(old_file, 134, 65664));
  append(&expected, slice(old_file, 1000, 65664));
  expect_result(old_file, commands, {}, expected);
}

TEST_F(Patching, EncodedOffsetsOfEveryFormRoundTrip) {
  // Jumps both ways through a 3 MiB file, of every coded length.
  std::vector<uint8_t> old_file = pattern_bytes(3 << 20, 7);
  std::vector<uint8_t> commands, expected;
  uint32_t x = 12345;
  auto next = [&x] { return x = x * 1103515245u + 12345u, x >> 8; };
  int64_t end = 0;
  int forms[8] = {};
  for (int i = 0; i < 500; ++i) {
    uint32_t length = 2 + next() % 200;
    int64_t limit = int64_t(old_file.size()) - length;
    const int64_t magnitudes[] = {next() % 32, 32 + next() % 16384, 16416 + next() % 0x1FFFFF,
                                  16416 + 0x200000 + next() % 500000, 16416 + 0x100000};
    int64_t m = magnitudes[i % 5];
    int64_t at = end + m <= limit ? end + m : end - m >= 0 ? end - m : next() % limit;
    std::vector<uint8_t> coded;
    put_patch_offset(at - end, &coded);
    ++forms[coded.size()];
    put_copy(&commands, length, at - end);
    append(&expected, slice(old_file, static_cast<size_t>(at), length));
    end = at + length;
  }
  EXPECT_GT(forms[1], 20);
  EXPECT_GT(forms[2], 20);
  EXPECT_GT(forms[3], 20);
  EXPECT_GT(forms[7], 20);
  expect_result(old_file, commands, {}, expected);
}

TEST_F(Patching, EmptyBlocksMakeAnEmptyFile) { expect_result(pattern_bytes(100, 8), {}, {}, {}); }

TEST_F(Patching, ResultTakesTheEntrysFileTimes) {
  std::vector<uint8_t> old_file = pattern_bytes(500, 9);
  std::vector<uint8_t> expected = slice(old_file, 0, 100);
  std::vector<uint8_t> commands;
  put_copy(&commands, 100, 0);
  for (uint8_t flags : {uint8_t(kItemHasTimes), uint8_t(kItemHasTimes | kItemCompareVersion)}) {
    store(old_file, raw_blocks(commands, {}), expected, flags);
    // 2001-03-05 00:00:00 UTC as a FILETIME: (983750400 s + 11644473600 s) * 10^7.
    uint64_t filetime = (983750400ull + 11644473600ull) * 10000000ull;
    uint32_t times = kEntryFixedSize;
    if (flags & kItemCompareVersion) times += kEntryVersionSize;
    for (int i = 0; i < 3; ++i)
      for (int b = 0; b < 8; ++b) entry[times + 8 * i + b] = static_cast<uint8_t>((filetime + i * 10000000ull) >> (8 * b));
    ASSERT_TRUE(apply()) << "error " << error;
    struct stat st;
    ASSERT_EQ(stat(old_path.c_str(), &st), 0);
    // Last-write time; reading the result back for its checksum may touch
    // the access time.
    EXPECT_EQ(st.st_mtime, 983750402) << "flags " << int(flags);
    close_data_area();
  }
}

TEST_F(Patching, ProgressBetweenTheItemsPercentages) {
  // 100,000 bytes from 40 to 60: scale 11; after 9,999 bytes 40 + 1 * 20 / 11.
  std::vector<uint8_t> old_file = pattern_bytes(100000, 10);
  std::vector<uint8_t> commands;
  for (int i = 0; i < 3; ++i) put_copy(&commands, 3333, 0);  // 41 three times over: reported once
  for (int i = 0; i < 9; ++i) put_copy(&commands, 10000, 0);
  commands.push_back(0x80);
  std::vector<uint8_t> expected = slice(old_file, 0, 99999);
  expected.push_back(0x42);
  store(old_file, raw_blocks(commands, {0x42}), expected);
  PatchProgressReport = record_progress;
  ASSERT_TRUE(apply(40, 60)) << "error " << error;
  EXPECT_EQ(reported, (std::vector<uint32_t>{41, 43, 45, 47, 49, 50, 52, 54, 56, 58, 60}));

  reported.clear();
  store(old_file, raw_blocks(commands, {0x42}), expected);
  ASSERT_TRUE(apply(50, 50));
  EXPECT_TRUE(reported.empty());
}

// The new file while it grows, seen from the progress report.
std::vector<std::string> growing_names;
const TempDir* watched_dir;
std::string watched_old;
void note_growing_file(uint32_t) {
  for (const std::string& name : temp_files(*watched_dir, watched_old)) growing_names.push_back(name);
}

TEST_F(Patching, TheNewFileHasANameNoOneCanForeseeAndNeverTakesAnExistingOne) {
  // The name an older design would have chosen stays untouched.
  std::vector<uint8_t> taken = {1, 2, 3};
  write_bytes(dir.file("file.$AA"), taken);
  std::vector<uint8_t> old_file = pattern_bytes(300, 11);
  std::vector<uint8_t> commands;
  put_copy(&commands, 200, 50);
  std::set<std::string> seen;
  for (int run = 0; run < 2; ++run) {
    store(old_file, raw_blocks(commands, {}), slice(old_file, 50, 200));
    watched_dir = &dir;
    watched_old = old_path;
    growing_names.clear();
    PatchProgressReport = note_growing_file;
    ASSERT_TRUE(apply(0, 100)) << "error " << error;
    std::set<std::string> names(growing_names.begin(), growing_names.end());
    names.erase("file.$AA");
    ASSERT_EQ(names.size(), 1u);
    const std::string& name = *names.begin();
    // "file.$" and eight letters of chance.
    EXPECT_EQ(name.size(), std::strlen("file.$") + 8) << name;
    seen.insert(name);
    EXPECT_EQ(read_bytes(old_path), slice(old_file, 50, 200));
    EXPECT_EQ(temp_files(dir, old_path), std::vector<std::string>{"file.$AA"});
    close_data_area();
  }
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(read_bytes(dir.file("file.$AA")), taken);
}

TEST_F(Patching, PatchDataAcrossThreeVolumes) {
  std::vector<uint8_t> old_file = pattern_bytes(20000, 12);
  std::vector<uint8_t> literals = pattern_bytes(9000, 13);
  std::vector<uint8_t> commands, expected;
  int64_t end = 0;
  for (size_t i = 0; i < literals.size(); i += 30) {
    commands.push_back(0x80 | 29);
    append(&expected, slice(literals, i, 30));
    put_copy(&commands, 40, 7);
    append(&expected, slice(old_file, static_cast<size_t>(end + 7), 40));
    end += 47;
  }
  // 1000 bytes of patch data in the setup file, then volumes of 3785 data
  // bytes: the 9000-byte literals block lies in three volume files.
  store(old_file, raw_blocks(commands, literals), expected, 0, 2000 + 12 + 777 + 1000);
  ASSERT_TRUE(file_exists(volume_path(setup, 3)));
  ASSERT_FALSE(file_exists(volume_path(setup, 4)));
  ASSERT_TRUE(apply()) << "error " << error;
  EXPECT_EQ(read_bytes(old_path), expected);
}

// The setup file's piece ends right behind the commands block's header,
// and an empty volume follows it: the block's content is read from the
// volume behind the empty one.
TEST_F(Patching, EmptyVolumeRightBehindABlockHeader) {
  std::vector<uint8_t> old_file = pattern_bytes(2000, 25);
  std::vector<uint8_t> literals = pattern_bytes(600, 26);
  std::vector<uint8_t> commands, expected;
  for (size_t i = 0, end = 0; i < literals.size(); i += 30, end += 40) {
    commands.push_back(0x80 | 29);
    append(&expected, slice(literals, i, 30));
    put_copy(&commands, 40, 0);
    append(&expected, slice(old_file, end, 40));
  }
  std::vector<uint8_t> data = raw_blocks(commands, literals);
  ASSERT_EQ(data[0] & (kPatchCompressed | kPatchLongSize), 0);
  store(old_file, data, expected, 0, 2000 + 12 + 777 + 3);
  uint32_t volumes = 0;
  while (file_exists(volume_path(setup, volumes + 1))) ++volumes;
  ASSERT_GE(volumes, 1u);
  for (uint32_t k = volumes; k >= 1; --k)
    ASSERT_EQ(0, std::rename(volume_path(setup, k).c_str(), volume_path(setup, k + 1).c_str()));
  write_bytes(volume_path(setup, 1), {0, 0, 0, 0});
  ASSERT_TRUE(apply()) << "error " << error;
  EXPECT_EQ(read_bytes(old_path), expected);
}

TEST_F(Patching, InsertWithoutLiteralsFails) {
  std::vector<uint8_t> old_file = pattern_bytes(100, 14);
  store(old_file, raw_blocks({0x83}, {}), pattern_bytes(4, 1));
  expect_failure(19, old_file);
  expect_new_file_named();
}

TEST_F(Patching, InsertNeedingMoreLiteralsThanLeftFails) {
  std::vector<uint8_t> old_file = pattern_bytes(100, 15);
  store(old_file, raw_blocks({0x81, 0x83}, {1, 2, 3, 4, 5}), pattern_bytes(6, 1));
  expect_failure(19, old_file);
  expect_new_file_named();
  store(old_file, raw_blocks({0xE3, 0x80}, {1, 2}), pattern_bytes(8, 1));  // 3 inserts with a copy
  expect_failure(19, old_file);
}

TEST_F(Patching, CommandsCutInsideAnOperandFail) {
  std::vector<uint8_t> old_file = pattern_bytes(40000, 16);
  const std::vector<std::vector<uint8_t>> cut = {
      {0x03},                                // copy without its offset
      {0x00, 0x05},                          // long copy with half its length word
      {0x03, 0x10},                          // 2-byte offset cut after one byte
      {0x03, 0xC0, 0x00},                    // 3-byte offset cut
      {0x03, 0xD0, 0x00, 0x00, 0x00, 0x00},  // escaped offset cut
      {0xA1},                                // insert and copy, offset missing
  };
  for (const auto& commands : cut) {
    store(old_file, raw_blocks(commands, {7}), pattern_bytes(8, 1));
    expect_failure(19, old_file);
    close_data_area();
  }
}

TEST_F(Patching, WrongChecksumLeavesTheOldVersion) {
  std::vector<uint8_t> old_file = pattern_bytes(1000, 17);
  std::vector<uint8_t> commands;
  put_copy(&commands, 500, 100);
  std::vector<uint8_t> result = slice(old_file, 100, 500);
  result[0] ^= 1;  // the entry expects other content of the same size
  store(old_file, raw_blocks(commands, {}), result);
  expect_failure(21, old_file);
  EXPECT_STREQ(MessageArgument, DestPath);
}

TEST_F(Patching, OutputBeyondTheEntrysSizeStopsEarly) {
  std::vector<uint8_t> old_file = pattern_bytes(1000, 18);
  std::vector<uint8_t> commands;
  put_copy(&commands, 500, 0);
  put_copy(&commands, 500, -500);
  store(old_file, raw_blocks(commands, {}), slice(old_file, 0, 600));
  expect_failure(21, old_file);
}

TEST_F(Patching, CopiesOutsideTheOldFileFail) {
  std::vector<uint8_t> old_file = pattern_bytes(1000, 19);
  for (int64_t offset : {int64_t(-1), int64_t(990), int64_t(5000000)}) {
    std::vector<uint8_t> commands;
    put_copy(&commands, 20, offset);
    store(old_file, raw_blocks(commands, {}), pattern_bytes(20, 1));
    expect_failure(18, old_file);
    EXPECT_STREQ(MessageArgument, DestPath);
    close_data_area();
  }
}

TEST_F(Patching, MissingOldFileFails) {
  store({}, raw_blocks({}, {}), {});
  unlink(old_path.c_str());
  EXPECT_FALSE(apply());
  EXPECT_EQ(error, 16u);
  EXPECT_STREQ(MessageArgument, old_path.c_str());
  EXPECT_TRUE(temp_files(dir, old_path).empty());
}

TEST_F(Patching, UnreadablePatchDataFails) {
  std::vector<uint8_t> old_file = pattern_bytes(100, 20);
  // A raw block that announces more bytes than the item's data holds: it
  // is refused before it is read, naming the setup file.
  std::vector<uint8_t> data = {0x00, 0x00, 0x10, 0x01, 0x02};
  store(old_file, data, pattern_bytes(4, 1));
  expect_failure(18, old_file);
  EXPECT_EQ(MessageArgument, setup);
  // A position behind the data area, with no volume file to go to.
  store(old_file, raw_blocks({}, {}), {});
  put_u32(&entry[kEntryDataPosition], 1 << 20);
  expect_failure(18, old_file);
}

// A block is read only when the item's data holds it, and a stream only
// when its announced size is one it can expand to.
TEST_F(Patching, BlocksMustLieWithinTheItemsData) {
  std::vector<uint8_t> old_file = pattern_bytes(100, 24);
  std::vector<uint8_t> expected = {1, 2, 3, 4};
  store(old_file, raw_blocks({0x83}, expected), expected);
  ASSERT_TRUE(apply()) << error;
  store(old_file, raw_blocks({0x83}, expected), expected);
  // One byte less: the last literal lies outside the item's data.
  put_u32(&entry[kEntryDataLength], get_u32(&entry[kEntryDataLength]) - 1);
  expect_failure(18, old_file);
  // 1 MB announced for a stream of one byte.
  std::vector<uint8_t> data = {kPatchCompressed | kPatchLongSize, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00};
  store(old_file, data, expected);
  expect_failure(18, old_file);
  EXPECT_EQ(MessageArgument, setup);
}

// An entry that claims nearly 4 GiB of data, and a block that announces
// as much: a few bytes of data back it, so it is damage (error 18), never
// a reason to ask for the memory (which fails as error 12).
TEST_F(Patching, BlockSizesTheDataCannotHoldAreNeverAskedOfMemory) {
  std::vector<uint8_t> old_file = pattern_bytes(100, 27);
  const uint8_t wide = kPatchLongSize | kPatchLongCompressedSize;
  const std::vector<std::vector<uint8_t>> crafted = {
      // Raw, 0xFFFFFFF0 bytes.
      {kPatchLongSize, 0xF0, 0xFF, 0xFF, 0xFF, 1, 2, 3},
      // Compressed, 0xFFFFFFF0 bytes from a stream said to be 16 MiB long:
      // a stored block of 1 byte that does not end the stream.
      {kPatchCompressed | wide, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x07, 0x01, 0x00, 0x61},
      // The commands block whole, then such a literals block.
      {0x80, 0x01, 0x00, 0x00, kPatchLongSize, 0xF0, 0xFF, 0xFF, 0xFF, 1, 2, 3},
  };
  for (const auto& data : crafted) {
    store(old_file, data, pattern_bytes(1, 1));
    put_u32(&entry[kEntryDataLength], 0xFFFFFFFFu);
    {
      AddressSpaceLimit limit(512u << 20);
      ASSERT_TRUE(limit.set());
      EXPECT_FALSE(apply());
    }
    EXPECT_EQ(error, 18u);
    // Where the data would have to go on.
    EXPECT_EQ(MessageArgument, volume_path(setup, 1));
    EXPECT_EQ(read_bytes(old_path), old_file);
    EXPECT_TRUE(temp_files(dir, old_path).empty());
    close_data_area();
  }
}

TEST_F(Patching, CompressedBlocks) {
  std::vector<uint8_t> old_file = pattern_bytes(50000, 21);
  std::vector<uint8_t> new_file = old_file;
  std::vector<uint8_t> text(20000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = "the patched file, "[i % 18];
  new_file.insert(new_file.begin() + 25000, text.begin(), text.end());
  PatchBlocks blocks = make_patch(old_file.data(), old_file.size(), new_file.data(), new_file.size());
  std::vector<uint8_t> data;
  ASSERT_TRUE(encode_patch(blocks, kStreamLevelDefault, &data));
  // The repeated text in the literals block compresses.
  ASSERT_LT(data.size(), 2000u);
  store(old_file, data, new_file);
  ASSERT_TRUE(apply()) << "error " << error;
  EXPECT_EQ(read_bytes(old_path), new_file);

  // A damaged stream is refused before anything is built from it.
  size_t literals_at = block_length(data, 0);
  ASSERT_EQ(data[literals_at] & kPatchCompressed, kPatchCompressed);
  data[literals_at + 1 + size_field(data[literals_at]) + packed_field(data[literals_at])] = 0x08;  // block type 0
  store(old_file, data, new_file);
  expect_failure(18, old_file);
}

// Real binaries: old and new versions of Windows libraries.
std::string wine_library(const char* name) {
  for (const char* folder : {"/usr/lib/i386-linux-gnu/wine/i386-windows/", "/usr/lib/wine/i386-windows/"}) {
    std::string path = std::string(folder) + name;
    if (file_exists(path)) return path;
  }
  return "";
}

class PatchGenerator : public Patching {
 protected:
  // Builds the patch, applies it and returns its stored size.
  size_t round_trip(const std::vector<uint8_t>& old_file, const std::vector<uint8_t>& new_file) {
    PatchBlocks blocks = make_patch(old_file.data(), old_file.size(), new_file.data(), new_file.size());
    std::vector<uint8_t> data;
    EXPECT_TRUE(encode_patch(blocks, kStreamLevelDefault, &data));
    store(old_file, data, new_file);
    EXPECT_TRUE(apply()) << "error " << error;
    EXPECT_EQ(read_bytes(old_path), new_file);
    close_data_area();
    return data.size();
  }
};

TEST_F(PatchGenerator, ModifiedLibrary) {
  std::string path = wine_library("xinput1_3.dll");
  if (path.empty()) GTEST_SKIP() << "no Wine i386 libraries here";
  std::vector<uint8_t> old_file = read_bytes(path);
  std::vector<uint8_t> new_file = old_file;
  // Scattered byte changes, an inserted run and a removed one.
  for (size_t i = 0; i < 200; ++i) new_file[(i * 7919 + 100) % new_file.size()] ^= 0x5A;
  std::vector<uint8_t> inserted = pattern_bytes(1000, 22);
  new_file.insert(new_file.begin() + new_file.size() / 3, inserted.begin(), inserted.end());
  new_file.erase(new_file.begin() + 2 * new_file.size() / 3, new_file.begin() + 2 * new_file.size() / 3 + 5000);
  size_t size = round_trip(old_file, new_file);
  RecordProperty("patch_bytes", static_cast<int>(size));
  EXPECT_LT(size, new_file.size() / 50) << size << " bytes for " << new_file.size();
}

TEST_F(PatchGenerator, NeighbouringVersionsOfALibrary) {
  std::string old_path_1 = wine_library("xinput1_3.dll"), new_path_1 = wine_library("xinput1_4.dll");
  if (old_path_1.empty() || new_path_1.empty()) GTEST_SKIP() << "no Wine i386 libraries here";
  std::vector<uint8_t> old_file = read_bytes(old_path_1), new_file = read_bytes(new_path_1);
  size_t size = round_trip(old_file, new_file);
  std::vector<uint8_t> whole;
  ASSERT_EQ(encode_stream(new_file.data(), new_file.size(), kStreamLevelDefault, &whole), kEncodeOk);
  // Much smaller than the new file, and than the new file compressed.
  EXPECT_LT(size, new_file.size() / 10) << size;
  EXPECT_LT(size, whole.size() / 3) << size << " against " << whole.size() << " compressed";
}

TEST_F(PatchGenerator, IdenticalUnrelatedAndEmptyFiles) {
  std::vector<uint8_t> a = pattern_bytes(200000, 23), b = pattern_bytes(3000, 24);
  PatchBlocks same = make_patch(a.data(), a.size(), a.data(), a.size());
  EXPECT_TRUE(same.literals.empty());
  EXPECT_LE(same.commands.size(), 4 * 4u);  // 200,000 bytes in copies of 65,664
  round_trip(a, a);
  PatchBlocks unrelated = make_patch(a.data(), a.size(), b.data(), b.size());
  EXPECT_GT(unrelated.literals.size(), b.size() * 9 / 10);
  round_trip(a, b);
  round_trip({}, b);
  round_trip(b, {});
  // A file made of its old version twice over: copies reach back far.
  std::vector<uint8_t> twice = a;
  append(&twice, a);
  EXPECT_LT(round_trip(a, twice), 100u);
}

}  // namespace
