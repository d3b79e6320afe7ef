// Reproducible setups: the example product built from two copies of its
// sources whose files have different modification times gives the same
// bytes under SOURCE_DATE_EPOCH, and the stored times are clamped to it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "builder/sign_command.h"
#include "tests/native/test_files.h"

namespace {

namespace fs = std::filesystem;

// 2000-01-01 00:00:00 UTC.
const long kEpoch = 946684800;

struct ReproducibleSetup : ::testing::Test {
  TempDir dir;
  std::string viewer = std::string(KESTREL_BINARY_DIR) + "/windows/bin/demo-viewer.exe";

  void SetUp() override {
    if (!fs::exists(viewer)) GTEST_SKIP() << "the Windows side was not built";
  }
  // The example product staged as `make demo` stages it, every file given
  // the modification time `when`.
  std::string stage(const std::string& folder, long when) {
    fs::path root = fs::path(dir.path()) / folder;
    fs::copy(fs::path(KESTREL_SOURCE_DIR) / "examples/demo", root, fs::copy_options::recursive);
    fs::create_directories(root / "bin");
    fs::copy_file(viewer, root / "bin/Viewer.exe");
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      struct utimbuf times = {when, when};
      EXPECT_EQ(0, utime(e.path().c_str(), &times)) << e.path();
    }
    return (root / "demo.toml").string();
  }
  // The built tool with SOURCE_DATE_EPOCH set to `epoch`, or unset.
  int build(const std::string& project, const std::string& setup, const std::optional<std::string>& epoch,
            std::string* text) {
    if (epoch) setenv("SOURCE_DATE_EPOCH", epoch->c_str(), 1);
    else unsetenv("SOURCE_DATE_EPOCH");
    int status = run_tool("build " + shell_quoted(project) + " -o " + shell_quoted(setup), text);
    unsetenv("SOURCE_DATE_EPOCH");
    return status;
  }
  long extracted_time(const std::string& setup, const std::string& name) {
    std::string text, out = dir.file("extracted");
    fs::remove_all(out);
    EXPECT_EQ(0, run_tool("extract " + shell_quoted(setup) + " -d " + shell_quoted(out) + " --type 0", &text)) << text;
    struct stat st {};
    EXPECT_EQ(0, stat((out + "/" + name).c_str(), &st)) << name;
    return static_cast<long>(st.st_mtime);
  }
};

TEST_F(ReproducibleSetup, TwoCopiesWithDifferentTimesGiveTheSameBytesUnderSourceDateEpoch) {
  std::string first = stage("checkout", kEpoch + 86400 * 400);
  std::string second = stage("a fresh checkout elsewhere", kEpoch + 86400 * 9000 + 17);
  std::string text;
  // The same file name in two folders: the version resource names the file.
  const std::string one = dir.file("one/DemoSetup.exe"), two = dir.file("two/DemoSetup.exe");
  ASSERT_EQ(0, build(first, one, std::nullopt, &text)) << text;
  ASSERT_EQ(0, build(second, two, std::nullopt, &text)) << text;
  // The example stores file times: without the clamp the setups differ.
  EXPECT_NE(read_bytes(one), read_bytes(two));
  ASSERT_EQ(0, build(first, one, std::to_string(kEpoch), &text)) << text;
  ASSERT_EQ(0, build(second, two, std::to_string(kEpoch), &text)) << text;
  EXPECT_EQ(read_bytes(one), read_bytes(two));
  EXPECT_EQ(kEpoch, extracted_time(two, "docs/guide.txt"));
}

TEST_F(ReproducibleSetup, TimesOlderThanSourceDateEpochStayAndWithoutItTimesAreTheFiles) {
  const long old_time = kEpoch - 86400 * 30;
  std::string project = stage("old", old_time);
  std::string text;
  ASSERT_EQ(0, build(project, dir.file("clamped.exe"), std::to_string(kEpoch), &text)) << text;
  EXPECT_EQ(old_time, extracted_time(dir.file("clamped.exe"), "docs/guide.txt"));
  const long later = kEpoch + 86400 * 5;
  project = stage("later", later);
  ASSERT_EQ(0, build(project, dir.file("as-is.exe"), std::nullopt, &text)) << text;
  EXPECT_EQ(later, extracted_time(dir.file("as-is.exe"), "docs/guide.txt"));
}

TEST_F(ReproducibleSetup, AMalformedSourceDateEpochIsRefusedWithoutOutput) {
  std::string project = stage("demo", kEpoch);
  for (const char* bad : {"yesterday", "-5", "12abc", "", "99999999999999999999", "253402300800"}) {
    std::string text;
    EXPECT_NE(0, build(project, dir.file("bad.exe"), bad, &text)) << bad;
    EXPECT_NE(std::string::npos, text.find("SOURCE_DATE_EPOCH must be a whole number of seconds since 1970")) << text;
    EXPECT_FALSE(fs::exists(dir.file("bad.exe"))) << bad;
  }
}

}  // namespace
