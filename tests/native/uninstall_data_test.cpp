// Reading the installation record back: whole records, and damaged ones
// that must yield nothing to remove.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/native/record_bytes.h"
#include "uninstall/uninstall_data.h"

namespace {

std::vector<uint8_t> full_record() {
  RecordWriter key;
  key.u32(0x80000002);
  key.text("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo");
  RecordWriter w;
  w.block(kRemoveListId, remove_list({{".", "app.exe", 0},
                                      {".\\data", "lib.dll", kRemoveShared | kRemoveSelfRegistering},
                                      {"C:\\windows\\Fonts", "demo.ttf", kRemoveFont}}));
  w.block(kShortcutListId, shortcut_list({{"C:\\Menu\\Programs\\Demo", "Demo.lnk"},
                                          {"C:\\Menu\\Startup", "Demo.lnk"}}));
  w.block(kUninstallKeyBlockId, key.bytes);
  w.block(kUninstallEndId, {});
  return w.bytes;
}

TEST(UninstallData, ReadsEveryRecordAndTheKey) {
  std::vector<uint8_t> bytes = full_record();
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
  std::vector<Removed> files = removed_records(data);
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ(".", files[0].folder);
  EXPECT_EQ("app.exe", files[0].name);
  EXPECT_EQ(".\\data", files[1].folder);
  EXPECT_EQ("lib.dll", files[1].name);
  EXPECT_EQ(kRemoveShared | kRemoveSelfRegistering, files[1].flags);
  EXPECT_EQ("demo.ttf", files[2].name);
  EXPECT_EQ(kRemoveFont, files[2].flags);
  std::vector<Shortcut> shortcuts = shortcut_records(data);
  ASSERT_EQ(2u, shortcuts.size());
  EXPECT_EQ("C:\\Menu\\Programs\\Demo", shortcuts[0].folder);
  EXPECT_EQ("Demo.lnk", shortcuts[0].file);
  EXPECT_EQ("C:\\Menu\\Startup", shortcuts[1].folder);
  EXPECT_EQ("Demo.lnk", shortcuts[1].file);
  ASSERT_TRUE(data.has_uninstall_key);
  EXPECT_EQ(0x80000002u, data.uninstall_root);
  EXPECT_EQ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", text_of(data.uninstall_key));
}

TEST(UninstallData, EveryTruncationIsDamageAndYieldsNothing) {
  std::vector<uint8_t> bytes = full_record();
  for (size_t cut = 8; cut < bytes.size(); ++cut) {
    UninstallData data;
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), cut, &data)) << cut;
    EXPECT_EQ(0u, data.remove_count) << cut;
    EXPECT_EQ(nullptr, data.remove_list) << cut;
    EXPECT_EQ(0u, data.shortcut_count) << cut;
    EXPECT_FALSE(data.has_uninstall_key) << cut;
  }
}

TEST(UninstallData, RefusesMissingAndInconsistentRecords) {
  UninstallData data;
  EXPECT_EQ(UninstallDataStatus::kMissing, parse_uninstall_data(nullptr, 0, &data));
  std::vector<uint8_t> eight_zeros(8, 0);  // the placeholder a setup never overwrote
  EXPECT_EQ(UninstallDataStatus::kMissing, parse_uninstall_data(eight_zeros.data(), 8, &data));

  RecordWriter huge_count;
  RecordWriter payload;
  payload.u32(0x40000000);
  huge_count.block(kRemoveListId, payload.bytes);
  huge_count.block(kUninstallEndId, {});
  EXPECT_EQ(UninstallDataStatus::kDamaged,
            parse_uninstall_data(huge_count.bytes.data(), huge_count.bytes.size(), &data));

  std::vector<uint8_t> bytes = full_record();
  std::vector<uint8_t> compressed = bytes;
  compressed[2] = 1;
  EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(compressed.data(), compressed.size(), &data));
  std::vector<uint8_t> oversized = bytes;
  oversized[4] += 1;  // the RemoveList claims one byte more than it holds
  EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(oversized.data(), oversized.size(), &data));
  EXPECT_EQ(0u, data.remove_count);
}

// Blocks that are well formed one by one but do not make the chain the
// setup writes: each must leave nothing to remove.
TEST(UninstallData, RefusesRepeatedBlocksAndBadShortcutLists) {
  RecordWriter files;
  files.block(kRemoveListId, remove_list({{".", "app.exe", 0}}));
  auto chain_of = [&](const std::vector<std::vector<uint8_t>>& shortcut_payloads, bool second_remove_list) {
    RecordWriter w = files;
    for (const std::vector<uint8_t>& payload : shortcut_payloads) w.block(kShortcutListId, payload);
    if (second_remove_list) w.block(kRemoveListId, remove_list({{".", "other.exe", 0}}));
    w.block(kUninstallEndId, {});
    return w.bytes;
  };
  std::vector<uint8_t> one = shortcut_list({{"C:\\Menu", "A.lnk"}});
  std::vector<uint8_t> good = chain_of({one}, false);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(good.data(), good.size(), &data));
  ASSERT_EQ(1u, data.shortcut_count);

  std::vector<uint8_t> surplus = one;
  surplus.push_back(0);  // a byte behind the last record
  std::vector<uint8_t> overcounted = one;
  overcounted[0] = 2;  // two records claimed, one present
  std::vector<uint8_t> huge = one;
  huge[3] = 0x40;
  for (const std::vector<uint8_t>& bytes :
       {chain_of({one, one}, false), chain_of({one}, true), chain_of({surplus}, false),
        chain_of({overcounted}, false), chain_of({huge}, false)}) {
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    EXPECT_EQ(0u, data.remove_count);
    EXPECT_EQ(0u, data.shortcut_count);
  }
}

// The setup writes each text without its terminator. A NUL inside one
// would cut the path or key the uninstaller acts on short, to a folder above
// the recorded one or to the Uninstall key of every product.
TEST(UninstallData, ATextHoldingANulByteIsDamage) {
  const std::string nul(1, '\0');
  const std::string prefix = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  auto record_with = [&](const std::string& folder, const std::string& name, const std::string& menu,
                         const std::string& key) {
    return record_bytes({{folder, name, 0}}, {{menu, "Demo.lnk"}}, 0x80000002, key);
  };
  std::vector<uint8_t> sound = record_with(".\\data", "app.exe", "C:\\Menu\\Programs\\Demo", prefix + "Demo");
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(sound.data(), sound.size(), &data));
  for (const std::vector<uint8_t>& bytes :
       {record_with(".\\data" + nul + "x", "app.exe", "C:\\Menu\\Programs\\Demo", prefix + "Demo"),
        record_with(".\\data", nul + "app.exe", "C:\\Menu\\Programs\\Demo", prefix + "Demo"),
        record_with(".\\data", "app.exe", "C:\\Menu\\Programs\\" + nul + nul, prefix + "Demo"),
        record_with(".\\data", "app.exe", "C:\\Menu\\Programs\\Demo", prefix + nul + "Demo")}) {
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    EXPECT_EQ(0u, data.remove_count);
    EXPECT_FALSE(data.has_uninstall_key);
  }
}

}  // namespace
