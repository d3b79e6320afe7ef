// The finish page (error report, restart decision, open button and run
// check box), the closing page and the restart dialog, each run as a real
// dialog from an in-memory template.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "install/destination.h"
#include "install/document_opener.h"
#include "install/engine.h"
#include "tests/text_fixture.h"
#include "tests/win32/dialog_template.h"
#include "tests/win32/page_stand_ins.h"
#include "ui/finish_page.h"
#include "ui/main_windows.h"
#include "ui/pages.h"
#include "ui/sequencer.h"

// Stand-ins for the engine: the document item lies at DocumentPath, and
// opened documents are recorded.
std::string DocumentPath = "C:\\kestrel-finish-readme.txt";
std::vector<std::string> Opened;

int item_destination(const uint8_t*) {
  lstrcpyA(DestPath, DocumentPath.c_str());
  return 0;
}
uint32_t open_document(const char* target, const char* extension) {
  Opened.push_back(std::string(target) + "|" + extension);
  return 33;
}

namespace {

const uint8_t kSomeItem[kEntryFixedSize + 6] = {};

class FinishPage : public ::testing::Test {
 protected:
  void SetUp() override {
    HANDLE file = CreateFileA(DocumentPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    texts_.set(5, 1, "Setup is complete.");
    texts_.set(5, 4, "Setup failed: %s");
    texts_.set(6, 16, "Cannot open %s.");
    lstrcpyA(MessageArgument, "C:\\X.dll");
    // Page set-up is a stand-in here and fills no texts: control 1000 starts
    // with the text 5/1 that page set-up would give it.
    template_.add(DialogTemplate::kStatic, 1000, WS_VISIBLE, 0, 0, 240, 36, L"Setup is complete.")
        .add(DialogTemplate::kStatic, 1001, WS_VISIBLE, 0, 40, 240, 32)
        .add(DialogTemplate::kStatic, 1002, WS_VISIBLE, 0, 76, 240, 32)
        .add(DialogTemplate::kStatic, 1003, WS_VISIBLE, 0, 112, 240, 10)
        .add(DialogTemplate::kButton, 1014, BS_PUSHBUTTON, 0, 128, 80, 14)
        .add(DialogTemplate::kButton, 1015, BS_AUTOCHECKBOX, 0, 146, 240, 10);
  }
  void TearDown() override {
    if (page_) DestroyWindow(page_);
    DeleteFileA(DocumentPath.c_str());
    ErrorState = 0;
    RestartNeeded = false;
    forget_role_items();
    RunProgramOption = true;
    PageResult = 0;
    StartPageNumber = 0xFFFF;
    Opened.clear();
    MessageArgument[0] = '\0';
  }
  void open() {
    // A popup parent stands in for the container; the page is its child.
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    page_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), template_.get(), parent_, finish_page_proc, 0);
    ASSERT_NE(nullptr, page_);
  }
  std::string text(int id) {
    char buffer[1024] = "";
    GetDlgItemTextA(page_, id, buffer, sizeof buffer);
    return buffer;
  }
  bool visible(int id) { return GetWindowLongA(GetDlgItem(page_, id), GWL_STYLE) & WS_VISIBLE; }
  RECT rect(int id) {
    RECT r;
    GetWindowRect(GetDlgItem(page_, id), &r);
    return r;
  }
  // The page's answer to a button, as the container reads it.
  LONG_PTR command(int id) {
    SetWindowLongPtrA(page_, DWLP_MSGRESULT, 0);
    SendMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    return GetWindowLongPtrA(page_, DWLP_MSGRESULT);
  }

  TextFixture texts_;
  DialogTemplate template_{DS_CONTROL | WS_CHILD, 240, 160};
  HWND parent_ = nullptr;
  HWND page_ = nullptr;
};

TEST_F(FinishPage, AnErrorIsReportedInTheMainTextAndCancelsEverythingAfterwards) {
  texts_.set(5, 8, "Restart after every run");
  ErrorState = 16;
  DocumentItem = ProgramItem = ScreenSaverItem = kSomeItem;
  open();
  EXPECT_EQ(0x102u, LastButtonMask);
  EXPECT_EQ("Setup failed: Cannot open C:\\X.dll.", text(1000));
  EXPECT_FALSE(visible(1001));
  EXPECT_FALSE(visible(1002));
  EXPECT_FALSE(visible(1014));
  EXPECT_FALSE(visible(1015));
  // The main text reaches down to the page's bottom, below the hidden
  // offers too: a rollback's list of files in use leaves room for what to
  // do about them.
  RECT page;
  GetClientRect(page_, &page);
  MapWindowPoints(page_, nullptr, reinterpret_cast<POINT*>(&page), 2);
  EXPECT_EQ(page.bottom, rect(1000).bottom);
  EXPECT_FALSE(RestartNeeded);
  EXPECT_EQ(nullptr, DocumentItem);
  EXPECT_EQ(nullptr, ProgramItem);
  EXPECT_EQ(nullptr, ScreenSaverItem);
  EXPECT_TRUE(Opened.empty());
}

