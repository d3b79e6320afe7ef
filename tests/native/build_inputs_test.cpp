// The readers of what a build takes in from other tools: version resources
// of PE files and dialog templates of compiled resource files. Both read
// offsets from files of unknown origin and must stay inside them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "builder/pe_version.h"
#include "builder/res_file.h"
#include "cli/default_dialogs.h"

namespace {

void put_text16(std::vector<uint8_t>& out, size_t at, const std::u16string& text) {
  for (size_t i = 0; i <= text.size(); ++i) put_u16(out.data() + at + 2 * i, i < text.size() ? text[i] : 0);
}

// A PE32 file with one .rsrc section holding a version resource:
// file version 2.5.7.11, language 0x0407.
std::vector<uint8_t> pe_with_version() {
  std::vector<uint8_t> f(0x200 + 0x58 + 160, 0);
  f[0] = 'M', f[1] = 'Z';
  put_u32(&f[60], 64);
  f[64] = 'P', f[65] = 'E';
  put_u16(&f[68], 0x14C);
  put_u16(&f[70], 1);     // one section
  put_u16(&f[84], 224);   // optional header size
  put_u16(&f[88], 0x10B); // PE32
  put_u32(&f[180], 16);   // data directories
  const uint32_t rsrc_size = 0x58 + 160;
  put_u32(&f[200], 0x1000);  // resource directory RVA and size
  put_u32(&f[204], rsrc_size);
  uint8_t* s = &f[312];
  std::copy_n(".rsrc", 5, s);
  put_u32(s + 8, rsrc_size);
  put_u32(s + 12, 0x1000);
  put_u32(s + 16, rsrc_size);
  put_u32(s + 20, 0x200);
  uint8_t* r = &f[0x200];
  // type 16 -> name 1 -> language 0x409 -> data entry
  put_u16(r + 14, 1), put_u32(r + 16, 16), put_u32(r + 20, 0x80000018);
  put_u16(r + 0x18 + 14, 1), put_u32(r + 0x18 + 16, 1), put_u32(r + 0x18 + 20, 0x80000030);
  put_u16(r + 0x30 + 14, 1), put_u32(r + 0x30 + 16, 0x409), put_u32(r + 0x30 + 20, 0x48);
  put_u32(r + 0x48, 0x1000 + 0x58), put_u32(r + 0x4C, 160);
  size_t v = 0x258;
  put_u16(&f[v], 160), put_u16(&f[v + 2], 52);
  put_text16(f, v + 6, u"VS_VERSION_INFO");
  put_u32(&f[v + 40], 0xFEEF04BD);
  put_u32(&f[v + 48], 0x00020005);
  put_u32(&f[v + 52], 0x0007000B);
  size_t var = v + 92;
  put_u16(&f[var], 68), put_u16(&f[var + 4], 1);
  put_text16(f, var + 6, u"VarFileInfo");
  size_t t = var + 32;
  put_u16(&f[t], 36), put_u16(&f[t + 2], 4);
  put_text16(f, t + 6, u"Translation");
  put_u16(&f[t + 32], 0x0407), put_u16(&f[t + 34], 1252);
  return f;
}

TEST(PeVersion, ReadsFixedVersionAndFirstLanguage) {
  std::vector<uint8_t> pe = pe_with_version();
  PeVersion v;
  ASSERT_TRUE(read_pe_version(pe.data(), pe.size(), &v));
  EXPECT_EQ(0x00020005u, v.version_ms);
  EXPECT_EQ(0x0007000Bu, v.version_ls);
  EXPECT_TRUE(v.has_language);
  EXPECT_EQ(0x0407, v.language);
}

TEST(PeVersion, DamagedFilesAreRefusedOrReadInBounds) {
  std::vector<uint8_t> pe = pe_with_version();
  PeVersion v;
  // Cut anywhere before the end of the version block: never read past it.
  for (size_t n = 0; n < pe.size(); ++n) {
    std::vector<uint8_t> cut(pe.begin(), pe.begin() + static_cast<long>(n));
    EXPECT_FALSE(read_pe_version(cut.data(), cut.size(), &v)) << n;
  }
  // Every byte set to 0xFF in turn: offsets and lengths become huge.
  for (size_t i = 0; i < pe.size(); ++i) {
    std::vector<uint8_t> bad = pe;
    bad[i] = 0xFF;
    read_pe_version(bad.data(), bad.size(), &v);
  }
  std::vector<uint8_t> none = pe;
  put_u32(&none[200], 0);  // no resource directory
  EXPECT_FALSE(read_pe_version(none.data(), none.size(), &v));
}

TEST(ResFile, DefaultTemplatesAreAllThere) {
  std::map<uint16_t, std::vector<uint8_t>> dialogs;
  std::string error;
  ASSERT_TRUE(read_res_dialogs(kDefaultDialogs, kDefaultDialogsSize, &dialogs, &error)) << error;
  for (uint16_t id = 0; id <= 11; ++id) {
    ASSERT_TRUE(dialogs.count(id)) << id;
    // DLGTEMPLATEEX: version 1, signature 0xFFFF.
    ASSERT_GE(dialogs[id].size(), 26u) << id;
    EXPECT_EQ(1, get_u16(dialogs[id].data())) << id;
    EXPECT_EQ(0xFFFF, get_u16(dialogs[id].data() + 2)) << id;
  }
}

TEST(ResFile, DamagedFilesAreRefused) {
  std::vector<uint8_t> res(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize);
  std::map<uint16_t, std::vector<uint8_t>> dialogs;
  std::string error;
  EXPECT_FALSE(read_res_dialogs(res.data(), 20, &dialogs, &error));
  EXPECT_NE(std::string::npos, error.find("not a compiled resource file"));
  // The second record's header claims more than the file has.
  std::vector<uint8_t> bad = res;
  put_u32(&bad[32], 0x7FFFFFFF);
  EXPECT_FALSE(read_res_dialogs(bad.data(), bad.size(), &dialogs, &error));
  EXPECT_NE(std::string::npos, error.find("runs past the end")) << error;
  for (size_t n = 32; n < res.size(); n += 7) read_res_dialogs(res.data(), n, &dialogs, &error);
}

}  // namespace
