// Writing the installation record: a setup that uses none of the extension
// blocks writes exactly the old format; the extension blocks stand before
// the end block where a reader that walks the headers passes over them;
// earlier installations are merged one level deep; and every write
// is checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "record/earlier_installations.h"
#include "record/removal_plan.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"
#include "tests/native/record_bytes.h"
#include "tests/native/test_files.h"

namespace {

const char kImage[] = "MZ the uninstaller's program";
const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo";

// The uninstaller as the setup places it: its image and the 8 bytes that
// the RemoveList header replaces.
struct PlacedUninstaller {
  TempDir dir;
  std::string path = dir.file("Uninstall.exe");
  PlacedUninstaller() {
    std::vector<uint8_t> bytes(kImage, kImage + sizeof kImage - 1);
    bytes.resize(bytes.size() + kBlockHeaderSize, 0);
    write_bytes(path, bytes);
  }
  std::vector<uint8_t> record() const {
    std::vector<uint8_t> all = read_bytes(path);
    return std::vector<uint8_t>(all.begin() + sizeof kImage - 1, all.end());
  }
};

void set_path(char* buffer, size_t size, const char* text) { copy_string(buffer, text, size); }

// Writes the record the way the final step does; extend adds whatever the
// installation needs beyond the old blocks, before the end block.
template <typename Extend>
std::vector<uint8_t> write_record(const PlacedUninstaller& placed, Extend extend) {
  FileHandle file = open_file(placed.path.c_str(), 2);
  EXPECT_NE(INVALID_FILE_HANDLE, file);
  RecordFile log{file, 0};
  uint32_t start = seek_from_end(file, 0);
  set_path(InstallDir, sizeof InstallDir, "C:\\Apps\\Demo\\");
  write_record_u32(&log, 0);
  uint32_t count = 0;
  for (const char* path : {"C:\\Apps\\Demo\\app.exe", "C:\\APPS\\demo\\doc\\en\\guide.txt",
                           "C:\\Windows\\System\\shared.dll", "C:\\Apps\\Demo\\data\\"}) {
    set_path(DestPath, sizeof DestPath, path);
    write_log_record(&log, std::strstr(path, "shared") ? kRemoveShared : 0);
    ++count;
  }
  close_block(&log, start - kBlockHeaderSize, kRemoveListId, &count);
  uint32_t shortcuts = open_block(&log, kShortcutListId);
  write_record_u32(&log, 0);
  write_counted_string(&log, "C:\\Menu\\Programs\\Demo");
  write_counted_string(&log, "Demo.lnk");
  uint32_t one = 1;
  close_block(&log, shortcuts, kShortcutListId, &one);
  write_block_header(&log, kUninstallKeyBlockId, static_cast<uint32_t>(std::strlen(kKey) + 6));
  write_record_u32(&log, 0x80000002);
  write_counted_string(&log, kKey);
  extend(&log);
  write_block_header(&log, kUninstallEndId, 0);
  EXPECT_TRUE(finish_record(&log));
  close_file(file);
  return placed.record();
}

std::vector<uint8_t> old_format_record() {
  return record_bytes({{".", "app.exe", 0},
                       {".\\doc\\en", "guide.txt", 0},
                       {"C:\\Windows\\System", "shared.dll", kRemoveShared},
                       {".\\data", "", 0}},
                      {{"C:\\Menu\\Programs\\Demo", "Demo.lnk"}}, 0x80000002, kKey);
}

void extend_every_way(RecordFile* log) {
  write_install_folder(log, "C:\\Apps\\Demo");
  uint32_t settings = open_block(log, kSettingsListId);
  write_record_u32(log, 0);
  write_registry_setting(log, 0x80000001, "Software\\Classes\\.demo", "", kSettingDeleteKeyIfEmpty, 1);
  write_ini_setting(log, "C:\\Apps\\Demo\\demo.ini", "Viewer", "Greeting", kSettingFileCreated);
  uint32_t two = 2;
  close_block(log, settings, kSettingsListId, &two);
}

// A reader as the block container defines it: from header to header by
// the stored size, passing over every id it does not know, up to the end
// block. Answers the ids it met, or nothing when the chain does not end
// exactly at the end of the bytes.
std::vector<uint16_t> walk_headers(const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> ids;
  for (size_t at = 0; at + kBlockHeaderSize <= bytes.size();) {
    uint16_t id = get_u16(&bytes[at]);
    uint32_t size = get_u32(&bytes[at + 4]);
    ids.push_back(id);
    at += kBlockHeaderSize + size;
    if (id == kUninstallEndId) return at == bytes.size() ? ids : std::vector<uint16_t>();
  }
  return {};
}

TEST(UninstallDataWriter, ARecordWithoutExtensionsIsTheOldFormatByteForByte) {
  PlacedUninstaller placed;
  std::vector<uint8_t> record = write_record(placed, [](RecordFile*) {});
  EXPECT_EQ(old_format_record(), record);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  EXPECT_FALSE(data.has_install_folder);
  EXPECT_EQ(0u, data.setting_count);
  EXPECT_EQ(0u, data.earlier_count);
}

TEST(UninstallDataWriter, ExtensionBlocksComeBeforeTheEndWhereAWalkingReaderPassesOverThem) {
  PlacedUninstaller placed;
  std::vector<uint8_t> record = write_record(placed, extend_every_way);
  std::vector<uint8_t> old = old_format_record();
  // The old blocks stand first, unchanged; only the end block moves on.
  ASSERT_GT(record.size(), old.size());
  EXPECT_TRUE(std::equal(old.begin(), old.end() - kBlockHeaderSize, record.begin()));
  EXPECT_EQ((std::vector<uint16_t>{kRemoveListId, kShortcutListId, kUninstallKeyBlockId, kInstallFolderId,
                                   kSettingsListId, kUninstallEndId}),
            walk_headers(record));

  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  EXPECT_EQ(4u, data.remove_count);
  EXPECT_EQ(1u, data.shortcut_count);
  ASSERT_TRUE(data.has_install_folder);
  EXPECT_EQ("C:\\Apps\\Demo", text_of(data.install_folder));
  ASSERT_EQ(2u, data.setting_count);
  const uint8_t* cursor = data.setting_list;
  SettingRecord registry = next_setting_record(&cursor);
  EXPECT_EQ(kSettingRegistryValue, registry.kind);
  EXPECT_EQ(0x80000001u, registry.root);
  EXPECT_EQ("Software\\Classes\\.demo", text_of(registry.path));
  EXPECT_EQ("", text_of(registry.name));
  EXPECT_EQ(kSettingDeleteKeyIfEmpty, registry.flags);
  EXPECT_EQ(1, registry.created_keys);
  SettingRecord ini = next_setting_record(&cursor);
  EXPECT_EQ(kSettingIniEntry, ini.kind);
  EXPECT_EQ("C:\\Apps\\Demo\\demo.ini", text_of(ini.path));
  EXPECT_EQ("Viewer", text_of(ini.section));
  EXPECT_EQ("Greeting", text_of(ini.name));
  EXPECT_EQ(kSettingFileCreated, ini.flags);
}

// The RemoveList that write_record writes, as a block.
std::vector<uint8_t> own_list() {
  RecordWriter w;
  w.block(kRemoveListId, remove_list({{".", "app.exe", 0},
                                      {".\\doc\\en", "guide.txt", 0},
                                      {"C:\\Windows\\System", "shared.dll", kRemoveShared},
                                      {".\\data", "", 0}}));
  return w.bytes;
}

struct Merged {
  std::string folder, name;
  uint8_t flags;
  uint32_t uses;
  bool operator==(const Merged& o) const {
    return folder == o.folder && name == o.name && flags == o.flags && uses == o.uses;
  }
};

// Two updates over an installation that an older setup recorded: the
// earlier installations' files are merged, once per path, and only those
// the new list does not remove already, but for a shared file, which
// counts the earlier installations that raised its count. Each earlier
// installation's other blocks are kept once, with an empty RemoveList.
TEST(UninstallDataWriter, EarlierInstallationsAreMergedOncePerPath) {
  const char kFolder[] = "C:\\Apps\\Demo";  // where the uninstaller lies
  std::vector<uint8_t> oldest = record_bytes(
      {{".", "app.exe", 0}, {".", "old.txt", 0}, {"C:\\Windows\\System", "shared.dll", kRemoveShared}},
      {{"C:\\Menu\\Programs\\Demo", "Demo.lnk"}}, 0x80000002, kKey);
  const std::vector<uint8_t> own = own_list();
  PlacedUninstaller second;
  std::vector<uint8_t> middle = write_record(second, [&](RecordFile* log) {
    EXPECT_TRUE(write_earlier_installations(log, oldest.data(), oldest.size(), kFolder, own.data(), own.size()));
  });
  PlacedUninstaller third;
  std::vector<uint8_t> newest = write_record(third, [&](RecordFile* log) {
    EXPECT_TRUE(write_earlier_installations(log, middle.data(), middle.size(), kFolder, own.data(), own.size()));
  });
  EXPECT_EQ((std::vector<uint16_t>{kRemoveListId, kShortcutListId, kUninstallKeyBlockId, kEarlierInstallationId,
                                   kEarlierRemovalsId, kUninstallEndId}),
            walk_headers(newest));
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(newest.data(), newest.size(), &data));
  EXPECT_EQ(4u, data.remove_count);
  ASSERT_EQ(1u, data.earlier_count);  // the middle and the oldest keep the same blocks
  const uint8_t* cursor = data.earlier;
  UninstallData earlier = next_earlier_installation(&cursor);
  EXPECT_EQ(0u, earlier.remove_count);
  EXPECT_EQ(1u, earlier.shortcut_count);
  EXPECT_EQ(kKey, text_of(earlier.uninstall_key));
  std::vector<Merged> merged;
  cursor = data.earlier_removals;
  for (uint32_t i = 0; i < data.earlier_removal_count; ++i) {
    EarlierRemoval r = next_earlier_removal(&cursor);
    merged.push_back({text_of(r.record.folder), text_of(r.record.name), r.record.flags, r.uses});
  }
  EXPECT_EQ((std::vector<Merged>{{"C:\\Windows\\System", "shared.dll", kRemoveShared, 2}, {".", "old.txt", 0, 1}}),
            merged);
  EXPECT_TRUE(record_plans(data, kFolder));
}

