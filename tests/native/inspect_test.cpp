// kestrel list, verify and extract on setup files made by the archive
// writer: what list shows, verify on sound and damaged files, extraction of
// several setup types, volumes, patches and the uninstaller, and names that
// try to leave the target folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "builder/data_area_writer.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"
#include "tests/native/data_area_fixture.h"
#include "tests/native/setup_builder.h"

namespace {

namespace fs = std::filesystem;

size_t count_lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

std::vector<std::string> tree(const std::string& dir) {
  std::vector<std::string> names;
  if (!fs::exists(dir)) return names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

class Inspect : public ::testing::Test {
 protected:
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::string out = dir.file("out");

  std::vector<uint8_t> app_v1 = text_bytes(30000, 1);
  std::vector<uint8_t> app_v2 = app_v1;
  std::vector<uint8_t> readme = text_bytes(5000, 2);
  std::vector<uint8_t> noise = pattern_bytes(3000, 3);  // stored as it stands
  std::vector<uint8_t> uninstaller_prefix = pattern_bytes(200, 4);
  std::vector<uint8_t> uninstaller_rest = pattern_bytes(500, 5);

  // Two setup types: a full one and an update that patches the full one's
  // program, with settings lists, shortcuts and items of every kind.
  SetupBuilder sample() {
    for (size_t i = 1000; i < 1400; ++i) app_v2[i] = static_cast<uint8_t>(i);
    app_v2.insert(app_v2.begin() + 20000, readme.begin(), readme.begin() + 700);
    SetupBuilder b;
    b.type(0).record = record("Full");
    b.type(1).record = record("Update");
    FileEntryFields& app = b.add_file(0, "bin\\app.exe", app_v1);
    app.menu_locations = "Kestrel;Tools";
    app.menu_name = "Kestrel App";
    app.menu_arguments = "/fast";
    app.desktop_name = "App on the desktop";
    app.icon_index = 2;
    app.flags |= kItemHasTimes;
    app.times.last_write = 132000000000000000ull;  // in 2019
    app.times.last_access = 132000000000000000ull;
    b.add_file(0, "doc\\readme.txt", readme).finish_role = kRoleDocument;
    b.add_folder(0, "Data\\");
    FileEntryFields& uninstaller = b.add_entry(0, "uninst.exe", compressed(uninstaller_rest));
    std::vector<uint8_t> whole = uninstaller_prefix;
    whole.insert(whole.end(), uninstaller_rest.begin(), uninstaller_rest.end());
    uninstaller.flags = kItemUninstaller;
    uninstaller.size = static_cast<uint32_t>(whole.size());
    uninstaller.checksum = checksum_block(whole.data(), uninstaller.size, 0);
    b.archive.item_prefix = uninstaller_prefix;
    b.add_entry(0, "extra.dat", {}).flags = kItemFromSource;
    b.add_file(0, "noise.bin", noise).folder_code = kFolderWindows;
    b.type(0).ini_entries.push_back({1, "#InstallDir#\\app.ini", "Paths", "Home", "#InstallDir#"});
    b.type(0).registry_entries.push_back({2, 0, "Software\\Kestrel", "Version", "2.0"});
    b.type(0).string_patches.push_back({-1, "bin\\app.exe", "PATCHED", {'k', 'e', 's'}});
    b.type(0).details = {"2.0", "Kestrel Works", "https://kestrel.example.org/", "#InstallDir#\\bin\\app.exe,0",
                         "Remove %s"};

    b.add_patch(1, "bin\\app.exe", 0, 0, app_v1, app_v2);
    b.add_file(1, "new.txt", text_bytes(900, 6));
    return b;
  }

  void TearDown() override { close_data_area(); }
};

// ---------------------------------------------------------------------------
// list

TEST_F(Inspect, ListShowsTypesItemsAndSettings) {
  sample().write(setup);
  std::string text;
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  for (const char* wanted : {
           "stub 300 bytes, 2 setup types, current 0",
           "setup type 0: \"Full\"",
           "uninstall name \"Full App\", folder \"#Program Files#\\Full\" (may be changed)",
           "version \"2.0\"",
           "publisher \"Kestrel Works\"",
           "web address \"https://kestrel.example.org/\"",
           "icon \"#InstallDir#\\bin\\app.exe,0\"",
           "uninstaller caption \"Remove %s\"",
           "setup type 1: \"Update\"",
           "0: #InstallDir#\\bin\\app.exe",
           "size 30000, stored ",
           "file times",
           "start menu shortcut \"Kestrel App\" in \"Kestrel;Tools\", arguments \"/fast\", icon 2",
           "desktop shortcut \"App on the desktop\", arguments \"\"",
           "document shown at the end",
           "#InstallDir#\\Data\\",
           "; folder",
           "uninstaller",
           "copied from beside the setup file",
           "#Windows#\\noise.bin",
           "size 3000, stored ",
           "INI entries: 1",
           "\"#InstallDir#\\app.ini\" [Paths] Home = \"#InstallDir#\" (keep existing)",
           "registry values: 1",
           "HKEY_LOCAL_MACHINE\\Software\\Kestrel, value \"Version\" = \"2.0\"",
           "string patches: 1",
           "\"bin\\app.exe\" after a pattern of 3 bytes: \"PATCHED\"",
           "patch of setup type 0 item 0",
           "1: #InstallDir#\\new.txt",
       })
    EXPECT_NE(std::string::npos, text.find(wanted)) << wanted << "\n" << text;
  // Setup type 1 has no settings.
  EXPECT_NE(std::string::npos, text.find("INI entries: 0")) << text;
}

TEST_F(Inspect, ListShowsControlBytesOfNamesEscaped) {
  SetupBuilder b;
  b.add_file(0, "evil\x1b[2Jname", {1, 2, 3});
  b.write(setup);
  std::string text;
  ASSERT_EQ(0, run_tool("list " + setup, &text));
  EXPECT_NE(std::string::npos, text.find("evil\\x1B[2Jname")) << text;
  EXPECT_EQ(std::string::npos, text.find('\x1b'));
}

// Texts and names of a setup are in its code page; on the host they are
// shown and written in UTF-8, the host's own.
TEST_F(Inspect, NamesAndTextsReachTheHostInUtf8) {
  const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
  SetupBuilder b;
  b.archive.code_page = 1251;
  b.type(0).record = record("\xCF\xF0\xE8\xE2\xE5\xF2");
  b.add_file(0, "\xCF\xF0\xE8\xE2\xE5\xF2.txt", {1, 2, 3});
  b.write(setup);
  std::string text;
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("texts in code page 1251")) << text;
  EXPECT_NE(std::string::npos, text.find("setup type 0: \"" + privet + "\"")) << text;
  EXPECT_NE(std::string::npos, text.find("0: #InstallDir#\\" + privet + ".txt")) << text;
  EXPECT_EQ(std::string::npos, text.find('\xCF')) << text;
  ASSERT_EQ(0, run_tool("verify " + setup, &text)) << text;
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", out}));
  EXPECT_EQ((std::vector<std::string>{privet + ".txt"}), tree(out));

  // Code page 1252, the default, has no block of its own; 0x9C is a letter
  // there (œ), and 0x81 no character at all.
  SetupBuilder western;
  western.add_file(0,
                   "\xDC"
                   "bersicht \x9C.txt",
                   {4, 5});
  western.write(setup);
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("#InstallDir#\\\xC3\x9C"
                                         "bersicht \xC5\x93.txt"))
      << text;
  std::string western_out = dir.file("western");
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", western_out}));
  EXPECT_EQ((std::vector<std::string>{"\xC3\x9C"
                                      "bersicht \xC5\x93.txt"}),
            tree(western_out));
  SetupBuilder odd;
  odd.add_file(0, "odd\x81.txt", {6});
  odd.write(setup);
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("#InstallDir#\\odd\\x81.txt")) << text;
  std::string messages;
  EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", dir.file("odd")}, &messages));
  EXPECT_NE(std::string::npos, messages.find("odd\\x81.txt): refused: its name is not text of code page 1252"))
      << messages;
  EXPECT_FALSE(fs::exists(dir.file("odd") + "/odd\x81.txt"));
}

