// kestrel try's pictures of a Wine prefix, taken from a prefix laid out on
// disk as Wine lays it out, and their comparison.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>

#include "cli/trial_snapshot.h"
#include "tests/native/shell_link_bytes.h"
#include "tests/native/test_files.h"

namespace {

namespace fs = std::filesystem;

const char kHeader[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n";

// A prefix folder with drive_c and the two registry files.
class Prefix {
 public:
  Prefix() {
    fs::create_directories(dir_.file("drive_c/windows"));
    registry("", "");
  }
  const std::string& path() const { return dir_.path(); }
  void file(const std::string& name, const std::string& content) {
    fs::path p = dir_.file("drive_c/" + name);
    fs::create_directories(p.parent_path());
    write_bytes(p.string(), std::vector<uint8_t>(content.begin(), content.end()));
  }
  void bytes(const std::string& name, const std::vector<uint8_t>& content) {
    write_bytes(dir_.file("drive_c/" + name), content);
  }
  void folder(const std::string& name) { fs::create_directories(dir_.file("drive_c/" + name)); }
  void remove(const std::string& name) { fs::remove_all(dir_.file("drive_c/" + name)); }
  // Moves a file's time, as a rewrite with the same content would.
  void touch(const std::string& name) {
    timeval times[2] = {{1000, 0}, {1000, 0}};
    utimes(dir_.file("drive_c/" + name).c_str(), times);
  }
  // The keys and values of system.reg (HKLM) and user.reg (HKCU), in Wine's form.
  void registry(const std::string& machine, const std::string& user) {
    std::string m = kHeader + machine, u = kHeader + user;
    write_bytes(dir_.file("system.reg"), std::vector<uint8_t>(m.begin(), m.end()));
    write_bytes(dir_.file("user.reg"), std::vector<uint8_t>(u.begin(), u.end()));
  }
  PrefixSnapshot snapshot(const PrefixSnapshot* reference = nullptr) const {
    PrefixSnapshot s;
    std::string why;
    EXPECT_TRUE(take_snapshot(dir_.path(), reference, &s, &why)) << why;
    return s;
  }

 private:
  TempDir dir_;
};

// "G mark text" per change, details indented below.
std::vector<std::string> lines(const std::vector<Change>& changes) {
  std::vector<std::string> out;
  for (const Change& c : changes) {
    out.push_back(std::to_string(static_cast<int>(c.group)) + " " + c.mark + " " + c.text);
    for (const std::string& d : c.details) out.push_back("    " + d);
  }
  return out;
}

using Lines = std::vector<std::string>;

TEST(TrialSnapshot, FilesChangeByTheirContentNotTheirTime) {
  Prefix p;
  p.file("windows/win.ini", "[fonts]\n");
  p.file("same.txt", "abc");
  p.file("rewritten.txt", "abc");
  p.file("gone/old.txt", "12345");
  p.file("grows.txt", "1");
  p.file("becomes-folder", "x");
  PrefixSnapshot before = p.snapshot();

  p.file("rewritten.txt", "abd");
  p.touch("same.txt");
  p.remove("gone");
  p.file("grows.txt", "123");
  p.remove("becomes-folder");
  p.folder("becomes-folder");
  p.file("Program Files/Demo/readme.txt", "hello");
  PrefixSnapshot after = p.snapshot(&before);
  EXPECT_EQ(
      lines(compare_snapshots(before, after)),
      (Lines{"0 + C:\\Program Files\\ (folder)", "0 + C:\\Program Files\\Demo\\ (folder)",
             "0 + C:\\Program Files\\Demo\\readme.txt (5 bytes)", "0 ~ C:\\becomes-folder (now a folder, was 1 byte)",
             "0 - C:\\gone\\ (folder)", "0 - C:\\gone\\old.txt (5 bytes)", "0 ~ C:\\grows.txt (1 -> 3 bytes)",
             "0 ~ C:\\rewritten.txt (3 bytes, new content)"}));
  EXPECT_TRUE(compare_snapshots(after, p.snapshot(&after)).empty());
}

TEST(TrialSnapshot, RegistryValuesAndEmptyKeysWithoutWinesOwnBookkeeping) {
  Prefix p;
  p.registry(
      "[Software\\\\Kestrel\\\\Settings] 1\n\"Kept\"=\"1\"\n\"Changed\"=\"old\"\n\"Gone\"=dword:00000001\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Fonts] 1\n\"Arial (TrueType)\"=\"arial.ttf\"\n\n"
      "[System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4D36E968}\\\\0000] 1\n\"DriverDateData\"=hex:01\n",
      "[Software\\\\Wine\\\\Fonts] 1\n\"Seen\"=\"1\"\n");
  PrefixSnapshot before = p.snapshot();
  p.registry(
      // Letter case of a key is no change; Wine's hardware keys, its own
      // settings and its host fonts are not the setup's.
      "[SOFTWARE\\\\kestrel\\\\Settings] 1\n\"Kept\"=\"1\"\n\"Changed\"=\"new\"\n\"Added\"=dword:0000002a\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Fonts] 1\n\"Arial (TrueType)\"=\"arial.ttf\"\n"
      "\"DejaVu Sans (TrueType)\"=\"\\\\??\\\\unix\\\\usr\\\\share\\\\fonts\\\\DejaVuSans.ttf\"\n"
      "\"Kestrel Mono (TrueType)\"=\"KestrelMono.ttf\"\n\n"
      "[Software\\\\Leftover\\\\Empty] 1\n\n"
      "[Software\\\\Vendor\\\\Product\\\\Deep] 1\n\"Folder\"=\"C:\\\\Apps\"\n\n"
      "[System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4D36E968}\\\\0000] 1\n\"DriverDateData\"=hex:02\n",
      "[Software\\\\Wine\\\\Fonts] 1\n\"Seen\"=\"2\"\n\n[Software\\\\Wine\\\\X11 Driver] 1\n\"Managed\"=\"N\"\n");
  EXPECT_EQ(lines(compare_snapshots(before, p.snapshot())),
            (Lines{"1 + HKLM\\SOFTWARE\\kestrel\\Settings: \"Added\" = dword 0x0000002a (42)",
                   "1 ~ HKLM\\SOFTWARE\\kestrel\\Settings: \"Changed\" = \"new\" (was \"old\")",
                   "1 - HKLM\\Software\\Kestrel\\Settings: \"Gone\" = dword 0x00000001 (1)",
                   "1 + HKLM\\Software\\Leftover\\Empty (empty key)",
                   "1 + HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts: \"Kestrel Mono (TrueType)\" = "
                   "\"KestrelMono.ttf\"",
                   "1 + HKLM\\Software\\Vendor\\Product\\Deep: \"Folder\" = \"C:\\\\Apps\""}));

  // Values and an empty key that go; a key that only loses what was below
  // it was there before and is no change by itself.
  PrefixSnapshot emptied_before = p.snapshot();
  p.registry("[Software\\\\Vendor\\\\Product] 1\n\n", "");
  EXPECT_EQ(
      lines(compare_snapshots(emptied_before, p.snapshot())),
      (Lines{"1 - HKLM\\SOFTWARE\\kestrel\\Settings: \"Added\" = dword 0x0000002a (42)",
             "1 - HKLM\\SOFTWARE\\kestrel\\Settings: \"Changed\" = \"new\"",
             "1 - HKLM\\SOFTWARE\\kestrel\\Settings: \"Kept\" = \"1\"",
             "1 - HKLM\\Software\\Leftover\\Empty (empty key)",
             "1 - HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts: \"Arial (TrueType)\" = \"arial.ttf\"",
             "1 - HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts: \"Kestrel Mono (TrueType)\" = "
             "\"KestrelMono.ttf\"",
             "1 - HKLM\\Software\\Vendor\\Product\\Deep: \"Folder\" = \"C:\\\\Apps\""}));
}

const char kUninstall[] = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";

TEST(TrialSnapshot, AddRemoveEntriesAreOneChangeEachAndNameTheirSilentUninstaller) {
  Prefix p;
  std::string old_entry =
      std::string(kUninstall) + "Old] 1\n\"DisplayName\"=\"Old\"\n\"UninstallString\"=\"x.exe\"\n\n";
  p.registry(old_entry, "");
  PrefixSnapshot before = p.snapshot();
  p.registry(old_entry + kUninstall +
                 "Demo] 1\n\"UninstallString\"=\"\\\"C:\\\\Demo\\\\Uninstall.exe\\\"\"\n"
                 "\"QuietUninstallString\"=\"\\\"C:\\\\Demo\\\\Uninstall.exe\\\" /SILENT\"\n"
                 "\"DisplayName\"=hex(1):44,00,65,00,6d,00,6f,00\n\n" +
                 kUninstall + "Plain] 1\n\"UninstallString\"=\"C:\\\\Plain\\\\uninst.exe\"\n\n" + kUninstall +
                 "Blank] 1\n\"QuietUninstallString\"=\" \"\n\n",
             "");
  PrefixSnapshot after = p.snapshot();
  std::string root = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  EXPECT_EQ(lines(compare_snapshots(before, after)),
            (Lines{"4 + " + root + "Blank", "    \"QuietUninstallString\" = \" \"", "4 + " + root + "Demo",
                   "    \"DisplayName\" = \"Demo\" (no terminator)",
                   "    \"QuietUninstallString\" = \"\\\"C:\\\\Demo\\\\Uninstall.exe\\\" /SILENT\"",
                   "    \"UninstallString\" = \"\\\"C:\\\\Demo\\\\Uninstall.exe\\\"\"", "4 + " + root + "Plain",
                   "    \"UninstallString\" = \"C:\\\\Plain\\\\uninst.exe\""}));

  std::vector<UninstallEntry> entries = new_uninstall_entries(before, after);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key, root + "Blank");
  EXPECT_EQ(entries[0].quiet_command, "");  // names no uninstaller
  EXPECT_EQ(entries[1].display_name, "Demo");
  EXPECT_EQ(entries[1].quiet_command, "\"C:\\Demo\\Uninstall.exe\" /SILENT");
  EXPECT_EQ(entries[2].display_name, "");
  EXPECT_EQ(entries[2].quiet_command, "C:\\Plain\\uninst.exe /SILENT");

  // A changed entry shows what changed in it; a removed one what it held.
  p.registry(std::string(kUninstall) + "Old] 1\n\"DisplayName\"=\"Old 2\"\n\"EstimatedSize\"=dword:00000010\n\n", "");
  EXPECT_EQ(lines(compare_snapshots(before, p.snapshot())),
            (Lines{"4 ~ " + root + "Old", "    ~ \"DisplayName\" = \"Old 2\" (was \"Old\")",
                   "    + \"EstimatedSize\" = dword 0x00000010 (16)", "    - \"UninstallString\" = \"x.exe\""}));
  p.registry("", "");
  EXPECT_EQ(lines(compare_snapshots(before, p.snapshot())),
            (Lines{"4 - " + root + "Old", "    \"DisplayName\" = \"Old\"", "    \"UninstallString\" = \"x.exe\""}));
}

TEST(TrialSnapshot, IniEntriesAndShortcutsAreReadFromTheirFiles) {
  Prefix p;
  p.file("windows/win.ini", "[fonts]\n[Demo]\nOld=1\nSame=x\n");
  p.file("users/me/Desktop/Other.LNK", "not a shortcut");
  PrefixSnapshot before = p.snapshot();
  p.file("windows/win.ini", "[fonts]\n[demo]\nsame=x\nOld=2\nAdded\n");
  p.file("Demo/settings.INI", "[Viewer]\nGreeting=Hello\n");
  p.bytes("users/me/Desktop/Demo.lnk", shortcut_bytes("C:\\Demo\\Viewer.exe", "/desktop"));
  p.file("users/me/Desktop/Other.LNK", "still not one");
  PrefixSnapshot after = p.snapshot(&before);
  EXPECT_EQ(lines(compare_snapshots(before, after)),
            (Lines{"0 + C:\\Demo\\ (folder)", "0 + C:\\Demo\\settings.INI (24 bytes)",
                   "0 ~ C:\\windows\\win.ini (28 -> 34 bytes)", "2 + C:\\Demo\\settings.INI [Viewer] Greeting=Hello",
                   "2 + C:\\windows\\win.ini [demo] Added", "2 ~ C:\\windows\\win.ini [demo] Old=2 (was =1)",
                   "3 + C:\\users\\me\\Desktop\\Demo.lnk -> C:\\Demo\\Viewer.exe, arguments /desktop",
                   "3 ~ C:\\users\\me\\Desktop\\Other.LNK (not readable as a shortcut: not a shortcut file)"}));
}

TEST(TrialSnapshot, ARegistryFileThatCannotBeReadIsNamed) {
  Prefix p;
  write_bytes(p.path() + "/user.reg", {'W', 'I', 'N', 'E'});
  PrefixSnapshot s;
  std::string why;
  EXPECT_FALSE(take_snapshot(p.path(), nullptr, &s, &why));
  EXPECT_EQ(why, p.path() + "/user.reg: not a Wine registry file");
  fs::remove(p.path() + "/user.reg");
  EXPECT_FALSE(take_snapshot(p.path(), nullptr, &s, &why));
  EXPECT_NE(why.find("user.reg"), std::string::npos) << why;
}

}  // namespace
