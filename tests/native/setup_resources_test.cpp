// The stub's version resource and icon: written into the built stub, then
// read back by the small PE reader below, which shares nothing with the
// builder's, and by kestrel list and verify on a built setup.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/format.h"
#include "builder/program_layout.h"
#include "builder/setup_resources.h"
#include "builder/sign_command.h"
#include "builder/stub_image.h"
#include "tests/native/test_files.h"

namespace {

namespace fs = std::filesystem;

std::string stub_path() { return std::string(KESTREL_BINARY_DIR) + "/share/kestrel/kestrel-stub.exe"; }

// --- An independent reader: sections, the resource tree, version nodes. ---

struct Section {
  uint32_t address, virtual_size, raw_size, raw_at;
};

struct Image {
  std::vector<uint8_t> bytes;
  std::vector<Section> sections;
  uint32_t optional = 0;

  explicit Image(std::vector<uint8_t> b) : bytes(std::move(b)) {
    uint32_t pe = get_u32(&bytes[60]);
    uint16_t count = get_u16(&bytes[pe + 6]), optional_size = get_u16(&bytes[pe + 20]);
    optional = pe + 24;
    for (uint16_t i = 0; i < count; ++i) {
      const uint8_t* s = &bytes[optional + optional_size + 40 * i];
      sections.push_back({get_u32(s + 12), get_u32(s + 8), get_u32(s + 16), get_u32(s + 20)});
    }
  }
  uint32_t directory(int index, int field) const { return get_u32(&bytes[optional + 96 + 8 * index + 4 * field]); }
  // A byte of the mapped image: file bytes, then zeros up to the size in memory.
  uint8_t at(uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.address && rva < s.address + std::max(s.virtual_size, s.raw_size)) {
        uint32_t into = rva - s.address;
        EXPECT_LE(s.raw_at + into, bytes.size());
        return into < s.raw_size ? bytes.at(s.raw_at + into) : 0;
      }
    ADD_FAILURE() << "rva " << rva << " lies in no section";
    return 0;
  }
  uint16_t u16(uint32_t rva) const { return static_cast<uint16_t>(at(rva) | at(rva + 1) << 8); }
  uint32_t u32(uint32_t rva) const { return u16(rva) | uint32_t{u16(rva + 2)} << 16; }
  std::vector<uint8_t> range(uint32_t rva, uint32_t n) const {
    std::vector<uint8_t> out;
    for (uint32_t k = 0; k < n; ++k) out.push_back(at(rva + k));
    return out;
  }
};

// Resources by (type, numeric name), each as its data; named entries are
// skipped (the stub has none).
std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> resources_of(const Image& image) {
  std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> out;
  uint32_t root = image.directory(2, 0);
  auto entries = [&](uint32_t dir) {
    std::vector<std::pair<uint32_t, uint32_t>> list;
    uint32_t n = uint32_t{image.u16(root + dir + 12)} + image.u16(root + dir + 14);
    for (uint32_t i = 0; i < n; ++i) list.push_back({image.u32(root + dir + 16 + 8 * i), image.u32(root + dir + 20 + 8 * i)});
    return list;
  };
  for (auto [type, types_at] : entries(0)) {
    EXPECT_TRUE(types_at & 0x80000000u);
    for (auto [name, names_at] : entries(types_at & 0x7FFFFFFF)) {
      EXPECT_TRUE(names_at & 0x80000000u);
      for (auto [language, leaf] : entries(names_at & 0x7FFFFFFF)) {
        EXPECT_FALSE(leaf & 0x80000000u);
        out[{type, name}] = image.range(image.u32(root + leaf), image.u32(root + leaf + 4));
      }
    }
  }
  return out;
}

std::u16string u16_at(const std::vector<uint8_t>& b, size_t at, size_t* end) {
  std::u16string s;
  for (; get_u16(&b[at]) != 0; at += 2) s.push_back(static_cast<char16_t>(get_u16(&b[at])));
  *end = at + 2;
  return s;
}

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Every node of a version block under its path ("StringFileInfo/040904B0/
// ProductName"): its value bytes.
void version_nodes(const std::vector<uint8_t>& b, size_t at, size_t limit, const std::u16string& parent,
                   std::map<std::u16string, std::vector<uint8_t>>* out) {
  while (at + 6 <= limit) {
    size_t length = get_u16(&b[at]), value = get_u16(&b[at + 2]);
    bool text = get_u16(&b[at + 4]) == 1;
    ASSERT_GE(length, 6u);
    ASSERT_LE(at + length, limit);
    size_t key_end = 0;
    std::u16string key = u16_at(b, at + 6, &key_end);
    std::u16string path = parent.empty() ? key : parent + u"/" + key;
    size_t value_at = align4(key_end), value_bytes = text ? 2 * value : value;
    (*out)[path] = std::vector<uint8_t>(b.begin() + value_at, b.begin() + value_at + value_bytes);
    version_nodes(b, align4(value_at + value_bytes), at + length, path, out);
    at = align4(at + length);
  }
}

std::vector<uint8_t> utf16le(const std::u16string& s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) out.push_back(static_cast<uint8_t>(c)), out.push_back(static_cast<uint8_t>(c >> 8));
  out.push_back(0), out.push_back(0);
  return out;
}