// Texts of the host (paths, what a trial read from Wine's files) are UTF-8:
// kept whole, but for control characters and bytes that are no UTF-8.
TEST(HostText, PrintableKeepsUtf8AndEscapesTheRest) {
  EXPECT_EQ(
      "\xC3\x9C"
      "bersicht.txt",
      printable("\xC3\x9C"
                "bersicht.txt"));
  EXPECT_EQ("\xE2\x82\xAC \xF0\x9F\x90\xA6", printable("\xE2\x82\xAC \xF0\x9F\x90\xA6"));
  EXPECT_EQ("a\\x1Bb\\x7F", printable("a\x1b"
                                      "b\x7f"));
  EXPECT_EQ("next\\xC2\\x85line", printable("next\xC2\x85line"));  // U+0085, a control
  EXPECT_EQ("\\xC3(\\xFF\\xC0\\xAF\\xED\\xA0\\x80", printable("\xC3(\xFF\xC0\xAF\xED\xA0\x80"));
  EXPECT_EQ("cut \\xE2\\x82", printable("cut \xE2\x82"));
}

TEST_F(Inspect, CommandsAnswerHelpAndFailWithOneLine) {
  std::string text;
  for (const char* command : {"list", "verify", "extract"}) {
    EXPECT_EQ(0, run_tool(std::string(command) + " --help", &text)) << command;
    EXPECT_NE(std::string::npos, text.find(std::string("Usage: kestrel ") + command)) << text;
    EXPECT_NE(0, run_tool(std::string(command) + " " + dir.file("missing") + " -d " + out, &text)) << command;
    EXPECT_EQ(1u, count_lines(text)) << text;
    EXPECT_EQ(0u, text.find("kestrel: ")) << text;
  }
  EXPECT_NE(0, run_tool("extract " + setup, &text));  // no -d
  EXPECT_EQ(1u, count_lines(text)) << text;
  // A program without an archive behind it.
  write_bytes(setup, stamped_stub());
  EXPECT_NE(0, run_tool("list " + setup, &text));
  EXPECT_NE(std::string::npos, text.find("no archive")) << text;
  write_bytes(setup, text_bytes(5000, 1));
  EXPECT_NE(0, run_tool("verify " + setup, &text));
  EXPECT_NE(std::string::npos, text.find("not a setup file")) << text;
  // The tool itself holds the marker, but no stamp that fits.
  EXPECT_NE(0, run_tool("list " + std::string(KESTREL_BINARY_DIR) + "/bin/kestrel", &text));
  EXPECT_EQ(1u, count_lines(text)) << text;
}

