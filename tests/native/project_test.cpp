// Project files: every refusal names file, line and key; a project builds
// into a setup file that the installer's own loader reads back as meant.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/loader.h"
#include "archive/platform_host.h"
#include "archive/stub_size.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "builder/code_page.h"
#include "builder/data_area_writer.h"
#include "builder/project_reader.h"
#include "builder/setup_build.h"
#include "builder/stub_image.h"
#include "builder/text_catalogue.h"
#include "cli/default_dialogs.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;

// A program image of `length` bytes with a stamped size field.
std::vector<uint8_t> stamped_image(size_t length, uint8_t fill) {
  std::vector<uint8_t> image(length, fill);
  std::memcpy(image.data() + 64, kMarker, sizeof kMarker);
  put_u32(image.data() + 64 + sizeof kMarker, 0);
  stamp_stub_size(image);
  return image;
}

void write_text(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class ProjectTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string project_path() const { return dir.file("setup.toml"); }

  // Reads `toml` as a project; answers the error, "" when it was read.
  std::string read_error(const std::string& toml, Project* out = nullptr) {
    write_text(project_path(), toml);
    Project p;
    std::string error;
    if (read_project(project_path(), &p, &error)) {
      if (out) *out = p;
      return "";
    }
    return error;
  }

  // Each project, `prefix` followed by its text, is refused with a message
  // that starts with the project file's name and holds the expected part.
  struct Refusal {
    const char* toml;
    const char* expected;
  };
  void expect_refusals(const std::string& prefix, std::initializer_list<Refusal> refusals) {
    for (const Refusal& r : refusals) {
      std::string toml = prefix + r.toml;
      std::string error = read_error(toml);
      EXPECT_EQ(0u, error.find(project_path() + ":")) << toml << " gave " << error;
      EXPECT_NE(std::string::npos, error.find(r.expected)) << toml << " gave " << error;
    }
  }

  BuildOptions options(const std::string& output) {
    BuildOptions o;
    o.output = output;
    o.level = 1;
    o.stub = stamped_image(1024, 0x90);
    o.uninstaller = stamped_image(3000, 0xCC);
    o.default_dialogs.assign(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize);
    return o;
  }

  bool build(const std::string& toml, const std::string& output, std::string* error, BuildOptions* o = nullptr) {
    write_text(project_path(), toml);
    Project p;
    if (!read_project(project_path(), &p, error)) return false;
    BuildOptions opts = o ? *o : options(output);
    BuildReport report;
    return build_setup(p, opts, &report, error);
  }

  bool load(const std::string& setup) {
    copy_string(SourcePath, setup.c_str(), kPathSize);
    StubSize = 1024;
    return load_archive();
  }
  void TearDown() override { free_archive(); }
};

std::string entry_name(const uint8_t* entry) { return entry_string(entry, 0); }

TEST_F(ProjectTest, EveryRefusalNamesFileLineAndKey) {
  write_text(dir.file("a.txt"), "a");
  expect_refusals(
      "", {
              {"[setup]\ntitle = 3\n", "2: setup.title: must be a string"},
              {"[setup]\ntitel = \"x\"\n", "2: setup.titel: unknown key"},
              {"[setup]\ncode_page = 70000\n", "2: setup.code_page: must lie between"},
              {"[setup]\n", "type: a project needs at least one [[type]]"},
              {"[[type]]\ncaption = \"A\"\n", "1: type[0].folder: is required"},
              {"[[type]]\nfolder = \"C:/x\"\nlicence = \"missing.txt\"\n", "3: type[0].licence: no such file"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"nothing*.bin\"\n",
               "4: type[0].files[0].source: matches no file"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nfolder = \"moon\"\n",
               "5: type[0].files[0].folder: must be one of"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nshared = true\n",
               "type[0].files[0].shared: counts only files outside the installation folder"},
              {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"6/14\" = \"Leave %s?\"\n",
               "type[0].texts.6/14: may hold no % directive"},
              {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"6/16\" = \"%d cannot be opened\"\n",
               "type[0].texts.6/16: may hold one %s"},
              {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"12/0\" = \"x\"\n",
               "type[0].texts.12/0: a text is named list/number"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.patch]]\nfile = \"f\"\ntext = \"t\"\noffset = 1\nafter = \"a\"\n",
               "type[0].patch[0].offset: a patch is placed by either offset or after, not both"},
              {"[[type]]\nfolder = \"C:/x\"\nremember = { write = true }\n",
               "type[0].remember.write: needs a registry or ini place"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.registry]]\nroot = \"HKXX\"\nkey = \"k\"\n",
               "4: type[0].registry[0].root: must be one of \"HKCR\", \"HKCU\", \"HKLM\", \"HKU\""},
              {"[setup]\nstart_type = 1\n[[type]]\nfolder = \"C:/x\"\n",
               "1: setup.start_type: names a setup type that does not exist"},
              {"[background]\ntext_color = \"white\"\n[[type]]\nfolder = \"C:/x\"\n",
               "2: background.text_color: must be a colour written #RRGGBB"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nmenu = { folders = [\"A;B\"], name = "
               "\"n\" }\n",
               "type[0].files[0].menu.folders: a folder name may not hold ';'"},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.ini]]\nfile = \"f\"\nsection = \"s\"\nkey = \"k\"\n"
               "uninstall = \"delete-key-if-empty\"\n",
               "7: type[0].ini[0].uninstall: must be one of \"keep\", \"delete\""},
              {"[[type]]\nfolder = \"C:/x\"\n[[type.registry]]\nkey = \"k\"\nuninstall = \"remove\"\n",
               "5: type[0].registry[0].uninstall: must be one of \"keep\", \"delete\", \"delete-key-if-empty\""},
              {("[[type]]\nfolder = \"C:/x\"\n[[type.registry]]\nkey = \"k\"\nname = \"" + std::string(600, 'n') +
                "\"\nuninstall = \"delete\"\n")
                   .c_str(),
               "type[0].registry[0].uninstall: a key, name or section to delete"},
              {"[[type]]\nfolder = \"C:/x\"\nremember = { registry = { key = \"k\", value = \"v\" }, uninstall = "
               "\"delete\" }\n",
               "type[0].remember.uninstall: needs write = true"},
              {"[[type]]\nfolder = \"C:/x\"\nremember = { ini = { file = \"f\", section = \"s\", key = \"k\" }, write "
               "= true, "
               "uninstall = \"delete-key-if-empty\" }\n",
               "type[0].remember.uninstall: must be one of \"keep\", \"delete\""},
              {"title = \"x\" x\n", "1: "},  // a TOML syntax error keeps toml++'s own description
          });
  std::string seven;
  for (int i = 0; i < 7; ++i) seven += "[[type]]\nfolder = \"C:/x\"\n";
  EXPECT_NE(std::string::npos, read_error(seven).find("13: type: a setup holds at most six setup types"));
}

// A per-user setup runs without administrator rights: what only they may
// write is refused at the line that asks for it, and the same project
// built per machine is read.
TEST_F(ProjectTest, PerUserSetupsRefuseWhatNeedsTheMachine) {
  write_text(dir.file("a.txt"), "a");
  const std::string user = "[setup]\nprivileges = \"user\"\n[[type]]\nfolder = \"C:/x\"\n";
  const std::string file = "[[type.files]]\nsource = \"a.txt\"\n";
  const std::string rights = " needs administrator rights, which a setup with privileges = \"user\" does not ask for";
  const std::pair<std::string, std::string> cases[] = {
      {file + "folder = \"system\"\n", "7: type[0].files[0].folder: the System folder" + rights},
      {file + "folder = \"windows\"\nshared = true\n", "7: type[0].files[0].folder: the Windows folder" + rights},
      {file + "folder = \"fonts\"\n", "7: type[0].files[0].folder: the Fonts folder" + rights},
      {file + "register = \"library\"\n", "7: type[0].files[0].register: a library's self-registration" + rights},
      {"[[type.registry]]\nroot = \"HKLM\"\nkey = \"Software\\\\K\"\n", "6: type[0].registry[0].root: HKLM" + rights},
      {"remember = { registry = { root = \"HKLM\", key = \"Software\\\\K\", value = \"Dir\" }, write = true }\n",
       "5: type[0].remember.registry.root: HKLM" + rights},
  };
  for (const auto& [tail, wanted] : cases) {
    EXPECT_NE(std::string::npos, read_error(user + tail).find(wanted)) << read_error(user + tail);
    std::string admin = user;
    admin.replace(admin.find("user"), 4, "admin");
    EXPECT_EQ("", read_error(admin + tail)) << tail;
  }
  // What the user may write stays allowed.
  EXPECT_EQ("", read_error(user + file + "[[type.registry]]\nroot = \"HKCU\"\nkey = \"Software\\\\K\"\n"));
}

// A setup that lets its user choose takes what a per-user one refuses, and
// then installs for all users only; HKA and what the user may write keep
// the choice. Only it carries the texts of the choice (6/53, 6/54).
TEST_F(ProjectTest, ChoiceSetupsInstallWhatNeedsTheMachineForAllUsersOnly) {
  write_text(dir.file("a.txt"), "a");
  const std::string choice = "[setup]\nprivileges = \"choice\"\n[[type]]\nfolder = \"C:/x\"\n";
  const std::string file = "[[type.files]]\nsource = \"a.txt\"\n";
  const std::string machine[] = {
      file + "folder = \"system\"\n",
      file + "folder = \"fonts\"\n",
      file + "register = \"library\"\n",
      "[[type.registry]]\nroot = \"HKLM\"\nkey = \"Software\\\\K\"\n",
      "remember = { registry = { root = \"HKLM\", key = \"Software\\\\K\", value = \"Dir\" }, write = true }\n",
      "[[type.path]]\nfolder = \"#InstallDir#\"\n",
  };
  for (const std::string& tail : machine) {
    Project p;
    ASSERT_EQ("", read_error(choice + tail, &p)) << tail;
    EXPECT_TRUE(p.scope_choice);
    EXPECT_TRUE(p.machine_only) << tail;
  }
  Project p;
  ASSERT_EQ("", read_error(choice + file + "[[type.registry]]\nroot = \"HKA\"\nkey = \"Software\\\\K\"\n"
                           "[[type.path]]\nfolder = \"#InstallDir#\"\nscope = \"user\"\n", &p));
  EXPECT_FALSE(p.machine_only);
  EXPECT_EQ(uint32_t{kRootOfScope}, p.types[0].registry_entries[0].root_key);
  ASSERT_TRUE(p.types[0].record.text_lists[6]);
  ASSERT_EQ(size_t{kScopeTextEnd}, p.types[0].record.text_lists[6]->size());
  EXPECT_NE(std::string::npos, (*p.types[0].record.text_lists[6])[kScopeText].find("for all users"));
  EXPECT_EQ("", (*p.types[0].record.text_lists[6])[kFirstRemovalText]);
  ASSERT_EQ("", read_error("[[type]]\nfolder = \"C:/x\"\n", &p));
  EXPECT_FALSE(p.scope_choice);
  EXPECT_EQ(size_t{kFirstRemovalText}, p.types[0].record.text_lists[6]->size());
}