// An earlier installation in another folder (an uninstaller outside it,
// and the user chose another folder since) has its files named by their
// whole paths, and its subfolders listed, so that they still go when empty.
TEST(UninstallDataWriter, AnEarlierInstallationElsewhereIsMergedByWholePaths) {
  RecordWriter old;
  old.block(kRemoveListId, remove_list({{".\\sub\\deep", "a.txt", 0}}));
  RecordWriter folder;
  folder.text("C:\\Old");
  old.block(kInstallFolderId, folder.bytes);
  old.block(kUninstallEndId, {});
  const std::vector<uint8_t> own = own_list();
  PlacedUninstaller placed;
  std::vector<uint8_t> record = write_record(placed, [&](RecordFile* log) {
    EXPECT_TRUE(write_earlier_installations(log, old.bytes.data(), old.bytes.size(), "C:\\Uninstallers", own.data(),
                                            own.size()));
  });
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(record.data(), record.size(), &data));
  std::vector<Merged> merged;
  const uint8_t* cursor = data.earlier_removals;
  for (uint32_t i = 0; i < data.earlier_removal_count; ++i) {
    EarlierRemoval r = next_earlier_removal(&cursor);
    merged.push_back({text_of(r.record.folder), text_of(r.record.name), r.record.flags, r.uses});
  }
  EXPECT_EQ((std::vector<Merged>{{"C:\\Old\\sub\\deep", "a.txt", 0, 1},
                                 {"C:\\Old\\sub\\deep", "", 0, 1},
                                 {"C:\\Old\\sub", "", 0, 1}}),
            merged);
  ASSERT_EQ(1u, data.earlier_count);
  cursor = data.earlier;
  EXPECT_EQ("C:\\Old", text_of(next_earlier_installation(&cursor).install_folder));
}