// The stub the build stamped carries its marker once; the tool finds the
// archive behind it.
TEST_F(Inspect, SetupWithTheBuiltStub) {
  std::string stub_path = std::string(KESTREL_BINARY_DIR) + "/share/kestrel/kestrel-stub.exe";
  if (!file_exists(stub_path)) GTEST_SKIP() << "the Windows side was not built";
  std::vector<uint8_t> stub = read_bytes(stub_path);
  sample().write(setup, 0, nullptr, true, stub);
  std::string text;
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("stub " + std::to_string(stub.size()) + " bytes")) << text;
  EXPECT_EQ(0, run_tool("verify " + setup, &text)) << text;
}

// ---------------------------------------------------------------------------
// verify

TEST_F(Inspect, VerifyPassesASoundSetupInOneFileAndInVolumes) {
  sample().write(setup);
  std::string text;
  EXPECT_EQ(0, run_tool("verify " + setup, &text)) << text;
  // Six items with content in the archive: the program, the readme, the
  // uninstaller, the noise, the patch and the new text.
  EXPECT_NE(std::string::npos, text.find("sound, 6 items checked")) << text;
  EXPECT_NE(std::string::npos, text.find("not in the archive: setup type 0, item 4 (extra.dat)")) << text;

  TempDir split;
  std::string spread = split.file("setup.exe");
  uint32_t volumes = 0;
  sample().write(spread, 4096, &volumes);
  EXPECT_GE(volumes, 2u);
  EXPECT_EQ(0, run_tool("verify " + spread, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("sound, 6 items checked")) << text;
  // Without its last volume the setup is incomplete.
  fs::remove(volume_path(spread, volumes));
  EXPECT_EQ(1, run_tool("verify --quiet " + spread, &text));
  EXPECT_TRUE(only_verify_lines(text)) << text;
  EXPECT_NE(std::string::npos, text.find("the data cannot be read")) << text;
}

// A setup path without extension of 256 to 259 characters leaves no room
// in the 260-byte path buffer for ".D01": the setup program cannot name
// its volumes, and verify and extract say so, naming the volume, instead
// of writing past the buffer or blaming the setup file.
TEST_F(Inspect, VolumesOfASetupPathWithNoRoomForTheirExtensionAreRefused) {
  for (size_t length : {255u, 256u, 259u}) {
    // Folders of at most 200 characters bring the path to `length`.
    std::string path = dir.path() + "/long" + std::to_string(length);
    while (path.size() + 1 + 6 < length) {
      size_t part = std::min<size_t>(200, length - path.size() - 1 - 6);
      path += "/" + std::string(part, 'f');
    }
    path += "/setup";
    ASSERT_EQ(length, path.size());
    fs::create_directories(fs::path(path).parent_path());
    uint32_t volumes = 0;
    sample().write(path, 4096, &volumes);
    ASSERT_GE(volumes, 1u);
    std::string text;
    int verified = run_tool("verify " + path, &text);
    std::string verify_text = text;
    std::string target = out + std::to_string(length);
    int extracted = run_tool("extract " + path + " -d " + target + " --type 1", &text);
    if (length + 4 < kPathSize) {
      EXPECT_EQ(0, verified) << length << ": " << text;
      EXPECT_EQ(0, extracted) << length << ": " << text;
    } else {
      EXPECT_EQ(1, verified) << length;
      EXPECT_EQ(1, extracted) << length;
      for (const std::string* said : {&verify_text, &text}) {
        EXPECT_NE(std::string::npos, said->find("the setup program cannot open volume file " + path +
                                                ".D01: its name would be " + std::to_string(length + 4) + " bytes"))
            << length << ": " << *said;
        EXPECT_EQ(std::string::npos, said->find("the data cannot be read")) << length << ": " << *said;
      }
      // Nothing half-written is left of a failed item.
      for (const std::string& name : tree(target)) EXPECT_TRUE(fs::is_directory(target + "/" + name)) << name;
    }
  }
}

// Another writer may use id 0x1243 for something of its own: a block
// under it that is no text list ending inside it (here Kestrel's own
// details with their last terminator gone), or one before any setup type
// record, is passed over as the setup program passes it over, with a note.
TEST_F(Inspect, VerifyPassesOverBlocksUnderTheProductDetailsIdThatAreNone) {
  SetupBuilder b = sample();
  b.write(setup, 0, nullptr, false);  // stored blocks, so the text's bytes can be changed
  std::vector<uint8_t> bytes = read_bytes(setup);
  const std::string last = "Remove %s";
  auto at = std::search(bytes.begin(), bytes.end(), last.begin(), last.end());
  ASSERT_NE(bytes.end(), at);
  at[last.size()] = '!';  // its terminator, the block's last byte
  // Before the first setup type record: a count of 7 and no texts.
  size_t record = stamped_stub().size();
  while (get_u16(&bytes[record]) != kBlockSetupType) record += kBlockHeaderSize + get_u32(&bytes[record + 4]);
  const std::vector<uint8_t> foreign = {0x43, 0x12, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00};
  bytes.insert(bytes.begin() + record, foreign.begin(), foreign.end());
  write_bytes(setup, bytes);
  std::string text;
  EXPECT_EQ(0, run_tool("verify " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("note: block 0x1243 at byte " + std::to_string(record) + " of " + setup +
                                         " is not product details (it comes before any setup type record); "
                                         "passed over"))
      << text;
  EXPECT_NE(std::string::npos, text.find("is not product details (its texts do not all end inside it); passed over"))
      << text;
  EXPECT_NE(std::string::npos, text.find("sound, 6 items checked")) << text;
  // The setup shows none of the details.
  EXPECT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_EQ(std::string::npos, text.find("Kestrel Works")) << text;
}

// The arguments of the program run at the end, a further text of the
// product details: list shows them, and verify notes them in a setup type
// where no item is that program, which the setup then never starts.
TEST_F(Inspect, ProgramArgumentsAreListedAndNotedWithoutTheirProgram) {
  SetupBuilder b = sample();
  b.type(0).details.resize(kDetailProgramArguments + 1);
  b.type(0).details[kDetailProgramArguments] = "/open \"#InstallDir#\\doc\\readme.txt\"";
  b.type(1).details.resize(kDetailProgramArguments + 1);
  b.type(1).details[kDetailProgramArguments] = "/quiet";
  b.add_file(1, "run.exe", text_bytes(100, 7)).finish_role = kRoleProgram;
  b.write(setup);
  std::string text;
  ASSERT_EQ(0, run_tool("list " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("program arguments \"/open \"#InstallDir#\\doc\\readme.txt\"\"")) << text;
  EXPECT_NE(std::string::npos, text.find("program arguments \"/quiet\"")) << text;
  EXPECT_EQ(0, run_tool("verify " + setup, &text)) << text;
  EXPECT_NE(std::string::npos, text.find("note: setup type 0 gives arguments for the program run at the end, but none "
                                         "of its items is that program: they are never used"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("setup type 1 gives arguments")) << text;
}

TEST_F(Inspect, VerifyFailsOnEveryTruncation) {
  SetupBuilder b = sample();
  b.write(setup);
  std::vector<uint8_t> whole = read_bytes(setup);
  std::string messages;
  for (size_t length = 0; length < whole.size(); length += length < 400 ? 1 : 37) {
    write_bytes(setup, std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    ASSERT_EQ(1, run_quietly(run_verify, {"verify", "--quiet", setup}, &messages)) << "length " << length;
    ASSERT_TRUE(only_verify_lines(messages)) << messages;
  }
  write_bytes(setup, std::vector<uint8_t>(whole.begin(), whole.end() - 1));
  run_quietly(run_verify, {"verify", setup}, &messages);
  EXPECT_NE(std::string::npos, messages.find("rule data-area-end")) << messages;
  EXPECT_NE(std::string::npos, messages.find("run 1 byte past the end of the file")) << messages;
}

// Flips every byte behind the stub in turn; verify must answer 0 or 1,
// with nothing but its findings when it fails. Returns the positions of the flips found.
std::vector<bool> flip_every_byte(const std::string& setup, size_t from) {
  std::vector<uint8_t> whole = read_bytes(setup);
  std::vector<bool> found(whole.size(), false);
  std::string messages;
  for (size_t at = from; at < whole.size(); ++at) {
    std::vector<uint8_t> damaged = whole;
    damaged[at] ^= static_cast<uint8_t>(1u << (at % 8));
    write_bytes(setup, damaged);
    int result = run_quietly(run_verify, {"verify", "--quiet", setup}, &messages);
    EXPECT_TRUE(result == 0 || result == 1) << at;
    if (result == 1) {
      EXPECT_TRUE(only_verify_lines(messages)) << at << ": " << messages;
    }
    found[at] = result == 1;
  }
  write_bytes(setup, whole);
  return found;
}

// The dialog template block of a setup whose chain starts at `stub`.
size_t templates_size(const std::vector<uint8_t>& whole, size_t stub) {
  for (size_t at = stub; get_u16(&whole[at]) != kBlockDataArea; at += kBlockHeaderSize + get_u32(&whole[at + 4]))
    if (get_u16(&whole[at]) == kBlockDialogTemplates) return kBlockHeaderSize + get_u32(&whole[at + 4]);
  return 0;
}

size_t found_outside_templates(const std::vector<uint8_t>& whole, const std::vector<bool>& found, size_t stub) {
  size_t first = stub, last = stub;
  for (size_t at = stub; get_u16(&whole[at]) != kBlockDataArea; at += kBlockHeaderSize + get_u32(&whole[at + 4]))
    if (get_u16(&whole[at]) == kBlockDialogTemplates) first = at, last = at + kBlockHeaderSize + get_u32(&whole[at + 4]);
  size_t n = 0;
  for (size_t at = stub; at < found.size(); ++at) n += found[at] && (at < first || at >= last);
  return n;
}

SetupBuilder small_setup() {
  SetupBuilder b;
  b.type(0).record = record("Small");
  b.add_file(0, "a.txt", text_bytes(700, 7));
  b.add_file(0, "b.bin", pattern_bytes(300, 8));
  b.add_patch(0, "c.txt", 0, 0, text_bytes(700, 7), text_bytes(650, 7));
  return b;
}

// Never a crash; a flip in the file list's checksums, sizes and data
// positions or inside an item's stored bytes is always found.
TEST_F(Inspect, VerifyFindsFlippedBytesAndNeverCrashes) {
  SetupBuilder b = small_setup();
  b.write(setup, 0, nullptr, false);
  std::vector<uint8_t> whole = read_bytes(setup);
  ASSERT_EQ(0, run_quietly(run_verify, {"verify", setup}));

  const size_t stub = 300;
  size_t list = stub;
  while (get_u16(&whole[list]) != kBlockFileList) list += kBlockHeaderSize + get_u32(&whole[list + 4]);
  size_t data = whole.size() - b.next_position;
  std::vector<bool> found = flip_every_byte(setup, stub);

  const uint8_t* entry = &whole[list + kBlockHeaderSize + 4];
  for (int i = 0; i < 3; ++i, entry = next_entry(entry)) {
    size_t at = static_cast<size_t>(entry - whole.data());
    for (size_t k = kEntryChecksum; k < kEntryDataLength; ++k)
      EXPECT_TRUE(found[at + k]) << "entry " << i << " byte " << k;
  }
  // b.bin does not compress: its stream holds its bytes as they stand.
  const FileEntryFields& noise = b.archive.setup_types[0].files[1];
  for (size_t at = data + noise.data_position + 8; at + 8 < data + noise.data_position + noise.data_length; ++at)
    EXPECT_TRUE(found[at]) << "data byte " << at - data;
  // Texts and dialog templates of the configuration have no checksum, so
  // not every flip shows; the templates are left out of the count.
  EXPECT_GT(found_outside_templates(whole, found, stub), (whole.size() - stub - templates_size(whole, stub)) / 2);

  // The same with compressed configuration blocks.
  small_setup().write(setup);
  ASSERT_EQ(0, run_quietly(run_verify, {"verify", setup}));
  whole = read_bytes(setup);
  found = flip_every_byte(setup, stub);
  EXPECT_GT(found_outside_templates(whole, found, stub), (whole.size() - stub - templates_size(whole, stub)) / 2);
}

// ---------------------------------------------------------------------------
// extract

TEST_F(Inspect, ExtractWritesTheCurrentSetupTypeAndAnotherOne) {
  SetupBuilder b = sample();
  b.write(setup);
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", out}));
  EXPECT_EQ((std::vector<std::string>{"Data", "bin", "bin/app.exe", "doc", "doc/readme.txt", "noise.bin",
                                      "uninst.exe"}),
            tree(out));
  EXPECT_EQ(app_v1, read_bytes(out + "/bin/app.exe"));
  EXPECT_EQ(readme, read_bytes(out + "/doc/readme.txt"));
  EXPECT_EQ(noise, read_bytes(out + "/noise.bin"));
  std::vector<uint8_t> uninstaller = uninstaller_prefix;
  uninstaller.insert(uninstaller.end(), uninstaller_rest.begin(), uninstaller_rest.end());
  EXPECT_EQ(uninstaller, read_bytes(out + "/uninst.exe"));
  struct stat st;
  ASSERT_EQ(0, stat((out + "/bin/app.exe").c_str(), &st));
  EXPECT_EQ((132000000000000000ll - 116444736000000000ll) / 10000000, st.st_mtime);

  // The update: its program is the full type's program patched.
  std::string update = dir.file("update");
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", update, "--type", "1"}));
  EXPECT_EQ((std::vector<std::string>{"bin", "bin/app.exe", "new.txt"}), tree(update));
  EXPECT_EQ(app_v2, read_bytes(update + "/bin/app.exe"));
  EXPECT_EQ(text_bytes(900, 6), read_bytes(update + "/new.txt"));

  std::string messages;
  EXPECT_EQ(2, run_quietly(run_extract, {"extract", setup, "-d", update, "--type", "9"}, &messages));
  EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", update, "--type", "2"}, &messages));
  EXPECT_NE(std::string::npos, messages.find("there is no setup type 2")) << messages;
}

TEST_F(Inspect, ExtractDefaultsToTheTypeTheArchiveNamesAndReadsVolumes) {
  SetupBuilder b = sample();
  b.archive.start_page = StartPageFields{0xFFFF, 1};
  uint32_t volumes = 0;
  b.write(setup, 3000, &volumes);
  EXPECT_GE(volumes, 3u);
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", out}));
  EXPECT_EQ((std::vector<std::string>{"bin", "bin/app.exe", "new.txt"}), tree(out));
  EXPECT_EQ(app_v2, read_bytes(out + "/bin/app.exe"));
}

// Without the uninstaller program in the archive the installer writes the
// uninstaller as an empty file, which is not the item its entry describes:
// extract refuses the setup type before it writes anything.
TEST_F(Inspect, ExtractRefusesAnUninstallerWithoutItsProgram) {
  SetupBuilder b;
  b.add_file(0, "readme.txt", readme);
  FileEntryFields& u = b.add_entry(0, "uninst.exe", compressed(uninstaller_rest));
  u.flags = kItemUninstaller;
  u.size = static_cast<uint32_t>(uninstaller_prefix.size() + uninstaller_rest.size());
  b.write(setup);
  std::string messages;
  EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", out}, &messages));
  EXPECT_NE(std::string::npos,
            messages.find("item 1 (uninst.exe): the archive carries no uninstaller program (block 0x123f), so the "
                          "uninstaller cannot be extracted"))
      << messages;
  EXPECT_TRUE(tree(out).empty());
}

TEST_F(Inspect, ExtractOfADamagedItemLeavesNoFileAndFails) {
  SetupBuilder b;
  b.add_file(0, "good.txt", text_bytes(2000, 9));
  FileEntryFields& bad = b.add_file(0, "bad.txt", text_bytes(2000, 10));
  bad.checksum ^= 1;
  b.write(setup);
  std::string messages;
  EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", out}, &messages));
  EXPECT_NE(std::string::npos, messages.find("item 1 (bad.txt): the decoded file: checksum mismatch")) << messages;
  EXPECT_EQ((std::vector<std::string>{"good.txt"}), tree(out));  // no temporary files either
}

TEST_F(Inspect, ExtractStopsAStreamThatYieldsMoreThanTheItemsSize) {
  SetupBuilder b;
  FileEntryFields& e = b.add_file(0, "big.txt", std::vector<uint8_t>(1000000, 'x'));
  e.size = 1000;
  b.write(setup);
  std::string messages;
  EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", out}, &messages));
  EXPECT_NE(std::string::npos, messages.find("decodes to more than its 1000 bytes")) << messages;
  EXPECT_TRUE(tree(out).empty());
}

// Names that reach outside the target folder are refused before anything
// is written, and nothing appears outside it.
TEST_F(Inspect, ExtractRefusesNamesThatLeaveTheFolder) {
  std::string outside = dir.file("x");
  for (std::string hostile : std::vector<std::string>{"..\\x", "../x", "/etc/x", outside, "C:\\x", "C:x", "a\\..\\..\\x", "a/../../x",
                              "\\x", "\\\\server\\share\\x", "..", "a\\b\\..", "file:stream", "", "a\\"}) {
    SetupBuilder b;
    b.add_file(0, "first.txt", {1, 2, 3});
    b.add_file(0, hostile, {4, 5, 6});
    b.write(setup);
    std::string messages;
    EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", out}, &messages)) << hostile;
    EXPECT_NE(std::string::npos, messages.find("refused")) << hostile << ": " << messages;
    EXPECT_EQ(1u, count_lines(messages)) << messages;
    EXPECT_FALSE(file_exists(outside)) << hostile;
    EXPECT_FALSE(file_exists(out + "/first.txt")) << hostile;
    fs::remove_all(out);
  }
  EXPECT_FALSE(file_exists("/etc/x"));
  EXPECT_EQ((std::vector<std::string>{"setup.exe"}), tree(dir.path()));
}

TEST_F(Inspect, ExtractNeverFollowsSymlinksInTheFolder) {
  std::string elsewhere = dir.file("elsewhere");
  fs::create_directories(elsewhere);
  write_bytes(elsewhere + "/target", {9, 9});
  fs::create_directories(out + "/sub");
  fs::create_directory_symlink(elsewhere, out + "/link");
  fs::create_directory_symlink(elsewhere, out + "/sub/deeper");
  fs::create_symlink(elsewhere + "/target", out + "/file");

  for (std::string through : std::vector<std::string>{"link\\x", "sub\\deeper\\x", "file\\x"}) {
    SetupBuilder b;
    b.add_file(0, through, {4, 5, 6});
    b.write(setup);
    std::string messages;
    EXPECT_EQ(1, run_quietly(run_extract, {"extract", setup, "-d", out}, &messages)) << through;
    EXPECT_NE(std::string::npos, messages.find("refused")) << through << ": " << messages;
  }
  EXPECT_EQ((std::vector<std::string>{"target"}), tree(elsewhere));

  // A symlink where the file itself goes is replaced, not written through.
  SetupBuilder b;
  b.add_file(0, "file", {4, 5, 6});
  b.write(setup);
  ASSERT_EQ(0, run_quietly(run_extract, {"extract", setup, "-d", out}));
  EXPECT_FALSE(fs::is_symlink(out + "/file"));
  EXPECT_EQ((std::vector<uint8_t>{4, 5, 6}), read_bytes(out + "/file"));
  EXPECT_EQ((std::vector<uint8_t>{9, 9}), read_bytes(elsewhere + "/target"));
}

}  // namespace
