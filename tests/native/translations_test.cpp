// The translation files and the languages of a project: every shipped
// language has every English text with the same placeholders, a letter its
// code page lacks is refused with file and line, and a setup of one
// language is what the builder wrote before languages existed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "archive/config.h"
#include "archive/languages.h"
#include "archive/loader.h"
#include "archive/stub_size.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "builder/project_reader.h"
#include "builder/setup_build.h"
#include "builder/stub_image.h"
#include "cli/default_dialogs.h"
#include "builder/translations.h"
#include "cli/file_hash.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The "&" accelerators of a text ("&&" is none).
size_t accelerators(const std::string& text) {
  size_t n = 0;
  for (size_t p = text.find('&'); p != std::string::npos; p = text.find('&', p + 2))
    if (p + 1 < text.size() && text[p + 1] != '&') ++n;
  return n;
}

TEST(Translations, EveryLanguageHasEveryEnglishTextWithItsPlaceholders) {
  const std::string folder = std::string(KESTREL_SOURCE_DIR) + "/builder/translations";
  Translation en;
  std::string error;
  ASSERT_TRUE(read_translation(folder + "/en.txt", "en", &en, &error)) << error;
  ASSERT_FALSE(en.texts.empty());
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string code = entry.path().stem().string();
    ++files;
    SCOPED_TRACE(entry.path().string());
    ASSERT_EQ(".txt", entry.path().extension().string());
    const LanguageInfo* info = find_language(code);
    ASSERT_NE(nullptr, info) << "no language of that code";
    Translation t;
    ASSERT_TRUE(read_translation(entry.path().string(), code, &t, &error)) << error;
    EXPECT_EQ(info->code_page, t.code_page);
    EXPECT_FALSE(t.name.empty());
    for (const auto& [key, text] : en.texts) {
      auto it = t.texts.find(key);
      if (it == t.texts.end()) {
        ADD_FAILURE() << key << " is missing";
        continue;
      }
      EXPECT_EQ(text_directives(text), text_directives(it->second)) << t.where(key);
      EXPECT_EQ(text.find("{product}") != std::string::npos, it->second.find("{product}") != std::string::npos)
          << t.where(key);
      EXPECT_EQ(accelerators(text), accelerators(it->second)) << t.where(key);
    }
    for (const auto& [key, text] : t.texts) EXPECT_TRUE(en.texts.count(key)) << t.where(key) << ": not in en.txt";
  }
  EXPECT_GE(files, 1u);
}

TEST(Translations, ALetterTheCodePageLacksIsRefusedWithFileAndLine) {
  TempDir dir;
  write_text(dir.file("ru.txt"), "code_page = 1252\nname = Russian\n# a comment\n0/0 = \xD0\x9F\xD1\x80\xD0\xB8\n");
  Translation t;
  std::string error;
  EXPECT_FALSE(read_translation(dir.file("ru.txt"), "ru", &t, &error));
  EXPECT_EQ(0u, error.find(dir.file("ru.txt") + ":4: 0/0: ")) << error;
  write_text(dir.file("de.txt"), "0/0 = Willkommen\n");
  EXPECT_FALSE(read_translation(dir.file("de.txt"), "de", &t, &error));
  EXPECT_EQ(0u, error.find(dir.file("de.txt") + ":1: the first line must be code_page")) << error;
}

class LanguageProjectTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string shipped = translations_folder();
  // The shipped English and a small Russian of this test's own, so that the
  // rules are tested whatever other files the tree holds.
  void SetUp() override {
    fs::copy_file(shipped + "/en.txt", dir.file("en.txt"));
    std::ifstream in(shipped + "/en.txt");
    std::string line, russian;
    while (std::getline(in, line))
      russian += line == "code_page = 1252" ? "code_page = 1251"
                 : line.rfind("0/0 = ", 0) == 0 ? "0/0 = \xD0\x94\xD0\xBE\xD0\xB1\xD1\x80\xD0\xBE"
                                                : line,
          russian += "\n";
    write_text(dir.file("ru.txt"), russian);
    set_translations_folder(dir.path());
  }
  void TearDown() override { set_translations_folder(shipped); }
  std::string read_error(const std::string& toml, Project* out = nullptr) {
    write_text(dir.file("setup.toml"), toml);
    Project p;
    std::string error;
    if (!read_project(dir.file("setup.toml"), &p, &error)) return error;
    if (out) *out = p;
    return "";
  }
};

