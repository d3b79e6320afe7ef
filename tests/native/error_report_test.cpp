// The finish page's error text for each kind of ErrorState.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/globals.h"
#include "tests/text_fixture.h"
#include "ui/error_report.h"

namespace {

class ErrorReport : public ::testing::Test {
 protected:
  void SetUp() override {
    texts_.set(5, 4, "Setup failed: %s");
    texts_.set(6, 15, "Setup was cancelled.");
    texts_.set(6, 16, "Cannot open %s.");
    texts_.set(6, 21, "The data of %s is damaged.");
    std::strcpy(MessageArgument, "C:\\Kestrel\\X.dll");
  }
  void TearDown() override { MessageArgument[0] = '\0'; }
  static std::string report(int32_t state, const char* system_text = "", size_t capacity = 1024) {
    std::vector<char> out(capacity, '#');
    format_error_report(out.data(), capacity, state, system_text);
    return out.data();
  }
  TextFixture texts_;
};

TEST_F(ErrorReport, ACodeShowsItsTextWithTheFileInsideTheErrorFormat) {
  EXPECT_EQ("Setup failed: Cannot open C:\\Kestrel\\X.dll.", report(16));
  EXPECT_EQ("Setup failed: The data of C:\\Kestrel\\X.dll is damaged.", report(21));
  EXPECT_EQ("Setup failed: ", report(40));  // no such text: an empty description
  // The system's text belongs to code 1000 only.
  EXPECT_EQ("Setup failed: Cannot open C:\\Kestrel\\X.dll.", report(16, "Access is denied."));
}

TEST_F(ErrorReport, ACancelShowsTheCancelNoticeAlone) {
  EXPECT_EQ("Setup was cancelled.", report(15, "Access is denied."));
}

TEST_F(ErrorReport, ASystemErrorShowsTheFileAndTheSystemsWording) {
  EXPECT_EQ("Setup failed: C:\\Kestrel\\X.dll: Access is denied.\r\n", report(1000, "Access is denied.\r\n"));
  // Percent signs in the system's or the file's text are not conversions.
  std::strcpy(MessageArgument, "C:\\100%s.txt");
  EXPECT_EQ("Setup failed: C:\\100%s.txt: Insert %1.", report(1000, "Insert %1."));
}

TEST_F(ErrorReport, ArchiveTextsCannotPullMoreArgumentsOrOverrun) {
  texts_.set(5, 4, "%s|%s|%d|%%");
  EXPECT_EQ("Cannot open C:\\Kestrel\\X.dll.||%d|%", report(16));
  texts_.set(5, 4, "Setup failed: %s");
  EXPECT_EQ("Setup failed: Cann", report(16, "", 19));
  // A system text longer than the description's buffer is cut, not overrun.
  std::string endless(5000, 's');
  std::string cut = report(1000, endless.c_str(), 4096);
  EXPECT_EQ(std::string("Setup failed: C:\\Kestrel\\X.dll: "), cut.substr(0, 32));
  EXPECT_EQ(14u + 1023u, cut.size());
}

}  // namespace
