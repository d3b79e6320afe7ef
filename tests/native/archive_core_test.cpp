// The small shared routines and the in-memory configuration services.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "archive/messages.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "tests/native/test_files.h"

namespace {

uint32_t sum(const std::vector<uint8_t>& bytes, uint32_t seed = 0) {
  return checksum_block(bytes.data(), static_cast<uint32_t>(bytes.size()), seed);
}

TEST(Checksum, KnownValues) {
  EXPECT_EQ(0x2ABu, sum({0x61, 0x62, 0x63}));
  EXPECT_EQ(0x2AFu, sum({0x61, 0x62, 0x63}, 0x80000000u));
  EXPECT_EQ(0x64636261u, sum({0x61, 0x62, 0x63, 0x64}));
  EXPECT_EQ(0xC8C6C527u, sum({0x61, 0x62, 0x63, 0x64, 0x65}));
  EXPECT_EQ(0u, sum({0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
  EXPECT_EQ(0x1234u, sum({}, 0x1234));
}

TEST(Checksum, FileEqualsBlockAcrossChunkBoundary) {
  TempDir dir;
  for (uint32_t size : {0u, 16384u, 16385u, 40000u}) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    std::string path = dir.file("f" + std::to_string(size));
    write_bytes(path, bytes);
    FileHandle file = open_file(path.c_str(), 0);
    ASSERT_NE(INVALID_FILE_HANDLE, file);
    EXPECT_EQ(sum(bytes), checksum_file(file)) << size;
    close_file(file);
  }
}

TEST(HostFiles, ReadExactAtEndAndOfNothing) {
  TempDir dir;
  write_bytes(dir.file("a"), {1, 2, 3});
  FileHandle file = open_file(dir.file("a").c_str(), 0);
  ASSERT_NE(INVALID_FILE_HANDLE, file);
  uint8_t buffer[4];
  EXPECT_EQ(0, read_exact(file, buffer, 0));
  EXPECT_EQ(1, read_exact(file, buffer, 4));  // short
  seek_to(file, 1);
  EXPECT_EQ(3u, file_length(file));
  EXPECT_EQ(1u, tell_file(file));  // the length leaves the position alone
  EXPECT_EQ(0, read_exact(file, buffer, 2));
  EXPECT_EQ(1, read_exact(file, buffer, 1));
  close_file(file);
  EXPECT_EQ(INVALID_FILE_HANDLE, open_file(dir.file("missing").c_str(), 0));
}

TEST(Memory, FreeClearsSlotAndTwiceIsHarmless) {
  char* block = nullptr;
  free_block(&block);
  EXPECT_EQ(nullptr, block);
  ASSERT_TRUE(alloc_zeroed(64, &block));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(0, block[i]);
  free_block(&block);
  EXPECT_EQ(nullptr, block);
  free_block(&block);
}

// A block grown past 2 GiB: the doubling of its size must not wrap to 0
// (and go round for ever). The memory is not there, so the growth fails
// and leaves the block as it was.
TEST(Memory, GrowthPastTwoGibibytesEndsWithoutTheMemory) {
  uint8_t* block = nullptr;
  uint32_t capacity = 0;
  ASSERT_TRUE(grow_block(&block, 0, &capacity, 100, 64));
  EXPECT_EQ(128u, capacity);
  std::memset(block, 7, 100);
  {
    AddressSpaceLimit limit(256u << 20);
    ASSERT_TRUE(limit.set());
    EXPECT_FALSE(grow_block(&block, 100, &capacity, 0x80000001u, 64));
  }
  EXPECT_EQ(128u, capacity);
  EXPECT_EQ(7, block[99]);
  free_block(&block);
}

std::string strip(std::string path) {
  char buffer[300];
  std::strcpy(buffer, path.c_str());
  strip_backslash(buffer);
  return buffer;
}

std::string extend(std::string path, const char* extension) {
  char buffer[300];
  std::strcpy(buffer, path.c_str());
  EXPECT_TRUE(set_extension(buffer, sizeof buffer, extension));
  return buffer;
}

TEST(PathStrings, Backslashes) {
  EXPECT_EQ("C:\\", strip("C:\\"));
  EXPECT_EQ("\\", strip("\\"));
  EXPECT_EQ("C:\\Dir", strip("C:\\Dir\\"));
  char buffer[16] = "";
  EXPECT_TRUE(add_backslash(buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  std::strcpy(buffer, "C:\\a");
  EXPECT_TRUE(add_backslash(buffer, sizeof buffer));
  EXPECT_TRUE(add_backslash(buffer, sizeof buffer));
  EXPECT_STREQ("C:\\a\\", buffer);
}

TEST(PathStrings, Extensions) {
  EXPECT_EQ("C:\\dir.x\\file.$$A", extend("C:\\dir.x\\file", ".$$A"));
  EXPECT_EQ("file.bak", extend("file.txt", ".bak"));
  EXPECT_EQ("a.b.D01", extend("a.b.exe", ".D01"));
  EXPECT_EQ("setup.D02", extend("setup", ".D02"));
}

TEST(PathStrings, CopyIsBoundedAndTerminated) {
  char out[4];
  EXPECT_FALSE(copy_string(out, "abcdef", sizeof out));
  EXPECT_STREQ("abc", out);
  EXPECT_TRUE(copy_string(out, "abc", sizeof out));
  EXPECT_FALSE(append_string(out, "d", sizeof out));
  EXPECT_STREQ("abc", out);
  EXPECT_TRUE(append_string(out, "", sizeof out));
}

// A path of `length` characters in a 260-byte buffer (the size of the
// program's path buffers), with guard bytes behind the buffer.
struct GuardedPath {
  char bytes[kPathSize + 8];
  explicit GuardedPath(size_t length, char last = 'x') {
    std::memset(bytes, '#', sizeof bytes);
    std::memset(bytes, 'a', length);
    if (length) bytes[length - 1] = last;
    bytes[length] = '\0';
  }
  char* path() { return bytes; }
  bool guard_intact() const {
    for (size_t i = kPathSize; i < sizeof bytes; ++i)
      if (bytes[i] != '#') return false;
    return true;
  }
};

// Every path edit fits its 260-byte buffer or leaves the path as it was.
TEST(PathStrings, EditsFitTheirBufferOrLeaveThePathAlone) {
  // add_backslash: 258 characters become 259, the most a path holds.
  for (size_t length : {258u, 259u}) {
    GuardedPath p(length);
    std::string before = p.path();
    EXPECT_EQ(length == 258, add_backslash(p.path(), kPathSize)) << length;
    EXPECT_EQ(length == 258 ? before + "\\" : before, std::string(p.path())) << length;
    EXPECT_TRUE(p.guard_intact()) << length;
  }
  GuardedPath full(259, '\\');  // already ends in a backslash
  EXPECT_TRUE(add_backslash(full.path(), kPathSize));
  EXPECT_EQ(259u, std::strlen(full.path()));

  // set_extension on names without extension of 255 to 257 characters:
  // ".D01" brings them to 259, 260 and 261, and only 259 fits.
  for (size_t length : {255u, 256u, 257u}) {
    GuardedPath p(length);
    std::string before = p.path();
    bool fits = length + 4 <= kPathSize - 1;
    EXPECT_EQ(fits, set_extension(p.path(), kPathSize, ".D01")) << length;
    EXPECT_EQ(fits ? before + ".D01" : before, std::string(p.path())) << length;
    EXPECT_TRUE(p.guard_intact()) << length;
  }
  // Replacing an extension by a longer one: from the dot at 254 on, five
  // characters reach 259, six would reach 260.
  GuardedPath dotted(257);
  dotted.bytes[254] = '.';
  EXPECT_FALSE(set_extension(dotted.path(), kPathSize, ".$$A$$"));
  EXPECT_EQ(257u, std::strlen(dotted.path()));
  EXPECT_TRUE(set_extension(dotted.path(), kPathSize, ".$$A$"));
  EXPECT_EQ(259u, std::strlen(dotted.path()));
  EXPECT_TRUE(dotted.guard_intact());

  // copy_string and append_string at 259, 260 and 261 characters.
  for (size_t length : {259u, 260u, 261u}) {
    std::string text(length, 'c');
    GuardedPath p(0);
    EXPECT_EQ(length == 259, copy_string(p.path(), text.c_str(), kPathSize)) << length;
    EXPECT_EQ(std::min<size_t>(length, 259), std::strlen(p.path())) << length;
    EXPECT_TRUE(p.guard_intact()) << length;
    GuardedPath q(100);
    EXPECT_EQ(length == 259, append_string(q.path(), text.c_str() + 100, kPathSize)) << length;
    EXPECT_EQ(std::min<size_t>(length, 259), std::strlen(q.path())) << length;
    EXPECT_TRUE(q.guard_intact()) << length;
  }
}

// A record whose text list 6 holds the given strings, made current.
struct FakeSetupType {
  std::vector<uint8_t> list6;
  explicit FakeSetupType(const std::vector<std::string>& texts) {
    list6.resize(2);
    put_u16(list6.data(), static_cast<uint16_t>(texts.size()));
    for (const std::string& t : texts) list6.insert(list6.end(), t.c_str(), t.c_str() + t.size() + 1);
    free_archive();
    SetupTypeTable[0].record.text_lists[6] = list6.data();
    CurrentRecord = &SetupTypeTable[0].record;
  }
  ~FakeSetupType() {
    SetupTypeTable[0] = SetupTypeSlot{};
    CurrentRecord = nullptr;
  }
};

TEST(Texts, LookupStopsAtTheListEnd) {
  std::vector<std::string> texts;
  for (int i = 0; i < 32; ++i) texts.push_back("text " + std::to_string(i));
  FakeSetupType type(texts);
  EXPECT_STREQ("text 0", get_text(6, 0));
  EXPECT_STREQ("text 31", get_text(6, 31));
  EXPECT_STREQ("", get_text(6, 32));
  EXPECT_STREQ("", get_text(6, -1));  // as u16 this is 65535
  EXPECT_STREQ("", get_text(11, 0));
  EXPECT_STREQ("", get_text(5, 0));  // absent list
  ASSERT_NE(nullptr, get_text(12, 3));
}

TEST(Texts, EmptyListAnswersEmpty) {
  FakeSetupType type({});
  EXPECT_STREQ("", get_text(6, 0));
}

TEST(Texts, FormatMessage) {
  FakeSetupType type({"Setup", "100% sure", "Cannot open %s.", "%s and %s %% %d"});
  std::strcpy(MessageArgument, "C:\\a b\\f.txt");
  char out[kMessageCapacity];
  format_message(out, 1);
  EXPECT_STREQ("100% sure", out);  // no %s: copied verbatim, % signs included
  format_message(out, 2);
  EXPECT_STREQ("Cannot open C:\\a b\\f.txt.", out);
  // A second %s has no argument to read: it gives nothing, never garbage.
  format_message(out, 3);
  EXPECT_STREQ("C:\\a b\\f.txt and  % %d", out);
}

TEST(Texts, FormatMessageStaysInsideItsBuffer) {
  std::string long_text(3000, 'x');
  FakeSetupType type({"", "", long_text + "%s"});
  std::memset(MessageArgument, 'y', kPathSize - 1);
  MessageArgument[kPathSize - 1] = '\0';
  std::vector<char> out(kMessageCapacity + 16, '#');
  format_message(out.data(), 2);
  EXPECT_EQ(kMessageCapacity - 1, std::strlen(out.data()));
  EXPECT_EQ('#', out[kMessageCapacity]);
  MessageArgument[0] = '\0';
}

TEST(SetupTypes, SwitchingRemembersEachFolder) {
  free_archive();
  char folders[2][kPathSize] = {"C:\\Apps\\One", "C:\\Apps\\Two"};
  uint8_t list[] = {2, 0, 0, 0, 0, 0};  // a FileList of two entries (not walked here)
  SetupTypeTable[0].folder = folders[0];
  SetupTypeTable[1].folder = folders[1];
  SetupTypeTable[1].file_list = list;
  select_setup_type(0);
  EXPECT_STREQ("C:\\Apps\\One", InstallDir);
  EXPECT_EQ(0u, CurrentFileCount);
  EXPECT_EQ(nullptr, CurrentFirstEntry);
  std::strcpy(InstallDir, "D:\\Edited");
  select_setup_type(1);
  EXPECT_STREQ("C:\\Apps\\Two", InstallDir);
  EXPECT_EQ(2u, CurrentFileCount);
  EXPECT_EQ(list + 4, CurrentFirstEntry);
  select_setup_type(0);
  EXPECT_STREQ("D:\\Edited", InstallDir);
  EXPECT_EQ(&SetupTypeTable[0].record, CurrentRecord);
  SetupTypeTable[0] = SetupTypeTable[1] = SetupTypeSlot{};
  CurrentSetupType = -1;
  CurrentRecord = nullptr;
}

TEST(Templates, FoundOnlyInsideTheStore) {
  std::vector<uint8_t> store(20);
  put_u32(&store[0], 12);   // three entries
  put_u32(&store[4], 12);
  put_u32(&store[8], 40);   // past the end
  put_u32(&store[12], 16);  // not an entry: the table has three
  DialogTemplateStore = store.data();
  DialogTemplateStoreLength = static_cast<uint32_t>(store.size());
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(find_template(1, &bytes, &length));
  EXPECT_EQ(store.data() + 12, bytes);
  EXPECT_EQ(8u, length);
  EXPECT_FALSE(find_template(2, &bytes, &length));
  EXPECT_FALSE(find_template(3, &bytes, &length));
  EXPECT_FALSE(find_template(-1, &bytes, &length));
  put_u32(&store[0], 400);  // a table larger than the store
  EXPECT_FALSE(find_template(0, &bytes, &length));
  DialogTemplateStore = nullptr;
  DialogTemplateStoreLength = 0;
}

std::vector<uint8_t> entry(uint8_t flags, const std::vector<std::string>& strings) {
  std::vector<uint8_t> e(kEntryFixedSize);
  e[kEntryFlags] = flags;
  if (flags & (kItemCompareVersion | kItemCompareLanguage)) e.resize(e.size() + kEntryVersionSize);
  if (flags & kItemHasTimes) e.resize(e.size() + kEntryTimesSize);
  for (const std::string& s : strings) e.insert(e.end(), s.c_str(), s.c_str() + s.size() + 1);
  put_u32(e.data(), static_cast<uint32_t>(e.size()));
  return e;
}

TEST(FileEntries, StringsFollowTheOptionalBlocks) {
  std::vector<uint8_t> a = entry(0x0E, {"app.exe", "", "", "", "", ""});
  EXPECT_EQ(38u + 44u, entry_strings_offset(a.data()));
  EXPECT_STREQ("app.exe", entry_string(a.data(), 0));
  std::vector<uint8_t> b = entry(0x08, {"x", "Programs;Startup", "App", "", "App", "-d"});
  EXPECT_EQ(38u + 24u, entry_strings_offset(b.data()));
  EXPECT_STREQ("Programs;Startup", entry_string(b.data(), 1));
  EXPECT_STREQ("-d", entry_string(b.data(), 5));
  EXPECT_EQ(b.data() + b.size(), next_entry(b.data()));
}

TEST(FileEntries, CheckRefusesWhatDoesNotFit) {
  std::vector<uint8_t> list = entry(0, {"a", "", "", "", "", ""});
  std::vector<uint8_t> second = entry(0x02, {"b", "", "", "", "", ""});
  list.insert(list.end(), second.begin(), second.end());
  uint32_t n = static_cast<uint32_t>(list.size());
  EXPECT_TRUE(check_file_entries(list.data(), n, 2));
  EXPECT_FALSE(check_file_entries(list.data(), n, 3));      // a third entry is not there
  EXPECT_FALSE(check_file_entries(list.data(), n - 1, 2));  // last one cut short
  std::vector<uint8_t> bad = list;
  put_u32(bad.data(), 20);  // shorter than the fixed part
  EXPECT_FALSE(check_file_entries(bad.data(), n, 1));
  bad = list;
  put_u32(bad.data(), 0);  // would never advance
  EXPECT_FALSE(check_file_entries(bad.data(), n, 2));
  bad = entry(0, {"a", "", "", "", "", ""});
  put_u32(bad.data(), static_cast<uint32_t>(bad.size()) - 1);  // the last string's NUL left outside
  EXPECT_FALSE(check_file_entries(bad.data(), static_cast<uint32_t>(bad.size()), 1));
  bad = entry(0x08, {"a", "", "", "", "", ""});
  bad[kEntryFlags] = 0x0E;  // claims a version block: strings now start past the end
  EXPECT_FALSE(check_file_entries(bad.data(), static_cast<uint32_t>(bad.size()), 1));
}

void add_string(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.c_str(), s.c_str() + s.size() + 1); }

TEST(EntryLists, ParsersStayInsideTheirList) {
  std::vector<uint8_t> patches = {1, 0};
  uint8_t head[13] = {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0};
  patches.insert(patches.end(), head, head + 13);
  add_string(patches, "app.ini");
  add_string(patches, "#InstallDir#");
  patches.insert(patches.end(), {'a', 'b', 'c'});
  EXPECT_TRUE(check_entry_list(kStringPatchList, patches.data(), static_cast<uint32_t>(patches.size())));
  StringPatchEntry patch;
  const uint8_t* end = patches.data() + patches.size();
  EXPECT_EQ(end, parse_string_patch(patches.data() + 2, end, &patch));
  EXPECT_EQ(-1, patch.offset);
  EXPECT_STREQ("#InstallDir#", patch.text);
  EXPECT_EQ(0, std::memcmp("abc", patch.pattern, 3));
  // A pattern longer than what is left.
  EXPECT_FALSE(check_entry_list(kStringPatchList, patches.data(), static_cast<uint32_t>(patches.size()) - 1));

  std::vector<uint8_t> registry = {2, 0, 2, 0, 0, 0, 1};
  add_string(registry, "Software\\Kestrel");
  add_string(registry, "");
  add_string(registry, "#InstallDir#");
  EXPECT_FALSE(check_entry_list(kRegistryList, registry.data(), static_cast<uint32_t>(registry.size())));
  registry[0] = 1;
  EXPECT_TRUE(check_entry_list(kRegistryList, registry.data(), static_cast<uint32_t>(registry.size())));
  registry.pop_back();  // the value loses its terminator
  EXPECT_FALSE(check_entry_list(kRegistryList, registry.data(), static_cast<uint32_t>(registry.size())));

  std::vector<uint8_t> ini = {1, 0, 0};
  for (const char* s : {"app.ini", "Paths", "Home", "#InstallDir#"}) add_string(ini, s);
  EXPECT_TRUE(check_entry_list(kIniList, ini.data(), static_cast<uint32_t>(ini.size())));
  EXPECT_FALSE(check_entry_list(kIniList, ini.data(), 1));
}

}  // namespace