// A bitmap icon image of `size` pixels square, 32 bits, with its mask.
std::vector<uint8_t> dib(uint32_t size, uint8_t fill) {
  std::vector<uint8_t> d(40 + size * size * 4 + size * ((size + 31) / 32 * 4), fill);
  std::fill(d.begin(), d.begin() + 40, 0);
  put_u32(&d[0], 40);
  put_u32(&d[4], size);
  put_u32(&d[8], 2 * size);
  put_u16(&d[12], 1);
  put_u16(&d[14], 32);
  return d;
}

std::vector<uint8_t> ico(const std::vector<std::vector<uint8_t>>& images, const std::vector<uint8_t>& sizes) {
  std::vector<uint8_t> f(6 + 16 * images.size(), 0);
  put_u16(&f[2], 1);
  put_u16(&f[4], static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    uint8_t* e = &f[6 + 16 * i];
    e[0] = e[1] = sizes[i];
    put_u16(e + 4, 1);
    put_u16(e + 6, 32);
    put_u32(e + 8, static_cast<uint32_t>(images[i].size()));
    put_u32(e + 12, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), images[i].begin(), images[i].end());
  }
  return f;
}

struct StubResources : ::testing::Test {
  void SetUp() override {
    if (!fs::exists(stub_path())) GTEST_SKIP() << "the Windows side was not built";
  }
};