// The pieces go out in blocks: a record many times the buffer, with a
// piece larger than the buffer and a block size written back over bytes
// that left the buffer long ago, comes out as written piece by piece.
TEST(UninstallDataWriter, ARecordLargerThanItsBufferComesOutWhole) {
  PlacedUninstaller placed;
  FileHandle file = open_file(placed.path.c_str(), 2);
  ASSERT_NE(INVALID_FILE_HANDLE, file);
  RecordFile log{file, 0};
  uint32_t start = seek_from_end(file, 0);
  set_path(InstallDir, sizeof InstallDir, "C:\\Apps\\");
  RecordWriter expected;
  std::vector<uint8_t> payload;
  write_record_u32(&log, 0);
  uint32_t count = 0;
  for (; count < 1000; ++count) {
    std::string name = "file-" + std::to_string(count) + ".txt";
    set_path(DestPath, sizeof DestPath, ("C:\\Apps\\sub\\" + name).c_str());
    write_log_record(&log, static_cast<uint8_t>(count & 3));
    RecordWriter one;
    one.text(".\\sub");
    one.text(name);
    one.u8(static_cast<uint8_t>(count & 3));
    payload.insert(payload.end(), one.bytes.begin(), one.bytes.end());
  }
  close_block(&log, start - kBlockHeaderSize, kRemoveListId, &count);
  RecordWriter counted;
  counted.u32(count);
  counted.bytes.insert(counted.bytes.end(), payload.begin(), payload.end());
  expected.block(kRemoveListId, counted.bytes);
  std::vector<uint8_t> large(kRecordBufferSize + 100);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  write_record_u8(&log, 0x5A);
  write_record_bytes(&log, large.data(), static_cast<uint32_t>(large.size()));
  expected.u8(0x5A);
  expected.bytes.insert(expected.bytes.end(), large.begin(), large.end());
  EXPECT_TRUE(finish_record(&log));
  close_file(file);
  EXPECT_EQ(expected.bytes, placed.record());
}

// Once a write fails nothing more is written, and the caller learns of it
// once, when the record is finished: a full disk as a short write, any
// other failure as a failed one.
TEST(UninstallDataWriter, TheFirstFailedWriteSticks) {
  int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  RecordFile log{reinterpret_cast<FileHandle>(static_cast<intptr_t>(full)), 0};
  write_counted_string(&log, "C:\\Apps");
  EXPECT_FALSE(finish_record(&log));
  EXPECT_EQ(3, log.result);
  write_record_u32(&log, 7);
  EXPECT_FALSE(finish_record(&log));
  EXPECT_EQ(3, log.result);
  ::close(full);

  PlacedUninstaller placed;
  FileHandle reader = open_file(placed.path.c_str(), 0);
  RecordFile refused{reader, 0};
  write_block_header(&refused, kUninstallEndId, 0);
  EXPECT_FALSE(finish_record(&refused));
  EXPECT_EQ(2, refused.result);
  close_file(reader);
  EXPECT_EQ(sizeof kImage - 1 + kBlockHeaderSize, read_bytes(placed.path).size());
}

}  // namespace
