// The progress page drives the installation from its timer: as many items
// per tick as a short budget allows, never two at once, then the final
// step.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/patch.h"
#include "base/globals.h"
#include "base/platform.h"
#include "install/engine.h"
#include "install/engine_reports.h"
#include "tests/win32/box_driver.h"
#include "tests/win32/dialog_template.h"
#include "tests/win32/page_stand_ins.h"
#include "ui/frame_window.h"
#include "ui/main_windows.h"
#include "ui/pages.h"
#include "ui/progress_display.h"
#include "ui/sequencer.h"

// The delays with which timer 11 is armed, as the page hands them to
// SetTimer: the call goes through its import slot, which this definition,
// linked before the import library, fills.
std::vector<UINT> InstallTimerDelays;
extern "C" UINT_PTR WINAPI record_set_timer(HWND window, UINT_PTR id, UINT delay, TIMERPROC procedure) {
  if (id == 11) InstallTimerDelays.push_back(delay);
  static auto real = reinterpret_cast<UINT_PTR(WINAPI*)(HWND, UINT_PTR, UINT, TIMERPROC)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetTimer")));
  return real(window, id, delay, procedure);
}
#ifdef _WIN64
extern "C" void* set_timer_slot __asm__("__imp_SetTimer");
#else
extern "C" void* set_timer_slot __asm__("__imp__SetTimer@16");
#endif
void* set_timer_slot = reinterpret_cast<void*>(&record_set_timer);

void fill_colour_rect(HDC dc, int x, int y, int width, int height, COLORREF colour) {
  SetBkColor(dc, colour);
  RECT r = {x, y, x + width, y + height};
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
}

// Stand-ins for the engine's steps.
int BeginAnswer = 1;
bool BeginStartsRunning = true;
int ItemsToInstall = 0;
int ItemCalls = 0, FinishCalls = 0, AbandonCalls = 0;
bool InsideItem = false, Overlapped = false;
// How long an item runs a message loop of its own (a question, a disk
// prompt) in milliseconds; 0 for an item that takes no time.
DWORD ItemLoop = 120;
// How long an item works without a message loop, in milliseconds.
DWORD ItemWork = 0;
int TimerMessages = 0;  // WM_TIMER messages the test's loops took
// The item during which the user gives up at the disk prompt, or closes
// the window while the item waits in a question of its own.
int GiveUpInItem = 0, CloseInItem = 0;
bool AskedInsideItem = false;
// The item after which a Cancel arrives, between two items.
int CancelAfterItem = 0;

void pump(DWORD milliseconds) {
  DWORD end = GetTickCount() + milliseconds;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_TIMER) ++TimerMessages;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
}

int begin_install() {
  InstallRunning = BeginAnswer && BeginStartsRunning;
  return BeginAnswer;
}
// A patched item of about a megabyte, built while the page is open; the
// percentages the page shows on the way.
bool PatchItem = false;
uint32_t PatchResult = 1;
std::vector<std::string> ShownPercents;

void write_file(const char* path, const std::vector<uint8_t>& bytes) {
  FileHandle f = create_file(path);
  write_all(f, bytes.data(), static_cast<uint32_t>(bytes.size()));
  close_file(f);
}

// Sixteen copies of 65,664 bytes each from the old file, no literals: the
// new file is the old one, and grows by a copy per command.
void patch_a_big_file() {
  const uint32_t kCopies = 16, kCopy = 65664;
  std::vector<uint8_t> old(kCopies * kCopy);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  write_file("patch-old.bin", old);
  std::vector<uint8_t> data(4);
  data.push_back(0x00);  // commands: plain, u16 size
  data.push_back(static_cast<uint8_t>(4 * kCopies));
  data.push_back(0);
  for (uint32_t k = 0; k < kCopies; ++k) data.insert(data.end(), {0x00, 0xFF, 0xFF, 0x80});
  data.insert(data.end(), {0x00, 0x00, 0x00});  // no literals
  put_u32(data.data(), static_cast<uint32_t>(data.size() - 4));
  write_file("patch-data.bin", data);

  std::vector<uint8_t> entry(kEntryFixedSize + 6, 0);
  put_u32(&entry[kEntryLength], static_cast<uint32_t>(entry.size()));
  put_u32(&entry[kEntrySize], static_cast<uint32_t>(old.size()));
  put_u32(&entry[kEntryChecksum], checksum_block(old.data(), static_cast<uint32_t>(old.size()), 0));
  entry[kEntryFlags] = kItemPatch;
  put_u32(&entry[kEntryDataLength], static_cast<uint32_t>(data.size() - 4));
  data_file = open_file("patch-data.bin", 0);
  data_start = 0;
  volume_number = volumes_before = 0;
  volume_length = volume_left = static_cast<uint32_t>(data.size() - 4);
  PatchResult = apply_patch(entry.data(), "patch-old.bin", 0, 100);
  close_file(data_file);
  data_file = INVALID_FILE_HANDLE;
  delete_file("patch-old.bin");
  delete_file("patch-data.bin");
}

