// The removal plan made from an installation record: where each recorded
// path lies, which folders may go when empty and in what order, and the
// records that make the whole record untrustworthy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/native/record_bytes.h"
#include "uninstall/removal_plan.h"

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
      if (planned_uninstall_key(installation, path)) keys.push_back(path);
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
      {"a root other than HKEY_LOCAL_MACHINE", [](Installation* d) { d->uninstall_root = 0x80000001; }},
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

}  // namespace