TEST_F(FinishPage, AnItemThatWasNotPlacedFailsTheInstallationAndSuppressesTheRestart) {
  std::vector<uint8_t> list(2 * (kEntryFixedSize + 6), 0);
  for (int k = 0; k < 2; ++k) list[k * (kEntryFixedSize + 6)] = kEntryFixedSize + 6;  // entry lengths
  list[kEntryFixedSize + 6 + kEntryStatus] = 27;
  CurrentFirstEntry = list.data();
  CurrentFileCount = 2;
  texts_.set(5, 8, "Restart");
  texts_.set(6, 22, "Cannot replace %s.");
  RestartNeeded = true;
  open();
  CurrentFirstEntry = nullptr;
  CurrentFileCount = 0;
  EXPECT_EQ(22, ErrorState);
  EXPECT_EQ("Setup failed: Cannot replace C:\\X.dll.", text(1000));
  EXPECT_FALSE(RestartNeeded);
}

TEST_F(FinishPage, ARestartTextAsksForARestartAndWithdrawsTheRunOffer) {
  texts_.set(5, 6, "Run it now");
  texts_.set(5, 8, "Windows will restart");
  ProgramItem = kSomeItem;
  open();
  EXPECT_TRUE(RestartNeeded);
  EXPECT_FALSE(visible(1015));
  EXPECT_EQ("Setup is complete.", text(1000));
}

TEST_F(FinishPage, TheRunCheckBoxMovesUpWhenNothingElseIsOffered) {
  texts_.set(5, 3, "Tick to start the program.");
  texts_.set(5, 6, "Run it now");
  ProgramItem = kSomeItem;
  open();
  ASSERT_TRUE(visible(1015));
  EXPECT_EQ("Run it now", text(1015));
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page_, 1015));
  EXPECT_EQ(rect(1014).top, rect(1015).top);
  EXPECT_EQ("Tick to start the program.", text(1001));
  EXPECT_EQ("", text(1002));
  EXPECT_FALSE(visible(1014));
  // Clearing the box clears the option; the page stays.
  CheckDlgButton(page_, 1015, BST_UNCHECKED);
  EXPECT_EQ(1, command(1015));
  EXPECT_FALSE(RunProgramOption);
  EXPECT_EQ(0, PageResult);
}

TEST_F(FinishPage, TheOpenButtonOpensTheDocumentOnRequest) {
  texts_.set(5, 2, "Read the notes.");
  texts_.set(5, 5, "Open notes");
  texts_.set(5, 6, "Run it now");
  DocumentItem = ProgramItem = kSomeItem;
  open();
  EXPECT_TRUE(visible(1014));
  EXPECT_EQ("Open notes", text(1014));
  EXPECT_TRUE(Opened.empty());
  // The check box stays where it is: a button is shown above it.
  EXPECT_TRUE(visible(1015));
  EXPECT_GT(rect(1015).top, rect(1014).top);
  EXPECT_EQ(1, command(1014));
  ASSERT_EQ(1u, Opened.size());
  EXPECT_EQ(DocumentPath + "|.txt", Opened[0]);
  EXPECT_EQ(0, PageResult);
}

TEST_F(FinishPage, WithoutAButtonCaptionTheDocumentOpensAtOnce) {
  DocumentItem = kSomeItem;
  open();
  EXPECT_FALSE(visible(1014));
  ASSERT_EQ(1u, Opened.size());
  EXPECT_EQ(DocumentPath + "|.txt", Opened[0]);
}

TEST_F(FinishPage, AMissingDocumentIsNotOpened) {
  DocumentItem = kSomeItem;
  DeleteFileA(DocumentPath.c_str());
  open();
  EXPECT_TRUE(Opened.empty());
}

TEST_F(FinishPage, NextAndCancelLeadToTheClosingPage) {
  open();
  EXPECT_EQ(1, command(IDOK));
  EXPECT_EQ(kPageToClosing, PageResult);
  PageResult = 0;
  EXPECT_EQ(1, command(IDCANCEL));
  EXPECT_EQ(kPageToClosing, PageResult);
}