// The frame's answers to WM_QUERYENDSESSION, asked in every item.
bool QueryInItems = false;
std::vector<LRESULT> EndSessionAnswers;

int install_next_item() {
  if (PatchItem) {
    patch_a_big_file();
    return 0;
  }
  if (InsideItem) Overlapped = true;
  InsideItem = true;
  ++ItemCalls;
  // An item may run its own message loop (a question, a disk prompt);
  // no tick may start another item meanwhile.
  if (ItemLoop) pump(ItemLoop);
  if (ItemWork) Sleep(ItemWork);
  if (ItemCalls == GiveUpInItem) PageResult = kPageToClosing;
  if (ItemCalls == CloseInItem) {
    SendMessageA(ProgressWindow, WM_COMMAND, IDCANCEL, 0);
    pump(200);
    AskedInsideItem = FindWindowA("#32770", "") != nullptr;
  }
  if (ItemCalls == CancelAfterItem) PostMessageA(ProgressWindow, WM_COMMAND, IDCANCEL, 0);
  if (QueryInItems) EndSessionAnswers.push_back(frame_window_proc(FrameWindow, WM_QUERYENDSESSION, 0, 0));
  InsideItem = false;
  set_progress(ItemCalls * 100 / (ItemsToInstall ? ItemsToInstall : 1));
  return ItemCalls < ItemsToInstall;
}
void finish_install() {
  ++FinishCalls;
  InstallRunning = false;
  continue_at(6);
}
void abandon_install() {
  ++AbandonCalls;
  InstallRunning = false;
}

// The calls that name the reason a shutdown waits, as the page looks them
// up: recorded here (Wine has them only as stubs).
HWND BlockedFor = nullptr;
int BlockCreates = 0, BlockDestroys = 0;
BOOL WINAPI record_block_create(HWND window, const WCHAR* reason) {
  BlockedFor = reason ? window : nullptr;
  ++BlockCreates;
  return TRUE;
}
BOOL WINAPI record_block_destroy(HWND window) {
  if (window == BlockedFor) BlockedFor = nullptr;
  ++BlockDestroys;
  return TRUE;
}
FARPROC loaded_library_call(const char* library, const char* name) {
  if (!lstrcmpiA(library, "user32.dll") && !lstrcmpA(name, "ShutdownBlockReasonCreate"))
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&record_block_create));
  if (!lstrcmpiA(library, "user32.dll") && !lstrcmpA(name, "ShutdownBlockReasonDestroy"))
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&record_block_destroy));
  return GetProcAddress(GetModuleHandleA(library), name);
}

