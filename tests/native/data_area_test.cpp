// The data-area reader: positions across volumes, reads that continue in the
// next volume, decoding through it, missing volumes and the disk prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/format.h"
#include "archive/platform_host.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "builder/stream_encoder.h"
#include "tests/native/data_area_fixture.h"
#include "tests/native/test_files.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Message boxes answered from a script, every text and style noted.
struct Prompt {
  std::string text;
  unsigned style;
};
std::vector<Prompt> prompts;
std::vector<int> answers;
void (*on_prompt)() = nullptr;
int scripted_answer(const char* text, unsigned style) {
  prompts.push_back({text, style});
  if (on_prompt) on_prompt();
  if (answers.empty()) return kIdCancel;
  int a = answers.front();
  answers.erase(answers.begin());
  return a;
}

int give_ups = 0;
void count_give_up() { ++give_ups; }

const uint32_t kPrefix = 100;  // stand-in stub and configuration
const uint32_t kTrailer = 16;  // bytes behind volume 0's data that are not data

// A setup file and volume files holding `volumes[k]` as the data of volume
// k, with the reader opened on volume 0 as the preparation step leaves it.
class DataArea : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<uint8_t> list6;

  void SetUp() override {
    prompts.clear();
    answers.clear();
    on_prompt = nullptr;
    give_ups = 0;
    set_message_box_handler(scripted_answer);
    DiskGiveUpHandler = count_give_up;
    IsRelaunchCopy = false;
    // Texts 6/13 and 6/28 for the prompts.
    std::vector<std::string> texts(29, "");
    texts[13] = "Give up the installation?";
    texts[28] = "Please insert disk %d (100%%).";
    list6.resize(2);
    put_u16(list6.data(), static_cast<uint16_t>(texts.size()));
    for (const std::string& t : texts) list6.insert(list6.end(), t.c_str(), t.c_str() + t.size() + 1);
    SetupTypeTable[0].record.text_lists[6] = list6.data();
    CurrentRecord = &SetupTypeTable[0].record;
  }

  void TearDown() override {
    close_data_area();
    set_message_box_handler(nullptr);
    DiskGiveUpHandler = nullptr;
    IsRelaunchCopy = false;
    SetupTypeTable[0] = SetupTypeSlot{};
    CurrentRecord = nullptr;
  }

  std::string setup_path() const { return dir.file("SETUP.EXE"); }
  std::string volume_path(uint32_t k) const {
    char ext[8];
    std::snprintf(ext, sizeof ext, ".D%02u", k);
    return dir.file(std::string("SETUP") + ext);
  }

  static Bytes with_length(const Bytes& data) {
    Bytes out(4 + data.size());
    put_u32(out.data(), static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), out.begin() + 4);
    return out;
  }

  void write_volumes(const std::vector<Bytes>& volumes) {
    Bytes setup = pattern_bytes(kPrefix + kBlockHeaderSize, 1);
    Bytes area = with_length(volumes[0]);
    setup.insert(setup.end(), area.begin(), area.end());
    Bytes trailer(kTrailer, 0xEE);
    setup.insert(setup.end(), trailer.begin(), trailer.end());
    write_bytes(setup_path(), setup);
    for (uint32_t k = 1; k < volumes.size(); ++k) write_bytes(volume_path(k), with_length(volumes[k]));
    ASSERT_TRUE(open_data_area(setup_path(), kPrefix));
  }

  // The data area as one sequence, split into volumes at `cuts`.
  void write_split(const Bytes& data, const std::vector<uint32_t>& cuts) {
    std::vector<Bytes> volumes;
    uint32_t from = 0;
    for (uint32_t cut : cuts) {
      volumes.emplace_back(data.begin() + from, data.begin() + cut);
      from = cut;
    }
    volumes.emplace_back(data.begin() + from, data.end());
    write_volumes(volumes);
  }

  Bytes read(uint32_t count, int* result = nullptr) {
    Bytes out(count);
    uint32_t got = 0;
    int r = read_data(data_file, out.data(), count, &got);
    if (result) *result = r;
    out.resize(got);
    return out;
  }
};

