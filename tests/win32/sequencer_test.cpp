// The wizard's page sequence on real modeless dialogs: which page follows
// each page result, and what happens to a page that cannot be made, a
// template that is missing and a WM_QUIT that arrives while a page runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/config.h"
#include "tests/win32/dialog_template.h"
#include "ui/main_windows.h"
#include "ui/sequencer.h"

namespace {

// What a page does once it is shown: end with a page result, post WM_QUIT,
// or jump with continue_at.
enum : int { kPostQuit = -1, kJump = -2 };
struct Step {
  int page;    // page the step belongs to (checked)
  int result;  // PageResult, kPostQuit or kJump
  int jump_to = 0;
};

std::vector<Step> script;
struct Visit {
  int page;
  HWND window;
};
std::vector<Visit> visits;
enum : UINT { kEndPage = WM_APP + 1 };

// Every page of the test's table: on creation it records itself and posts
// what the script says, so that the page ends from inside run_page's loop
// as a button press would end it. An unscripted page goes to the closing
// page, which ends the wizard: a faulty sequence cannot loop for ever.
INT_PTR CALLBACK page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    visits.push_back({CurrentPage, page});
    Step step = {CurrentPage, kPageToClosing};
    if (!script.empty() && visits.size() < 40) {
      step = script.front();
      script.erase(script.begin());
    }
    EXPECT_EQ(step.page, CurrentPage) << "the script expected another page";
    if (step.result == kPostQuit)
      PostQuitMessage(0);
    else
      PostMessageA(page, kEndPage, static_cast<WPARAM>(step.result), step.jump_to);
    return TRUE;
  }
  if (message == kEndPage) {
    if (static_cast<int>(wparam) == kJump)
      continue_at(static_cast<int>(lparam));
    else
      PageResult = static_cast<int>(wparam);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK container_proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Template numbers: page n uses template n; 8 is a template whose control
// class does not exist, so the dialog cannot be created; 9 is absent from
// the store (offset 0).
enum : int { kUncreatable = 8, kMissing = 9, kTemplateCount = 10 };

std::vector<uint8_t> store;

// A child dialog with one control: a static text, or one of a window class
// that does not exist, which makes CreateDialogIndirectParamA fail.
std::vector<uint8_t> template_bytes(bool creatable) {
  std::vector<uint16_t> words;
  auto dword = [&](DWORD v) { words.insert(words.end(), {LOWORD(v), HIWORD(v)}); };
  dword(WS_CHILD | DS_CONTROL);
  dword(0);
  words.insert(words.end(), {1, 0, 0, 100, 40, 0, 0, 0});  // one control; no menu, class or title
  dword(WS_CHILD | WS_VISIBLE);
  dword(0);
  words.insert(words.end(), {4, 4, 80, 10, 100});
  if (creatable) {
    words.insert(words.end(), {0xFFFF, 0x0082});
  } else {
    for (const wchar_t* c = L"KestrelNoSuchClass"; *c; ++c) words.push_back(static_cast<uint16_t>(*c));
    words.push_back(0);
  }
  words.insert(words.end(), {0, 0});  // empty text, no creation data
  const uint8_t* w = reinterpret_cast<const uint8_t*>(words.data());
  return std::vector<uint8_t>(w, w + 2 * words.size());
}

void build_store() {
  store.assign(4 * kTemplateCount, 0);
  for (int n = 0; n < kTemplateCount; ++n) {
    if (n == kMissing) continue;
    uint32_t offset = static_cast<uint32_t>(store.size());
    std::memcpy(&store[4 * n], &offset, 4);
    std::vector<uint8_t> t = template_bytes(n != kUncreatable);
    store.insert(store.end(), t.begin(), t.end());
    while (store.size() % 4) store.push_back(0);
  }
  DialogTemplateStore = store.data();
  DialogTemplateStoreLength = static_cast<uint32_t>(store.size());
}

class Sequencer : public ::testing::Test {
 protected:
  void SetUp() override {
    build_store();
    DialogTemplate container(WS_POPUP | DS_CONTROL, 200, 100);
    ContainerDialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), container.get(), nullptr, container_proc, 0);
    ASSERT_NE(nullptr, ContainerDialog);
    for (int n = 0; n < kPageCount; ++n) table[n] = WizardPage{n, 0, page_proc};
    StartPageNumber = 0xFFFF;
    script.clear();
    visits.clear();
  }
  void TearDown() override {
    DestroyWindow(ContainerDialog);
    ContainerDialog = nullptr;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // The pages shown, in order, by one run of the whole sequence.
  std::vector<int> run(std::vector<Step> steps) {
    script = std::move(steps);
    run_wizard(table);
    EXPECT_TRUE(script.empty()) << "the wizard ended before the script did";
    EXPECT_EQ(-1, CurrentPage);
    std::vector<int> pages;
    for (const Visit& v : visits) pages.push_back(v.page);
    return pages;
  }

  WizardPage table[kPageCount];
};