namespace {

class ProgressPage : public ::testing::Test {
 protected:
  void SetUp() override {
    template_.add(DialogTemplate::kStatic, 1008, WS_VISIBLE, 52, 54, 180, 8)
        .add(DialogTemplate::kStatic, 1009, 0, 8, 68, 196, 12)
        .add(DialogTemplate::kStatic, 1010, WS_VISIBLE, 206, 70, 26, 8);
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    if (page_) DestroyWindow(page_);
    DestroyWindow(parent_);
    BeginAnswer = 1;
    BeginStartsRunning = true;
    ItemsToInstall = ItemCalls = FinishCalls = AbandonCalls = TimerMessages = 0;
    InstallTimerDelays.clear();
    ProgressPercent = 0;
    ItemLoop = 120;
    ItemWork = 0;
    GiveUpInItem = CloseInItem = CancelAfterItem = 0;
    Overlapped = AskedInsideItem = false;
    boxes_.finish();
    InstallRunning = false;
    PageResult = 0;
    CurrentPage = -1;
  }
  void open() {
    PageResult = 0;
    CurrentPage = 5;
    page_ = CreateDialogIndirectParamA(nullptr, template_.get(), parent_, progress_page_proc, 0);
    ASSERT_NE(nullptr, page_);
  }
  // Runs the page's messages until it ends or `limit` milliseconds pass.
  void run(DWORD limit) {
    DWORD end = GetTickCount() + limit;
    while (PageResult == 0 && static_cast<int>(end - GetTickCount()) > 0) pump(20);
  }
  // The setup has no texts here: boxes have an empty caption.
  BoxDriver boxes_{""};
  DialogTemplate template_{DS_CONTROL | WS_CHILD, 240, 160};
  HWND parent_ = nullptr;
  HWND page_ = nullptr;
};

TEST_F(ProgressPage, InstallsEveryItemOnceThenFinishesAndMovesOn) {
  ItemsToInstall = 4;
  open();
  EXPECT_EQ(4u, LastButtonMask);
  EXPECT_EQ(IDCANCEL, LastCaptionButton);
  EXPECT_EQ(5, LastCaptionText);
  EXPECT_EQ(page_, ProgressWindow);
  EXPECT_EQ(0, ItemCalls);  // the first item waits for the first tick
  run(20000);
  EXPECT_EQ(4, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_FALSE(Overlapped);
  EXPECT_EQ(kPageNext, PageResult);
  EXPECT_EQ(5, CurrentPage);  // continue_at(6): the next step lands on 6
  EXPECT_EQ(100u, ProgressPercent);
  // No tick after the end installs anything more.
  pump(300);
  EXPECT_EQ(4, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  DestroyWindow(page_);
  page_ = nullptr;
  EXPECT_EQ(nullptr, ProgressWindow);
}

// The percentage control, watched for every text the page gives it.
WNDPROC PercentProc;
LRESULT CALLBACK watch_percent(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETTEXT && lparam) ShownPercents.push_back(reinterpret_cast<const char*>(lparam));
  return CallWindowProcA(PercentProc, window, message, wparam, lparam);
}

TEST_F(ProgressPage, APatchedItemMovesTheProgressAsItsFileGrows) {
  PatchItem = true;
  open();
  // Shown, with its first paint done: a hidden page is not painted.
  ShowWindow(parent_, SW_SHOWNA);
  ShowWindow(page_, SW_SHOWNA);
  UpdateWindow(page_);
  HWND percent = GetDlgItem(page_, 1010);
  ASSERT_NE(nullptr, percent);
  PercentProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(percent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watch_percent)));
  run(20000);
  PatchItem = false;
  EXPECT_EQ(0u, PatchResult);
  EXPECT_EQ(1, FinishCalls);
  // A new percentage for each of the copies, rising, before the item ends.
  std::vector<int> values;
  for (const std::string& text : ShownPercents) values.push_back(atoi(text.c_str()));
  ASSERT_GE(values.size(), 10u);
  for (size_t k = 1; k < values.size(); ++k) EXPECT_GT(values[k], values[k - 1]);
  EXPECT_GT(values.front(), 0);
  EXPECT_LT(values.front(), 20);
  EXPECT_GE(values.back(), 90);
  DestroyWindow(page_);
  page_ = nullptr;
  EXPECT_EQ(nullptr, PatchProgressReport);
}

