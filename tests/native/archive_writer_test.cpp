// The archive writer against the loader that reads what it writes, against
// the example bytes of the format, and against archives damaged on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "archive/platform_host.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "builder/archive_writer.h"
#include "tests/native/test_files.h"

namespace {

const size_t kStub = 64;
const size_t kNone = static_cast<size_t>(-1);

std::vector<uint8_t> fake_stub() {
  std::vector<uint8_t> stub(kStub);
  for (size_t i = 0; i < kStub; ++i) stub[i] = static_cast<uint8_t>(0xA5 ^ (i * 13));
  stub[0] = 'M';
  stub[1] = 'Z';
  return stub;
}

std::vector<uint8_t> bytes_of(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t at, size_t n) {
  return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + n);
}

// A bitmap file of w x h 24-bit pixels.
std::vector<uint8_t> bitmap_file(uint32_t w, uint32_t h, uint32_t info_size = 40) {
  uint32_t row = (3 * w + 3) & ~3u;
  std::vector<uint8_t> bmp(14 + info_size + row * h, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  put_u32(&bmp[2], static_cast<uint32_t>(bmp.size()));
  put_u32(&bmp[10], 14 + info_size);
  put_u32(&bmp[14], info_size);
  put_u32(&bmp[18], w);
  put_u32(&bmp[22], h);
  put_u16(&bmp[26], 1);
  put_u16(&bmp[28], 24);
  for (size_t i = 14 + info_size; i < bmp.size(); ++i) bmp[i] = static_cast<uint8_t>(i * 7);
  return bmp;
}

// Eleven text lists; list 6 holds the 32 messages, so text 6/31 is known.
SetupTypeRecordFields record_for(const std::string& name) {
  SetupTypeRecordFields r;
  r.flags = kTypeFolderEditable;
  r.uninstall_name = name;
  r.caption = name + " caption";
  r.default_folder = "C:\\Apps\\" + name;
  for (int list = 0; list < kTextListCount; ++list) {
    std::vector<std::string> texts;
    int count = list == 6 ? 32 : list + 1;
    for (int n = 0; n < count; ++n) texts.push_back(name + " " + std::to_string(list) + "/" + std::to_string(n));
    r.text_lists[list] = texts;
  }
  return r;
}

std::string damage_text(const std::string& name) { return name + " 6/31"; }

FileEntryFields file_entry(const std::string& name, int32_t index, uint16_t type) {
  FileEntryFields e;
  e.name = name;
  e.entry_index = index;
  e.setup_type = type;
  return e;
}

SetupTypePlan setup_type(const std::string& name, uint16_t index, int files) {
  SetupTypePlan t;
  t.record = record_for(name);
  for (int i = 0; i < files; ++i) t.files.push_back(file_entry(name + "\\file" + std::to_string(i), i, index));
  return t;
}

// Offset of the header of the nth block with this id, walking the chain
// behind the stub; kNone when there is none before the data area or the end.
size_t find_block(const std::vector<uint8_t>& file, uint16_t id, int nth = 0) {
  size_t at = kStub;
  while (at + kBlockHeaderSize <= file.size()) {
    uint16_t here = get_u16(&file[at]);
    if (here == id && nth-- == 0) return at;
    if (here == kBlockDataArea) break;
    at += kBlockHeaderSize + get_u32(&file[at + 4]);
  }
  return kNone;
}

std::vector<uint16_t> block_ids(const std::vector<uint8_t>& file) {
  std::vector<uint16_t> ids;
  size_t at = kStub;
  while (at + kBlockHeaderSize <= file.size()) {
    ids.push_back(get_u16(&file[at]));
    if (ids.back() == kBlockDataArea) break;
    at += kBlockHeaderSize + get_u32(&file[at + 4]);
  }
  return ids;
}

// The block's whole bytes, header included.
std::vector<uint8_t> block_bytes(const std::vector<uint8_t>& file, size_t at) {
  return slice(file, at, kBlockHeaderSize + get_u32(&file[at + 4]));
}

void insert_at(std::vector<uint8_t>* file, size_t at, const std::vector<uint8_t>& bytes) {
  file->insert(file->begin() + at, bytes.begin(), bytes.end());
}

void erase_block(std::vector<uint8_t>* file, size_t at) {
  file->erase(file->begin() + at, file->begin() + at + kBlockHeaderSize + get_u32(&(*file)[at + 4]));
}

struct Shown {
  std::string text;
  unsigned style;
};
std::vector<Shown> shown;

int record_message(const char* text, unsigned style) {
  shown.push_back({text, style});
  return kIdOk;
}

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_stub_ = StubSize;
    shown.clear();
    set_message_box_handler(record_message);
  }
  void TearDown() override {
    if (data_file != INVALID_FILE_HANDLE) close_file(data_file);
    data_file = INVALID_FILE_HANDLE;
    volume_number = 0;
    free_archive();
    InstallDir[0] = '\0';
    set_message_box_handler(nullptr);
    StubSize = saved_stub_;
  }

  // The whole setup file for this archive and data.
  std::vector<uint8_t> build(const ArchivePlan& archive, const StreamCompressor& compress = nullptr,
                             const std::vector<std::vector<uint8_t>>& items = {}) {
    std::vector<uint8_t> config;
    std::string error;
    EXPECT_TRUE(assemble_configuration(archive, compress, &config, &error)) << error;
    EXPECT_TRUE(write_setup_file(path(), fake_stub(), config, items, 0, nullptr, &error)) << error;
    return read_bytes(path());
  }

  bool load(const std::vector<uint8_t>& file) {
    write_bytes(path(), file);
    copy_string(SourcePath, path().c_str(), kPathSize);
    StubSize = kStub;
    return load_archive();
  }

  std::string path() const { return dir_.file("setup.exe"); }

  TempDir dir_;
  uint32_t saved_stub_ = 0;
};

// ---------------------------------------------------------------------------
// Blocks and the example bytes of the format.

using BlockLayout = ArchiveWriterTest;