TEST_F(DataArea, PositionsMapToFileOffsetsInEachVolume) {
  Bytes data = pattern_bytes(3000, 2);
  write_split(data, {1200, 2000});
  ASSERT_EQ(0u, seek_data(0));
  EXPECT_EQ(kPrefix + kBlockHeaderSize + 4, tell_file(data_file));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 10), read(10));
  ASSERT_EQ(0u, seek_data(1199));
  EXPECT_EQ(1u, volume_left);
  EXPECT_EQ(Bytes(data.begin() + 1199, data.begin() + 1200), read(1));

  // The position right at volume 0's end belongs to volume 1.
  ASSERT_EQ(0u, seek_data(1200));
  EXPECT_EQ(1u, volume_number);
  EXPECT_EQ(volume_path(1), ArchivePath);
  EXPECT_EQ(1200u, volumes_before);
  EXPECT_EQ(4u, tell_file(data_file));
  EXPECT_EQ(Bytes(data.begin() + 1200, data.begin() + 1210), read(10));

  // Skipping a whole volume.
  ASSERT_EQ(0u, seek_data(2500));
  EXPECT_EQ(2u, volume_number);
  EXPECT_EQ(2000u, volumes_before);
  EXPECT_EQ(504u, tell_file(data_file));
  EXPECT_EQ(500u, volume_left);
  EXPECT_TRUE(prompts.empty());
}

TEST_F(DataArea, ReadContinuesInTheNextVolume) {
  Bytes data = pattern_bytes(10000, 3);
  write_split(data, {5000});
  ASSERT_EQ(0u, seek_data(4000));
  int r = -1;
  // 4096 bytes of which 1000 lie in the current volume; the bytes behind
  // volume 0's data in the setup file are not data.
  Bytes got = read(4096, &r);
  EXPECT_EQ(0, r);
  EXPECT_EQ(Bytes(data.begin() + 4000, data.begin() + 8096), got);
  EXPECT_EQ(1u, volume_number);
  EXPECT_EQ(5000u - 3096u, volume_left);
  // At the last volume's end a read comes up short without failing... until
  // the next volume is wanted, which is missing.
  got = read(4096, &r);
  EXPECT_EQ(1, r);
  EXPECT_EQ(Bytes(data.begin() + 8096, data.end()), got);
}

TEST_F(DataArea, ShortReadReopensTheVolumeWhereItStopped) {
  Bytes data = pattern_bytes(6000, 4);
  write_split(data, {2500});
  for (uint32_t position : {100u, 3000u}) {
    ASSERT_EQ(0u, seek_data(position));
    Bytes first = read(50);
    EXPECT_EQ(Bytes(data.begin() + position, data.begin() + position + 50), first);
    // As if the disk had been taken out: the file yields nothing more.
    seek_from_end(data_file, 0);
    Bytes rest = read(100);
    EXPECT_EQ(Bytes(data.begin() + position + 50, data.begin() + position + 150), rest) << position;
  }
  EXPECT_EQ(1u, volume_number);
}

TEST_F(DataArea, ItemSpanningTwoVolumesDecodes) {
  Bytes a = pattern_bytes(50000, 5);
  for (size_t i = 0; i < a.size(); i += 3) a[i] = 'x';  // something to compress
  Bytes b = pattern_bytes(20000, 6);
  Bytes sa, sb;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  ASSERT_EQ(kEncodeOk, encode_stream(b.data(), b.size(), 6, &sb));
  Bytes area = sa;
  area.insert(area.end(), sb.begin(), sb.end());
  Bytes tail{'T', 'A', 'I', 'L'};
  area.insert(area.end(), tail.begin(), tail.end());
  // a's stream is cut in the middle of a chunk, b's lies wholly
  // in volume 2.
  uint32_t cut1 = static_cast<uint32_t>(sa.size() / 2 + 123);
  uint32_t cut2 = static_cast<uint32_t>(sa.size() + 1);
  write_split(area, {cut1, cut2, static_cast<uint32_t>(area.size() - 2)});

  ASSERT_EQ(0u, seek_data(0));
  Bytes out(a.size());
  uint32_t produced = 0;
  EXPECT_TRUE(decode_to_memory(out.data(), static_cast<uint32_t>(out.size()), data_file,
                               static_cast<uint32_t>(sa.size()), &produced));
  EXPECT_EQ(a.size(), produced);
  EXPECT_TRUE(out == a);
  EXPECT_EQ(1u, volume_number);

  // Sequential: the next stream follows without a seek, and crosses into
  // volume 2 on its first byte.
  std::string path = dir.file("b.out");
  FileHandle f = create_file(path.c_str());
  EXPECT_TRUE(decode_to_file(f, data_file, static_cast<uint32_t>(sb.size())));
  close_file(f);
  EXPECT_TRUE(read_bytes(path) == b);
  EXPECT_EQ(2u, volume_number);
  // The reader stands right behind it: the tail, across volume 3.
  EXPECT_EQ(tail, read(4));
}