// Items that take no time go in several at a tick: forty of them need far
// fewer ticks than items.
TEST_F(ProgressPage, QuickItemsGoInSeveralAtATick) {
  ItemsToInstall = 40;
  ItemLoop = 0;
  open();
  run(20000);
  EXPECT_EQ(40, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_EQ(kPageNext, PageResult);
  EXPECT_LT(TimerMessages, 10);
}

// No tick waits longer than the system's shortest delay, the first one
// included: a longer wait would only leave the installation idle.
TEST_F(ProgressPage, EveryTickComesAfterTheShortestDelayTheFirstIncluded) {
  ItemsToInstall = 3;
  open();
  ASSERT_EQ(1u, InstallTimerDelays.size());  // armed as the page opens
  run(20000);
  EXPECT_EQ(3, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_GE(InstallTimerDelays.size(), 3u);
  for (UINT delay : InstallTimerDelays) EXPECT_EQ(static_cast<UINT>(USER_TIMER_MINIMUM), delay);
}

TEST_F(ProgressPage, AnEmptyListFinishesOnTheFirstTick) {
  ItemsToInstall = 0;
  open();
  run(20000);
  EXPECT_EQ(1, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_EQ(kPageNext, PageResult);
}

TEST_F(ProgressPage, AnArchiveThatCannotBeOpenedGoesToTheFinalStepAtOnce) {
  // No item, and no page left waiting: the final step reports the failure.
  BeginAnswer = 0;
  ItemsToInstall = 3;
  open();
  pump(600);
  EXPECT_EQ(0, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_EQ(kPageNext, PageResult);
}

TEST_F(ProgressPage, TicksDoNothingWhileNoInstallationRuns) {
  BeginStartsRunning = false;
  ItemsToInstall = 3;
  open();
  pump(600);
  EXPECT_EQ(0, ItemCalls);
  EXPECT_EQ(0, FinishCalls);
}

TEST_F(ProgressPage, GivingUpAtTheDiskPromptTakesTheInstallationBackWithoutAQuestion) {
  ItemsToInstall = 5;
  GiveUpInItem = 2;
  boxes_.start({{IDOK, nullptr}});  // the notice that it was cancelled
  open();
  run(20000);
  boxes_.finish();
  EXPECT_EQ(2, ItemCalls);
  EXPECT_EQ(1, AbandonCalls);
  EXPECT_EQ(0, FinishCalls);
  EXPECT_EQ(1u, boxes_.texts.size());
  EXPECT_EQ(kPageToClosing, PageResult);
}

TEST_F(ProgressPage, ACloseWhileAnItemAsksIsAskedOnceTheItemHasReturned) {
  // No: the installation goes on to its end.
  ItemsToInstall = 4;
  CloseInItem = 2;
  boxes_.start({{IDNO, nullptr}});
  open();
  run(20000);
  boxes_.finish();
  EXPECT_FALSE(AskedInsideItem);
  EXPECT_EQ(1u, boxes_.texts.size());
  EXPECT_EQ(4, ItemCalls);
  EXPECT_EQ(1, FinishCalls);
  EXPECT_EQ(0, AbandonCalls);
  EXPECT_EQ(kPageNext, PageResult);
  DestroyWindow(page_);
  page_ = nullptr;

  // Yes: nothing more is installed; it is taken back and the notice shown.
  ItemCalls = FinishCalls = 0;
  InstallRunning = false;
  boxes_.start({{IDYES, nullptr}, {IDOK, nullptr}});
  open();
  run(20000);
  boxes_.finish();
  EXPECT_FALSE(AskedInsideItem);
  EXPECT_EQ(2u, boxes_.texts.size());
  EXPECT_EQ(2, ItemCalls);
  EXPECT_EQ(0, FinishCalls);
  EXPECT_EQ(1, AbandonCalls);
  EXPECT_EQ(kPageToClosing, PageResult);
}

TEST_F(ProgressPage, CancelInSinglePageModeTakesTheInstallationBackWithoutAQuestion) {
  StartPageNumber = 5;
  // Quick items go in many at a tick; the Cancel is taken once the tick
  // that it arrived in is over. Each item takes 2 ms, so that the tick's
  // budget ends it however fast the machine: items that take no time at
  // all could all go in within one tick, before the Cancel is looked at.
  ItemsToInstall = 100000;
  ItemLoop = 0;
  ItemWork = 2;
  CancelAfterItem = 3;
  boxes_.start({{IDOK, nullptr}});
  open();
  run(20000);
  boxes_.finish();
  StartPageNumber = 0xFFFF;
  EXPECT_EQ(1u, boxes_.texts.size());
  EXPECT_EQ(1, AbandonCalls);
  EXPECT_GE(ItemCalls, 3);
  // The tick the Cancel came in, and no other: a tick is 30 ms.
  EXPECT_LT(ItemCalls, 100);
  EXPECT_EQ(kPageToClosing, PageResult);
}

// While the installation runs, the end of the session is refused, with a
// reason for the frame window; before and after, it is not.
TEST_F(ProgressPage, TheEndOfTheSessionWaitsWhileInstalling) {
  FrameWindow = parent_;
  BlockCreates = BlockDestroys = 0;
  EXPECT_NE(FALSE, frame_window_proc(parent_, WM_QUERYENDSESSION, 0, 0));
  ItemsToInstall = 3;
  QueryInItems = true;
  open();
  EXPECT_EQ(1, BlockCreates);
  EXPECT_EQ(parent_, BlockedFor);
  run(20000);
  QueryInItems = false;
  EXPECT_EQ(1, FinishCalls);
  EXPECT_EQ(std::vector<LRESULT>(3, FALSE), EndSessionAnswers);
  EndSessionAnswers.clear();
  EXPECT_NE(FALSE, frame_window_proc(parent_, WM_QUERYENDSESSION, 0, 0));
  DestroyWindow(page_);
  page_ = nullptr;
  EXPECT_EQ(1, BlockDestroys);
  EXPECT_EQ(nullptr, BlockedFor);
  FrameWindow = nullptr;
}

}  // namespace