// A setting the uninstaller deletes must be one its plan takes: a record
// with any other would make the uninstaller remove nothing at all.
// The texts about removing the other setup types' installations are only
// in a setup that removes them, so that every other setup stays as it was.
TEST_F(ProjectTest, TheRemovalTextsComeOnlyWithTheRemoval) {
  const std::string type = "[[type]]\nfolder = \"C:/x\"\n";
  Project p;
  ASSERT_EQ("", read_error(type, &p));
  ASSERT_TRUE(p.types[0].record.text_lists[6]);
  EXPECT_EQ(size_t{kFirstRemovalText}, p.types[0].record.text_lists[6]->size());
  ASSERT_EQ("", read_error("[setup]\nremove_other_types = true\n" + type, &p));
  ASSERT_EQ(43u, p.types[0].record.text_lists[6]->size());
  EXPECT_EQ("Waiting for the uninstaller of %s to end...", (*p.types[0].record.text_lists[6])[40]);
  // A text the project gives is kept, with those before it.
  ASSERT_EQ("", read_error(type + "[type.texts]\n\"6/39\" = \"Nothing else.\"\n", &p));
  ASSERT_EQ(43u, p.types[0].record.text_lists[6]->size());
  EXPECT_EQ("Nothing else.", (*p.types[0].record.text_lists[6])[39]);
}

// The uninstaller reads a record of at most kMaxRecordLength bytes: a
// setup type that could write a longer one is refused at the build, not
// found out when its product cannot be removed.
TEST_F(ProjectTest, ATypeWhoseRecordTheUninstallerCouldNotReadIsRefused) {
  auto folders = [](int count) {
    std::string toml = "[[type]]\nfolder = \"C:\\\\X\"\n";
    for (int i = 0; i < count; ++i)
      toml += "[[type.folders]]\nname = \"" + std::string(200, 'd') + std::to_string(i) + "\"\n";
    return toml;
  };
  std::string error = read_error(folders(20000));
  EXPECT_EQ(0u, error.find(project_path() + ": type[0]: its installation record could take")) << error;
  // Without an uninstaller there is no record; with a tenth of it, it fits.
  EXPECT_EQ("", read_error("[setup]\nuninstaller = false\n" + folders(20000)));
  EXPECT_EQ("", read_error(folders(2000)));
}

TEST_F(ProjectTest, SettingsTheUninstallerDeletesAreOnesItCanPlan) {
  const std::string type = "[[type]]\nfolder = \"C:\\\\X\"\n";
  expect_refusals(type, {
      {"[[type.registry]]\nkey = \"Software/Demo/\"\nuninstall = \"delete\"\n",
       "4: type[0].registry[0].key: \"Software\\Demo\\\": a key the uninstaller deletes from has no empty step"},
      {"[[type.registry]]\nkey = \"\\\\Software\\\\Demo\"\nuninstall = \"delete-key-if-empty\"\n", "has no empty step"},
      {"[[type.registry]]\nkey = \"Software\\\\\\\\Demo\"\nuninstall = \"delete\"\n", "has no empty step"},
      {"[[type.registry]]\nkey = \"Software\\\\..\\\\Demo\"\nuninstall = \"delete\"\n", "has no empty step"},
      {"[[type.ini]]\nfile = \"conf\\\\demo.ini\"\nsection = \"s\"\nkey = \"k\"\nuninstall = \"delete\"\n",
       "4: type[0].ini[0].file: \"conf\\demo.ini\": the uninstaller takes back entries of an INI file named alone"},
      {"[[type.ini]]\nfile = \"#InstallDir#\\\\..\\\\demo.ini\"\nsection = \"s\"\nkey = \"k\"\nuninstall = \"delete\"\n",
       "type[0].ini[0].file: "},
      {"remember = { registry = { key = \"Software\\\\Demo\\\\\", value = \"v\" }, write = true, "
       "uninstall = \"delete\" }\n",
       "type[0].remember.uninstall: \"Software\\Demo\\\": a key the uninstaller deletes from"},
  });
  // The same, kept at uninstall, and every plain form, build.
  std::string error, setup = dir.file("setup.exe");
  EXPECT_TRUE(build(type + "[[type.registry]]\nkey = \"Software/Demo/\"\n"
                           "[[type.registry]]\nkey = \"Software\\\\Demo\"\nuninstall = \"delete\"\n"
                           "[[type.ini]]\nfile = \"demo.ini\"\nsection = \"s\"\nkey = \"k\"\nuninstall = \"delete\"\n"
                           "[[type.ini]]\nfile = \"#InstallDir#\\\\conf\\\\demo.ini\"\nsection = \"s\"\nkey = \"k\"\n"
                           "uninstall = \"delete\"\n"
                           "[[type.ini]]\nfile = \"D:\\\\conf\\\\demo.ini\"\nsection = \"s\"\nkey = \"k\"\n"
                           "uninstall = \"delete\"\n",
                    setup, &error))
      << error;
}

// A registry value written as a whole replaces the search path of the user
// or the machine, and deleting it at uninstall takes System32 with it: the
// build refuses the Environment's Path in every spelling and points at
// [[type.path]]; other values of those keys, and other keys, build.
TEST_F(ProjectTest, TheEnvironmentPathIsNoRegistryValue) {
  const std::string type = "[[type]]\nfolder = \"C:\\\\X\"\n";
  expect_refusals(type, {
      {"[[type.registry]]\nroot = \"HKCU\"\nkey = \"Environment\"\nname = \"Path\"\nvalue = \"#InstallDir#\"\n",
       "6: type[0].registry[0].name: \"Path\" of HKCU\\Environment is the search path"},
      {"[[type.registry]]\nkey = \"environment\\\\\"\nname = \"PATH\"\nkeep_existing = true\n",
       "use [[type.path]]"},
      {"[[type.registry]]\nroot = \"HKLM\"\nkey = \"SYSTEM/CurrentControlSet/Control/Session Manager/Environment\"\n"
       "name = \"path\"\nvalue = \"C:\\\\X\"\nuninstall = \"delete\"\n",
       "type[0].registry[0].name: \"path\" of HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"},
      {"[[type.registry]]\nroot = \"HKLM\"\nkey = \"system\\\\ControlSet001\\\\control\\\\session manager\\\\environment\"\n"
       "name = \"Path\"\n",
       "use [[type.path]]"},
  });
  std::string error, setup = dir.file("setup.exe");
  EXPECT_TRUE(build(type + "[[type.registry]]\nkey = \"Environment\"\nname = \"KESTREL_HOME\"\nvalue = \"#InstallDir#\"\n"
                           "[[type.registry]]\nkey = \"Software\\\\Environment\"\nname = \"Path\"\n"
                           "[[type.registry]]\nroot = \"HKLM\"\nkey = \"Environment\"\nname = \"Path\"\n",
                    setup, &error))
      << error;
}

// [[type.path]]: each folder in block 0x1246 of its type, with the scope it
// names or else the installation's, which follows the privileges.
TEST_F(ProjectTest, SearchPathEntriesJoinTheInstallationsScope) {
  const std::string type = "[[type]]\nfolder = \"C:/X\"\n[[type.path]]\nfolder = \"#InstallDir#/bin\"\n"
                           "[[type.path]]\nfolder = \"D:\\\\Tools\"\nscope = \"user\"\n";
  for (const char* privileges : {"admin", "user"}) {
    Project p;
    ASSERT_EQ("", read_error(std::string("[setup]\nprivileges = \"") + privileges + "\"\n" + type, &p));
    ASSERT_EQ(2u, p.types[0].path_entries.size());
    EXPECT_EQ(privileges[0] == 'a' ? kPathScopeMachine : kPathScopeUser, path_entry_scope(p, p.types[0].path_entries[0]));
    EXPECT_EQ(kPathScopeUser, path_entry_scope(p, p.types[0].path_entries[1]));
  }
  std::string error, setup = dir.file("setup.exe");
  ASSERT_TRUE(build(type, setup, &error)) << error;
  ASSERT_TRUE(load(setup));
  const uint8_t* list = SetupTypeTable[0].entry_lists[kPathList];
  ASSERT_NE(nullptr, list);
  const uint8_t* end = list + SetupTypeTable[0].entry_list_lengths[kPathList];
  ASSERT_EQ(2, get_u16(list));
  PathEntry bin, tools;
  const uint8_t* p = parse_path_entry(list + 2, end, &bin);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(end, parse_path_entry(p, end, &tools));
  EXPECT_EQ(kPathScopeMachine, bin.scope);
  EXPECT_STREQ("#InstallDir#\\bin", bin.folder);
  EXPECT_EQ(kPathScopeUser, tools.scope);
  EXPECT_STREQ("D:\\Tools", tools.folder);
  expect_refusals("[[type]]\nfolder = \"C:/X\"\n", {
      {"[[type.path]]\nscope = \"user\"\n", "3: type[0].path[0].folder: is required"},
      {"[[type.path]]\nfolder = \"C:/a;C:/b\"\n", "type[0].path[0].folder: \"C:/a;C:/b\": a search path separates"},
      {"[[type.path]]\nfolder = \"C:/X\"\nscope = \"everyone\"\n", "type[0].path[0].scope: must be one of"},
  });
}