// A volume whose data ends with a chunk of the decoder's input, then an
// empty volume: the read that finds the first one used up gets nothing
// from the empty one, which must not read as the end of the stream.
TEST_F(DataArea, EmptyVolumeBehindAChunkBoundaryIsPassedOver) {
  Bytes a = pattern_bytes(60000, 19);
  for (size_t i = 0; i < a.size(); i += 3) a[i] = 'x';
  Bytes sa;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  ASSERT_GT(sa.size(), kInputChunk + 1000);
  write_split(sa, {kInputChunk, kInputChunk, kInputChunk + 1000});
  ASSERT_EQ(0u, seek_data(0));
  Bytes out(a.size());
  uint32_t produced = 0;
  EXPECT_TRUE(decode_to_memory(out.data(), static_cast<uint32_t>(out.size()), data_file,
                               static_cast<uint32_t>(sa.size()), &produced));
  EXPECT_EQ(a.size(), produced);
  EXPECT_TRUE(out == a);
  EXPECT_EQ(3u, volume_number);
  EXPECT_TRUE(prompts.empty());
}

// The same for a read of raw bytes: two empty volumes in a row.
TEST_F(DataArea, ReadThatFindsItsVolumeUsedUpGoesPastEmptyOnes) {
  Bytes data = pattern_bytes(3000, 20);
  write_split(data, {1000, 1000, 1000});
  ASSERT_EQ(0u, seek_data(0));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 1000), read(1000));
  int r = -1;
  EXPECT_EQ(Bytes(data.begin() + 1000, data.begin() + 1500), read(500, &r));
  EXPECT_EQ(0, r);
  EXPECT_EQ(3u, volume_number);
}

TEST_F(DataArea, StreamLongerThanItsCompressedLengthFails) {
  Bytes a = pattern_bytes(3000, 7);
  Bytes sa;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  Bytes area = sa;
  Bytes more = pattern_bytes(100, 8);
  area.insert(area.end(), more.begin(), more.end());
  write_split(area, {});
  ASSERT_EQ(0u, seek_data(0));
  Bytes out(a.size());
  // One byte short: the decoder must not take the next item's byte.
  EXPECT_FALSE(decode_to_memory(out.data(), static_cast<uint32_t>(out.size()), data_file,
                                static_cast<uint32_t>(sa.size() - 1)));
  EXPECT_LE(tell_file(data_file), kPrefix + kBlockHeaderSize + 4 + sa.size() - 1);
}

TEST_F(DataArea, KnownLengthIsFetchedInChunksAndNeverBeyond) {
  Bytes data = pattern_bytes(kInputChunk + 2000, 16);
  write_split(data, {});
  ASSERT_EQ(0u, seek_data(0));
  {
    InputReader in;
    ASSERT_TRUE(begin_input(in, data_file, kInputChunk + 4));
    refill_input(in);
    EXPECT_EQ(kInputChunk, in.available);
    EXPECT_EQ(0, std::memcmp(in.next, data.data(), kInputChunk));
    in.available = 0;
    refill_input(in);
    EXPECT_EQ(4u, in.available);
    EXPECT_EQ(0, std::memcmp(in.next, data.data() + kInputChunk, 4));
    in.available = 0;
    refill_input(in);
    EXPECT_EQ(0u, in.available);
    EXPECT_FALSE(in.failed);
  }
  EXPECT_EQ(2000u - 4u, volume_left);
  EXPECT_EQ(Bytes(data.begin() + kInputChunk + 4, data.begin() + kInputChunk + 14), read(10));
}

