// Reading the installation record back: whole records, and damaged ones
// that must yield nothing to remove.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/format.h"
#include "record/uninstall_data.h"
#include "tests/native/record_bytes.h"

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

// A record with every extension block: the installation folder, a
// setting of each kind, and an earlier installation.
std::vector<uint8_t> extended_record(const std::vector<uint8_t>& earlier_payload) {
  std::vector<uint8_t> bytes = full_record();
  bytes.resize(bytes.size() - 8);  // the end block comes last again
  RecordWriter w;
  w.bytes = bytes;
  RecordWriter folder;
  folder.text("C:\\Apps\\Demo");
  w.block(kInstallFolderId, folder.bytes);
  RecordWriter settings;
  settings.u32(2);
  settings.u8(kSettingRegistryValue);
  settings.u32(0x80000001);
  settings.text("Software\\Demo");
  settings.text("Version");
  settings.u8(kSettingDeleteKeyIfEmpty);
  settings.u8(1);
  settings.u8(kSettingIniEntry);
  settings.text("C:\\Apps\\Demo\\demo.ini");
  settings.text("Viewer");
  settings.text("Greeting");
  settings.u8(0);
  w.block(kSettingsListId, settings.bytes);
  w.block(kEarlierInstallationId, earlier_payload);
  w.block(kUninstallEndId, {});
  return w.bytes;
}

TEST(UninstallData, ReadsTheExtensionBlocks) {
  std::vector<uint8_t> earlier = record_bytes({{".", "old.exe", 0}}, {}, 0, "");
  std::vector<uint8_t> bytes = extended_record(earlier);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
  EXPECT_EQ(3u, data.remove_count);
  ASSERT_TRUE(data.has_install_folder);
  EXPECT_EQ("C:\\Apps\\Demo", text_of(data.install_folder));
  ASSERT_EQ(2u, data.setting_count);
  const uint8_t* cursor = data.setting_list;
  EXPECT_EQ("Version", text_of(next_setting_record(&cursor).name));
  EXPECT_EQ("Greeting", text_of(next_setting_record(&cursor).name));
  ASSERT_EQ(1u, data.earlier_count);
  cursor = data.earlier;
  UninstallData old = next_earlier_installation(&cursor);
  ASSERT_EQ(1u, old.remove_count);
  EXPECT_EQ("old.exe", removed_records(old)[0].name);
  for (size_t cut = 8; cut < bytes.size(); ++cut)
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), cut, &data)) << cut;
}

// Ids the uninstaller must understand make an unknown one damage; ids of
// what a reader may pass over (texts, ways of asking) are passed over.
TEST(UninstallData, UnknownExtensionsArePassedOverOnlyWhereThatIsSafe) {
  auto with_block = [](uint16_t id) {
    std::vector<uint8_t> bytes = full_record();
    bytes.resize(bytes.size() - 8);
    RecordWriter w;
    w.bytes = bytes;
    w.block(id, {1, 2, 3});
    w.block(kUninstallEndId, {});
    return w.bytes;
  };
  UninstallData data;
  for (uint16_t id : {uint16_t{0x1280}, uint16_t{0x12C0}, uint16_t{kLastExtensionId}}) {
    std::vector<uint8_t> bytes = with_block(id);
    EXPECT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data)) << id;
    EXPECT_EQ(3u, data.remove_count);
  }
  for (uint16_t id : {uint16_t{0x1256}, uint16_t{kLastRequiredExtensionId}, uint16_t{0x1300}, uint16_t{0x1237}}) {
    std::vector<uint8_t> bytes = with_block(id);
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data)) << id;
    EXPECT_EQ(0u, data.remove_count);
  }
}

// The entries the setup added to a search path; one that the setup cannot
// have written (no such scope, empty, longer than a folder, two entries in
// one) would take out what is not the installation's: damage.
TEST(UninstallData, ReadsThePathEntriesTheSetupAdded) {
  auto with_paths = [](const std::vector<std::pair<uint8_t, std::string>>& entries) {
    std::vector<uint8_t> bytes = full_record();
    bytes.resize(bytes.size() - 8);
    RecordWriter w;
    w.bytes = bytes;
    RecordWriter paths;
    paths.u32(static_cast<uint32_t>(entries.size()));
    for (const auto& [scope, entry] : entries) {
      paths.u8(scope);
      paths.text(entry);
    }
    w.block(kPathEntriesId, paths.bytes);
    w.block(kUninstallEndId, {});
    return w.bytes;
  };
  UninstallData data;
  std::vector<uint8_t> bytes = with_paths({{0, "C:\\Apps\\Demo\\bin"}, {1, "C:\\Apps\\Demo\\tools"}});
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
  ASSERT_EQ(2u, data.path_count);
  const uint8_t* cursor = data.path_list;
  PathEntryRecord user = next_path_record(&cursor);
  PathEntryRecord machine = next_path_record(&cursor);
  EXPECT_EQ(0, user.scope);
  EXPECT_EQ("C:\\Apps\\Demo\\bin", text_of(user.entry));
  EXPECT_EQ(1, machine.scope);
  EXPECT_EQ("C:\\Apps\\Demo\\tools", text_of(machine.entry));
  for (const auto& bad : std::vector<std::pair<uint8_t, std::string>>{
           {2, "C:\\Apps"}, {0, ""}, {0, "C:\\Apps;C:\\Windows"}, {0, std::string(260, 'a')}}) {
    bytes = with_paths({bad});
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data)) << bad.second;
    EXPECT_EQ(0u, data.path_count);
  }
}

