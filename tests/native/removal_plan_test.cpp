// The removal plan made from an installation record: where each recorded
// path lies, which folders may go when empty and in what order, and the
// records that make the whole record untrustworthy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "record/removal_plan.h"
#include "tests/native/record_bytes.h"

namespace {

const char kApp[] = "C:\\Apps\\Demo";
const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo";

MenuFolders menu() {
  MenuFolders m = MenuFolders();
  std::strcpy(m.programs[0], "C:\\Menu\\Programs");
  m.program_count = 1;
  std::strcpy(m.keep[0], "C:\\Menu\\Programs\\Startup");
  std::strcpy(m.keep[1], "C:\\Menu");
  m.keep_count = 2;
  return m;
}

// An installation record described in plain values.
struct Installation {
  std::vector<Removed> remove_list;
  std::vector<Shortcut> shortcut_list;
  bool has_uninstall_key = false;
  uint32_t uninstall_root = 0;
  std::string uninstall_key;
};

Installation installation() {
  Installation data;
  data.remove_list = {
      {".", "app.exe", 0},
      {".\\doc\\en", "guide.txt", 0},
      {".\\data", "", 0},  // the folder item "data\\"
      {"C:\\Windows\\System", "shared.dll", kRemoveShared | kRemoveSelfRegistering},
      {"C:\\Windows\\Fonts", "demo.ttf", kRemoveFont},
      {"C:", "root.txt", 0},
      {"C:\\Windows\\Demo Data", "", 0},  // folder item outside the installation
  };
  data.shortcut_list = {{"C:\\Menu\\Programs\\Demo\\Tools", "Demo.lnk"},
                        {"C:\\Menu\\Programs\\Startup", "Demo.lnk"},
                        {"C:\\Menu", "Demo.lnk"}};
  data.has_uninstall_key = true;
  data.uninstall_root = 0x80000002;
  data.uninstall_key = kKey;
  return data;
}

struct PlannedFile {
  std::string path;
  uint8_t flags;
};

std::vector<uint8_t> bytes_of(const Installation& installation) {
  return record_bytes(installation.remove_list, installation.shortcut_list,
                      installation.has_uninstall_key ? installation.uninstall_root : 0, installation.uninstall_key);
}

// A plan made from the record's bytes, with every path it names read out.
struct Planned {
  std::vector<uint8_t> bytes;
  UninstallData data;
  RemovalPlan plan;
  bool made;
  std::vector<PlannedFile> files;
  std::vector<std::string> shortcuts;
  std::vector<std::string> folders;
  std::vector<std::string> keys;
  std::vector<uint32_t> key_roots;
  std::vector<std::string> install_dirs;