// A compressed length that overstates the stream: the bytes fetched beyond
// it are given back to the file and to the reader's count alike.
TEST_F(DataArea, BytesBehindTheStreamAreGivenBackToTheReader) {
  Bytes a = pattern_bytes(3000, 17);
  Bytes sa;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  Bytes area = sa;
  Bytes more = pattern_bytes(200, 18);
  area.insert(area.end(), more.begin(), more.end());
  write_split(area, {});
  ASSERT_EQ(0u, seek_data(0));
  Bytes out(a.size());
  EXPECT_TRUE(decode_to_memory(out.data(), static_cast<uint32_t>(out.size()), data_file,
                               static_cast<uint32_t>(sa.size() + 150)));
  EXPECT_TRUE(out == a);
  EXPECT_EQ(200u, volume_left);
  EXPECT_EQ(more, read(200));
}

TEST_F(DataArea, MissingVolumeIsError18) {
  Bytes data = pattern_bytes(2000, 9);
  write_split(data, {1000});
  std::remove(volume_path(1).c_str());
  EXPECT_EQ(kErrorDataUnreadable, seek_data(1500));
  EXPECT_STREQ(volume_path(1).c_str(), MessageArgument);
  EXPECT_TRUE(prompts.empty());
}

TEST_F(DataArea, MissingVolumeFailsADecodeAtOnce) {
  Bytes a = pattern_bytes(20000, 10);
  Bytes sa;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  write_split(sa, {static_cast<uint32_t>(sa.size() / 2)});
  std::remove(volume_path(1).c_str());
  ASSERT_EQ(0u, seek_data(0));
  std::string path = dir.file("out");
  FileHandle f = create_file(path.c_str());
  EXPECT_FALSE(decode_to_file(f, data_file, static_cast<uint32_t>(sa.size())));
  close_file(f);
  // Only whole windows were written, and nothing after the failure.
  EXPECT_EQ(0u, read_bytes(path).size() % kWindowSize);
  EXPECT_EQ(INVALID_FILE_HANDLE, data_file);
}

// A setup path without extension of 256 to 259 characters: ".D01" would
// bring it to 260 to 263, past the path buffer. The volume cannot be named;
// that is unreadable data, with the path left whole and no disk asked for,
// since no disk can bring it.
TEST_F(DataArea, AVolumeNameThatDoesNotFitThePathBufferIsNotMade) {
  IsRelaunchCopy = true;
  Bytes data = pattern_bytes(2000, 14);
  for (size_t length : {256u, 257u, 258u, 259u}) {
    write_split(data, {1000});
    std::string path = std::string(length - 6, 'p') + "\\SETUP";
    ASSERT_TRUE(copy_string(ArchivePath, path.c_str(), kPathSize));
    answers = {kIdCancel, kIdYes};  // were the disk asked for, it is given up
    EXPECT_EQ(kErrorDataUnreadable, seek_data(1500)) << length;
    EXPECT_EQ(path.size(), strnlen(ArchivePath, kPathSize)) << length;
    EXPECT_STREQ(path.c_str(), MessageArgument);
    EXPECT_TRUE(prompts.empty());
    EXPECT_EQ(0, give_ups);
    close_data_area();
  }
}

// A length word that claims nearly 4 GiB (which a start-page block lets
// the loader accept): the file offset of a far position does not fit 32
// bits, and must not wrap around to the first data bytes.
TEST_F(DataArea, APositionWhoseFileOffsetDoesNotFitIsError18) {
  Bytes data = pattern_bytes(300, 21);
  write_split(data, {});
  close_data_area();
  Bytes setup = read_bytes(setup_path());
  put_u32(&setup[kPrefix + kBlockHeaderSize], 0xFFFFFFFFu);
  write_bytes(setup_path(), setup);
  ASSERT_TRUE(open_data_area(setup_path(), kPrefix));
  const uint32_t wrapping = 0xFFFFFFFFu - (kPrefix + kBlockHeaderSize + 4) + 1;
  EXPECT_EQ(kErrorDataUnreadable, seek_data(wrapping));
  EXPECT_STREQ(setup_path().c_str(), MessageArgument);
  EXPECT_EQ(kErrorDataUnreadable, seek_data(wrapping + 10));
  EXPECT_EQ(0u, seek_data(10));
  EXPECT_EQ(Bytes(data.begin() + 10, data.begin() + 20), read(10));
}

// A volume file the system cannot position in: the seek's failure is the
// reader's.
TEST_F(DataArea, ASeekThatFailsIsError18) {
  Bytes data = pattern_bytes(300, 22);
  write_split(data, {});
  close_data_area();
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  data_file = reinterpret_cast<FileHandle>(static_cast<intptr_t>(ends[0]));
  EXPECT_EQ(kErrorDataUnreadable, seek_data(10));
  close(ends[1]);
}

