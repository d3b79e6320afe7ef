// Setups in the solid LZMA mode, built, listed, verified and extracted by
// the tool: each item comes back byte for byte, also one item alone and a
// type read from its middle; the block and the flags are what the format
// says; in volumes the stream goes on in the next one; what the mode
// cannot do is refused at build time; a damaged stream
// fails its item; the default mode carries nothing of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/native/data_area_fixture.h"
#include "tests/native/setup_builder.h"
#include "tests/native/test_files.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct SolidProject {
  TempDir dir;
  std::vector<std::string> names = {"a.txt", "big.bin", "empty.txt", "c.txt"};
  std::vector<Bytes> contents;
  explicit SolidProject(const std::string& setup_lines, const std::string& type_lines = "") {
    contents = {text_bytes(3000, 1), text_bytes(300000, 2), {}, text_bytes(5, 3)};
    // big.bin: text, then bytes that do not compress.
    for (size_t i = 0; i < 100000; ++i) contents[1].push_back(static_cast<uint8_t>((i * 2654435761u) >> 13));
    std::string toml = "[setup]\ntitle = \"Solid\"\n" + setup_lines +
                       "[[type]]\ncaption = \"Full\"\nuninstall_name = \"Solid\"\nfolder = \"C:\\\\Solid\"\n" + type_lines;
    for (size_t i = 0; i < names.size(); ++i) {
      write_bytes(dir.file(names[i]), contents[i]);
      toml += "[[type.files]]\nsource = \"" + names[i] + "\"\n";
    }
    toml += "[[type]]\ncaption = \"Small\"\nuninstall_name = \"Solid small\"\nfolder = \"C:\\\\Small\"\n[[type.files]]\nsource = \"c.txt\"\n";
    std::string text(toml);
    write_bytes(dir.file("p.toml"), Bytes(text.begin(), text.end()));
  }
  int build(const std::string& args, std::string* out) {
    return run_tool("build " + dir.file("p.toml") + " -o " + dir.file("setup.exe") + " " + args, out);
  }
  std::string setup() const { return dir.file("setup.exe"); }
};

TEST(SolidSetup, BuildsListsVerifiesAndExtracts) {
  SolidProject p("compression = \"lzma\"\n");
  std::string out;
  ASSERT_EQ(0, p.build("", &out)) << out;
  ASSERT_EQ(0, run_tool("list " + p.setup(), &out)) << out;
  EXPECT_NE(out.find("solid stream: method 1 (LZMA)"), std::string::npos) << out;
  EXPECT_NE(out.find("lc 3 lp 0 pb 2"), std::string::npos) << out;
  EXPECT_NE(out.find("stored 400000 at 4294967295"), std::string::npos) << out;
  EXPECT_NE(out.find("in the solid stream"), std::string::npos) << out;
  ASSERT_EQ(0, run_tool("verify " + p.setup(), &out)) << out;
  EXPECT_NE(out.find("sound"), std::string::npos) << out;
  for (int type : {0, 1}) {
    std::string to = p.dir.file("x" + std::to_string(type));
    ASSERT_EQ(0, run_tool("extract " + p.setup() + " -d " + to + " --type " + std::to_string(type), &out)) << out;
    for (size_t i = 0; i < p.names.size(); ++i) {
      if (type == 1 && p.names[i] != "c.txt") continue;
      EXPECT_TRUE(read_bytes(to + "/" + p.names[i]) == p.contents[i]) << p.names[i];
    }
  }
  // The stream is smaller than Kestrel's own streams of the same items.
  std::string kestrel_setup = p.dir.file("kestrel.exe");
  ASSERT_EQ(0, run_tool("build " + p.dir.file("p.toml") + " --compression kestrel -o " + kestrel_setup, &out)) << out;
  EXPECT_LT(read_bytes(p.setup()).size(), read_bytes(kestrel_setup).size());
}