TEST_F(StubResources, TheVersionBlockAndIconGroupReadBackWholeAndNothingElseChanges) {
  const std::vector<uint8_t> built = read_bytes(stub_path());
  std::vector<uint8_t> image = built;
  std::vector<std::vector<uint8_t>> pictures = {dib(16, 0x11), dib(32, 0x22), dib(48, 0x33)};
  std::vector<uint8_t> file = ico(pictures, {16, 32, 48});
  std::vector<IconImage> icon;
  std::string error;
  ASSERT_TRUE(read_icon_file(file.data(), file.size(), &icon, &error)) << error;
  SetupVersionTexts texts{"Démo Product 2.1", "Démo Software Ltd", "2.1.7", "© 2026 Démo", "DemoSetup.exe"};
  ASSERT_TRUE(apply_setup_resources(image, texts, icon, &error)) << error;

  Image before(built), after(image);
  auto old_resources = resources_of(before), resources = resources_of(after);
  // The manifest is carried over as it was.
  ASSERT_TRUE(resources.count({24, 1}));
  EXPECT_EQ(old_resources.at({24, 1}), resources.at({24, 1}));
  // It names no product of its own: no description that could contradict
  // the setup's title.
  const std::vector<uint8_t>& manifest = resources.at({24, 1});
  EXPECT_EQ(std::string::npos, std::string(manifest.begin(), manifest.end()).find("<description"));
  // The version block.
  ASSERT_TRUE(resources.count({16, 1}));
  std::map<std::u16string, std::vector<uint8_t>> nodes;
  const std::vector<uint8_t>& block = resources.at({16, 1});
  version_nodes(block, 0, block.size(), u"", &nodes);
  ASSERT_TRUE(nodes.count(u"VS_VERSION_INFO"));
  const std::vector<uint8_t>& fixed = nodes[u"VS_VERSION_INFO"];
  ASSERT_EQ(52u, fixed.size());
  EXPECT_EQ(0xFEEF04BDu, get_u32(&fixed[0]));
  EXPECT_EQ(0x00020001u, get_u32(&fixed[8]));   // file version 2.1
  EXPECT_EQ(0x00070000u, get_u32(&fixed[12]));  // .7.0
  EXPECT_EQ(0x00020001u, get_u32(&fixed[16]));  // product version
  EXPECT_EQ(0x00070000u, get_u32(&fixed[20]));
  const std::u16string table = u"VS_VERSION_INFO/StringFileInfo/040904B0/";
  std::map<std::u16string, std::u16string> expected = {
      {u"ProductName", u"Démo Product 2.1"},       {u"CompanyName", u"Démo Software Ltd"},
      {u"FileVersion", u"2.1.7"},                  {u"ProductVersion", u"2.1.7"},
      {u"FileDescription", u"Démo Product 2.1 Setup"}, {u"OriginalFilename", u"DemoSetup.exe"},
      {u"LegalCopyright", u"© 2026 Démo"}};
  for (const auto& [key, value] : expected) {
    ASSERT_TRUE(nodes.count(table + key)) << std::string(key.begin(), key.end());
    EXPECT_EQ(utf16le(value), nodes[table + key]);
  }
  EXPECT_EQ((std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04}), nodes[u"VS_VERSION_INFO/VarFileInfo/Translation"]);

  // The icon group (800) lists the three images; each is an RT_ICON of
  // the bytes given.
  ASSERT_TRUE(resources.count({14, 800}));
  const std::vector<uint8_t>& group = resources.at({14, 800});
  ASSERT_EQ(6u + 14 * 3, group.size());
  EXPECT_EQ(3u, get_u16(&group[4]));
  size_t icons = 0;
  for (const auto& r : resources) icons += r.first.first == 3;
  EXPECT_EQ(3u, icons) << "the stub's own icon images are gone";
  for (size_t i = 0; i < 3; ++i) {
    const uint8_t* e = &group[6 + 14 * i];
    EXPECT_EQ((std::vector<uint8_t>{16, 32, 48})[i], e[0]);
    EXPECT_EQ(pictures[i].size(), get_u32(e + 8));
    ASSERT_TRUE(resources.count({3, get_u16(e + 12)}));
    EXPECT_EQ(pictures[i], resources.at({3, get_u16(e + 12)}));
  }

  // The layout: the sections as built, byte for byte but for the
  // stub-size field, followed by the new resource section, which the
  // directory entry names; the image's size and checksum fit, and the
  // stub carries its new length.
  ASSERT_EQ(before.sections.size() + 1, after.sections.size());
  size_t field = 0;
  StampResult why;
  ASSERT_TRUE(find_stub_size_field(image.data(), image.size(), &field, &why));
  for (size_t i = 0; i < before.sections.size(); ++i) {
    const Section &old = before.sections[i], &now = after.sections[i];
    EXPECT_EQ(old.address, now.address);
    EXPECT_EQ(old.virtual_size, now.virtual_size);
    ASSERT_EQ(old.raw_size, now.raw_size);
    std::vector<uint8_t> was(built.begin() + old.raw_at, built.begin() + old.raw_at + old.raw_size);
    std::vector<uint8_t> is(image.begin() + now.raw_at, image.begin() + now.raw_at + now.raw_size);
    if (field >= now.raw_at && field < now.raw_at + now.raw_size) {
      std::fill_n(was.begin() + (field - now.raw_at), 4, 0);
      std::fill_n(is.begin() + (field - now.raw_at), 4, 0);
    }
    EXPECT_EQ(was, is) << "section " << i;
  }
  const Section& last = after.sections.back();
  EXPECT_EQ(after.directory(2, 0), last.address);
  EXPECT_EQ(0, std::memcmp(&image[after.optional + get_u16(&image[get_u32(&image[60]) + 20]) + 40 * before.sections.size()],
                           ".rsrc", 6));
  EXPECT_EQ(image.size(), last.raw_at + last.raw_size);
  EXPECT_EQ(0u, last.raw_at % get_u32(&image[after.optional + 36]));
  uint32_t memory_unit = get_u32(&image[after.optional + 32]);
  EXPECT_EQ((last.address + last.virtual_size + memory_unit - 1) / memory_unit * memory_unit,
            get_u32(&image[after.optional + 56]));
  for (int directory : {1, 5, 12})  // imports, relocations, import addresses
    EXPECT_EQ(before.range(before.directory(directory, 0), before.directory(directory, 1)),
              after.range(after.directory(directory, 0), after.directory(directory, 1)));
  std::vector<uint8_t> summed = image;
  ASSERT_TRUE(write_pe_checksum(summed));
  EXPECT_EQ(summed, image) << "the header checksum is stale";
  uint32_t stamped = 0;
  ASSERT_TRUE(read_stub_size(image, &stamped));
  EXPECT_EQ(image.size(), stamped);
}

