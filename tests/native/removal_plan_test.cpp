// The removal plan made from an installation record: where each recorded
// path lies, which folders may go when empty and in what order, and the
// records that make the whole record untrustworthy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uninstall/removal_plan.h"

namespace {

const char kApp[] = "C:\\Apps\\Demo";
const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo";

MenuFolders menu() {
  MenuFolders m;
  m.programs = {"C:\\Menu\\Programs"};
  m.keep = {"C:\\Menu\\Programs\\Startup", "C:\\Menu"};
  return m;
}

UninstallData installation() {
  UninstallData data;
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

TEST(RemovalPlan, ResolvesEveryRecordAndOrdersFoldersDeepestFirst) {
  RemovalPlan plan;
  ASSERT_TRUE(plan_removal(installation(), kApp, menu(), &plan));
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
  EXPECT_TRUE(plan.has_uninstall_key);
  EXPECT_EQ(kKey, plan.uninstall_key);
}

TEST(RemovalPlan, FoldersNamedTwiceOrInOtherCaseAppearOnce) {
  UninstallData data;
  data.remove_list = {{".\\Doc", "a.txt", 0}, {".\\doc", "b.txt", 0}, {".\\DOC", "", 0}};
  RemovalPlan plan;
  ASSERT_TRUE(plan_removal(data, kApp, menu(), &plan));
  ASSERT_EQ(1u, plan.folders.size());
  EXPECT_EQ(2u, plan.files.size());
  EXPECT_FALSE(plan.has_uninstall_key);
}

// A path through ".." is still a recorded file, but its folder is not one
// the installation made where the text suggests: it is not removed.
TEST(RemovalPlan, FoldersThroughParentStepsStay) {
  UninstallData data;
  data.remove_list = {{".\\..\\Shared", "x.dll", 0}, {"C:\\Windows\\..\\Other", "", 0}};
  data.shortcut_list = {{"C:\\Menu\\Programs\\..\\..\\Elsewhere", "A.lnk"}};
  RemovalPlan plan;
  ASSERT_TRUE(plan_removal(data, kApp, menu(), &plan));
  ASSERT_EQ(1u, plan.files.size());
  EXPECT_EQ("C:\\Apps\\Demo\\..\\Shared\\x.dll", plan.files[0].path);
  EXPECT_TRUE(plan.folders.empty());
}

TEST(RemovalPlan, ARecordTheSetupCannotHaveWrittenRefusesThePlanWhole) {
  struct Case {
    const char* what;
    void (*spoil)(UninstallData*);
  };
  const Case cases[] = {
      {"name with a backslash", [](UninstallData* d) { d->remove_list.push_back({".", "..\\x.txt", 0}); }},
      {"folder neither relative nor absolute",
       [](UninstallData* d) { d->remove_list.push_back({"Windows", "x.txt", 0}); }},
      {"bare relative prefix", [](UninstallData* d) { d->remove_list.push_back({".\\", "x.txt", 0}); }},
      {"folder item with file flags", [](UninstallData* d) { d->remove_list.push_back({".\\data", "", 1}); }},
      {"path too long for Windows",
       [](UninstallData* d) { d->remove_list.push_back({".", std::string(250, 'x'), 0}); }},
      {"shortcut that is no .lnk",
       [](UninstallData* d) { d->shortcut_list.push_back({"C:\\Menu\\Programs", "Demo.exe"}); }},
      {"shortcut in a relative folder",
       [](UninstallData* d) { d->shortcut_list.push_back({".\\Menu", "Demo.lnk"}); }},
      {"key beside the Uninstall key",
       [](UninstallData* d) { d->uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"; }},
      {"the Uninstall key itself",
       [](UninstallData* d) { d->uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"; }},
      {"a key below another product's key", [](UninstallData* d) { d->uninstall_key += "\\Sub"; }},
      {"a root other than HKEY_LOCAL_MACHINE", [](UninstallData* d) { d->uninstall_root = 0x80000001; }},
  };
  for (const Case& c : cases) {
    UninstallData data = installation();
    c.spoil(&data);
    RemovalPlan plan;
    EXPECT_FALSE(plan_removal(data, kApp, menu(), &plan)) << c.what;
    EXPECT_TRUE(plan.files.empty() && plan.shortcuts.empty() && plan.folders.empty()) << c.what;
    EXPECT_FALSE(plan.has_uninstall_key) << c.what;
  }
  RemovalPlan plan;
  EXPECT_FALSE(plan_removal(installation(), "", menu(), &plan)) << "no installation folder";
}

TEST(RemovalPlan, KeyNamesAndShortcutExtensionsIgnoreCase) {
  UninstallData data = installation();
  data.uninstall_key = "SOFTWARE\\microsoft\\Windows\\CurrentVersion\\UNINSTALL\\Demo";
  data.shortcut_list = {{"c:\\menu\\PROGRAMS\\Demo", "Demo.LNK"}};
  RemovalPlan plan;
  ASSERT_TRUE(plan_removal(data, kApp, menu(), &plan));
  EXPECT_EQ(data.uninstall_key, plan.uninstall_key);
  ASSERT_EQ(1u, plan.shortcuts.size());
  // The folder below Programs is found although its case differs.
  EXPECT_NE(plan.folders.end(), std::find(plan.folders.begin(), plan.folders.end(), "c:\\menu\\PROGRAMS\\Demo"));
}

}  // namespace