// The example archive: 0x1239, 0x1234 (0x11), 0x1237, 0x123d, 0x123e,
// 0x123a, then 4,506,290 bytes of data ending exactly at the end of the file.
TEST_F(BlockLayout, ExampleArchiveHeadersAndOrder) {
  ArchivePlan archive;
  archive.dialog_templates.assign(12, std::vector<uint8_t>(40, 0x11));
  archive.setup_flags = kSetupFullScreen | kSetupRemoveOthers;
  archive.background_title = "Kestrel";
  archive.background_style = BackgroundStyleFields{};
  archive.setup_types.push_back(setup_type("One", 0, 1));
  std::vector<std::vector<uint8_t>> items = {std::vector<uint8_t>(4000000, 1), std::vector<uint8_t>(506290, 2)};
  std::vector<uint8_t> file = build(archive, nullptr, items);

  EXPECT_EQ((std::vector<uint16_t>{0x1239, 0x1234, 0x1237, 0x123d, 0x123e, 0x123a, 0x7F7F}), block_ids(file));
  size_t flags = find_block(file, kBlockSetupFlags);
  ASSERT_NE(kNone, flags);
  EXPECT_EQ(bytes_of({0x34, 0x12, 0, 0, 4, 0, 0, 0, 0x11, 0, 0, 0}), slice(file, flags, 12));
  size_t data = find_block(file, kBlockDataArea);
  ASSERT_NE(kNone, data);
  EXPECT_EQ(bytes_of({0x7F, 0x7F, 0, 0, 0xB2, 0xC2, 0x44, 0, 0xB2, 0xC2, 0x44, 0}), slice(file, data, 12));
  EXPECT_EQ(data + 12 + 4506290, file.size());

  ASSERT_TRUE(load(file));
  EXPECT_EQ(0x11u, SetupFlags);
  EXPECT_EQ(data + kBlockHeaderSize, data_start);
  EXPECT_EQ(4506290u, volume_length);
  EXPECT_EQ(4506290u, volume_left);
  EXPECT_TRUE(shown.empty());
}

TEST_F(BlockLayout, CompressedTemplateStoreHeader) {
  // 12 templates, 3,586 bytes of content, a stream of 1,187 bytes.
  std::vector<std::vector<uint8_t>> templates(11, std::vector<uint8_t>(294, 0x22));
  templates.push_back(std::vector<uint8_t>(304, 0x33));
  std::vector<uint8_t> content;
  ASSERT_TRUE(encode_template_store(templates, &content, nullptr));
  ASSERT_EQ(3586u, content.size());
  EXPECT_EQ(48u, get_u32(content.data()));
  std::vector<uint8_t> seen;
  StreamCompressor fixed = [&](const uint8_t* data, size_t size, std::vector<uint8_t>* stream) {
    seen.assign(data, data + size);
    stream->insert(stream->end(), 1187, 0x5A);
    return true;
  };
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(append_config_block(&block, kBlockDialogTemplates, content, fixed, &error)) << error;
  EXPECT_EQ(bytes_of({0x39, 0x12, 0x01, 0x00, 0xA7, 0x04, 0x00, 0x00, 0x02, 0x0E, 0x00, 0x00}), slice(block, 0, 12));
  EXPECT_EQ(8u + 1191u, block.size());
  EXPECT_EQ(content, seen);
}

TEST_F(BlockLayout, CompressionIsKeptOnlyWhereItSaves) {
  std::vector<uint8_t> content(100, 7);
  StreamCompressor inflating = [](const uint8_t*, size_t size, std::vector<uint8_t>* stream) {
    stream->insert(stream->end(), size, 0);  // 4 + size: no gain
    return true;
  };
  std::vector<uint8_t> block;
  ASSERT_TRUE(append_config_block(&block, kBlockFileList, content, inflating, nullptr));
  EXPECT_EQ(0, get_u16(&block[2]));
  EXPECT_EQ(100u, get_u32(&block[4]));
  EXPECT_EQ(108u, block.size());

  // The flags and start-page blocks stay stored even where compression
  // would pay; the loader reads them raw.
  StreamCompressor tiny = [](const uint8_t*, size_t, std::vector<uint8_t>* stream) {
    stream->push_back(0);
    return true;
  };
  for (uint16_t id : {kBlockSetupFlags, kBlockStartPage}) {
    block.clear();
    ASSERT_TRUE(append_config_block(&block, id, content, tiny, nullptr));
    EXPECT_EQ(0, get_u16(&block[2])) << id;
  }
  block.clear();
  ASSERT_TRUE(append_config_block(&block, kBlockFileList, content, tiny, nullptr));
  EXPECT_EQ(kBlockCompressed, get_u16(&block[2]));
  EXPECT_EQ(5u, get_u32(&block[4]));
  EXPECT_EQ(100u, get_u32(&block[8]));

  StreamCompressor failing = [](const uint8_t*, size_t, std::vector<uint8_t>*) { return false; };
  std::string error;
  block.clear();
  EXPECT_FALSE(append_config_block(&block, kBlockFileList, content, failing, &error));
  EXPECT_NE(std::string::npos, error.find("0x123a")) << error;
}

TEST_F(BlockLayout, EmptyOptionalPartsWriteNoBlock) {
  // A stored size of 0 would make the loader pass over the block, so an
  // empty picture or prefix is left out rather than written empty.
  ArchivePlan archive;
  archive.setup_types.push_back(setup_type("One", 0, 0));
  std::vector<uint8_t> file = build(archive);
  EXPECT_EQ((std::vector<uint16_t>{0x1234, 0x123e, 0x7F7F}), block_ids(file));
  // The empty data area still has its length word behind a stored size of
  // 4, and is accepted.
  size_t data = find_block(file, kBlockDataArea);
  EXPECT_EQ(bytes_of({0x7F, 0x7F, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}), slice(file, data, 12));
  EXPECT_TRUE(load(file));
}

// ---------------------------------------------------------------------------
// Records.

using Records = ArchiveWriterTest;