TEST_F(FinishPage, SinglePageModeOffersWhateverHasAText) {
  StartPageNumber = 6;
  texts_.set(5, 5, "Open notes");
  texts_.set(5, 6, "Run it now");
  open();
  EXPECT_TRUE(visible(1014));
  EXPECT_TRUE(visible(1015));
}

class OtherDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    texts_.set(6, 0, "Kestrel Setup");
    texts_.set(7, 2, "No");
    texts_.set(7, 6, "Restart now");
    texts_.set(5, 7, "Windows must restart.");
    FrameWindow = CreateWindowExA(0, "STATIC", "frame", WS_POPUP | WS_VISIBLE, 100, 50, 600, 400, nullptr, nullptr,
                                  nullptr, nullptr);
    ContainerDialog = CreateWindowExA(0, "STATIC", "container", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                      nullptr, nullptr);
  }
  void TearDown() override {
    DestroyWindow(ContainerDialog);
    DestroyWindow(FrameWindow);
    ContainerDialog = FrameWindow = nullptr;
    SetupFlags = 0;
    PageResult = 0;
    Opened.clear();
  }
  static std::string caption(HWND window) {
    char buffer[256] = "";
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
  }
  TextFixture texts_;
};

TEST_F(OtherDialogs, TheClosingPageGivesItsCaptionAndEndsWithTheButtonPressed) {
  DialogTemplate closing(DS_CONTROL | WS_CHILD, 240, 160);
  closing.add(DialogTemplate::kStatic, 1005, WS_VISIBLE, 28, 4, 212, 10, L"Done")
      .add(DialogTemplate::kButton, 1006, BS_PUSHBUTTON, 95, 140, 50, 14);
  for (uint32_t flags : {0u, 1u}) {
    SetupFlags = flags;
    HWND page = CreateDialogIndirectParamA(nullptr, closing.get(), ContainerDialog, closing_page_proc, 0);
    ASSERT_NE(nullptr, page);
    EXPECT_EQ(0x104u, LastButtonMask);
    EXPECT_EQ("Done", caption(flags ? ContainerDialog : FrameWindow));
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(1006, BN_CLICKED), 0);
    EXPECT_EQ(0, PageResult);
    ASSERT_EQ(1u, Opened.size());
    EXPECT_NE(std::string::npos, Opened[0].find("|.htm"));
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(kPageToClosing, PageResult);
    PageResult = 0;
    Opened.clear();
    DestroyWindow(page);
  }
}

TEST_F(OtherDialogs, TheClosingCaptionIsCutAt98Characters) {
  DialogTemplate closing(DS_CONTROL | WS_CHILD, 240, 160);
  std::wstring long_caption(150, L'c');
  closing.add(DialogTemplate::kStatic, 1005, WS_VISIBLE, 28, 4, 212, 10, long_caption.c_str());
  HWND page = CreateDialogIndirectParamA(nullptr, closing.get(), ContainerDialog, closing_page_proc, 0);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ(std::string(98, 'c'), caption(FrameWindow));
  DestroyWindow(page);
}

TEST_F(OtherDialogs, TheRestartDialogIsCentredInTheFrameWithItsTexts) {
  DialogTemplate restart(WS_POPUP | WS_CAPTION, 220, 70);
  restart.add(DialogTemplate::kStatic, 1000, WS_VISIBLE, 7, 7, 206, 36)
      .add(DialogTemplate::kButton, 1, BS_DEFPUSHBUTTON | WS_VISIBLE, 108, 49, 50, 14)
      .add(DialogTemplate::kButton, 2, BS_PUSHBUTTON | WS_VISIBLE, 163, 49, 50, 14);
  HWND dialog = CreateDialogIndirectParamA(nullptr, restart.get(), FrameWindow, restart_dialog_proc, 0);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ("Kestrel Setup", caption(dialog));
  EXPECT_EQ("Restart now", caption(GetDlgItem(dialog, 1)));
  EXPECT_EQ("No", caption(GetDlgItem(dialog, 2)));
  EXPECT_EQ("Windows must restart.", caption(GetDlgItem(dialog, 1000)));
  RECT frame, own;
  GetClientRect(FrameWindow, &frame);
  GetClientRect(dialog, &own);
  RECT placed;
  GetWindowRect(dialog, &placed);
  EXPECT_EQ(100 + (frame.right - own.right) / 2, placed.left);
  EXPECT_EQ(50 + (frame.bottom - own.bottom) / 2, placed.top);
  DestroyWindow(dialog);
}

}  // namespace