TEST_F(LanguageProjectTest, EachLanguageIsCheckedInItsCodePage) {
  const std::string head = "[setup]\nlanguages = [\"en\", \"ru\"]\n[[type]]\nfolder = \"C:/x\"\n[type.texts]\n";
  // A Greek letter in the Russian table: its code page, 1251, lacks it.
  EXPECT_EQ(0u, read_error(head + "[type.texts.ru]\n\"0/1\" = \"\xCE\xB1\"\n")
                    .find(dir.file("setup.toml") + ":7: type[0].texts.ru.0/1: "));
  // Cyrillic is refused in the English table, kept in the Russian one.
  EXPECT_EQ(0u, read_error(head + "\"0/1\" = \"\xD0\x94\"\n").find(dir.file("setup.toml") + ":6: type[0].texts.0/1: "));
  Project p;
  ASSERT_EQ("", read_error(head + "\"0/2\" = \"Hello\"\n[type.texts.ru]\n\"0/1\" = \"\xD0\x94\"\n", &p));
  ASSERT_EQ(2u, p.types[0].languages.size());
  EXPECT_EQ("\xD0\x94", p.types[0].languages[1].lists[0][1]);
  EXPECT_EQ("\xD0\x94\xD0\xBE\xD0\xB1\xD1\x80\xD0\xBE", p.types[0].languages[1].lists[0][0]);
  // 0/2 is given for English only: Russian shows its own, and the build says so.
  ASSERT_EQ(1u, p.warnings.size());
  EXPECT_NE(std::string::npos, p.warnings[0].find("type[0].texts.0/2 is given for \"en\" but not for \"ru\""));
  // Without languages, another language's table is a mistake; so is an unknown code.
  EXPECT_NE(std::string::npos,
            read_error("[[type]]\nfolder = \"C:/x\"\n[type.texts.ru]\n\"0/1\" = \"x\"\n").find("need [setup] languages"));
  EXPECT_NE(std::string::npos, read_error("[setup]\nlanguages = [\"en\", \"xx\"]\n[[type]]\nfolder = \"C:/x\"\n")
                                   .find(":2: setup.languages: \"xx\" is none of the languages"));
  // The names are stored in the first language's code page.
  EXPECT_NE(std::string::npos, read_error("[setup]\nlanguages = [\"ru\", \"en\"]\ncode_page = 1252\n[[type]]\n"
                                          "folder = \"C:/x\"\n")
                                   .find(":3: setup.code_page: must be 1251"));
}

// The setup program's side: the loader keeps the language blocks, and a
// language chosen makes its tables every setup type's texts, the
// uninstaller's among them, while the record's stay the default's.
TEST_F(LanguageProjectTest, AChosenLanguageBringsItsTables) {
  Project p;
  ASSERT_EQ("", read_error("[setup]\nuninstaller = false\nlanguages = [\"en\", \"ru\"]\n[[type]]\nfolder = \"C:/x\"\n"
                           "[type.texts.ru]\n\"0/1\" = \"\xD0\x94\"\n[type.uninstaller_texts.ru]\nquestion = \"\xD0\x94 %s?\"\n",
                           &p));
  BuildOptions o;
  o.output = dir.file("setup.exe");
  o.level = 1;
  o.stub.assign(1024, 0x90);
  const uint8_t marker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::copy(marker, marker + sizeof marker, o.stub.begin() + 64);
  std::fill(o.stub.begin() + 64 + sizeof marker, o.stub.begin() + 68 + sizeof marker, 0);
  ASSERT_EQ(StampResult::kStamped, stamp_stub_size(o.stub));
  o.default_dialogs.assign(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize);
  BuildReport report;
  std::string error;
  ASSERT_TRUE(build_setup(p, o, &report, &error)) << error;
  copy_string(SourcePath, o.output.c_str(), kPathSize);
  StubSize = 1024;
  ASSERT_TRUE(load_archive());
  ASSERT_EQ(2, language_count());
  use_language(0);
  EXPECT_STREQ("Welcome", get_text(0, 0));
  EXPECT_STREQ("Destination folder", get_text(2, 8));  // the words of the template, carried
  EXPECT_STREQ("Do you want to remove %s and all of its components?",
               list_text(SetupTypeTable[0].uninstaller_texts, kUninstallerQuestion));
  free_archive();
  ASSERT_TRUE(load_archive());
  use_language(1);
  EXPECT_STREQ("ru", reinterpret_cast<const char*>(ChosenLanguage + kLanguageCode));
  EXPECT_EQ(1251, get_u16(ChosenLanguage + kLanguageCodePage));
  EXPECT_STREQ("\xC4\xEE\xE1\xF0\xEE", get_text(0, 0));  // in code page 1251
  EXPECT_STREQ("\xC4", get_text(0, 1));
  EXPECT_STREQ("\xC4 %s?", list_text(SetupTypeTable[0].uninstaller_texts, kUninstallerQuestion));
  free_archive();
}