using Pages = std::vector<int>;

TEST_F(Sequencer, NextWalksEveryPageAndNextOrClosingOnTheLastPageEnds) {
  std::vector<Step> all_next;
  for (int n = 0; n < kPageCount; ++n) all_next.push_back({n, kPageNext});
  EXPECT_EQ((Pages{0, 1, 2, 3, 4, 5, 6, 7}), run(all_next));
  // Each page's window is gone once the next one is shown.
  for (const Visit& v : visits) EXPECT_FALSE(IsWindow(v.window));

  visits.clear();
  EXPECT_EQ((Pages{0, 7}), run({{0, kPageToClosing}, {7, kPageToClosing}}));
}

TEST_F(Sequencer, ClosingResultFromAnyEarlierPageSkipsStraightToTheClosingPage) {
  EXPECT_EQ((Pages{0, 1, 2, 3, 7}),
            run({{0, kPageNext}, {1, kPageNext}, {2, kPageNext}, {3, kPageToClosing}, {7, kPageNext}}));
}

TEST_F(Sequencer, BackGoesToThePreviousPageAndOnPageZeroShowsPageZeroAgain) {
  EXPECT_EQ((Pages{0, 0, 1, 2, 1, 0, 0, 7}), run({{0, kPageBack},
                                                  {0, kPageNext},
                                                  {1, kPageNext},
                                                  {2, kPageBack},
                                                  {1, kPageBack},
                                                  {0, kPageBack},
                                                  {0, kPageToClosing},
                                                  {7, kPageNext}}));
  // The repeated page 0 is a new dialog each time.
  EXPECT_NE(visits[0].window, visits[1].window);
}

TEST_F(Sequencer, AnyOtherResultShowsTheSamePageAgainAsANewDialog) {
  EXPECT_EQ((Pages{0, 0, 0, 1, 7}), run({{0, 3}, {0, 1006}, {0, kPageNext}, {1, kPageToClosing}, {7, kPageNext}}));
  EXPECT_NE(visits[0].window, visits[1].window);
  EXPECT_NE(visits[1].window, visits[2].window);
}

TEST_F(Sequencer, ContinueAtLandsOnTheNamedPage) {
  EXPECT_EQ((Pages{0, 4, 2, 7}), run({{0, kJump, 4}, {4, kJump, 2}, {2, kPageToClosing}, {7, kPageNext}}));
}

TEST_F(Sequencer, MissingTemplateIsPassedOverAsIfNextWasPressed) {
  table[1].template_number = kMissing;
  EXPECT_EQ(kPageNext, run_page(kMissing, page_proc));
  EXPECT_EQ((Pages{0, 2, 7}), run({{0, kPageNext}, {2, kPageToClosing}, {7, kPageNext}}));
}

TEST_F(Sequencer, PageThatCannotBeCreatedLeadsToTheClosingPage) {
  EXPECT_EQ(kPageToClosing, run_page(kUncreatable, page_proc));
  table[3].template_number = kUncreatable;
  // Page 3 is never shown; the closing page follows page 2.
  EXPECT_EQ((Pages{0, 1, 2, 7}), run({{0, kPageNext}, {1, kPageNext}, {2, kPageNext}, {7, kPageNext}}));
}

TEST_F(Sequencer, ClosingPageThatCannotBeCreatedEndsTheWizard) {
  table[7].template_number = kUncreatable;
  EXPECT_EQ((Pages{0}), run({{0, kPageToClosing}}));
  // Neither a broken page nor the closing page after it: the wizard ends.
  visits.clear();
  table[3].template_number = kUncreatable;
  EXPECT_EQ((Pages{0, 1, 2}), run({{0, kPageNext}, {1, kPageNext}, {2, kPageNext}}));
}

TEST_F(Sequencer, QuitMessageEndsThePageAsCancelAndIsNotPostedAgain) {
  // The closing page is shown twice (result 3): a WM_QUIT posted again
  // would have ended it at once instead.
  EXPECT_EQ((Pages{0, 1, 7, 7}), run({{0, kPageNext}, {1, kPostQuit}, {7, 3}, {7, kPageNext}}));
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(Sequencer, SinglePageModeShowsOnlyTheStartPageWhateverItsResult) {
  for (int result : std::vector<int>{kPageNext, kPageToClosing, kPageBack, 3}) {
    visits.clear();
    StartPageNumber = 5;
    EXPECT_EQ((Pages{5}), run({{5, result}})) << "result " << result;
  }
  visits.clear();
  StartPageNumber = 5;
  EXPECT_EQ((Pages{5}), run({{5, kPostQuit}}));
}

TEST_F(Sequencer, StartPageOutsideTheTableShowsNothing) {
  StartPageNumber = 8;
  EXPECT_EQ((Pages{}), run({}));
}

}  // namespace