// The 64-bit mode's block: its architecture is read; a value no setup
// writes, a block of another length or a second block is damage, since
// the removal would look in the wrong folders and registry view.
TEST(UninstallData, ReadsTheNativeModeAndRefusesWhatNoSetupWrites) {
  auto with_blocks = [](const std::vector<std::vector<uint8_t>>& payloads) {
    std::vector<uint8_t> bytes = full_record();
    bytes.resize(bytes.size() - 8);
    RecordWriter w;
    w.bytes = bytes;
    for (const std::vector<uint8_t>& payload : payloads) w.block(kNativeModeId, payload);
    w.block(kUninstallEndId, {});
    return w.bytes;
  };
  UninstallData data;
  std::vector<uint8_t> plain = full_record();
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(plain.data(), plain.size(), &data));
  EXPECT_EQ(uint32_t{kArchitectureX86}, data.architecture);
  for (uint8_t code : {1, 2, 3}) {
    std::vector<uint8_t> bytes = with_blocks({{code, 0, 0, 0}});
    ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data)) << int{code};
    EXPECT_EQ(code, data.architecture);
    EXPECT_EQ(3u, data.remove_count);
  }
  for (const auto& payloads : std::vector<std::vector<std::vector<uint8_t>>>{
           {{0, 0, 0, 0}}, {{4, 0, 0, 0}}, {{1, 0, 0}}, {{1, 0, 0, 0, 0}}, {{1, 0, 0, 0}, {1, 0, 0, 0}}}) {
    std::vector<uint8_t> bytes = with_blocks(payloads);
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    EXPECT_EQ(0u, data.remove_count);
    EXPECT_EQ(uint32_t{kArchitectureX86}, data.architecture);
  }
}

// The project's uninstaller texts: read when whole; a block that does not
// read whole leaves the uninstaller its own texts and the record usable.
TEST(UninstallData, ReadsTheUninstallerTextsWhenWhole) {
  auto with_texts = [](const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes = full_record();
    bytes.resize(bytes.size() - 8);
    RecordWriter w;
    w.bytes = bytes;
    w.block(kUninstallerTextsId, payload);
    w.block(kUninstallEndId, {});
    return w.bytes;
  };
  RecordWriter texts;
  for (const char* t : {"Remove %s", "", "%s is gone.", "", ""}) texts.text(t);
  std::vector<uint8_t> bytes = with_texts(texts.bytes);
  UninstallData data;
  ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
  EXPECT_EQ("Remove %s", text_of(data.texts[kUninstallerCaption]));
  EXPECT_EQ(0u, data.texts[kUninstallerQuestion].length);
  EXPECT_EQ("%s is gone.", text_of(data.texts[kUninstallerRemoved]));

  std::vector<uint8_t> extra = texts.bytes;
  extra.push_back(0);
  std::vector<uint8_t> short_by_one(texts.bytes.begin(), texts.bytes.end() - 1);
  for (const std::vector<uint8_t>& payload : {extra, short_by_one, std::vector<uint8_t>{9, 0, 'x'}}) {
    bytes = with_texts(payload);
    ASSERT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    EXPECT_EQ(3u, data.remove_count);
    for (const RecordText& t : data.texts) EXPECT_EQ(0u, t.length);
  }
}

TEST(UninstallData, RefusesExtensionsTheSetupCannotHaveWritten) {
  std::vector<uint8_t> plain_earlier = record_bytes({{".", "old.exe", 0}}, {}, 0, "");
  std::vector<uint8_t> nested_earlier = extended_record(plain_earlier);  // itself holds an earlier one
  std::vector<uint8_t> unopened_earlier = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> bad_kind = extended_record(plain_earlier);
  // The first setting's kind byte: behind the install folder block and the
  // settings block's header and count.
  size_t settings_at = full_record().size() - 8 + 8 + 2 + std::strlen("C:\\Apps\\Demo");
  ASSERT_EQ(kSettingsListId, get_u16(&bad_kind[settings_at]));
  bad_kind[settings_at + 8 + 4] = 3;
  UninstallData data;
  for (const std::vector<uint8_t>& bytes :
       {extended_record(nested_earlier), extended_record(unopened_earlier), bad_kind}) {
    EXPECT_EQ(UninstallDataStatus::kDamaged, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    EXPECT_EQ(0u, data.remove_count);
    EXPECT_EQ(0u, data.setting_count);
    EXPECT_EQ(0u, data.earlier_count);
  }
}

// The uninstaller marks its record carried out by turning the RemoveList's
// id: the record is then used, and nothing is removed twice.
TEST(UninstallData, ARecordCarriedOutIsUsed) {
  std::vector<uint8_t> bytes = full_record();
  put_u16(bytes.data(), kUsedRemoveListId);
  UninstallData data;
  EXPECT_EQ(UninstallDataStatus::kUsed, parse_uninstall_data(bytes.data(), bytes.size(), &data));
  EXPECT_EQ(0u, data.remove_count);
}

// A signed uninstaller's record lies in the file of its name with ".dat";
// a name that would be the uninstaller itself, or does not fit, has none.
TEST(UninstallData, TheSideFileIsTheUninstallersNameWithDat) {
  char side[20];
  ASSERT_TRUE(side_record_path("C:\\P\\Uninstall.exe", side, sizeof side));
  EXPECT_STREQ("C:\\P\\Uninstall.dat", side);
  ASSERT_TRUE(side_record_path("C:\\P.d\\Uninst", side, sizeof side));
  EXPECT_STREQ("C:\\P.d\\Uninst.dat", side);
  EXPECT_FALSE(side_record_path("C:\\P\\Uninst.DAT", side, sizeof side));
  EXPECT_FALSE(side_record_path("C:\\Product\\Uninstall", side, sizeof side));
}

}  // namespace