// Texts of the file that a refusal quotes may hold line breaks and other
// control characters: the message stays one line, shown with escapes.
TEST_F(ProjectTest, ARefusalIsOneLineWhateverTheFileHolds) {
  const char* cases[] = {
      "[setup]\nfull_screen = t\n\n",                          // toml++ quotes the line break it saw
      "[setup]\n\"bad\\nkey\\u001b[2J\" = 1\n",                // a key named with a line break and an escape
      "[[type]]\nfolder = \"C:/x\"\nlicence = \"no\\nne\"\n",  // a file name with a line break
  };
  for (const char* toml : cases) {
    std::string error = read_error(toml);
    EXPECT_EQ(0u, error.find(project_path() + ":")) << toml << " gave " << error;
    for (char c : error) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << toml << " gave " << error;
  }
}

// Paths the system cannot look at: a name over 255 bytes, a loop of
// links. The refusal names the file, the line, the key and the path, and
// the tool ends with 1 rather than aborting.
TEST_F(ProjectTest, PathsTheSystemCannotLookAtAreNamed) {
  write_text(dir.file("a.txt"), "a");
  write_text(dir.file("tree/b.txt"), "b");
  fs::create_symlink("loop", dir.file("loop"));
  fs::create_symlink("inner", dir.file("tree/inner"));
  const std::string long_name(300, 'n');
  const std::string head = "[[type]]\nfolder = \"C:/x\"\n";
  struct Case {
    std::string toml;
    std::string key;
    std::string path;
  };
  const Case cases[] = {
      {head + "licence = \"" + long_name + "\"\n", "type[0].licence", dir.file(long_name)},
      {head + "[[type.files]]\nsource = \"" + long_name + "/a.txt\"\n", "type[0].files[0].source",
       dir.file(long_name + "/a.txt")},
      {head + "[[type.files]]\nsource = \"loop/a.txt\"\n", "type[0].files[0].source", dir.file("loop/a.txt")},
      {head + "[[type.files]]\nsource = \"loop/*.txt\"\n", "type[0].files[0].source", dir.file("loop")},
      {head + "[[type.files]]\nsource = \"loop\"\nrecursive = true\n", "type[0].files[0].source", dir.file("loop")},
      {head + "[[type.files]]\nsource = \"tree\"\nrecursive = true\n", "type[0].files[0].source",
       dir.file("tree/inner")},
      {head + "[[type.files]]\nsource = \"a.txt\"\npatch_of = \"loop\"\n", "type[0].files[0].patch_of",
       dir.file("loop")},
  };
  for (const Case& c : cases) {
    std::string error = read_error(c.toml);
    EXPECT_EQ(0u, error.find(project_path() + ":")) << c.toml << " gave " << error;
    EXPECT_NE(std::string::npos, error.find(c.key + ": cannot look at " + c.path + ": ")) << c.toml << " gave " << error;
    std::string output;
    EXPECT_EQ(1, run_tool("build " + project_path() + " -o " + dir.file("out.exe"), &output)) << c.toml;
    EXPECT_NE(std::string::npos, output.find(c.path)) << output;
    EXPECT_FALSE(fs::exists(dir.file("out.exe")));
  }
}

// A folder the user may not read (as root every folder may be read).
TEST_F(ProjectTest, AFolderWithoutPermissionIsNamed) {
  if (geteuid() == 0) GTEST_SKIP() << "root may read every folder";
  write_text(dir.file("locked/a.txt"), "a");
  fs::permissions(dir.file("locked"), fs::perms::none);
  std::string error = read_error("[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"locked/a.txt\"\n");
  fs::permissions(dir.file("locked"), fs::perms::owner_all);
  EXPECT_NE(std::string::npos, error.find("type[0].files[0].source: cannot look at " + dir.file("locked/a.txt")))
      << error;
}

// Refusals that the setup would otherwise show only on the user's machine,
// each with its file, line and key.
TEST_F(ProjectTest, MistakesOfANewProjectAreNamedByLine) {
  write_text(dir.file("a.txt"), "a");
  write_text(dir.file("licence.txt"), "one\n\xD0\x9F\n");
  write_text(dir.file("utf16.txt"), std::string("\xFF\xFEL\0i\0", 6));
  expect_refusals(
      "",
      {
          {"[[type]]\nfolder = \"C:/x\"\ncaption = \"\xD0\x9F\"\n",
           "3: type[0].caption: \"\xD0\x9F\" (at byte 0) cannot be written in code page 1252"},
          {"[setup]\ntitle = \"\xD0\x9F\"\n[[type]]\nfolder = \"C:/x\"\n", "2: setup.title: \"\xD0\x9F\""},
          {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"0/1\" = \"\xD0\x9F\"\n", "4: type[0].texts.0/1: \"\xD0\x9F\""},
          {"[[type]]\nfolder = \"C:/x\"\nlicence = \"licence.txt\"\n",
           "3: type[0].licence: \"\xD0\x9F\" (at byte 5) cannot be written"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nmenu = { folders = [\"\xD0\x9F\"], name = "
           "\"n\" }\n",
           "5: type[0].files[0].menu.folders: \"\xD0\x9F\""},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nname = \"\xD0\x9F.txt\"\n",
           "5: type[0].files[0].name: \"\xD0\x9F\""},
          {"[setup]\ncode_page = 1\n[[type]]\nfolder = \"C:/x\"\n", "2: setup.code_page: code page 1 is not known"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.ini]]\nfile = \"f.ini\"\nsection = \"S\"\nvalue = \"v\"\n",
           "3: type[0].ini[0].key: is required"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.ini]]\nfile = \"f.ini\"\nkey = \"K\"\n",
           "3: type[0].ini[0].section: is required"},
          {"[[type]]\nfolder = \"C:/x\"\nremember = { ini = { file = \"f.ini\", section = \"S\" } }\n",
           "3: type[0].remember.ini.key: is required"},
          {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"0/9\" = \"x\"\n",
           "4: type[0].texts.0/9: there is no text 0/9: list 0 holds texts 0 to 4"},
          {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"6/60\" = \"x\"\n", "list 6 holds texts 0 to 59"},
          {"[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"8/0\" = \"x\"\n",
           "4: type[0].texts.8/0: the setup shows no text of list 8"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.patch]]\nfile = \"f\"\ntext = \"t\"\n",
           "3: type[0].patch[0].offset: a patch needs offset or after"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.patch]]\nfile = \"f\"\noffset = 4\n",
           "3: type[0].patch[0].text: is required"},
          {"[[type]]\nfolder = \"C:/x\"\ncaption = \"A\"\n[[type]]\nfolder = \"C:/y\"\n",
           "4: type[1].caption: is required when the setup offers more than one setup type"},
          // Windows paths in TOML's "..." strings: "\n" and "\t" are escapes.
          {"[[type]]\nfolder = \"C:\\new\"\n", "2: type[0].folder: holds a control character: in a \"...\" string"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.registry]]\nkey = \"Software\\test\"\n",
           "4: type[0].registry[0].key: holds a control character"},
          {"[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nto = \"data\\new\"\n",
           "3: type[0].files[0]: \"data\\x0Aew\\a.txt\": holds a control character"},
          {"[[type]]\nfolder = \"C:/x\"\nuninstall_name = \"Kestrel/1.0\\\\Demo\"\n",
           "3: type[0].uninstall_name: may not hold a backslash"},
          {"[[type]]\nfolder = \"C:/x\"\nlicence = \"utf16.txt\"\n", "3: type[0].licence: is UTF-16: save it as UTF-8"},
          {"[[type]]\nfolder = \"C:\\Apps\"\n",
           "2: Error while parsing string: unknown escape sequence '\\A' (in a \"...\" "
           "string write a backslash as \\\\, or use / or a '...' string)"},
      });
  // Texts that exist are taken; the captions matter only where the page shows.
  EXPECT_EQ("",
            read_error("[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"0/4\" = \"a\"\n\"1/4\" = \"b\"\n\"6/31\" = \"c\"\n"
                       "\"9/4\" = \"d\"\n"));
  EXPECT_EQ("", read_error(
                    "[setup]\nsingle_page = \"progress\"\n[[type]]\nfolder = \"C:/x\"\n[[type]]\nfolder = \"C:/y\"\n"));
  EXPECT_EQ("", read_error("[setup]\ncode_page = 1251\n[[type]]\nfolder = \"C:/x\"\ncaption = \"\xD0\x9F\"\n"));
  // Paths on the building machine never go into the setup: any characters.
  EXPECT_EQ(
      "", read_error("[signing]\ncommand = \"sign --key /home/\xD0\x9F/k.pem {file}\"\n[[type]]\nfolder = \"C:/x\"\n"));
}

// The setup takes the default folder as a whole path: without a drive or a
// folder macro in front it would install relative to wherever it was
// started from. Environment variables are no macros.
TEST_F(ProjectTest, DefaultFolderMustBeWhole) {
  auto folder = [&](const std::string& value) { return read_error("[setup]\n[[type]]\nfolder = \"" + value + "\"\n"); };
  for (const char* good : {"C:\\\\Tools", "d:/Tools", "C:\\\\", "\\\\\\\\server\\\\share\\\\X", "#Program Files#\\\\X",
                           "#windows#", "#System#\\\\X", "#SourceDir#\\\\X"})
    EXPECT_EQ("", folder(good)) << good;
  std::string error = folder("%LOCALAPPDATA%\\\\Programs\\\\X");
  EXPECT_NE(std::string::npos,
            error.find("3: type[0].folder: \"%LOCALAPPDATA%\\Programs\\X\" has no drive and no macro, so the setup "
                       "would install relative to its current folder; begin it with #Program Files#, #Windows#, "
                       "#System# or #SourceDir#, or with a drive such as C:\\ (environment variables such as "
                       "%APPDATA% are not replaced: only macros are)"))
      << error;
  for (const char* bad :
       {"Programs/X", "\\\\Programs", "C:Programs", "#InstallDir#\\\\X", "#Date#", "X\\\\#Program Files#"}) {
    error = folder(bad);
    EXPECT_NE(std::string::npos, error.find("3: type[0].folder: ")) << bad;
    EXPECT_NE(std::string::npos, error.find("relative to its current folder; begin it with #Program Files#")) << error;
  }
}