TEST_F(DataArea, VolumeWithoutALengthWordCountsAsMissing) {
  Bytes data = pattern_bytes(2000, 11);
  write_split(data, {1000});
  write_bytes(volume_path(1), {1, 2});
  EXPECT_EQ(kErrorDataUnreadable, seek_data(1000));
}

TEST_F(DataArea, RelaunchedCopyAsksForTheDisk) {
  IsRelaunchCopy = true;
  Bytes data = pattern_bytes(2000, 12);
  write_split(data, {1000});
  std::string d1 = volume_path(1);
  std::rename(d1.c_str(), dir.file("held").c_str());
  // OK without the disk asks again; Cancel then No asks again; then the
  // disk is put in and OK goes on.
  answers = {kIdOk, kIdCancel, kIdNo, kIdOk};
  static std::string held, wanted;
  held = dir.file("held");
  wanted = d1;
  on_prompt = [] {
    if (prompts.size() == 4) std::rename(held.c_str(), wanted.c_str());
  };
  ASSERT_EQ(0u, seek_data(1500));
  EXPECT_EQ(Bytes(data.begin() + 1500, data.begin() + 1510), read(10));
  ASSERT_EQ(4u, prompts.size());
  EXPECT_EQ("Please insert disk 2 (100%).", prompts[0].text);
  EXPECT_EQ(kMbOkCancel | kMbIconInformation, prompts[0].style);
  EXPECT_EQ(prompts[0].text, prompts[1].text);
  EXPECT_EQ("Give up the installation?", prompts[2].text);
  EXPECT_EQ(kMbYesNo | kMbIconQuestion, prompts[2].style);
  EXPECT_EQ(prompts[0].text, prompts[3].text);
  EXPECT_EQ(0, give_ups);
}

TEST_F(DataArea, RelaunchedCopyGivenUpIsError15) {
  IsRelaunchCopy = true;
  Bytes data = pattern_bytes(3000, 13);
  write_split(data, {1000, 2000});
  std::remove(volume_path(2).c_str());
  ASSERT_EQ(0u, seek_data(1000));
  answers = {kIdCancel, kIdYes};
  EXPECT_EQ(kErrorDiskGivenUp, seek_data(2000));
  ASSERT_EQ(2u, prompts.size());
  EXPECT_EQ("Please insert disk 3 (100%).", prompts[0].text);
  EXPECT_EQ(1, give_ups);
  // The reader never goes back a volume: an earlier position is an error,
  // not a wild offset.
  EXPECT_EQ(kErrorDataUnreadable, seek_data(0));
}

TEST_F(DataArea, RelaunchedCopyGivenUpDuringADecode) {
  IsRelaunchCopy = true;
  Bytes a = pattern_bytes(20000, 15);
  Bytes sa;
  ASSERT_EQ(kEncodeOk, encode_stream(a.data(), a.size(), 6, &sa));
  write_split(sa, {static_cast<uint32_t>(sa.size() / 2)});
  std::remove(volume_path(1).c_str());
  ASSERT_EQ(0u, seek_data(0));
  answers = {kIdCancel, kIdYes};
  Bytes out(a.size());
  EXPECT_FALSE(decode_to_memory(out.data(), static_cast<uint32_t>(out.size()), data_file,
                                static_cast<uint32_t>(sa.size())));
  EXPECT_EQ(2u, prompts.size());
  EXPECT_EQ(1, give_ups);
}

TEST_F(DataArea, VolumeNamesFollowTheSetupFile) {
  // Extension replaced, or appended where the name has none.
  Bytes data = pattern_bytes(30, 14);
  write_split(data, {10, 20});
  std::string bare = dir.file("setup");
  std::rename(setup_path().c_str(), bare.c_str());
  std::rename(volume_path(1).c_str(), (bare + ".D01").c_str());
  std::rename(volume_path(2).c_str(), (bare + ".D02").c_str());
  close_data_area();
  ASSERT_TRUE(open_data_area(bare, kPrefix));
  ASSERT_EQ(0u, seek_data(25));
  EXPECT_EQ(bare + ".D02", ArchivePath);
  EXPECT_EQ(Bytes(data.begin() + 25, data.end()), read(5));
}

}  // namespace