TEST(SolidSetup, DefaultModeCarriesNothingOfIt) {
  SolidProject p("");
  std::string out;
  ASSERT_EQ(0, p.build("", &out)) << out;
  ASSERT_EQ(0, run_tool("list " + p.setup(), &out)) << out;
  EXPECT_EQ(out.find("solid"), std::string::npos) << out;
  std::string again = p.dir.file("kestrel.exe");
  ASSERT_EQ(0, run_tool("build " + p.dir.file("p.toml") + " --compression kestrel -o " + again, &out)) << out;
  EXPECT_TRUE(read_bytes(again) == read_bytes(p.setup()));
}

// In volumes the stream starts in the setup file and goes on in the
// volume files; verify and extract read it across them.
TEST(SolidSetup, ContinuesItsStreamInTheNextVolume) {
  SolidProject p("compression = \"lzma\"\n");
  std::string out;
  ASSERT_EQ(0, p.build("", &out)) << out;
  ASSERT_EQ(0, run_tool("list " + p.setup(), &out)) << out;
  size_t at = out.find("at offset ");
  ASSERT_NE(at, std::string::npos) << out;
  // Room for the stub, the configuration and some 20 KiB of the stream.
  std::string size = std::to_string((std::stoul(out.substr(at + 10)) + 20480) / 1024) + "K";
  ASSERT_EQ(0, p.build("--volume-size " + size, &out)) << out;
  ASSERT_TRUE(file_exists(p.dir.file("setup.D01"))) << out;
  ASSERT_EQ(0, run_tool("list " + p.setup(), &out)) << out;
  EXPECT_NE(out.find("solid stream: method 1 (LZMA)"), std::string::npos) << out;
  EXPECT_EQ(out.find("data area: 0 bytes"), std::string::npos) << out;
  ASSERT_EQ(0, run_tool("verify " + p.setup(), &out)) << out;
  EXPECT_NE(out.find("sound"), std::string::npos) << out;
  std::string to = p.dir.file("x");
  ASSERT_EQ(0, run_tool("extract " + p.setup() + " -d " + to + " --type 0", &out)) << out;
  for (size_t i = 0; i < p.names.size(); ++i)
    EXPECT_TRUE(read_bytes(to + "/" + p.names[i]) == p.contents[i]) << p.names[i];
  // Without its volume the stream cannot be read to its end.
  std::remove(p.dir.file("setup.D01").c_str());
  EXPECT_NE(0, run_tool("verify " + p.setup(), &out)) << out;
}

TEST(SolidSetup, RefusesWhatTheModeCannotDo) {
  std::string out;
  {
    SolidProject p("compression = \"lzma\"\nlzma_dictionary = 17\n");
    EXPECT_NE(0, p.build("", &out));
    EXPECT_NE(out.find("more than the setup program allocates on a machine of 64 MB"), std::string::npos) << out;
  }
  {
    SolidProject p("lzma_dictionary = 4\n");
    EXPECT_NE(0, p.build("", &out));
    EXPECT_NE(out.find("compression = \"lzma\" only"), std::string::npos) << out;
  }
  {
    SolidProject p("compression = \"lzma\"\n", "[[type.files]]\nsource = \"a2.txt\"\npatch_of = \"a.txt\"\n");
    write_bytes(p.dir.file("a2.txt"), text_bytes(3100, 1));
    EXPECT_NE(0, p.build("", &out));
    EXPECT_NE(out.find("carries no patches"), std::string::npos) << out;
  }
  {
    SolidProject p("compression = \"zstd\"\n");
    EXPECT_NE(0, p.build("", &out));
  }
}

TEST(SolidSetup, DamagedStreamFailsItsItem) {
  SolidProject p("compression = \"lzma\"\nlzma_dictionary = 1\n");
  std::string out;
  ASSERT_EQ(0, p.build("", &out)) << out;
  ASSERT_EQ(0, run_command(std::string(KESTREL_BINARY_DIR) + "/tools/kestrel-damage " + p.setup() + " flip-solid 0", &out))
      << out;
  EXPECT_NE(0, run_tool("verify " + p.setup(), &out));
  EXPECT_NE(out.find("rule item-data: setup type 0, item 2 (big.bin), in the solid stream of setup type 0"),
            std::string::npos)
      << out;
}

}  // namespace