// Every #...# of a text the setup expands must be a macro, by the setup's
// own rules: exact tokens, any letter case, an unpaired '#' plain text.
TEST_F(ProjectTest, MacrosAreThoseTheSetupReplaces) {
  auto folder = [&](const std::string& value) { return read_error("[[type]]\nfolder = \"" + value + "\"\n"); };
  for (const char* good : {"#Program Files#\\\\A", "#program files#\\\\A", "#WINDOWS#", "C:\\\\100#", "C:\\\\C#",
                           "C:\\\\A\\\\#Date#", "#SourceDir#\\\\x#", "#System#"})
    EXPECT_EQ("", folder(good)) << good;
  EXPECT_NE(std::string::npos,
            folder("#ProgramFiles#\\\\A").find("2: type[0].folder: #ProgramFiles# is not a macro (did you mean "
                                               "#Program Files#?)"))
      << folder("#ProgramFiles#\\\\A");
  EXPECT_NE(std::string::npos, folder("C:\\\\#Data#").find("#Data# is not a macro (did you mean #Date#?)"));
  EXPECT_NE(std::string::npos, folder("#Win dows#").find("(did you mean #Windows#?)"));
  // Far from every macro: the whole list, and what the setup would do.
  std::string error = folder("C:\\\\C# and F#");
  EXPECT_NE(std::string::npos, error.find("# and F# is not a macro: the setup drops any text between two '#'")) << error;
  EXPECT_NE(std::string::npos, error.find("#Windows#, #System#, #Program Files#, #InstallDir#, #SourceDir# and #Date#"))
      << error;
  EXPECT_NE(std::string::npos, folder("a#b#c#d").find("#b# is not a macro")) << folder("a#b#c#d");

  // The other texts the setup expands, and those it uses as written, where
  // a macro would stay as typed.
  expect_refusals(
      "[[type]]\nfolder = \"C:/x\"\n",
      {
          {"[[type.ini]]\nfile = \"#InstalDir#/a.ini\"\nsection = \"S\"\nkey = \"K\"\n",
           "4: type[0].ini[0].file: #InstalDir# is not a macro (did you mean #InstallDir#?)"},
          {"[[type.ini]]\nfile = \"a.ini\"\nsection = \"S\"\nkey = \"K\"\nvalue = \"#SourceDirectory#\"\n",
           "7: type[0].ini[0].value: #SourceDirectory# is not a macro"},
          {"[[type.registry]]\nkey = \"Software/A\"\nvalue = \"#Today#\"\n",
           "5: type[0].registry[0].value: #Today# is not"},
          {"[[type.patch]]\nfile = \"#Sytem#/a.cfg\"\ntext = \"t\"\noffset = 0\n",
           "4: type[0].patch[0].file: #Sytem# is not a macro (did you mean #System#?)"},
          {"[[type.patch]]\nfile = \"a.cfg\"\ntext = \"#InstallDir#\\\\#Dates#\"\noffset = 0\n",
           "5: type[0].patch[0].text: #Dates# is not a macro (did you mean #Date#?)"},
          {"remember = { ini = { file = \"#Windows#/a.ini\", section = \"S\", key = \"K\" } }\n",
           "3: type[0].remember.ini.file: the setup uses this text as written and leaves #Windows# as it stands"},
          {"remember = { registry = { key = \"Software/#InstallDir#\", value = \"V\" } }\n",
           "3: type[0].remember.registry.key: the setup uses this text as written"},
          {"[[type.registry]]\nkey = \"Software/#Date#\"\n",
           "4: type[0].registry[0].key: the setup uses this text as written"},
      });
  // Sections, keys, value names and texts are never expanded: any '#' goes.
  EXPECT_EQ("",
            read_error("[[type]]\nfolder = \"C:/x\"\n[[type.ini]]\nfile = \"a.ini\"\nsection = \"#S#\"\nkey = \"#K#\"\n"
                       "value = \"100#\"\n[[type.registry]]\nkey = \"Software/C#\"\nname = \"#n#\"\n"
                       "[type.texts]\n\"0/1\" = \"#1 in #Windows#\"\n"));
}

// A start-menu location is a folder under Programs, or a word alone.
TEST_F(ProjectTest, MenuLocationsAreFoldersOrWords) {
  write_text(dir.file("a.txt"), "a");
  auto menu = [&](const std::string& folders) {
    return read_error("[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\nmenu = { folders = [" +
                      folders + "], name = \"A\" }\n");
  };
  Project p;
  ASSERT_EQ("", read_error("[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"a.txt\"\n"
                           "menu = { folders = [\"#Start Menu#\", \"#startup#\", \"Tools/C#\", \"\"], name = \"A\" }\n",
                           &p));
  EXPECT_EQ("#Start Menu#;#startup#;Tools\\C#;", p.types[0].items[0].menu_locations);
  struct Case {
    const char* folders;
    const char* expected;
  };
  const Case cases[] = {
      {"\"#StartMenu#\"", "5: type[0].files[0].menu.folders: #StartMenu# is not a start-menu location (did you mean "
                          "#Start Menu#?): #Start Menu# and #Startup# stand alone"},
      {"\"#Programs#\"", "#Programs# is not a start-menu location:"},
      {"\"Tools/#Startup#\"", "#Startup# is replaced only as a whole location"},
      {"\"../../Desktop\"", "\"..\\..\\Desktop\": the name climbs out with '..'; a location is a folder under Programs"},
      {"\"C:/Tools\"", "the name holds a drive letter"},
      {"\"A|B\"", "holds '|', which Windows does not allow"},
  };
  for (const Case& c : cases) {
    std::string error = menu(c.folders);
    EXPECT_NE(std::string::npos, error.find(c.expected)) << c.folders << " gave " << error;
  }
}

// The build refuses what extract refuses, and what Windows would: every
// item lands inside its folder, once.
TEST_F(ProjectTest, ItemNamesStayInsideTheirFolderOnce) {
  write_text(dir.file("a.txt"), "a");
  write_text(dir.file("docs/README.txt"), "r");
  write_text(dir.file("docs/readme.TXT"), "r2");
  write_text(dir.file("odd/x:y.txt"), "colon");
  expect_refusals(
      "[[type]]\nfolder = \"C:/x\"\n[[type.files]]\n",
      {
          {"source = \"a.txt\"\nto = \"../outside\"\n",
           "3: type[0].files[0]: \"..\\outside\\a.txt\": the name climbs out with '..'"},
          {"source = \"a.txt\"\nto = \"C:/Windows\"\n",
           "3: type[0].files[0]: \"C:\\Windows\\a.txt\": the name holds a drive"},
          {"source = \"a.txt\"\nto = \"/abs\"\n", "\"\\abs\\a.txt\": the name is absolute"},
          {"source = \"a.txt\"\nname = \"a?.txt\"\n", "holds '?', which Windows does not allow in a file name"},
          {"source = \"a.txt\"\nname = \"sub/\"\n", "a file's name must not end in a folder separator"},
          {"source = \"a.txt\"\nto = \"#System#\"\n", "would make a folder called #System#"},
          {"source = \"odd\"\n", "\"x:y.txt\": the name holds a drive letter or a stream name"},
          {"source = \"a.txt\"\nname = \"Uninstall.EXE\"\n", "installs Uninstall.EXE, the name of the uninstaller"},
          {"source = \"docs/*\"\n", "3: type[0].files[0]: installs readme.TXT, which type[0].files[0] ("},
          {"source = \"a.txt\"\nname = \"lib.dll\"\nfolder = \"system\"\n[[type.files]]\nsource = \"a.txt\"\n"
           "name = \"LIB.dll\"\nfolder = \"system\"\n",
           "7: type[0].files[1]: installs LIB.dll, which type[0].files[0] ("},
          {"source = \"a.txt\"\nto = \"sub\"\nfolder = \"system\"\n",
           "3: type[0].files[0]: \"sub\\a.txt\": a shared system file goes where Windows keeps it"},
      });
  std::string error = read_error("[setup]\nuninstaller = \"../Uninstall.exe\"\n[[type]]\nfolder = \"C:/x\"\n");
  EXPECT_NE(std::string::npos, error.find("2: setup.uninstaller: \"..\\Uninstall.exe\": the name climbs out")) << error;
  // The same name in other folders, in other types, as a folder twice, or
  // again from an item that asks before it replaces an older version.
  EXPECT_EQ("", read_error("[[type]]\nfolder = \"C:/x\"\ncaption = \"A\"\n[[type.files]]\nsource = \"a.txt\"\n"
                           "[[type.files]]\nsource = \"a.txt\"\ncompare_language = true\n"
                           "[[type.files]]\nsource = \"a.txt\"\nfolder = \"windows\"\n"
                           "[[type.files]]\nsource = \"a.txt\"\nto = \"./sub\"\n"
                           "[[type.folders]]\nname = \"data\"\n[[type.folders]]\nname = \"data/\"\n"
                           "[[type]]\nfolder = \"C:/y\"\ncaption = \"B\"\n[[type.files]]\nsource = \"a.txt\"\n"));
}

// Default texts that speak of the product call it by the setup's title.
TEST_F(ProjectTest, DefaultTextsNameTheProduct) {
  std::string error, setup = dir.file("setup.exe");
  ASSERT_TRUE(build("[setup]\ntitle = \"Caf\xC3\xA9 100% Pure\"\n[[type]]\nfolder = \"C:/x\"\n", setup, &error))
      << error;
  ASSERT_TRUE(load(setup));
  EXPECT_STREQ("Caf\xE9 100% Pure", get_text(6, 0));
  EXPECT_STREQ("Welcome to the setup of Caf\xE9 100% Pure.", get_text(0, 1));
  EXPECT_STREQ("Setup has installed Caf\xE9 100% Pure on your computer.", get_text(5, 1));
  // The ready page's summary is formatted: the title's '%' is doubled.
  EXPECT_EQ(0, std::strncmp("Caf\xE9 100%% Pure will be installed in:", get_text(3, 2), 34)) << get_text(3, 2);
  // Without a document the finish page has no Open button to press.
  EXPECT_STREQ("", get_text(5, 2));
  free_archive();
  write_text(dir.file("notes.txt"), "notes");
  ASSERT_TRUE(build("[setup]\ntitle = \"Demo\"\n[[type]]\nfolder = \"C:/x\"\n[[type.files]]\nsource = \"notes.txt\"\n"
                    "role = \"document\"\n",
                    setup, &error))
      << error;
  ASSERT_TRUE(load(setup));
  EXPECT_STREQ("Press Open to read the notes on Demo.", get_text(5, 2));
  free_archive();
  // A text the project gives stays, button or not.
  ASSERT_TRUE(build("[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"5/2\" = \"Enjoy.\"\n", setup, &error)) << error;
  ASSERT_TRUE(load(setup));
  EXPECT_STREQ("Enjoy.", get_text(5, 2));
  free_archive();
  const TextLists named = default_texts("Kestrel Demo");
  for (int l = 0; l < kTextListCount; ++l)
    for (const std::string& text : named[l]) {
      EXPECT_EQ(std::string::npos, text.find("the product")) << text;
      EXPECT_EQ(std::string::npos, text.find("this product")) << text;
    }
  // Without a title the texts speak of the product.
  EXPECT_EQ("Setup has installed the product on your computer.", default_texts()[5][1]);
  EXPECT_EQ("Welcome to the setup of this product.", default_texts()[0][1]);
}

