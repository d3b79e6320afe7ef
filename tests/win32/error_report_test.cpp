// The finish page's error text for each kind of ErrorState.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/globals.h"
#include "install/engine.h"
#include "tests/win32/text_fixture.h"
#include "ui/error_report.h"

namespace {

class ErrorReport : public ::testing::Test {
 protected:
  void SetUp() override {
    texts_.set(5, 4, "Setup failed: %s");
    texts_.set(6, 15, "Setup was cancelled.");
    texts_.set(6, 16, "Cannot open %s.");
    texts_.set(6, 21, "The data of %s is damaged.");
    lstrcpyA(MessageArgument, "C:\\Kestrel\\X.dll");
  }
  void TearDown() override {
    ErrorState = 0;
    SavedSystemError = 0;
    MessageArgument[0] = '\0';
  }
  std::string report(size_t capacity = 1024) {
    std::vector<char> out(capacity, '#');
    format_error_report(out.data(), capacity);
    return out.data();
  }
  TextFixture texts_;
};

TEST_F(ErrorReport, ACodeShowsItsTextWithTheFileInsideTheErrorFormat) {
  ErrorState = 16;
  EXPECT_EQ("Setup failed: Cannot open C:\\Kestrel\\X.dll.", report());
  ErrorState = 21;
  EXPECT_EQ("Setup failed: The data of C:\\Kestrel\\X.dll is damaged.", report());
  ErrorState = 40;  // no such text: an empty description
  EXPECT_EQ("Setup failed: ", report());
}

TEST_F(ErrorReport, ACancelShowsTheCancelNoticeAlone) {
  ErrorState = 15;
  EXPECT_EQ("Setup was cancelled.", report());
}

TEST_F(ErrorReport, ASystemErrorShowsTheFileAndTheSystemsWording) {
  ErrorState = 1000;
  SavedSystemError = ERROR_ACCESS_DENIED;
  char wording[512] = "";
  ASSERT_NE(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wording,
                               sizeof wording, nullptr));
  EXPECT_EQ(std::string("Setup failed: C:\\Kestrel\\X.dll: ") + wording, report());
  SavedSystemError = ERROR_FILE_NOT_FOUND;
  EXPECT_NE(std::string("Setup failed: C:\\Kestrel\\X.dll: ") + wording, report());
}

TEST_F(ErrorReport, ArchiveTextsCannotPullMoreArgumentsOrOverrun) {
  texts_.set(5, 4, "%s|%s|%d|%%");
  ErrorState = 16;
  EXPECT_EQ("Cannot open C:\\Kestrel\\X.dll.||%d|%", report());
  texts_.set(5, 4, "Setup failed: %s");
  EXPECT_EQ("Setup failed: Cann", report(19));
}

}  // namespace
