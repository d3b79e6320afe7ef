// The destination page's figures and folder handling, and the ready page,
// each run as a real dialog from an in-memory template.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "base/globals.h"
#include "base/platform.h"
#include "install/destination.h"
#include "tests/text_fixture.h"
#include "tests/win32/dialog_template.h"
#include "tests/win32/page_stand_ins.h"
#include "ui/disk_space.h"
#include "ui/folder_browser.h"
#include "ui/main_windows.h"
#include "ui/pages.h"
#include "ui/sequencer.h"

// Stand-ins: items lie in InstallDir under their names; the folder browser
// answers with BrowseAnswer (or cancels when it is empty).
int item_destination(const uint8_t* entry) {
  lstrcpyA(DestPath, InstallDir);
  lstrcatA(DestPath, entry_string(entry, 0));
  return 0;
}
// Message boxes: each text is kept and answered Yes.
std::vector<std::string> BoxTexts;
int message_box(const char* text, unsigned) {
  BoxTexts.push_back(text);
  return kIdYes;
}
std::string BrowseAnswer;
int browse_for_folder(HWND, char* path) {
  if (BrowseAnswer.empty()) return 0;
  lstrcpyA(path, BrowseAnswer.c_str());
  return 1;
}

namespace {

const char kFolder[] = "C:\\KestrelDestination";

class DestinationPage : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryA(MAX_PATH, saved_directory_);
    CreateDirectoryA(kFolder, nullptr);
    texts_.set(2, 2, "Text two");
    texts_.set(2, 5, "Required:");
    texts_.set(2, 6, "Free:");
    texts_.set(2, 7, "%d MB");
    texts_.set(1, 1, "Licence");
    record_flags(0x02);
    SetupTypeCount = 1;
    lstrcpyA(InstallDir, "C:\\KestrelDestination\\");
    template_.add(DialogTemplate::kStatic, 1001, WS_VISIBLE, 0, 28, 240, 24)
        .add(DialogTemplate::kStatic, 1002, WS_VISIBLE, 0, 102, 240, 16)
        .add(DialogTemplate::kStatic, 1003, WS_VISIBLE, 0, 150, 240, 10)
        .add(DialogTemplate::kEdit, 1004, WS_VISIBLE | ES_AUTOHSCROLL | WS_BORDER, 8, 74, 168, 13)
        .add(DialogTemplate::kButton, 1005, WS_VISIBLE, 182, 73, 50, 14)
        .add(DialogTemplate::kStatic, 1016, WS_VISIBLE, 106, 124, 134, 8)
        .add(DialogTemplate::kStatic, 1017, WS_VISIBLE, 0, 124, 100, 8)
        .add(DialogTemplate::kStatic, 1018, WS_VISIBLE, 0, 136, 100, 8)
        .add(DialogTemplate::kStatic, 1019, WS_VISIBLE, 106, 136, 134, 8);
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    ContainerDialog = parent_;
  }
  void TearDown() override {
    if (page_) DestroyWindow(page_);
    DestroyWindow(parent_);
    ContainerDialog = nullptr;
    SetCurrentDirectoryA(saved_directory_);  // Next enters the folder
    RemoveDirectoryA(kFolder);
    CurrentFirstEntry = nullptr;
    CurrentFileCount = 0;
    SetupTypeCount = 0;
    CurrentPage = -1;
    PageResult = 0;
    InstallDir[0] = '\0';
    BrowseAnswer.clear();
    BoxTexts.clear();
    ReadOnlyFilesFound = false;
  }
  // Bit 1 of the current record's flags: the folder may change.
  void record_flags(uint16_t flags) { texts_.record().flags = flags; }
  void items(uint32_t count, uint32_t size) {
    list_.clear();
    for (uint32_t i = 0; i < count; ++i) {
      std::vector<uint8_t> entry(kEntryFixedSize, 0);
      const char name[] = "item.bin";
      entry.insert(entry.end(), name, name + sizeof name);
      entry.insert(entry.end(), 5, 0);
      entry[0] = static_cast<uint8_t>(entry.size());
      for (int b = 0; b < 4; ++b) entry[kEntrySize + b] = (size >> (8 * b)) & 0xFF;
      list_.insert(list_.end(), entry.begin(), entry.end());
    }
    CurrentFirstEntry = list_.data();
    CurrentFileCount = count;
  }
  void open(DLGPROC procedure = destination_page_proc) {
    page_ = CreateDialogIndirectParamA(nullptr, template_.get(), parent_, procedure, 0);
    ASSERT_NE(nullptr, page_);
  }
  std::string text(int id) {
    char buffer[1024] = "";
    GetDlgItemTextA(page_, id, buffer, sizeof buffer);
    return buffer;
  }
  LONG_PTR command(int id) {
    SetWindowLongPtrA(page_, DWLP_MSGRESULT, 0);
    SendMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    return GetWindowLongPtrA(page_, DWLP_MSGRESULT);
  }

  TextFixture texts_;
  char saved_directory_[MAX_PATH] = "";
  std::vector<uint8_t> list_;
  DialogTemplate template_{DS_CONTROL | WS_CHILD, 240, 160};
  HWND parent_ = nullptr;
  HWND page_ = nullptr;
};