TEST_F(ProjectTest, SourcesExpandSortedWithSubfoldersAndNames) {
  write_text(dir.file("bin/b.exe"), "b");
  write_text(dir.file("bin/a.exe"), "a");
  write_text(dir.file("bin/readme.txt"), "r");
  write_text(dir.file("docs/en/guide.txt"), "g");
  write_text(dir.file("docs/index.txt"), "i");
  Project p;
  ASSERT_EQ("", read_error("[[type]]\nfolder = \"C:/x\"\n"
                           "[[type.files]]\nsource = \"bin/*.exe\"\nto = \"program/\"\n"
                           "[[type.files]]\nsource = \"docs\"\nrecursive = true\nto = \"doc\"\n"
                           "[[type.files]]\nsource = \"bin/readme.txt\"\nname = \"README\"\n"
                           "[[type.files]]\nsource = \"docs\"\nto = \"top\"\n"
                           "[[type.folders]]\nname = \"data/logs\"\n",
                           &p));
  std::vector<std::string> names;
  for (const ProjectItem& i : p.types[0].items) names.push_back(i.name);
  // A folder without recursive gives its own files only.
  EXPECT_EQ((std::vector<std::string>{"program\\a.exe", "program\\b.exe", "doc\\en\\guide.txt", "doc\\index.txt",
                                      "README", "top\\index.txt", "data\\logs\\"}),
            names);
  EXPECT_EQ(kKindFolder, p.types[0].items.back().kind);
  EXPECT_EQ(kKindRemovable, p.types[0].items[0].kind);
}

TEST(TextCatalogue, EveryTextTheWizardShowsIsThere) {
  TextLists t = default_texts();
  // list, first, last of the texts the pages and messages use.
  const int used[][3] = {{0, 0, 3}, {1, 0, 0}, {1, 2, 2}, {2, 0, 2}, {2, 5, 7}, {3, 0, 2},  {4, 0, 2},
                         {5, 0, 7}, {6, 0, 9}, {6, 11, 22}, {6, 28, 31}, {7, 0, 6}, {9, 0, 1}};
  for (const auto& u : used)
    for (int i = u[1]; i <= u[2]; ++i) {
      ASSERT_LT(static_cast<size_t>(i), t[u[0]].size()) << u[0] << "/" << i;
      EXPECT_FALSE(t[u[0]][i].empty()) << u[0] << "/" << i;
    }
  // Without a licence the page is passed over; a 5/8 would ask for a
  // restart after every installation.
  EXPECT_TRUE(t[1][1].empty());
  EXPECT_TRUE(t[5].size() <= 8 || t[5][8].empty());
  std::string error;
  const TextLists all = translated_texts(*shipped_translation("en", &error), "", kArchitectureX64Compatible);
  for (const TextFormat& f : formatted_texts())
    EXPECT_NE(std::string::npos, all[f.list][f.index].find(f.directive)) << f.list << "/" << f.index;
  // Every default text must be writable in the usual Western code page.
  for (int l = 0; l < kTextListCount; ++l)
    for (const std::string& s : t[l]) {
      std::string out, why;
      EXPECT_TRUE(to_code_page(s, 1252, &out, &why)) << s << ": " << why;
    }
}

TEST(CodePage, ConvertsOrNamesTheCharacter) {
  std::string out, why;
  ASSERT_TRUE(to_code_page("caf\xC3\xA9 \xE2\x82\xAC", 1252, &out, &why));
  EXPECT_EQ("caf\xE9 \x80", out);
  EXPECT_FALSE(to_code_page("\xE6\x97\xA5", 1252, &out, &why));
  EXPECT_NE(std::string::npos, why.find("\xE6\x97\xA5")) << why;
  ASSERT_TRUE(to_code_page("\xE6\x97\xA5", 932, &out, &why)) << why;
  EXPECT_EQ(2u, out.size());
  EXPECT_FALSE(to_code_page("x", 99999, &out, &why));
}

const char kProduct[] =
    "[setup]\ntitle = \"Caf\xC3\xA9 1.0 Setup\"\nremove_other_types = true\nfull_screen = true\n"
    "[background]\ntitle = \"Caf\xC3\xA9\"\ntext_color = \"#FF8000\"\n"
    "[[type]]\ncaption = \"Full\"\nuninstall_name = \"Cafe\"\nfolder = \"#Program Files#/Cafe\"\nlicence = "
    "\"licence.txt\"\n"
    "remember = { registry = { root = \"HKLM\", key = \"Software/Cafe\", value = \"Path\" }, write = true, "
    "uninstall = \"delete-key-if-empty\" }\n"
    "[type.texts]\n\"0/1\" = \"Hello\"\n"
    "[[type.files]]\nsource = \"app-1.0.bin\"\nname = \"app.bin\"\ntimes = true\nrole = \"program\"\n"
    "menu = { folders = [\"Cafe\", \"Tools/Cafe\"], name = \"Cafe\", icon = 2 }\ndesktop = { name = \"Cafe\", "
    "arguments = \"/fast\" }\n"
    "[[type.files]]\nsource = \"same.txt\"\nfolder = \"windows\"\nshared = true\nkeep = true\n"
    "[[type.ini]]\nfile = \"#InstallDir#/cafe.ini\"\nsection = \"S\"\nkey = \"K\"\nvalue = \"V\"\nkeep_existing = "
    "true\n"
    "[[type.registry]]\nroot = \"HKCU\"\nkey = \"Software/Cafe\"\nname = \"Colour\"\nvalue = \"blue\"\n"
    "uninstall = \"delete\"\n"
    "[[type.patch]]\nfile = \"#InstallDir#/app.bin\"\ntext = \"XY\"\nafter = \"MARK\"\n"
    "[[type]]\ncaption = \"Update\"\nfolder = \"C:/x\"\nfolder_editable = false\n"
    "[[type.files]]\nsource = \"app-1.1.bin\"\nname = \"app.bin\"\npatch_of = \"app-1.0.bin\"\n"
    "[[type.files]]\nsource = \"copy.txt\"\n";

void write_product(const TempDir& dir) {
  std::string old_app(50000, '\0'), new_app;
  uint32_t x = 2463534242u;  // xorshift: bytes that do not compress
  for (char& c : old_app) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  new_app = old_app;
  new_app.replace(20000, 5, "MARK!");
  write_text(dir.file("app-1.0.bin"), old_app);
  write_text(dir.file("app-1.1.bin"), new_app);
  write_text(dir.file("licence.txt"), "line one\nline two\n");
  write_text(dir.file("same.txt"), "shared bytes");
  write_text(dir.file("copy.txt"), "shared bytes");
}

TEST_F(ProjectTest, BuiltSetupLoadsAsWritten) {
  write_product(dir);
  std::string error;
  std::string setup = dir.file("out/setup.exe");
  fs::create_directories(dir.file("out"));
  ASSERT_TRUE(build(kProduct, setup, &error)) << error;
  ASSERT_TRUE(load(setup));
  EXPECT_EQ(kSetupFullScreen | kSetupRemoveOthers, SetupFlags);
  ASSERT_EQ(2, SetupTypeCount);
  EXPECT_STREQ("Caf\xE9 1.0 Setup", get_text(6, 0));  // in code page 1252
  EXPECT_STREQ("Hello", get_text(0, 1));
  EXPECT_STREQ("line one\r\nline two\r\n", get_text(1, 1));
  ASSERT_NE(nullptr, BackgroundTitle);
  EXPECT_STREQ("Caf\xE9", BackgroundTitle);
  ASSERT_EQ(68u, BackgroundStyleLength);
  EXPECT_EQ(0x0080FFu, get_u32(BackgroundStyle + 4));  // COLORREF: red in the low byte
  const SetupTypeRecord& full = SetupTypeTable[0].record;
  EXPECT_EQ(kTypeFolderEditable | kTypeRememberInRegistry | kTypeForgetFolder | kTypeForgetFolderKey, full.flags);
  EXPECT_STREQ("#Program Files#\\Cafe", full.default_folder);
  EXPECT_STREQ("Software\\Cafe", full.registry_key);
  EXPECT_EQ(2u, full.root_key);
  EXPECT_EQ(0, SetupTypeTable[1].record.flags & kTypeFolderEditable);
  ASSERT_NE(nullptr, ItemPrefixBlob);
  EXPECT_EQ(3000u, ItemPrefixBlobLength);  // the whole image; the 8 bytes behind it are item data

  // Type 0: the uninstaller, the program, the shared file.
  ASSERT_EQ(3u, CurrentFileCount);
  const uint8_t* uninstaller = CurrentFirstEntry;
  EXPECT_EQ("Uninstall.exe", entry_name(uninstaller));
  EXPECT_EQ(kItemUninstaller, uninstaller[kEntryFlags]);
  const uint8_t* app = next_entry(uninstaller);
  EXPECT_EQ("app.bin", entry_name(app));
  EXPECT_EQ(kItemHasTimes, app[kEntryFlags]);
  EXPECT_EQ(kRoleProgram, app[kEntryFinishRole]);
  EXPECT_EQ(2, get_u16(app + kEntryIconIndex));
  EXPECT_STREQ("Cafe;Tools\\Cafe", entry_string(app, 1));
  EXPECT_STREQ("/fast", entry_string(app, 5));
  EXPECT_EQ(50000u, get_u32(app + kEntrySize));
  const uint8_t* shared = next_entry(app);
  EXPECT_EQ(kFolderWindows, shared[kEntryFolderCode]);
  EXPECT_EQ(1, shared[kEntryShared]);
  EXPECT_EQ(kKindFile, shared[kEntryKind]);

  IniEntry ini;
  ASSERT_TRUE(parse_ini_entry(SetupTypeTable[0].entry_lists[0] + 2,
                              SetupTypeTable[0].entry_lists[0] + SetupTypeTable[0].entry_list_lengths[0], &ini));
  EXPECT_STREQ("#InstallDir#\\cafe.ini", ini.file);
  EXPECT_EQ(kEntryKeepExisting, ini.flags);
  RegistryEntry value;
  ASSERT_TRUE(parse_registry_entry(SetupTypeTable[0].entry_lists[1] + 2,
                                   SetupTypeTable[0].entry_lists[1] + SetupTypeTable[0].entry_list_lengths[1], &value));
  EXPECT_EQ(kEntryDeleteAtUninstall, value.flags);
  StringPatchEntry patch;
  ASSERT_TRUE(parse_string_patch(SetupTypeTable[0].entry_lists[2] + 2,
                                 SetupTypeTable[0].entry_lists[2] + SetupTypeTable[0].entry_list_lengths[2], &patch));
  EXPECT_EQ(-1, patch.offset);
  EXPECT_EQ(std::string("MARK"), std::string(reinterpret_cast<const char*>(patch.pattern), patch.pattern_length));

  // Type 1: the patch names its base, and identical bytes are stored once.
  select_setup_type(1);
  ASSERT_EQ(3u, CurrentFileCount);
  const uint8_t* patched = next_entry(CurrentFirstEntry);
  EXPECT_EQ(kItemPatch, patched[kEntryFlags]);
  EXPECT_EQ(0, get_u16(patched + kEntrySetupType));
  EXPECT_EQ(1, static_cast<int32_t>(get_u32(patched + kEntryIndex)));
  EXPECT_LT(get_u32(patched + kEntryDataLength), 1000u);  // five bytes changed out of 50,000
  const uint8_t* copy = next_entry(patched);
  EXPECT_EQ(get_u32(shared + kEntryDataPosition), get_u32(copy + kEntryDataPosition));
  EXPECT_EQ(get_u32(uninstaller + kEntryDataPosition), get_u32(CurrentFirstEntry + kEntryDataPosition));
  // The data of each type lies in installation order.
  EXPECT_LT(get_u32(app + kEntryDataPosition), get_u32(shared + kEntryDataPosition));
  EXPECT_LT(get_u32(shared + kEntryDataPosition), get_u32(patched + kEntryDataPosition));
}