// The part of a setup file behind its stub, as kestrel build writes it.
std::string archive_digest(const std::string& project, const std::string& output) {
  std::string log;
  if (run_tool("build " + project + " -o " + output, &log) != 0) return "build failed: " + log;
  std::vector<uint8_t> bytes = read_bytes(output);
  uint32_t stub = 0;
  if (!read_stub_size(bytes, &stub) || stub >= bytes.size()) return "no stub size";
  return digest_bytes(bytes.data() + stub, bytes.size() - stub).sha256;
}

// A setup of one language, its project without `languages`, is byte for
// byte what the builder wrote before there were languages: these digests
// are of its archives built then, with the default templates that end at
// the buttons' margin (without an uninstaller, whose program changes on
// its own).
TEST(Translations, ASetupOfOneLanguageIsWhatItWas) {
  TempDir dir;
  write_text(dir.file("a.txt"), "alpha");
  write_text(dir.file("licence.txt"), "Licence");
  write_text(dir.file("one.toml"), "[setup]\nuninstaller = false\ntitle = \"Caf\xC3\xA9 100 Pure\"\n[[type]]\n"
                                   "folder = \"C:/x\"\nlicence = \"licence.txt\"\n[type.texts]\n\"0/1\" = \"Hello.\"\n"
                                   "[[type.files]]\nsource = \"a.txt\"\n");
  write_text(dir.file("two.toml"), "[setup]\nuninstaller = false\narchitecture = \"x64\"\nremove_other_types = true\n"
                                   "[[type]]\ncaption = \"A\"\nfolder = \"C:/x\"\n[type.uninstaller_texts]\n"
                                   "caption = \"U %s\"\n[[type]]\ncaption = \"B\"\nfolder = \"C:/y\"\n");
  EXPECT_EQ("2d84111e4ed081803431082f4c165bef4b562bbcbd32dc00c5c72e3f5866db75",
            archive_digest(dir.file("one.toml"), dir.file("one.exe")));
  EXPECT_EQ("a1001d0b3837783092f0bd0467617d253d2475c99f5a12d66e7cac38e51b5e45",
            archive_digest(dir.file("two.toml"), dir.file("two.exe")));
}

// A title with a % sign stands in default texts as the program shows them:
// it was taken for a directive of a text the project did not give.
TEST_F(LanguageProjectTest, APercentInTheTitleIsNoDirectiveOfADefaultText) {
  EXPECT_EQ("", read_error("[setup]\ntitle = \"100% Pure\"\n[[type]]\nfolder = \"C:/x\"\n[type.texts]\n"
                           "\"0/1\" = \"Hello.\"\n"));
  EXPECT_NE(std::string::npos, read_error("[[type]]\nfolder = \"C:/x\"\n[type.texts]\n\"0/1\" = \"50% off\"\n")
                                   .find(":4: type[0].texts.0/1: may hold no % directive"));
}

}  // namespace