TEST_F(Records, FileEntryOptionalBlocksFollowTheirFlags) {
  FileEntryFields e = file_entry("bin\\app.exe", 0, 0);
  e.version = {0x00050001, 0x00020003, 0x0409};
  e.times = {0x01D000000000AAAAull, 0x01D000000000BBBBull, 0x01D000000000CCCCull};
  e.menu_locations = "Programs;Startup";
  e.menu_name = "App";
  e.desktop_name = "App";
  e.desktop_arguments = "-d";
  const std::vector<std::string> strings = {"bin\\app.exe", "Programs;Startup", "App", "", "App", "-d"};
  size_t strings_size = 0;
  for (const std::string& s : strings) strings_size += s.size() + 1;

  struct Case {
    uint8_t flags;
    uint32_t strings_at;
  } cases[] = {{0x0E, 38 + 44}, {0x08, 38 + 24}, {0x02, 38 + 20}, {0x04, 38 + 20}, {0x00, 38}, {0x31, 38}};
  for (const Case& c : cases) {
    e.flags = c.flags;
    std::vector<uint8_t> entry;
    ASSERT_TRUE(encode_file_entry(e, &entry, nullptr));
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(c.strings_at + strings_size, entry.size());
    EXPECT_EQ(entry.size(), get_u32(entry.data()));
    EXPECT_EQ(c.strings_at, entry_strings_offset(entry.data()));
    for (uint32_t n = 0; n < kEntryStringCount; ++n) EXPECT_EQ(strings[n], entry_string(entry.data(), n));
    EXPECT_TRUE(check_file_entries(entry.data(), static_cast<uint32_t>(entry.size()), 1));
    bool version = c.flags & 0x06;
    if (version) {
      EXPECT_EQ(0x00050001u, get_u32(&entry[38]));
      EXPECT_EQ(0x00020003u, get_u32(&entry[42]));
      EXPECT_EQ(0x0409u, get_u32(&entry[54]));
    }
    if (c.flags & 0x08) {
      size_t times = version ? 58 : 38;
      EXPECT_EQ(0x0000AAAAu, get_u32(&entry[times]));  // FILETIME: low word first
      EXPECT_EQ(0x01D00000u, get_u32(&entry[times + 4]));
      EXPECT_EQ(0x0000CCCCu, get_u32(&entry[times + 16]));
    }
  }
}

TEST_F(Records, TemplateStoreOffsets) {
  std::vector<std::vector<uint8_t>> templates(12);
  for (int k = 0; k < 12; ++k) templates[k].assign(10 + k, static_cast<uint8_t>(k));
  templates[10].clear();  // unused number
  std::vector<uint8_t> store;
  ASSERT_TRUE(encode_template_store(templates, &store, nullptr));
  EXPECT_EQ(48u, get_u32(store.data()));
  EXPECT_EQ(0u, get_u32(&store[40]));
  DialogTemplateStore = store.data();
  DialogTemplateStoreLength = static_cast<uint32_t>(store.size());
  for (int k = 0; k < 12; ++k) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (k == 10) {
      EXPECT_FALSE(find_template(k, &bytes, &length));
      continue;
    }
    ASSERT_TRUE(find_template(k, &bytes, &length)) << k;
    EXPECT_EQ(0, std::memcmp(bytes, templates[k].data(), templates[k].size())) << k;
  }
  DialogTemplateStore = nullptr;
  DialogTemplateStoreLength = 0;

  std::string error;
  templates[0].clear();
  EXPECT_FALSE(encode_template_store(templates, &store, &error));
  EXPECT_FALSE(encode_template_store({}, &store, &error));
}