// The configuration blocks of a setup built by options(), whose stub is
// 1024 bytes long: every block header and payload up to the data area.
std::vector<std::pair<uint16_t, std::vector<uint8_t>>> configuration_blocks(const std::vector<uint8_t>& setup) {
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> blocks;
  for (size_t at = 1024; at + kBlockHeaderSize <= setup.size();) {
    uint16_t id = get_u16(&setup[at]);
    size_t end = id == kBlockDataArea ? setup.size() : at + kBlockHeaderSize + get_u32(&setup[at + 4]);
    if (end > setup.size()) break;
    blocks.push_back({id, std::vector<uint8_t>(setup.begin() + at, setup.begin() + end)});
    at = end;
  }
  return blocks;
}

// The Add/Remove values and the uninstaller's texts travel in a block of
// their own behind each setup type; a project without them builds the
// very bytes it built before they existed: the same setup less those
// blocks.
TEST_F(ProjectTest, ProductDetailsGoInABlockOfTheirOwnOnly) {
  write_product(dir);
  std::string error, plain = dir.file("plain.exe"), detailed = dir.file("detailed.exe");
  ASSERT_TRUE(build(kProduct, plain, &error)) << error;
  std::string toml = kProduct;
  toml.insert(toml.find("[background]"),
              "version = \"1.0.3\"\npublisher = \"Caf\xC3\xA9 Ltd\"\nurl = \"https://cafe.example.com/\"\n"
              "icon = \"#InstallDir#/app.bin,-2\"\n");
  toml.insert(toml.find("[[type.files]]"),
              "[type.uninstaller_texts]\ncaption = \"Remove %s\"\nremoved_left = \"Some of %s stays (100%%).\"\n");
  ASSERT_TRUE(build(toml, detailed, &error)) << error;

  auto without = configuration_blocks(read_bytes(plain));
  auto with = configuration_blocks(read_bytes(detailed));
  EXPECT_EQ(0, std::count_if(without.begin(), without.end(), [](auto& b) { return b.first == kBlockProductDetails; }));
  std::vector<uint8_t> rest;
  int details = 0;
  for (auto& [id, bytes] : with) {
    if (id == kBlockProductDetails) ++details;
    else rest.insert(rest.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(2, details);  // one for each setup type
  std::vector<uint8_t> plain_bytes = read_bytes(plain);
  EXPECT_EQ(std::vector<uint8_t>(plain_bytes.begin() + 1024, plain_bytes.end()), rest);

  ASSERT_TRUE(load(detailed));
  EXPECT_STREQ("1.0.3", product_detail(kDetailVersion));
  EXPECT_STREQ("Caf\xE9 Ltd", product_detail(kDetailPublisher));  // in the code page
  EXPECT_STREQ("https://cafe.example.com/", product_detail(kDetailUrl));
  EXPECT_STREQ("#InstallDir#\\app.bin,-2", product_detail(kDetailIcon));
  EXPECT_STREQ("Remove %s", product_detail(kDetailUninstallerTexts + kUninstallerCaption));
  EXPECT_STREQ("", product_detail(kDetailUninstallerTexts + kUninstallerQuestion));
  EXPECT_STREQ("Some of %s stays (100%%).", product_detail(kDetailUninstallerTexts + kUninstallerRemovedLeft));
  EXPECT_STREQ("", product_detail(kDetailUninstallerTexts + kUninstallerRemovedRestart));
  select_setup_type(1);  // the [setup] values, none of type 0's texts
  EXPECT_STREQ("https://cafe.example.com/", product_detail(kDetailUrl));
  EXPECT_STREQ("", product_detail(kDetailUninstallerTexts + kUninstallerCaption));
  free_archive();
  ASSERT_TRUE(load(plain));
  EXPECT_STREQ("", product_detail(kDetailUrl));
}

// The host's tools read the texts in the setup's code page: a setup in any
// other page than 1252 says which in a block of its own, which the setup
// passes over.
TEST_F(ProjectTest, CodePageGoesInABlockOfItsOwnOnly) {
  std::string error, western = dir.file("western.exe"), cyrillic = dir.file("cyrillic.exe");
  ASSERT_TRUE(build("[setup]\ncode_page = 1252\n[[type]]\nfolder = \"C:/x\"\ncaption = \"P\"\n", western, &error))
      << error;
  ASSERT_TRUE(
      build("[setup]\ncode_page = 1251\n[[type]]\nfolder = \"C:/x\"\ncaption = \"\xD0\x9F\"\n", cyrillic, &error))
      << error;
  auto blocks = configuration_blocks(read_bytes(western));
  EXPECT_EQ(0, std::count_if(blocks.begin(), blocks.end(), [](auto& b) { return b.first == kBlockCodePage; }));
  std::vector<std::vector<uint8_t>> pages;
  for (auto& [id, bytes] : configuration_blocks(read_bytes(cyrillic)))
    if (id == kBlockCodePage) pages.push_back(bytes);
  // Stored, 4 bytes: 1251.
  EXPECT_EQ((std::vector<std::vector<uint8_t>>{{0x44, 0x12, 0, 0, 4, 0, 0, 0, 0xE3, 0x04, 0, 0}}), pages);
  ASSERT_TRUE(load(cyrillic));
  EXPECT_STREQ("\xCF", SetupTypeTable[0].record.caption);
}

// The headers of a program for `machine` (PE32, no sections), 512 bytes.
std::vector<uint8_t> program_for(uint16_t machine) {
  std::vector<uint8_t> image(512, 0);
  image[0] = 'M';
  image[1] = 'Z';
  put_u32(&image[60], 0x40);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  put_u16(&image[0x44], machine);
  put_u16(&image[0x54], 224);       // the optional header's size
  put_u16(&image[0x58], 0x10B);     // PE32
  put_u32(&image[0x58 + 92], 16);   // data directories
  return image;
}

TEST_F(ProjectTest, ArchitectureGoesInABlockOfItsOwnOnly) {
  std::string error, plain = dir.file("plain.exe"), x86 = dir.file("x86.exe"), x64 = dir.file("x64.exe");
  const std::string type = "[[type]]\nfolder = \"#Program Files#/P\"\n";
  ASSERT_TRUE(build("[setup]\ntitle = \"P\"\n" + type, plain, &error)) << error;
  ASSERT_TRUE(build("[setup]\ntitle = \"P\"\narchitecture = \"x86\"\n" + type, x86, &error)) << error;
  ASSERT_TRUE(build("[setup]\ntitle = \"P\"\narchitecture = \"x64\"\n" + type, x64, &error)) << error;
  EXPECT_EQ(read_bytes(plain), read_bytes(x86));
  auto blocks = configuration_blocks(read_bytes(plain));
  EXPECT_EQ(0, std::count_if(blocks.begin(), blocks.end(), [](auto& b) { return b.first == kBlockArchitecture; }));
  // Stored, 4 bytes: 1, before the setup type record.
  blocks = configuration_blocks(read_bytes(x64));
  auto architecture = std::find_if(blocks.begin(), blocks.end(), [](auto& b) { return b.first == kBlockArchitecture; });
  auto record = std::find_if(blocks.begin(), blocks.end(), [](auto& b) { return b.first == kBlockSetupType; });
  ASSERT_NE(blocks.end(), architecture);
  EXPECT_LT(architecture - blocks.begin(), record - blocks.begin());
  EXPECT_EQ((std::vector<uint8_t>{0x47, 0x12, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0}), architecture->second);
  // Text 6/43 only in the 64-bit mode, the removal texts before it empty.
  ASSERT_TRUE(load(plain));
  EXPECT_STREQ("", get_text(6, 43));
  free_archive();
  ASSERT_TRUE(load(x64));
  EXPECT_STREQ("P needs a 64-bit version of Windows for x64 processors. It cannot be installed on this computer.",
               get_text(6, 43));
  EXPECT_STREQ("", get_text(6, 40));
  EXPECT_EQ(uint32_t{kArchitectureX64}, static_cast<uint32_t>(LoadedArchitecture));
  free_archive();
  Project p;
  ASSERT_NE(std::string::npos, read_error("[setup]\narchitecture = \"amd64\"\n" + type, &p).find("must be one of"));
}

TEST_F(ProjectTest, StoredProgramsMustSuitTheArchitecture) {
  write_bytes(dir.file("x86.dll"), program_for(0x14C));
  write_bytes(dir.file("x64.exe"), program_for(0x8664));
  write_bytes(dir.file("arm64.exe"), program_for(0xAA64));
  auto built = [&](const std::string& architecture, const std::string& files, BuildReport* report) {
    write_text(project_path(), "[setup]\narchitecture = \"" + architecture + "\"\n[[type]]\nfolder = \"C:/x\"\n" + files);
    Project p;
    std::string error;
    if (!read_project(project_path(), &p, &error)) return error;
    return build_setup(p, options(dir.file("out.exe")), report, &error) ? std::string() : error;
  };
  const std::string x64 = "[[type.files]]\nsource = \"x64.exe\"\n";
  const std::string arm64 = "[[type.files]]\nsource = \"arm64.exe\"\n";
  BuildReport report;
  // An x86 setup says where it puts a 64-bit program, and builds.
  ASSERT_EQ("", built("x86", x64, &report));
  ASSERT_EQ(1u, report.warnings.size());
  EXPECT_NE(std::string::npos, report.warnings[0].find("is an x64 program, which an x86 setup installs into the 32-bit"))
      << report.warnings[0];
  ASSERT_EQ("", built("x64", x64, &report));
  EXPECT_TRUE(report.warnings.empty());
  ASSERT_EQ("", built("arm64", arm64, &report));
  EXPECT_TRUE(report.warnings.empty());
  // What the mode cannot install is refused, naming the item and why.
  struct Case {
    const char* architecture;
    std::string files;
    const char* expected;
  } refused[] = {
      {"x64", arm64, "is an ARM64 program, which an x64 machine cannot run"},
      {"x64compatible", arm64, "is an ARM64 program, which an x64 machine cannot run"},
      {"x64", "[[type.files]]\nsource = \"x64.exe\"\nname = \"x.dll\"\nregister = \"library\"\n",
       "is an x64 library marked for self-registration: the setup is a 32-bit program"},
      {"x64", "[[type.files]]\nsource = \"x86.dll\"\nfolder = \"system\"\nregister = \"library\"\n",
       "is an x86 library marked for self-registration into the System folder"},
  };
  fs::remove(dir.file("out.exe"));
  for (const Case& c : refused) {
    std::string error = built(c.architecture, c.files, &report);
    EXPECT_EQ(0u, error.find(project_path() + ":5: ")) << error;
    EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
    EXPECT_FALSE(fs::exists(dir.file("out.exe")));
  }
  // An x86 library registers itself from the installation folder.
  ASSERT_EQ("", built("x64", "[[type.files]]\nsource = \"x86.dll\"\nregister = \"library\"\n", &report));
}

TEST_F(ProjectTest, ProductDetailsAreCheckedByLine) {
#define ONE_TYPE "[[type]]\nfolder = \"C:/x\"\n"
  expect_refusals("[setup]\n", {
      {"url = \"file:///C:/Windows/notepad.exe\"\n" ONE_TYPE, "setup.url: must be a web address"},
      {"url = \"www.example.com\"\n" ONE_TYPE, "setup.url: must be a web address"},
      {"url = \"https://\"\n" ONE_TYPE, "setup.url: must be a web address"},
      {"url = \"https://example.com/a b\"\n" ONE_TYPE, "setup.url: may hold no space"},
      {"url = \"https://example.com/\\\" /x\"\n" ONE_TYPE, "setup.url: may hold no space, quote"},
      {"icon = \"#InstallDir#/a.exe,one\"\n" ONE_TYPE, "setup.icon: a \",index\""},
      {"icon = \",0\"\n" ONE_TYPE, "setup.icon: needs the path"},
      {"icon = \"#InstalDir#/a.exe\"\n" ONE_TYPE, "setup.icon: #InstalDir# is not a macro"},
      {"version = 1\n" ONE_TYPE, "setup.version: must be a string"},
      {"vendor = \"x\"\n" ONE_TYPE, "setup.vendor: unknown key"},
  });
  expect_refusals(ONE_TYPE, {
      {"[type.uninstaller_texts]\nremoved = \"%d removed\"\n", "type[0].uninstaller_texts.removed: may hold %s"},
      {"[type.uninstaller_texts]\nquestion = \"%s or %s?\"\n", "type[0].uninstaller_texts.question: may name the product"},
      {"[type.uninstaller_texts]\nthanks = \"x\"\n", "type[0].uninstaller_texts.thanks: unknown key"},
      {"[type.uninstaller_texts]\ncaption = \"\xD0\x9F\"\n", "type[0].uninstaller_texts.caption"},
  });
  Project p;
  EXPECT_EQ("", read_error("[setup]\nurl = \"HTTP://Example.com/x?a=1\"\nicon = \"#Windows#/a.ico\"\n"
                           "version = \"\"\n" ONE_TYPE, &p));
  ASSERT_EQ(1u, p.types.size());
  EXPECT_EQ((std::vector<std::string>{"", "", "HTTP://Example.com/x?a=1", "#Windows#\\a.ico"}), p.types[0].details);
  EXPECT_EQ("", read_error(ONE_TYPE, &p));
  EXPECT_TRUE(p.types[0].details.empty());
#undef ONE_TYPE
}

// The arguments of the program the finish page runs, the type's last item
// with role "program", join its product details after the uninstaller's
// texts; on any other item they would never be used.
TEST_F(ProjectTest, ProgramArgumentsBelongToTheProgramTheFinishPageRuns) {
  write_text(dir.file("a.exe"), "a");
  write_text(dir.file("b.txt"), "b");
#define ONE_TYPE "[[type]]\nfolder = \"C:/x\"\n"
  Project p;
  EXPECT_EQ("", read_error(ONE_TYPE "[[type.files]]\nsource = \"b.txt\"\n[[type.files]]\nsource = \"a.exe\"\n"
                                    "role = \"program\"\narguments = \"/open \\\"#InstallDir#/b.txt\\\"\"\n",
                           &p));
  ASSERT_EQ(1u, p.types.size());
  std::vector<std::string> details(kDetailProgramArguments + 1);
  details[kDetailProgramArguments] = "/open \"#InstallDir#/b.txt\"";
  EXPECT_EQ(details, p.types[0].details);
  expect_refusals(ONE_TYPE, {
      {"[[type.files]]\nsource = \"b.txt\"\narguments = \"/x\"\n",
       "type[0].files[0].arguments: are for the program the finish page runs"},
      {"[[type.files]]\nsource = \"a.exe\"\nrole = \"program\"\narguments = \"/x\"\n"
       "[[type.files]]\nsource = \"b.txt\"\nrole = \"program\"\n",
       "type[0].files[0].arguments: the finish page runs only the last item with role \"program\""},
      {"[[type.files]]\nsource = \"a.exe\"\nrole = \"program\"\narguments = \"#Instal#\"\n",
       "type[0].files[0].arguments: #Instal# is not a macro"},
      {"[[type.files]]\nsource = \"a.exe\"\nrole = \"program\"\narguments = 1\n",
       "type[0].files[0].arguments: must be a string"},
  });
#undef ONE_TYPE
}

TEST_F(ProjectTest, SameProjectGivesTheSameBytes) {
  write_product(dir);
  std::string error;
  ASSERT_TRUE(build(kProduct, dir.file("one.exe"), &error)) << error;
  // Reading the sources changes their access times; the setup must not.
  ASSERT_TRUE(build(kProduct, dir.file("two.exe"), &error)) << error;
  EXPECT_EQ(read_bytes(dir.file("one.exe")), read_bytes(dir.file("two.exe")));
}

// Identical files share their data; files that only agree in length and
// checksum do not.
TEST_F(ProjectTest, OnlyIdenticalFilesShareTheirData) {
  // The checksum rotates and adds words: 2 after 0 sums like 0 after 1.
  const std::string a("\0\0\0\0\2\0\0\0", 8), b("\1\0\0\0\0\0\0\0", 8);
  ASSERT_EQ(checksum_block(reinterpret_cast<const uint8_t*>(a.data()), 8, 0),
            checksum_block(reinterpret_cast<const uint8_t*>(b.data()), 8, 0));
  write_text(dir.file("a.bin"), a);
  write_text(dir.file("b.bin"), b);
  write_text(dir.file("c.bin"), a);
  std::string error;
  std::string setup = dir.file("sums.exe");
  ASSERT_TRUE(
      build("[[type]]\ncaption = \"All\"\nfolder = \"C:/x\"\n"
            "[[type.files]]\nsource = \"a.bin\"\n[[type.files]]\nsource = \"b.bin\"\n"
            "[[type.files]]\nsource = \"c.bin\"\n",
            setup, &error))
      << error;
  ASSERT_TRUE(load(setup));
  ASSERT_EQ(4u, CurrentFileCount);  // the uninstaller first
  const uint8_t* first = next_entry(CurrentFirstEntry);
  const uint8_t* second = next_entry(first);
  const uint8_t* third = next_entry(second);
  EXPECT_NE(get_u32(first + kEntryDataPosition), get_u32(second + kEntryDataPosition));
  EXPECT_EQ(get_u32(first + kEntryDataPosition), get_u32(third + kEntryDataPosition));
}

// privileges = "user": the stub and the uninstaller this setup carries ask
// for no administrator rights. The manifest keeps its length, so the stub
// keeps its layout and stamped length.
TEST_F(ProjectTest, PerUserPrivilegesAskForNoAdministratorRights) {
  const std::string admin = "level=\"requireAdministrator\" uiAccess";
  const std::string user = "level=\"asInvoker\"            uiAccess";
  BuildOptions o = options(dir.file("admin.exe"));
  std::copy(admin.begin(), admin.end(), o.stub.begin() + 300);
  std::copy(admin.begin(), admin.end(), o.uninstaller.begin() + 1000);
  auto contains = [](const std::vector<uint8_t>& bytes, size_t from, size_t to, const std::string& text) {
    return std::search(bytes.begin() + from, bytes.begin() + to, text.begin(), text.end()) != bytes.begin() + to;
  };
  const std::string project = "[setup]\nprivileges = \"%s\"\n[[type]]\nfolder = \"C:/x\"\n";
  std::vector<uint8_t> built[2];
  for (int per_user = 0; per_user < 2; ++per_user) {
    std::string toml = project;
    toml.replace(toml.find("%s"), 2, per_user ? "user" : "admin");
    std::string output = dir.file(per_user ? "user.exe" : "admin.exe"), error;
    o.output = output;
    ASSERT_TRUE(build(toml, output, &error, &o)) << error;
    built[per_user] = read_bytes(output);
    const std::string& wanted = per_user ? user : admin;
    EXPECT_TRUE(contains(built[per_user], 0, o.stub.size(), wanted));
    ASSERT_TRUE(load(output));
    std::vector<uint8_t> uninstaller(ItemPrefixBlob, ItemPrefixBlob + ItemPrefixBlobLength);
    EXPECT_TRUE(contains(uninstaller, 0, uninstaller.size(), wanted));
    free_archive();
  }
  // In the stub only the level's bytes differ.
  for (size_t i = 0; i < o.stub.size(); ++i) {
    if (i < 300 || i >= 300 + admin.size()) {
      ASSERT_EQ(built[0][i], built[1][i]) << i;
    }
  }

  // A stub without that manifest cannot be made a per-user one.
  BuildOptions plain = options(dir.file("plain.exe"));
  std::string toml = project;
  toml.replace(toml.find("%s"), 2, "user");
  std::string error;
  EXPECT_FALSE(build(toml, dir.file("plain.exe"), &error, &plain));
  EXPECT_NE(std::string::npos, error.find("privileges = \"user\": the stub has no manifest")) << error;
  EXPECT_FALSE(fs::exists(dir.file("plain.exe")));
}

TEST_F(ProjectTest, FailedBuildLeavesNothingBehind) {
  write_product(dir);
  std::string setup = dir.file("setup.exe");
  write_text(setup, "the old setup");
  // Read as sound; the build finds that copy.txt has no version to compare.
  std::string toml = std::string(kProduct) + "[[type.files]]\nsource = \"copy.txt\"\nname = \"v.txt\"\n"
                                             "compare_version = true\n";
  std::string error;
  EXPECT_FALSE(build(toml, setup, &error));
  EXPECT_NE(std::string::npos, error.find("has no version resource")) << error;
  std::vector<uint8_t> kept = read_bytes(setup);
  EXPECT_EQ("the old setup", std::string(kept.begin(), kept.end()));
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(std::string::npos, e.path().filename().string().find(".kestrel-build")) << e.path();
  // The folders made for the output go with the failed build.
  EXPECT_FALSE(build(toml, dir.file("new/deeper/setup.exe"), &error));
  EXPECT_FALSE(fs::exists(dir.file("new"))) << error;
}

TEST_F(ProjectTest, OutputFolderIsMadeBeforeTheWork) {
  write_product(dir);
  std::string error;
  ASSERT_TRUE(build(kProduct, dir.file("dist/1.0/setup.exe"), &error)) << error;
  ASSERT_TRUE(load(dir.file("dist/1.0/setup.exe")));
  // A folder that cannot be made fails before any item is read: this
  // project's failing item is never reached.
  write_text(dir.file("plain"), "a file where a folder would go");
  std::string toml = std::string(kProduct) + "[[type.files]]\nsource = \"copy.txt\"\nname = \"v.txt\"\n"
                                             "compare_version = true\n";
  EXPECT_FALSE(build(toml, dir.file("plain/sub/setup.exe"), &error));
  EXPECT_NE(std::string::npos, error.find("cannot make the folder " + dir.file("plain") + " for " +
                                          dir.file("plain/sub/setup.exe") + ": a file of that name is in the way"))
      << error;
  EXPECT_FALSE(build(kProduct, dir.file("dist"), &error));
  EXPECT_NE(std::string::npos, error.find("dist is a folder; name the setup file")) << error;
}

TEST_F(ProjectTest, VolumesSplitTheDataAndStaleOnesGo) {
  write_product(dir);
  std::string setup = dir.file("setup.exe");
  write_text(volume_path(setup, 9), "stale");
  write_text(volume_path(setup, 10), "stale");
  BuildOptions o = options(setup);
  o.volume_size = 16 * 1024;
  std::string error;
  ASSERT_TRUE(build(kProduct, setup, &error, &o)) << error;
  EXPECT_TRUE(fs::exists(volume_path(setup, 1)));
  EXPECT_LE(fs::file_size(volume_path(setup, 1)), 16u * 1024);
  o.volume_size = 0;
  ASSERT_TRUE(build(kProduct, setup, &error, &o)) << error;
  EXPECT_FALSE(fs::exists(volume_path(setup, 1)));
  EXPECT_TRUE(fs::exists(volume_path(setup, 10)));  // not in the run of our own volumes
  ASSERT_TRUE(load(setup));
}

// A compiled resource file with one dialog of the given id and bytes.
std::vector<uint8_t> res_with_dialog(uint16_t id, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> res = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  res.resize(32, 0);
  std::vector<uint8_t> header(32, 0);
  put_u32(header.data(), static_cast<uint32_t>(bytes.size()));
  put_u32(header.data() + 4, 32);
  put_u16(header.data() + 8, 0xFFFF), put_u16(header.data() + 10, 5);  // RT_DIALOG
  put_u16(header.data() + 12, 0xFFFF), put_u16(header.data() + 14, id);
  res.insert(res.end(), header.begin(), header.end());
  res.insert(res.end(), bytes.begin(), bytes.end());
  return res;
}

TEST_F(ProjectTest, ResourceFileReplacesTemplatesByNumber) {
  const std::vector<uint8_t> own = {1, 0, 0xFF, 0xFF, 42, 42, 42, 42};
  write_bytes(dir.file("own.res"), res_with_dialog(5, own));
  std::string error, setup = dir.file("setup.exe");
  ASSERT_TRUE(build("[setup]\ndialogs = \"own.res\"\n[[type]]\nfolder = \"C:/x\"\n", setup, &error)) << error;
  ASSERT_TRUE(load(setup));
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(find_template(5, &bytes, &length));
  EXPECT_TRUE(std::equal(own.begin(), own.end(), bytes));
  ASSERT_TRUE(find_template(4, &bytes, &length));  // the others stay the defaults
  EXPECT_FALSE(std::equal(own.begin(), own.end(), bytes));
  // A dialog that is no template number is refused.
  write_bytes(dir.file("own.res"), res_with_dialog(40, own));
  EXPECT_FALSE(build("[setup]\ndialogs = \"own.res\"\n[[type]]\nfolder = \"C:/x\"\n", setup, &error));
  EXPECT_NE(std::string::npos, error.find("dialog 40 is not a template number")) << error;
}

}  // namespace

namespace {

// A setup with a product id carries block 0x124b and the texts of the
// upgrade (6/55 to 6/58); without one it is the setup it was, less the
// block. What the id and the version must be is checked at build time.
TEST_F(ProjectTest, ProductIdGoesInABlockOfItsOwnWithItsTexts) {
  const std::string base = "[setup]\nversion = \"2.10.1\"\n[[type]]\nfolder = \"C:/x\"\ncaption = \"P\"\n"
                           "uninstall_name = \"P 2.10\"\n";
  std::string error, plain = dir.file("plain.exe"), product = dir.file("product.exe");
  ASSERT_TRUE(build(base, plain, &error)) << error;
  std::string toml = base;
  toml.insert(toml.find("[[type]]"), "product_id = \"Kestrel.Test\"\ndowngrade = \"refuse\"\nclose_applications = \"yes\"\n");
  ASSERT_TRUE(build(toml, product, &error)) << error;
  auto without = configuration_blocks(read_bytes(plain));
  auto with = configuration_blocks(read_bytes(product));
  EXPECT_EQ(0, std::count_if(without.begin(), without.end(), [](auto& b) { return b.first == kBlockProductIdentity; }));
  const std::vector<uint8_t> expected = {0x4b, 0x12, 0, 0, 17, 0, 0, 0, kDowngradeRefuse, kCloseApplications, 0, 0,
                                         'K', 'e', 's', 't', 'r', 'e', 'l', '.', 'T', 'e', 's', 't', 0};
  auto block = std::find_if(with.begin(), with.end(), [](auto& b) { return b.first == kBlockProductIdentity; });
  ASSERT_NE(with.end(), block);
  EXPECT_EQ(expected, block->second);

  ASSERT_TRUE(load(product));
  ASSERT_NE(nullptr, ProductIdentity);
  EXPECT_STREQ("Kestrel.Test", reinterpret_cast<const char*>(ProductIdentity + kProductIdOffset));
  EXPECT_STREQ("A newer version of this product (%s) is already installed.\r\n\r\nInstall this older version over it "
               "anyway?", get_text(6, 55));
  EXPECT_STREQ("These programs did not close:\r\n\r\n%s\r\nClose them yourself, then press OK.", get_text(6, 58));
  free_archive();
  ASSERT_TRUE(load(plain));
  EXPECT_EQ(nullptr, ProductIdentity);
  EXPECT_STREQ("", get_text(6, 55));
  free_archive();

  for (const char* version : {"version = \"2.0 beta\"\n", ""}) {
    std::string bad = toml;
    bad.replace(bad.find("version = \"2.10.1\"\n"), 19, version);
    EXPECT_FALSE(build(bad, dir.file("bad.exe"), &error)) << version;
    EXPECT_NE(std::string::npos, error.find("setup.version: must be numbers separated by dots")) << error;
  }
  for (const char* id : {"", "A\\\\B", "Caf\xC3\xA9"}) {
    std::string bad = toml;
    bad.replace(bad.find("Kestrel.Test"), 12, id);
    EXPECT_FALSE(build(bad, dir.file("bad.exe"), &error)) << id;
    EXPECT_NE(std::string::npos, error.find("setup.product_id: must be 1 to 339 ASCII")) << error;
  }
  std::string loose = base;
  loose.insert(loose.find("[[type]]"), "downgrade = \"allow\"\n");
  EXPECT_FALSE(build(loose, dir.file("bad.exe"), &error));
  EXPECT_NE(std::string::npos, error.find("setup.downgrade: needs setup.product_id")) << error;
}

}  // namespace