TEST_F(DestinationPage, ShowsTheFolderAndTheRequiredSpaceInWholeMegabytes) {
  items(1, 1);
  open();
  EXPECT_EQ(7u, LastButtonMask);
  EXPECT_EQ("C:\\KestrelDestination", text(1004));
  EXPECT_EQ("Required:", text(1017));
  EXPECT_EQ("Free:", text(1018));
  EXPECT_EQ("1 MB", text(1016));  // one 32 KiB unit, rounded up
  DestroyWindow(page_);
  items(40, 1);  // 40 x 32 KiB = 1.25 MiB
  open();
  EXPECT_EQ("2 MB", text(1016));
  DestroyWindow(page_);
  items(32, 32768);  // exactly 1 MiB
  open();
  EXPECT_EQ("1 MB", text(1016));
  DestroyWindow(page_);
  items(0, 0);
  open();
  EXPECT_EQ("0 MB", text(1016));
  // The free space is that of the drive, in megabytes rounded up.
  uint32_t kb = free_space_kb("C:\\");
  ASSERT_NE(0xFFFFFFFFu, kb);
  std::string free_text = text(1019);
  long shown = std::strtol(free_text.c_str(), nullptr, 10);
  EXPECT_NEAR(static_cast<double>((kb + 1023) / 1024), static_cast<double>(shown), 2.0);
  EXPECT_NE(std::string::npos, free_text.find(" MB"));
}

TEST_F(DestinationPage, ADriveRootKeepsItsBackslash) {
  lstrcpyA(InstallDir, "D:\\");
  open();
  EXPECT_EQ("D:\\", text(1004));
}

TEST_F(DestinationPage, AFixedFolderCannotBeEditedOrBrowsed) {
  record_flags(0);
  open();
  EXPECT_TRUE(GetWindowLongA(GetDlgItem(page_, 1004), GWL_STYLE) & ES_READONLY);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page_, 1005)));
}

TEST_F(DestinationPage, TheNumberFormatCannotPullMoreArguments) {
  texts_.set(2, 7, "%s %d of %d (%%) %x");
  items(1, 1);
  open();
  EXPECT_EQ("%s 1 of  (%) %x", text(1016));
}

TEST_F(DestinationPage, BrowseReplacesTheFieldOnlyWhenAFolderIsChosen) {
  open();
  BrowseAnswer = "C:\\Chosen\\";
  EXPECT_EQ(0, command(1005));  // left to the container
  EXPECT_EQ("C:\\Chosen", text(1004));
  EXPECT_EQ("C:\\Chosen", std::string(InstallDir));
  BrowseAnswer.clear();
  SetDlgItemTextA(page_, 1004, "C:\\Typed\\");
  command(1005);
  EXPECT_EQ("C:\\Typed", text(1004));
}

TEST_F(DestinationPage, BackGoesToTheLicenceOrWelcomeOrSetupTypePage) {
  open();
  EXPECT_EQ(1, command(1007));
  EXPECT_EQ(kPageNext, PageResult);
  EXPECT_EQ(0, CurrentPage);  // the licence page next
  EXPECT_EQ("C:\\KestrelDestination\\", std::string(InstallDir));
  texts_.set(1, 1, "");
  PageResult = 0;
  command(1007);
  EXPECT_EQ(-1, CurrentPage);  // the welcome page next
  SetupTypeCount = 3;
  PageResult = 0;
  command(1007);
  EXPECT_EQ(1, CurrentPage);  // the setup type page next
}

TEST_F(DestinationPage, NextWithAnExistingFolderAndRoomMovesOn) {
  items(2, 100);
  open();
  SetDlgItemTextA(page_, 1004, "C:\\KestrelDestination\\");
  EXPECT_EQ(0, command(IDOK));  // the container moves to the ready page
  EXPECT_EQ("C:\\KestrelDestination\\", std::string(InstallDir));
  EXPECT_EQ(0, PageResult);
}

// A folder of 259 characters, the most a path holds, leaves no room for the
// backslash that every path below it needs: it is refused as a folder that
// cannot be created, and nothing is written past InstallDir.
TEST_F(DestinationPage, AFolderWithNoRoomForItsBackslashIsRefused) {
  texts_.set(6, 5, "Cannot be created.");
  texts_.set(6, 6, "Create it?");
  open();
  std::string folder = std::string(kFolder) + "\\" + std::string(kPathSize - 1 - sizeof kFolder, 'k');
  ASSERT_EQ(kPathSize - 1, folder.size());
  SetDlgItemTextA(page_, 1004, folder.c_str());
  EXPECT_EQ(1, command(IDOK));  // the page stays
  EXPECT_EQ(folder, std::string(InstallDir, strnlen(InstallDir, kPathSize)));
  EXPECT_EQ((std::vector<std::string>{"Create it?", "Cannot be created."}), BoxTexts);
  EXPECT_EQ(0, PageResult);
}

TEST_F(DestinationPage, ARelativeFolderIsMadeAbsolute) {
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  open();
  SetDlgItemTextA(page_, 1004, "KestrelDestination");
  EXPECT_EQ(0, command(IDOK));
  EXPECT_STRCASEEQ("C:\\KestrelDestination\\", InstallDir);
}

TEST_F(DestinationPage, TheReadyPageShowsTheFolderAndItsNextCaption) {
  texts_.set(3, 2, "Ready to install into %s.");
  open(ready_page_proc);
  EXPECT_EQ(7u, LastButtonMask);
  EXPECT_EQ("Ready to install into C:\\KestrelDestination.", text(1001));
  EXPECT_EQ(IDOK, LastCaptionButton);
  EXPECT_EQ(3, LastCaptionText);
  // Without read-only files Next is the container's.
  EXPECT_EQ(0, command(IDOK));
}

}  // namespace