TEST_F(Records, BackgroundStyleIsColoursAndLogFont) {
  BackgroundStyleFields s;
  s.shadow_color = 0x00102030;
  s.text_color = 0x00FFEEDD;
  s.font.height = -24;
  s.font.weight = 700;
  s.font.italic = 1;
  s.font.char_set = 0xEE;
  s.font.pitch_and_family = 0x22;
  s.font.face_name = "Times New Roman";
  std::vector<uint8_t> style;
  ASSERT_TRUE(encode_background_style(s, &style, nullptr));
  ASSERT_EQ(68u, style.size());
  EXPECT_EQ(0x00102030u, get_u32(&style[0]));
  EXPECT_EQ(0x00FFEEDDu, get_u32(&style[4]));
  EXPECT_EQ(static_cast<uint32_t>(-24), get_u32(&style[8]));   // lfHeight
  EXPECT_EQ(700u, get_u32(&style[8 + 16]));                     // lfWeight
  EXPECT_EQ(1, style[8 + 20]);                                  // lfItalic
  EXPECT_EQ(0xEE, style[8 + 23]);                               // lfCharSet
  EXPECT_EQ(0x22, style[8 + 27]);                               // lfPitchAndFamily
  EXPECT_STREQ("Times New Roman", reinterpret_cast<const char*>(&style[8 + 28]));
  for (size_t i = 8 + 28 + 15; i < 68; ++i) EXPECT_EQ(0, style[i]) << i;

  s.font.face_name = std::string(31, 'F');
  EXPECT_TRUE(encode_background_style(s, &style, nullptr));
  s.font.face_name = std::string(32, 'F');  // no room for the terminator
  std::string error;
  EXPECT_FALSE(encode_background_style(s, &style, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(Records, SettingsListsParseBack) {
  std::vector<uint8_t> ini;
  ASSERT_TRUE(encode_ini_list({{1, "app.ini", "Paths", "Home", "#InstallDir#"}, {0, "b.ini", "S", "K", ""}}, &ini,
                              nullptr));
  ASSERT_TRUE(check_entry_list(kIniList, ini.data(), static_cast<uint32_t>(ini.size())));
  EXPECT_EQ(2, get_u16(ini.data()));
  IniEntry i;
  const uint8_t* end = ini.data() + ini.size();
  const uint8_t* p = parse_ini_entry(ini.data() + 2, end, &i);
  EXPECT_EQ(1, i.flags);
  EXPECT_STREQ("Home", i.key);
  p = parse_ini_entry(p, end, &i);
  EXPECT_EQ(end, p);
  EXPECT_STREQ("", i.value);

  std::vector<uint8_t> reg;
  ASSERT_TRUE(encode_registry_list({{2, 1, "Software\\Kestrel", "", "#InstallDir#"}}, &reg, nullptr));
  RegistryEntry r;
  end = reg.data() + reg.size();
  EXPECT_EQ(end, parse_registry_entry(reg.data() + 2, end, &r));
  EXPECT_EQ(2u, r.root_key);
  EXPECT_EQ(1, r.flags);
  EXPECT_STREQ("", r.value_name);
  EXPECT_STREQ("#InstallDir#", r.value);

  std::vector<uint8_t> patches;
  std::vector<uint8_t> pattern = {'K', 0, 'E', 0xFF};
  ASSERT_TRUE(encode_string_patch_list({{-1, "app.exe", "#Date#", pattern}, {100, "a.dat", "x", {}}}, &patches,
                                       nullptr));
  ASSERT_TRUE(check_entry_list(kStringPatchList, patches.data(), static_cast<uint32_t>(patches.size())));
  StringPatchEntry s;
  end = patches.data() + patches.size();
  p = parse_string_patch(patches.data() + 2, end, &s);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(-1, s.offset);
  EXPECT_EQ(4u, s.pattern_length);
  EXPECT_STREQ("app.exe", s.file);
  EXPECT_EQ(0, std::memcmp(pattern.data(), s.pattern, 4));
  EXPECT_EQ(end, parse_string_patch(p, end, &s));
  EXPECT_EQ(100, s.offset);
  EXPECT_EQ(0u, s.pattern_length);
}

TEST_F(Records, RefusesWhatCannotBeWritten) {
  std::vector<uint8_t> out;
  std::string error;
  SetupTypeRecordFields r = record_for("One");
  r.caption = std::string("a\0b", 3);
  EXPECT_FALSE(encode_setup_type_record(r, &out, &error));
  EXPECT_NE(std::string::npos, error.find("caption")) << error;
  r = record_for("One");
  r.text_lists[3] = std::vector<std::string>(65536, "");
  EXPECT_FALSE(encode_setup_type_record(r, &out, &error));
  r.text_lists[3] = std::vector<std::string>(65535, "");
  EXPECT_TRUE(encode_setup_type_record(r, &out, &error)) << error;

  FileEntryFields e = file_entry("a", 0, 0);
  e.desktop_arguments = std::string("x\0y", 3);
  EXPECT_FALSE(encode_file_entry(e, &out, &error));
  EXPECT_FALSE(encode_background_title(std::string("T\0", 2), &out, &error));
  EXPECT_FALSE(encode_ini_list(std::vector<IniEntryFields>(65536), &out, &error));

  // Patches the installer could never apply.
  EXPECT_FALSE(encode_string_patch_list({{-2, "f", "t", {}}}, &out, &error));
  EXPECT_FALSE(encode_string_patch_list({{-1, "f", "t", {}}}, &out, &error));
  EXPECT_FALSE(encode_string_patch_list({{-1, "f", "t", std::vector<uint8_t>(16385, 1)}}, &out, &error));
  EXPECT_TRUE(encode_string_patch_list({{-1, "f", "t", std::vector<uint8_t>(16384, 1)}}, &out, &error)) << error;

  EXPECT_TRUE(check_bitmap_file(bitmap_file(2, 2), &error)) << error;
  EXPECT_FALSE(check_bitmap_file(bitmap_file(2, 2, 124), &error));  // BITMAPV5HEADER
  std::vector<uint8_t> short_bitmap = bitmap_file(2, 2);
  short_bitmap.resize(53);
  EXPECT_FALSE(check_bitmap_file(short_bitmap, &error));
  std::vector<uint8_t> png = bitmap_file(2, 2);
  png[0] = 0x89;
  EXPECT_FALSE(check_bitmap_file(png, &error));
}

// ---------------------------------------------------------------------------
// Whole archives through the loader.

using WriterLoader = ArchiveWriterTest;

ArchivePlan full_archive() {
  ArchivePlan archive;
  for (int k = 0; k < 12; ++k) {
    std::vector<uint8_t> t(200 + 10 * k);
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(k + (i % 16));
    archive.dialog_templates.push_back(t);
  }
  archive.dialog_templates[10].clear();
  archive.setup_flags = kSetupFullScreen;
  archive.wizard_picture = bitmap_file(20, 30);
  archive.background_picture = bitmap_file(64, 64);
  archive.background_title = "Kestrel Setup";
  BackgroundStyleFields style;
  style.shadow_color = 0x000000;
  style.text_color = 0xFFFFFF;
  style.font.height = -36;
  style.font.face_name = "Arial";
  archive.background_style = style;
  for (uint16_t t = 0; t < 2; ++t) {
    SetupTypePlan type = setup_type(t == 0 ? "Full" : "Small", t, 3 - t);
    type.ini_entries = {{0, "app.ini", "Paths", "Home", "#InstallDir#"}};
    type.registry_entries = {{2, 0, "Software\\Kestrel", "Path", "#InstallDir#"}};
    type.string_patches = {{-1, "app.exe", "#InstallDir#", {'@', '@', 'P'}}};
    archive.setup_types.push_back(type);
  }
  // The small setup type takes its second file's data from the first type.
  archive.setup_types[1].files[1].setup_type = 0;
  archive.setup_types[1].files[1].entry_index = 2;
  FileEntryFields& tool = archive.setup_types[0].files[1];
  tool.flags = kItemCompareVersion | kItemCompareLanguage | kItemHasTimes;
  tool.version = {0x00010002, 0x00030004, 0x0407};
  tool.times = {1, 2, 3};
  tool.checksum = 0xDEADBEEF;
  tool.size = 123456;
  tool.icon_index = 3;
  tool.folder_code = kFolderShared;
  tool.shared = 1;
  tool.registration = kRegisterLibrary;
  tool.desktop_name = "Tool";
  archive.start_page = StartPageFields{0xFFFF, 1};
  archive.item_prefix = std::vector<uint8_t>(300, 0x4D);
  return archive;
}

void expect_full_archive_loaded(const ArchivePlan& archive) {
  EXPECT_EQ(kSetupFullScreen, SetupFlags);
  ASSERT_NE(nullptr, WizardPicture);
  EXPECT_EQ(archive.wizard_picture, std::vector<uint8_t>(WizardPicture, WizardPicture + WizardPictureLength));
  ASSERT_NE(nullptr, BackgroundPicture);
  EXPECT_EQ(archive.background_picture,
            std::vector<uint8_t>(BackgroundPicture, BackgroundPicture + BackgroundPictureLength));
  ASSERT_NE(nullptr, BackgroundTitle);
  EXPECT_STREQ("Kestrel Setup", BackgroundTitle);
  EXPECT_EQ(14u, BackgroundTitleLength);  // with its terminator
  ASSERT_NE(nullptr, BackgroundStyle);
  EXPECT_EQ(68u, BackgroundStyleLength);
  EXPECT_STREQ("Arial", reinterpret_cast<const char*>(BackgroundStyle + 36));
  ASSERT_NE(nullptr, ItemPrefixBlob);
  EXPECT_EQ(archive.item_prefix, std::vector<uint8_t>(ItemPrefixBlob, ItemPrefixBlob + ItemPrefixBlobLength));
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(find_template(11, &bytes, &length));
  EXPECT_EQ(archive.dialog_templates[11], std::vector<uint8_t>(bytes, bytes + length));
  EXPECT_FALSE(find_template(10, &bytes, &length));

  EXPECT_EQ(2, SetupTypeCount);
  EXPECT_EQ(0xFFFF, StartPageNumber);
  EXPECT_TRUE(HasStartPageBlock);
  EXPECT_EQ(1, CurrentSetupType);  // named by the start-page block
  EXPECT_STREQ("Small 6/31", get_text(6, 31));
  EXPECT_STREQ("", get_text(6, 32));
  EXPECT_STREQ("Small 10/10", get_text(10, 10));
  EXPECT_STREQ("", get_text(0, 1));
  EXPECT_STREQ("C:\\Apps\\Small", InstallDir);
  ASSERT_EQ(2u, CurrentFileCount);
  EXPECT_STREQ("Small\\file1", entry_string(next_entry(CurrentFirstEntry), 0));

  select_setup_type(0);
  EXPECT_STREQ("Full 0/0", get_text(0, 0));
  EXPECT_STREQ("C:\\Apps\\Full", InstallDir);
  EXPECT_EQ(kTypeFolderEditable, CurrentRecord->flags);
  EXPECT_STREQ("Full", CurrentRecord->uninstall_name);
  EXPECT_STREQ("Full caption", CurrentRecord->caption);
  EXPECT_EQ(nullptr, CurrentRecord->registry_key);
  EXPECT_EQ(nullptr, CurrentRecord->ini_key);
  ASSERT_EQ(3u, CurrentFileCount);
  const uint8_t* tool = next_entry(CurrentFirstEntry);
  EXPECT_STREQ("Full\\file1", entry_string(tool, 0));
  EXPECT_STREQ("Tool", entry_string(tool, 4));
  EXPECT_EQ(0xDEADBEEFu, get_u32(tool + kEntryChecksum));
  EXPECT_EQ(123456u, get_u32(tool + kEntrySize));
  EXPECT_EQ(3, get_u16(tool + kEntryIconIndex));
  EXPECT_EQ(kFolderShared, tool[kEntryFolderCode]);
  EXPECT_EQ(1, tool[kEntryShared]);
  EXPECT_EQ(kRegisterLibrary, tool[kEntryRegistration]);
  EXPECT_EQ(0x00030004u, get_u32(tool + 42));
  EXPECT_EQ(3u, get_u32(tool + 58 + 16));
  for (int t = 0; t < 2; ++t) {
    const SetupTypeSlot& slot = SetupTypeTable[t];
    for (int k = 0; k < 3; ++k) {
      ASSERT_NE(nullptr, slot.entry_lists[k]);
      EXPECT_EQ(1, get_u16(slot.entry_lists[k]));
    }
    const uint8_t* end = slot.entry_lists[1] + slot.entry_list_lengths[1];
    RegistryEntry r;
    EXPECT_EQ(end, parse_registry_entry(slot.entry_lists[1] + 2, end, &r));
    EXPECT_STREQ("Path", r.value_name);
  }
  const uint8_t* borrowed = next_entry(SetupTypeTable[1].file_list + 4);
  EXPECT_EQ(0, get_u16(borrowed + kEntrySetupType));
  EXPECT_EQ(2u, get_u32(borrowed + kEntryIndex));
}

TEST_F(WriterLoader, StoredArchiveLoadsEverything) {
  ArchivePlan archive = full_archive();
  std::vector<uint8_t> file = build(archive, nullptr, {std::vector<uint8_t>(1000, 9)});
  EXPECT_EQ((std::vector<uint16_t>{0x1239, 0x1234, 0x1235, 0x1236, 0x1237, 0x123d, 0x123e, 0x123a, 0x1240, 0x1241,
                                   0x1242, 0x123e, 0x123a, 0x1240, 0x1241, 0x1242, 0x123b, 0x123f, 0x7F7F}),
            block_ids(file));
  for (uint16_t id : block_ids(file)) EXPECT_EQ(0, get_u16(&file[find_block(file, id) + 2])) << id;
  ASSERT_TRUE(load(file));
  expect_full_archive_loaded(archive);
  EXPECT_TRUE(shown.empty());
}

TEST_F(WriterLoader, CompressedArchiveLoadsEverything) {
  ArchivePlan archive = full_archive();
  std::vector<uint8_t> file = build(archive, stream_compressor(), {std::vector<uint8_t>(1000, 9)});
  // The repetitive blocks are compressed; the two read raw never are.
  for (uint16_t id : {kBlockDialogTemplates, kBlockSetupType, kBlockItemPrefix})
    EXPECT_EQ(kBlockCompressed, get_u16(&file[find_block(file, id) + 2])) << id;
  EXPECT_EQ(0, get_u16(&file[find_block(file, kBlockSetupFlags) + 2]));
  EXPECT_EQ(0, get_u16(&file[find_block(file, kBlockStartPage) + 2]));
  EXPECT_LT(file.size(), build(archive, nullptr, {std::vector<uint8_t>(1000, 9)}).size());
  ASSERT_TRUE(load(file));
  expect_full_archive_loaded(archive);
}

TEST_F(WriterLoader, ItemDataIsFoundAtThePlannedPositions) {
  std::vector<std::vector<uint8_t>> items;
  for (int k = 0; k < 3; ++k) {
    std::vector<uint8_t> item(5000 + 3000 * k);
    for (size_t i = 0; i < item.size(); ++i) item[i] = static_cast<uint8_t>(i * (k + 3) + (i >> 8));
    items.push_back(item);
  }
  std::vector<DataPlacement> plan;
  ASSERT_TRUE(plan_item_data({items[0].size(), items[1].size(), items[2].size()}, &plan, nullptr));
  ArchivePlan archive;
  archive.setup_types.push_back(setup_type("One", 0, 3));
  for (int k = 0; k < 3; ++k) {
    archive.setup_types[0].files[k].data_position = plan[k].position;
    archive.setup_types[0].files[k].data_length = plan[k].length;
  }
  std::vector<uint8_t> config;
  std::string error;
  ASSERT_TRUE(assemble_configuration(archive, stream_compressor(), &config, &error)) << error;
  uint32_t volumes = 0;
  ASSERT_TRUE(write_setup_file(path(), fake_stub(), config, items, 12000, &volumes, &error)) << error;
  EXPECT_GT(volumes, 0u);  // the items span volume files
  ASSERT_TRUE(load(read_bytes(path())));

  // Read each item back as the installation does, from the entry's fields.
  data_file = open_file(ArchivePath, 0);
  ASSERT_NE(INVALID_FILE_HANDLE, data_file);
  seek_to(data_file, data_start + 4);
  volume_number = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (int k = 0; k < 3; ++k, entry = next_entry(entry)) {
    uint32_t position = get_u32(entry + kEntryDataPosition);
    uint32_t length = get_u32(entry + kEntryDataLength);
    ASSERT_EQ(0u, seek_data(position)) << k;
    std::vector<uint8_t> got(length);
    uint32_t done = 0;
    while (done < length) {
      uint32_t n = 0;
      if (read_data(data_file, got.data() + done, length - done, &n) != 0 || n == 0) break;
      done += n;
    }
    EXPECT_EQ(items[k], got) << k;
  }
}

TEST_F(WriterLoader, AssemblerRefusesArchivesTheLoaderWould) {
  std::vector<uint8_t> out;
  std::string error;
  ArchivePlan archive;
  EXPECT_FALSE(assemble_configuration(archive, nullptr, &out, &error));  // no setup type
  for (uint16_t t = 0; t < 7; ++t) archive.setup_types.push_back(setup_type("T" + std::to_string(t), t, 1));
  EXPECT_FALSE(assemble_configuration(archive, nullptr, &out, &error));
  archive.setup_types.pop_back();
  ASSERT_TRUE(assemble_configuration(archive, nullptr, &out, &error)) << error;
  archive.start_page = StartPageFields{2, 6};
  EXPECT_FALSE(assemble_configuration(archive, nullptr, &out, &error));
  archive.start_page = StartPageFields{8, 5};
  EXPECT_FALSE(assemble_configuration(archive, nullptr, &out, &error));
  archive.start_page = StartPageFields{7, 5};
  EXPECT_TRUE(assemble_configuration(archive, nullptr, &out, &error)) << error;

  for (auto source : {std::pair<uint16_t, int32_t>{6, 0}, {1, 1}, {0, -1}}) {
    ArchivePlan bad = archive;
    bad.setup_types[2].files[0].setup_type = source.first;
    bad.setup_types[2].files[0].entry_index = source.second;
    error.clear();
    EXPECT_FALSE(assemble_configuration(bad, nullptr, &out, &error)) << source.first << "/" << source.second;
    EXPECT_NE(std::string::npos, error.find("setup type 2, file entry 0")) << error;
  }
  // Patches: on another type's entry, on themselves, on another patch.
  ArchivePlan patched = archive;
  patched.setup_types[1].files.push_back(file_entry("patched", 0, 0));
  patched.setup_types[1].files[1].flags = kItemPatch;
  EXPECT_TRUE(assemble_configuration(patched, nullptr, &out, &error)) << error;
  ArchivePlan bad = patched;
  bad.setup_types[1].files[1].setup_type = 1;
  bad.setup_types[1].files[1].entry_index = 1;
  EXPECT_FALSE(assemble_configuration(bad, nullptr, &out, &error));
  EXPECT_NE(std::string::npos, error.find("itself")) << error;
  bad = patched;
  bad.setup_types[0].files[0].flags = kItemPatch;
  bad.setup_types[0].files[0].entry_index = 0;
  bad.setup_types[0].files[0].setup_type = 2;
  EXPECT_FALSE(assemble_configuration(bad, nullptr, &out, &error));
  EXPECT_NE(std::string::npos, error.find("a patch too")) << error;

  bad = archive;
  bad.background_picture = bitmap_file(4, 4, 108);  // BITMAPV4HEADER
  EXPECT_FALSE(assemble_configuration(bad, nullptr, &out, &error));
  EXPECT_NE(std::string::npos, error.find("background picture")) << error;

  // More configuration than the loader reads.
  bad = archive;
  bad.item_prefix.assign(kConfigurationBudget - 100000, 1);
  EXPECT_TRUE(assemble_configuration(bad, nullptr, &out, &error)) << error;
  bad.item_prefix.resize(kConfigurationBudget);
  EXPECT_FALSE(assemble_configuration(bad, nullptr, &out, &error));
  EXPECT_NE(std::string::npos, error.find("a setup reads at most")) << error;
}

// ---------------------------------------------------------------------------
// Damaged archives: written, then edited byte by byte.

using DamagedArchive = ArchiveWriterTest;

ArchivePlan two_types() {
  ArchivePlan archive;
  archive.setup_types.push_back(setup_type("One", 0, 2));
  archive.setup_types.push_back(setup_type("Two", 1, 2));
  archive.setup_types[1].ini_entries = {{0, "a.ini", "S", "K", "V"}};
  return archive;
}

TEST_F(DamagedArchive, SetupTypeRecordFields) {
  std::vector<uint8_t> good = build(two_types(), nullptr, {std::vector<uint8_t>(10, 1)});
  ASSERT_TRUE(load(good));
  free_archive();

  for (int type : {0, 1}) {
    size_t at = find_block(good, kBlockSetupType, type);
    ASSERT_NE(kNone, at);
    uint8_t* record = &good[at + kBlockHeaderSize];
    uint32_t length = get_u32(&good[at + 4]);
    struct Edit {
      const char* what;
      uint32_t field;
      bool list;
    } edits[] = {{"caption past the record", kRecordCaption, false},
                 {"INI key past the record", kRecordIniKey, false},
                 {"text list past the record", kRecordTextLists + 4 * 10, true}};
    for (const Edit& e : edits) {
      SCOPED_TRACE(std::string(e.what) + ", setup type " + std::to_string(type));
      std::vector<uint8_t> bad = good;
      put_u32(&bad[at + kBlockHeaderSize + e.field], length + (e.list ? 0 : 1));
      shown.clear();
      EXPECT_FALSE(load(bad));
      // Texts are shown only from a record that was read whole.
      if (type == 0) {
        EXPECT_TRUE(shown.empty());
      } else {
        ASSERT_EQ(1u, shown.size());
        EXPECT_EQ(damage_text("One"), shown[0].text);
      }
      free_archive();
    }
    // The last list's count one too high: its strings run past the record.
    uint32_t last_list = get_u32(record + kRecordTextLists + 4 * 10);
    std::vector<uint8_t> bad = good;
    put_u16(&bad[at + kBlockHeaderSize + last_list], static_cast<uint16_t>(get_u16(record + last_list) + 1));
    EXPECT_FALSE(load(bad)) << type;
    free_archive();
    // A string field at the very last byte, the terminator, still fits.
    bad = good;
    put_u32(&bad[at + kBlockHeaderSize + kRecordCaption], length - 1);
    EXPECT_TRUE(load(bad)) << type;
    select_setup_type(type);
    EXPECT_STREQ("", CurrentRecord->caption);
    free_archive();
  }
}

TEST_F(DamagedArchive, FileEntries) {
  std::vector<uint8_t> good = build(two_types(), nullptr, {std::vector<uint8_t>(10, 1)});
  ASSERT_TRUE(load(good));
  free_archive();
  size_t list = find_block(good, kBlockFileList, 1);
  ASSERT_NE(kNone, list);
  size_t first = list + kBlockHeaderSize + 4;
  size_t second = first + get_u32(&good[first]);

  std::vector<uint8_t> bad = good;
  put_u32(&bad[first], kEntryFixedSize - 18);  // shorter than its fixed part
  EXPECT_FALSE(load(bad));
  free_archive();

  bad = good;
  put_u32(&bad[second], get_u32(&good[second]) + 1);  // past the FileList
  shown.clear();
  EXPECT_FALSE(load(bad));
  EXPECT_EQ(1u, shown.size());
  free_archive();

  bad = good;
  put_u32(&bad[list + kBlockHeaderSize], 3);  // a third entry that is not there
  EXPECT_FALSE(load(bad));
  free_archive();

  bad = good;
  put_u32(&bad[second + kEntryIndex], 2);  // data taken from an entry that does not exist
  EXPECT_FALSE(load(bad));
  free_archive();
  bad = good;
  put_u16(&bad[second + kEntrySetupType], 2);  // from a setup type that does not exist
  EXPECT_FALSE(load(bad));
}

TEST_F(DamagedArchive, SetupTypeCountAndOrder) {
  ArchivePlan six;
  for (uint16_t t = 0; t < 6; ++t) six.setup_types.push_back(setup_type("T" + std::to_string(t), t, 0));
  std::vector<uint8_t> file = build(six);
  ASSERT_TRUE(load(file));
  EXPECT_EQ(6, SetupTypeCount);
  free_archive();

  // A seventh record.
  std::vector<uint8_t> bad = file;
  insert_at(&bad, find_block(bad, kBlockDataArea), block_bytes(file, find_block(file, kBlockSetupType, 5)));
  shown.clear();
  EXPECT_FALSE(load(bad));
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(damage_text("T0"), shown[0].text);
  EXPECT_EQ(kMbIconInformation, shown[0].style);
  free_archive();

  // Per-setup-type blocks before the first record.
  std::vector<uint8_t> one = build(two_types());
  for (uint16_t id : {kBlockFileList, kBlockIniEntries}) {
    bad = one;
    std::vector<uint8_t> block = block_bytes(one, find_block(one, id));
    insert_at(&bad, find_block(bad, kBlockSetupType), block);
    EXPECT_FALSE(load(bad)) << id;
    free_archive();
  }

  // No record at all.
  bad = one;
  while (find_block(bad, kBlockSetupType) != kNone) erase_block(&bad, find_block(bad, kBlockSetupType));
  while (find_block(bad, kBlockFileList) != kNone) erase_block(&bad, find_block(bad, kBlockFileList));
  while (find_block(bad, kBlockIniEntries) != kNone) erase_block(&bad, find_block(bad, kBlockIniEntries));
  EXPECT_EQ((std::vector<uint16_t>{0x1234, 0x7F7F}), block_ids(bad));
  shown.clear();
  EXPECT_FALSE(load(bad));
  EXPECT_TRUE(shown.empty());  // no texts to say it with
}

TEST_F(DamagedArchive, StartPageSetupTypeIndex) {
  ArchivePlan archive = two_types();
  archive.start_page = StartPageFields{3, 1};
  std::vector<uint8_t> file = build(archive);
  ASSERT_TRUE(load(file));
  EXPECT_EQ(1, CurrentSetupType);
  EXPECT_EQ(3, StartPageNumber);
  free_archive();
  size_t at = find_block(file, kBlockStartPage);
  put_u16(&file[at + kBlockHeaderSize + 2], 2);  // not below the count of 2
  shown.clear();
  EXPECT_FALSE(load(file));
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(damage_text("One"), shown[0].text);
}

TEST_F(DamagedArchive, DataAreaLength) {
  std::vector<uint8_t> file = build(two_types(), nullptr, {std::vector<uint8_t>(777, 3)});
  size_t data = find_block(file, kBlockDataArea);
  ASSERT_EQ(data + 12 + 777, file.size());
  ASSERT_TRUE(load(file));  // ends exactly at the end of the file
  EXPECT_TRUE(shown.empty());
  free_archive();

  std::vector<uint8_t> cut(file.begin(), file.end() - 1);
  EXPECT_FALSE(load(cut));
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(damage_text("One"), shown[0].text);
  EXPECT_EQ(kMbIconInformation, shown[0].style);
  free_archive();

  // A data area of stored size 0 is none at all.
  std::vector<uint8_t> none(file.begin(), file.begin() + data);
  append_block_header(&none, kBlockDataArea, 0, 0);
  shown.clear();
  EXPECT_FALSE(load(none));
  EXPECT_EQ(1u, shown.size());
  free_archive();

  // The chain running out without a data area header is a read failure.
  std::vector<uint8_t> open_end(file.begin(), file.begin() + data);
  shown.clear();
  EXPECT_FALSE(load(open_end));
  EXPECT_TRUE(shown.empty());
}

TEST_F(DamagedArchive, StartPageBlockStandsInForTheDataArea) {
  ArchivePlan archive = two_types();
  archive.start_page = StartPageFields{};
  std::vector<uint8_t> file = build(archive, nullptr, {std::vector<uint8_t>(500, 3)});
  size_t data = find_block(file, kBlockDataArea);
  std::vector<uint8_t> none(file.begin(), file.begin() + data);
  append_block_header(&none, kBlockDataArea, 0, 0);
  EXPECT_TRUE(load(none));
  EXPECT_TRUE(HasStartPageBlock);
  free_archive();
  std::vector<uint8_t> cut(file.begin(), file.end() - 1);
  EXPECT_TRUE(load(cut));  // not reported while loading
  EXPECT_TRUE(shown.empty());
}

TEST_F(DamagedArchive, BlocksTheLoaderPassesOver) {
  std::vector<uint8_t> file = build(two_types(), nullptr, {std::vector<uint8_t>(50, 3)});
  std::vector<uint8_t> extra;
  // Unknown ids whatever their flags, with a payload that is no stream.
  for (uint16_t flags : {0x0000, 0x0001, 0xFFFF}) {
    append_block_header(&extra, 0x1238, flags, 6);
    extra.insert(extra.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  }
  // Stored size 0: the next header follows at once, and the block stays unread.
  append_block_header(&extra, kBlockWizardPicture, 0, 0);
  append_block_header(&extra, 0x1238, kBlockCompressed, 0);
  std::vector<uint8_t> edited = file;
  insert_at(&edited, find_block(edited, kBlockSetupType), extra);
  insert_at(&edited, find_block(edited, kBlockDataArea), extra);
  ASSERT_TRUE(load(edited));
  EXPECT_EQ(2, SetupTypeCount);
  EXPECT_EQ(nullptr, WizardPicture);
  EXPECT_EQ(50u, volume_length);
  EXPECT_STREQ("One 6/31", get_text(6, 31));
  EXPECT_TRUE(shown.empty());
}

// Another writer may use id 0x1243 for something of its own: a block that
// is no text list ending inside it, whose stream does not decode, or that
// stands before any setup type record is passed over like an unknown id,
// and product details read before it stay.
TEST_F(DamagedArchive, BlocksUnderTheProductDetailsIdThatAreNoneArePassedOver) {
  ArchivePlan archive = two_types();
  archive.setup_types[0].details = {"2.0", "Kestrel Works"};
  std::vector<uint8_t> file = build(archive, nullptr, {std::vector<uint8_t>(50, 3)});
  std::vector<uint8_t> foreign;
  append_block_header(&foreign, kBlockProductDetails, 0, 5);
  foreign.insert(foreign.end(), {0x03, 0x00, 'a', 'b', 'c'});  // three texts, none terminated
  append_block_header(&foreign, kBlockProductDetails, kBlockCompressed, 6);
  foreign.insert(foreign.end(), {0x10, 0x00, 0x00, 0x00, 0xFF, 0xFF});  // 16 bytes from no stream
  append_block_header(&foreign, kBlockProductDetails, 0, 1);
  foreign.push_back(0x01);  // no room for a count
  std::vector<uint8_t> edited = file;
  insert_at(&edited, find_block(edited, kBlockDataArea), foreign);        // in setup type 1
  insert_at(&edited, find_block(edited, kBlockSetupType, 1), foreign);    // after type 0's details
  insert_at(&edited, find_block(edited, kBlockSetupType), foreign);       // before any record
  ASSERT_TRUE(load(edited));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(2, SetupTypeCount);
  select_setup_type(0);
  EXPECT_STREQ("Kestrel Works", product_detail(kDetailPublisher));
  select_setup_type(1);
  EXPECT_EQ(nullptr, SetupTypeTable[1].details);
  EXPECT_STREQ("", product_detail(kDetailPublisher));
  EXPECT_EQ(50u, volume_length);
}

// Blocks that each expand to a possible size but together to more than
// any setup carries: a few kilobytes of file must not make the reader
// allocate and decode hundreds of megabytes.
TEST_F(DamagedArchive, BlocksTogetherStayWithinTheConfigurationBudget) {
  std::vector<uint8_t> file = build(two_types(), nullptr, {std::vector<uint8_t>(50, 3)});
  std::vector<uint8_t> picture;
  std::string error;
  ASSERT_TRUE(append_compressed_block(&picture, kBlockWizardPicture, std::vector<uint8_t>(kConfigurationBudget / 2),
                                      stream_compressor(1), &error))
      << error;
  EXPECT_LT(picture.size(), 200000u);
  std::vector<uint8_t> one = file;
  insert_at(&one, find_block(one, kBlockDataArea), picture);
  EXPECT_TRUE(load(one));  // half the budget, and the other blocks
  EXPECT_EQ(kConfigurationBudget / 2, WizardPictureLength);
  free_archive();

  std::vector<uint8_t> two = one;
  insert_at(&two, find_block(two, kBlockDataArea), picture);
  shown.clear();
  EXPECT_FALSE(load(two));
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(damage_text("One"), shown[0].text);
}

TEST_F(DamagedArchive, CompressedFlagsBlockIsReadRaw) {
  ArchivePlan archive = two_types();
  archive.setup_flags = 0x11;
  std::vector<uint8_t> file = build(archive);
  size_t at = find_block(file, kBlockSetupFlags);
  put_u16(&file[at + 2], kBlockCompressed);
  ASSERT_TRUE(load(file));
  EXPECT_EQ(0x11u, SetupFlags);
}

}  // namespace