  Planned(const Installation& installation, const char* uninstaller_folder)
      : Planned(bytes_of(installation), uninstaller_folder) {}
  Planned(const std::vector<uint8_t>& record, const char* uninstaller_folder) : bytes(record) {
    EXPECT_EQ(UninstallDataStatus::kOk, parse_uninstall_data(bytes.data(), bytes.size(), &data));
    made = plan_removal(data, uninstaller_folder, menu(), &plan);
    char path[kUninstallKeyCapacity];
    for (uint32_t n = 0; n < plan.installation_count; ++n) {
      const PlannedInstallation& installation = plan.installations[n];
      install_dirs.push_back(installation.install_dir);
      const uint8_t* cursor = installation.data.remove_list;
      for (uint32_t i = 0; i < installation.data.remove_count; ++i) {
        RemoveRecord record = next_remove_record(&cursor);
        if (planned_file_path(installation, record, path)) files.push_back({path, record.flags});
      }
      cursor = installation.data.shortcut_list;
      for (uint32_t i = 0; i < installation.data.shortcut_count; ++i) {
        planned_shortcut_path(next_shortcut_record(&cursor), path);
        shortcuts.push_back(path);
      }
      uint32_t root = 0;
      if (planned_uninstall_key(installation, path, &root)) {
        keys.push_back(path);
        key_roots.push_back(root);
      }
    }
    for (uint32_t i = 0; i < plan.folder_count; ++i) {
      planned_folder_path(plan.folders[i], path);
      folders.push_back(path);
    }
  }
  ~Planned() { free_removal_plan(&plan); }
  bool empty() const { return files.empty() && shortcuts.empty() && folders.empty() && keys.empty(); }
};

TEST(RemovalPlan, ResolvesEveryRecordAndOrdersFoldersDeepestFirst) {
  Planned plan(installation(), kApp);
  ASSERT_TRUE(plan.made);
  ASSERT_EQ(5u, plan.files.size());
  EXPECT_EQ("C:\\Apps\\Demo\\app.exe", plan.files[0].path);
  EXPECT_EQ("C:\\Apps\\Demo\\doc\\en\\guide.txt", plan.files[1].path);
  EXPECT_EQ("C:\\Windows\\System\\shared.dll", plan.files[2].path);
  EXPECT_EQ(kRemoveShared | kRemoveSelfRegistering, plan.files[2].flags);
  EXPECT_EQ(kRemoveFont, plan.files[3].flags);
  EXPECT_EQ("C:\\root.txt", plan.files[4].path);
  EXPECT_EQ((std::vector<std::string>{"C:\\Menu\\Programs\\Demo\\Tools\\Demo.lnk",
                                      "C:\\Menu\\Programs\\Startup\\Demo.lnk", "C:\\Menu\\Demo.lnk"}),
            plan.shortcuts);
  // The installation's own sub folders and each folder above them, the
  // folder item outside it, and the shortcut folders below Programs; never
  // the installation folder, Programs, Startup, the System folder or a
  // drive root. Deeper folders come first so that emptied parents follow.
  EXPECT_EQ((std::vector<std::string>{"C:\\Menu\\Programs\\Demo\\Tools", "C:\\Menu\\Programs\\Demo",
                                      "C:\\Windows\\Demo Data", "C:\\Apps\\Demo\\doc\\en",
                                      "C:\\Apps\\Demo\\data", "C:\\Apps\\Demo\\doc"}),
            plan.folders);
  for (size_t i = 0; i < plan.folders.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      EXPECT_NE(0u, plan.folders[i].find(plan.folders[j] + "\\")) << plan.folders[j] << " before its sub folder";
  EXPECT_EQ(std::vector<std::string>{kKey}, plan.keys);
}

TEST(RemovalPlan, FoldersNamedTwiceOrInOtherCaseAppearOnce) {
  Installation data;
  data.remove_list = {{".\\Doc", "a.txt", 0}, {".\\doc", "b.txt", 0}, {".\\DOC", "", 0}};
  Planned plan(data, kApp);
  ASSERT_TRUE(plan.made);
  ASSERT_EQ(1u, plan.folders.size());
  EXPECT_EQ(2u, plan.files.size());
  EXPECT_TRUE(plan.keys.empty());
}

// A path through ".." is still a recorded file, but its folder is not one
// the installation made where the text suggests: it is not removed.
TEST(RemovalPlan, FoldersThroughParentStepsStay) {
  Installation data;
  data.remove_list = {{".\\..\\Shared", "x.dll", 0}, {"C:\\Windows\\..\\Other", "", 0}};
  data.shortcut_list = {{"C:\\Menu\\Programs\\..\\..\\Elsewhere", "A.lnk"}};
  Planned plan(data, kApp);
  ASSERT_TRUE(plan.made);
  ASSERT_EQ(1u, plan.files.size());
  EXPECT_EQ("C:\\Apps\\Demo\\..\\Shared\\x.dll", plan.files[0].path);
  EXPECT_TRUE(plan.folders.empty());
}

TEST(RemovalPlan, ARecordTheSetupCannotHaveWrittenRefusesThePlanWhole) {
  struct Case {
    const char* what;
    void (*spoil)(Installation*);
  };
  const Case cases[] = {
      {"name with a backslash", [](Installation* d) { d->remove_list.push_back({".", "..\\x.txt", 0}); }},
      {"folder neither relative nor absolute",
       [](Installation* d) { d->remove_list.push_back({"Windows", "x.txt", 0}); }},
      {"bare relative prefix", [](Installation* d) { d->remove_list.push_back({".\\", "x.txt", 0}); }},
      {"folder item with file flags", [](Installation* d) { d->remove_list.push_back({".\\data", "", 1}); }},
      {"path too long for Windows",
       [](Installation* d) { d->remove_list.push_back({".", std::string(250, 'x'), 0}); }},
      {"shortcut that is no .lnk",
       [](Installation* d) { d->shortcut_list.push_back({"C:\\Menu\\Programs", "Demo.exe"}); }},
      {"shortcut in a relative folder",
       [](Installation* d) { d->shortcut_list.push_back({".\\Menu", "Demo.lnk"}); }},
      {"key beside the Uninstall key",
       [](Installation* d) { d->uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"; }},
      {"the Uninstall key itself",
       [](Installation* d) { d->uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"; }},
      {"a key below another product's key", [](Installation* d) { d->uninstall_key += "\\Sub"; }},
      {"a root other than HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER",
       [](Installation* d) { d->uninstall_root = 0x80000003; }},
  };
  for (const Case& c : cases) {
    Installation data = installation();
    c.spoil(&data);
    Planned plan(data, kApp);
    EXPECT_FALSE(plan.made) << c.what;
    EXPECT_TRUE(plan.empty()) << c.what;
    EXPECT_EQ(0u, plan.plan.folder_count) << c.what;
  }
  Planned plan(installation(), "");
  EXPECT_FALSE(plan.made) << "no installation folder";
  EXPECT_TRUE(plan.empty());
}

// A product installed per user has its key under HKEY_CURRENT_USER; the
// plan gives the root with the key, as for one under HKEY_LOCAL_MACHINE.
TEST(RemovalPlan, KeysUnderEitherRootArePlannedWithTheirRoot) {
  for (uint32_t root : {0x80000002u, 0x80000001u}) {
    Installation data = installation();
    data.uninstall_root = root;
    Planned plan(data, kApp);
    ASSERT_TRUE(plan.made) << root;
    EXPECT_EQ(std::vector<std::string>{data.uninstall_key}, plan.keys);
    EXPECT_EQ(std::vector<uint32_t>{root}, plan.key_roots);
  }
}

TEST(RemovalPlan, KeyNamesAndShortcutExtensionsIgnoreCase) {
  Installation data = installation();
  data.uninstall_key = "SOFTWARE\\microsoft\\Windows\\CurrentVersion\\UNINSTALL\\Demo";
  data.shortcut_list = {{"c:\\menu\\PROGRAMS\\Demo", "Demo.LNK"}};
  Planned plan(data, kApp);
  ASSERT_TRUE(plan.made);
  EXPECT_EQ(std::vector<std::string>{data.uninstall_key}, plan.keys);
  ASSERT_EQ(1u, plan.shortcuts.size());
  // The folder below Programs is found although its case differs.
  EXPECT_NE(plan.folders.end(), std::find(plan.folders.begin(), plan.folders.end(), "c:\\menu\\PROGRAMS\\Demo"));
}

// The record without its end block, so that blocks can follow.
RecordWriter open_record(const Installation& installation) {
  RecordWriter w;
  w.bytes = bytes_of(installation);
  w.bytes.resize(w.bytes.size() - 8);
  return w;
}

std::vector<uint8_t> closed(RecordWriter w) {
  w.block(kUninstallEndId, {});
  return w.bytes;
}

void add_install_folder(RecordWriter* w, const std::string& folder) {
  RecordWriter payload;
  payload.text(folder);
  w->block(kInstallFolderId, payload.bytes);
}

// An uninstaller in a subfolder: "." means the folder the record names,
// not the uninstaller's own.
TEST(RemovalPlan, TheRecordedInstallationFolderIsWhatDotMeans) {
  Installation data;
  data.remove_list = {{".", "alpha.txt", 0}, {".\\bin", "beta.txt", 0}};
  RecordWriter w = open_record(data);
  add_install_folder(&w, kApp);
  Planned plan(closed(w), "C:\\Apps\\Demo\\bin");
  ASSERT_TRUE(plan.made);
  EXPECT_EQ((std::vector<std::string>{kApp}), plan.install_dirs);
  ASSERT_EQ(2u, plan.files.size());
  EXPECT_EQ("C:\\Apps\\Demo\\alpha.txt", plan.files[0].path);
  EXPECT_EQ("C:\\Apps\\Demo\\bin\\beta.txt", plan.files[1].path);
  EXPECT_EQ((std::vector<std::string>{"C:\\Apps\\Demo\\bin"}), plan.folders);

  for (const char* bad : {"Apps\\Demo", "C:\\Apps\\..\\Demo", "C:\\Apps\\\\Demo", ""}) {
    RecordWriter spoilt = open_record(data);
    add_install_folder(&spoilt, bad);
    Planned refused(closed(spoilt), "C:\\Apps\\Demo\\bin");
    EXPECT_FALSE(refused.made) << bad;
    EXPECT_TRUE(refused.empty()) << bad;
  }
}

// The folders the setup made above the installation folder go when empty;
// one that is not above it, a drive root or a share stays, and a block
// that does not read whole is passed over, the rest of the plan intact.
TEST(RemovalPlan, FoldersMadeAboveTheInstallationFolderGoWhenEmpty) {
  Installation data;
  data.remove_list = {{".", "alpha.txt", 0}};
  auto with_made = [&](const std::vector<std::string>& folders, uint32_t count) {
    RecordWriter w = open_record(data);
    RecordWriter payload;
    payload.u32(count);
    for (const std::string& folder : folders) payload.text(folder);
    w.block(kMadeFoldersId, payload.bytes);
    return closed(w);
  };
  std::vector<std::string> made = {"C:\\Apps", "c:\\apps\\DEMO", "C:\\Other",         "C:",
                                   "C:\\",     "C:\\App",        "\\\\server\\share", "C:\\Apps\\..\\Apps"};
  Planned plan(with_made(made, static_cast<uint32_t>(made.size())), kApp);
  ASSERT_TRUE(plan.made);
  EXPECT_EQ((std::vector<std::string>{"C:\\Apps"}), plan.folders);
  ASSERT_EQ(1u, plan.files.size());

  Planned damaged(with_made({"C:\\Apps"}, 2), kApp);
  ASSERT_TRUE(damaged.made);
  EXPECT_TRUE(damaged.folders.empty());
  ASSERT_EQ(1u, damaged.files.size());
}

// Two installations in one folder, the older one carried over by the
// newer's record: all of their files, keys and folders are planned, the
// folders in one order, deepest first.
TEST(RemovalPlan, EarlierInstallationsArePlannedWithTheNewest) {
  Installation minimal;
  minimal.remove_list = {{".", "viewer.exe", 0}};
  minimal.has_uninstall_key = true;
  minimal.uninstall_root = 0x80000002;
  minimal.uninstall_key = std::string(kKey) + " Minimal";
  Installation full;
  full.remove_list = {{".", "viewer.exe", 0}, {".\\docs\\en", "guide.txt", 0}, {".\\docs", "", 0}};
  full.shortcut_list = {{"C:\\Menu\\Programs\\Demo", "Guide.lnk"}};
  full.has_uninstall_key = true;
  full.uninstall_root = 0x80000002;
  full.uninstall_key = std::string(kKey) + " Full";
  RecordWriter w = open_record(minimal);
  w.block(kEarlierInstallationId, bytes_of(full));
  Planned plan(closed(w), kApp);
  ASSERT_TRUE(plan.made);
  EXPECT_EQ((std::vector<std::string>{kApp, kApp}), plan.install_dirs);
  ASSERT_EQ(3u, plan.files.size());  // the folder item names no file
  EXPECT_EQ("C:\\Apps\\Demo\\viewer.exe", plan.files[1].path);
  EXPECT_EQ("C:\\Apps\\Demo\\docs\\en\\guide.txt", plan.files[2].path);
  EXPECT_EQ((std::vector<std::string>{"C:\\Menu\\Programs\\Demo\\Guide.lnk"}), plan.shortcuts);
  EXPECT_EQ((std::vector<std::string>{minimal.uninstall_key, full.uninstall_key}), plan.keys);
  EXPECT_EQ((std::vector<std::string>{"C:\\Menu\\Programs\\Demo", "C:\\Apps\\Demo\\docs\\en",
                                      "C:\\Apps\\Demo\\docs"}),
            plan.folders);

  // One spoilt installation spoils the whole plan.
  full.uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  RecordWriter spoilt = open_record(minimal);
  spoilt.block(kEarlierInstallationId, bytes_of(full));
  Planned refused(closed(spoilt), kApp);
  EXPECT_FALSE(refused.made);
  EXPECT_TRUE(refused.empty());
}

struct Setting {
  uint8_t kind;
  uint32_t root;
  std::string path, section, name;
  uint8_t flags, created_keys;
};

std::vector<uint8_t> with_settings(const std::vector<Setting>& settings) {
  RecordWriter w = open_record(Installation());
  RecordWriter list;
  list.u32(static_cast<uint32_t>(settings.size()));
  for (const Setting& s : settings) {
    list.u8(s.kind);
    if (s.kind == kSettingRegistryValue) {
      list.u32(s.root);
      list.text(s.path);
      list.text(s.name);
      list.u8(s.flags);
      list.u8(s.created_keys);
    } else {
      list.text(s.path);
      list.text(s.section);
      list.text(s.name);
      list.u8(s.flags);
    }
  }
  w.block(kSettingsListId, list.bytes);
  return closed(w);
}

TEST(RemovalPlan, SettingsAreRegistryValuesUnderTheRootsAndEntriesOfWholeIniPaths) {
  Setting value{kSettingRegistryValue, 0x80000001, "Software\\Classes\\Demo.Document\\shell", "", "",
                kSettingDeleteKeyIfEmpty, 3};
  Setting entry{kSettingIniEntry, 0, "C:\\Apps\\Demo\\demo.ini", "Viewer", "Greeting", kSettingFileCreated, 0};
  Planned plan(with_settings({value, entry}), kApp);
  ASSERT_TRUE(plan.made);
  const UninstallData& data = plan.plan.installations[0].data;
  ASSERT_EQ(2u, data.setting_count);
  const uint8_t* cursor = data.setting_list;
  PlannedSetting planned;
  planned_setting(next_setting_record(&cursor), &planned);
  EXPECT_STREQ("Software\\Classes\\Demo.Document\\shell", planned.path);
  EXPECT_STREQ("", planned.name);
  EXPECT_EQ(3, planned.created_keys);
  planned_setting(next_setting_record(&cursor), &planned);
  EXPECT_STREQ("C:\\Apps\\Demo\\demo.ini", planned.path);
  EXPECT_STREQ("Viewer", planned.section);
  EXPECT_STREQ("Greeting", planned.name);

  struct Case {
    const char* what;
    Setting setting;
  };
  const Case cases[] = {
      {"a root that is no root", {kSettingRegistryValue, 0x80000004, "Software\\Demo", "", "v", 0, 0}},
      {"no key", {kSettingRegistryValue, 0x80000001, "", "", "v", 0, 0}},
      {"a key with an empty step", {kSettingRegistryValue, 0x80000001, "Software\\\\Demo", "", "v", 0, 0}},
      {"more created keys than the path has", {kSettingRegistryValue, 0x80000001, "Software\\Demo", "", "v", 0, 3}},
      {"unknown registry flags", {kSettingRegistryValue, 0x80000001, "Software\\Demo", "", "v", 2, 0}},
      {"a value name too long", {kSettingRegistryValue, 0x80000001, "Software\\Demo", "", std::string(600, 'v'), 0, 0}},
      {"a relative INI file", {kSettingIniEntry, 0, "demo.ini", "S", "K", 0, 0}},
      {"an INI file through ..", {kSettingIniEntry, 0, "C:\\Apps\\..\\demo.ini", "S", "K", 0, 0}},
      {"no INI section", {kSettingIniEntry, 0, "C:\\demo.ini", "", "K", 0, 0}},
      {"no INI key", {kSettingIniEntry, 0, "C:\\demo.ini", "S", "", 0, 0}},
  };
  for (const Case& c : cases) {
    Planned refused(with_settings({value, c.setting}), kApp);
    EXPECT_FALSE(refused.made) << c.what;
  }
}

}  // namespace