TEST_F(StubResources, ABadIconFileIsRefusedByName) {
  std::vector<uint8_t> good = ico({dib(16, 1)}, {16});
  std::vector<IconImage> icon;
  std::string error;
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {
      {{}, "not an icon file (.ico)"},
      {std::vector<uint8_t>(good.begin(), good.end() - 10), "the icon file's image 1 lies outside the file"},
      {std::vector<uint8_t>(good.begin(), good.begin() + 6), "the icon file's directory runs past its end"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(read_icon_file(c.bytes.data(), c.bytes.size(), &icon, &error));
    EXPECT_EQ(c.message, error);
  }
  std::vector<uint8_t> not_a_bitmap = good;
  put_u32(&not_a_bitmap[22], 12);
  EXPECT_FALSE(read_icon_file(not_a_bitmap.data(), not_a_bitmap.size(), &icon, &error));
  EXPECT_EQ("the icon file's image 1 is neither a PNG nor a bitmap", error);
}

TEST(VersionNumbers, UpToFourNumbersOrNone) {
  uint16_t n[4];
  EXPECT_TRUE(version_numbers("1.0.3", n));
  EXPECT_EQ((std::vector<uint16_t>{1, 0, 3, 0}), std::vector<uint16_t>(n, n + 4));
  EXPECT_TRUE(version_numbers("65535.2.3.4", n));
  for (const char* text : {"", "1.2.3.4.5", "1.x", "2026-01", "1..2", "65536", "1.0 beta", "v1"})
    EXPECT_FALSE(version_numbers(text, n)) << text;
}

// kestrel build, list and verify on a project with and without the keys.
struct ResourcesBuild : StubResources {
  TempDir dir;
  std::string setup = dir.file("DemoSetup.exe");
  void write_project(const std::string& setup_keys) {
    std::string toml = "[setup]\ntitle = \"Démo 1.0\"\npublisher = \"Démo Ltd\"\n" + setup_keys +
                       "[[type]]\nfolder = \"C:\\\\Demo\"\n[[type.files]]\nsource = \"readme.txt\"\n";
    write_bytes(dir.file("demo.toml"), std::vector<uint8_t>(toml.begin(), toml.end()));
    write_bytes(dir.file("readme.txt"), {'h', 'i'});
  }
  int build(std::string* text) {
    return run_tool("build " + shell_quoted(dir.file("demo.toml")) + " -o " + shell_quoted(setup), text);
  }
};

TEST_F(ResourcesBuild, ListAndVerifyReadTheResourcesAndABrokenDirectoryFailsVerify) {
  write_bytes(dir.file("product.ico"), ico({dib(16, 1), dib(32, 2)}, {16, 32}));
  write_project("version = \"1.0.3\"\ncopyright = \"© Démo\"\nsetup_icon = \"product.ico\"\n");
  std::string text;
  ASSERT_EQ(0, build(&text)) << text;
  ASSERT_EQ(0, run_tool("list " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos,
            text.find("version resource: CompanyName \"Démo Ltd\"; FileDescription \"Démo 1.0 Setup\"; "
                      "FileVersion \"1.0.3\"; LegalCopyright \"© Démo\"; OriginalFilename \"DemoSetup.exe\"; "
                      "ProductName \"Démo 1.0\"; ProductVersion \"1.0.3\";\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("\nicon: 16x16, 32 bits; 32x32, 32 bits\n")) << text;
  ASSERT_EQ(0, run_tool("verify " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("\nicon: 16x16, 32 bits; 32x32, 32 bits\n")) << text;

  // A root directory that claims more entries than the section holds.
  std::vector<uint8_t> bytes = read_bytes(setup);
  Image image(bytes);
  uint32_t root = image.directory(2, 0);
  for (const Section& s : image.sections)
    if (s.address == root) put_u16(&bytes[s.raw_at + 14], 0xFFFF);
  write_bytes(setup, bytes);
  EXPECT_NE(0, run_tool("verify " + shell_quoted(setup), &text));
  EXPECT_NE(std::string::npos,
            text.find(": rule stub-resources: byte 0 of " + setup + ": a resource directory runs past the resource "
                      "section\n"))
      << text;
}

TEST_F(ResourcesBuild, WithoutAVersionOrIconTheSetupBeginsWithTheStubAsBuilt) {
  write_project("");
  std::string text;
  ASSERT_EQ(0, build(&text)) << text;
  std::vector<uint8_t> stub = read_bytes(stub_path()), bytes = read_bytes(setup);
  ASSERT_GT(bytes.size(), stub.size());
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), bytes.begin()));
  write_project("setup_icon = \"broken.ico\"\n");
  write_bytes(dir.file("broken.ico"), {0, 0, 1, 0, 1, 0});
  EXPECT_NE(0, build(&text));
  EXPECT_NE(std::string::npos, text.find("setup.setup_icon: " + dir.file("broken.ico") +
                                         ": the icon file's directory runs past its end"))
      << text;
  EXPECT_EQ(bytes, read_bytes(setup)) << "the earlier setup was touched";
}

}  // namespace
