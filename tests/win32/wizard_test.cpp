// The frame window, the container dialog, page set-up and the first pages,
// run on real windows made from the default dialog templates.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/format.h"
#include "base/globals.h"
#include "install/engine.h"
#include "ui/background.h"
#include "ui/folder_browser.h"
#include "ui/frame_window.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/page_table.h"
#include "ui/pages.h"
#include "ui/placement.h"
#include "ui/sequencer.h"
#include "ui/sunken_frame.h"
#include "ui/templates.h"

// Painting belongs to another unit; these only count their calls.
static int background_paints;
void paint_background(HWND, HDC) { ++background_paints; }
static int pictures_drawn;
void draw_picture(HWND, HDC, int, const uint8_t*, uint32_t) { ++pictures_drawn; }

namespace {

// --- archive configuration built in memory ---------------------------------

std::vector<uint8_t> template_store;

// The store of templates 0 to 11 from this program's dialog resources.
void build_template_store() {
  enum { kCount = 12 };
  template_store.assign(4 * kCount, 0);
  for (int n = 0; n < kCount; ++n) {
    uint32_t offset = static_cast<uint32_t>(template_store.size());
    std::memcpy(&template_store[4 * n], &offset, 4);
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(n), reinterpret_cast<LPCSTR>(RT_DIALOG));
    ASSERT_NE(nullptr, found) << "template " << n;
    const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
    template_store.insert(template_store.end(), bytes, bytes + SizeofResource(nullptr, found));
    while (template_store.size() % 4) template_store.push_back(0);
  }
  DialogTemplateStore = template_store.data();
  DialogTemplateStoreLength = static_cast<uint32_t>(template_store.size());
}

// One text list: u16 count, then the strings.
std::vector<uint8_t> text_list(std::initializer_list<const char*> texts) {
  std::vector<uint8_t> bytes(2);
  uint16_t count = static_cast<uint16_t>(texts.size());
  std::memcpy(bytes.data(), &count, 2);
  for (const char* t : texts) bytes.insert(bytes.end(), t, t + std::strlen(t) + 1);
  return bytes;
}

struct TypeTexts {
  std::vector<uint8_t> lists[kTextListCount];
  std::string caption;
  char folder[260];
};
TypeTexts types[kMaxSetupTypes];

// Setup type i: its own page titles and texts; a licence text 1/1 only when
// asked for.
void define_setup_type(int i, bool licence, const char* licence_next = "") {
  TypeTexts& t = types[i];
  std::string tag = "T" + std::to_string(i);
  t.lists[0] = text_list({"Welcome", "w1", "w2", "w3", "w4"});
  t.lists[1] = licence ? text_list({"Licence", "The agreement", licence_next}) : text_list({"Licence"});
  t.lists[6] = text_list({"Product Setup", "", "", "", "", "", "", "", "", "", "", "", "", "", "Really cancel?",
                          "Cancelled."});
  t.lists[7] = text_list({"Back-7/0", "Next-7/1", "Cancel-7/2"});
  t.lists[9] = text_list({"Type title", "Pick one", "second"});
  t.caption = "Caption " + tag;
  std::strcpy(t.folder, ("C:\\" + tag).c_str());
  SetupTypeSlot& slot = SetupTypeTable[i];
  slot = SetupTypeSlot{};
  for (int l = 0; l < kTextListCount; ++l) slot.record.text_lists[l] = t.lists[l].empty() ? nullptr : t.lists[l].data();
  slot.record.caption = t.caption.c_str();
  slot.folder = t.folder;
}

void use_setup_types(int count) {
  SetupTypeCount = count;
  CurrentSetupType = -1;
  select_setup_type(0);
}

// --- message boxes answered from a timer inside their modal loop ------------

std::vector<std::string> boxes_seen;
std::vector<int> answers;

BOOL CALLBACK collect_static(HWND child, LPARAM out) {
  char name[32], text[256];
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
    *reinterpret_cast<std::string*>(out) += text;
  return TRUE;
}

BOOL CALLBACK answer_box(HWND window, LPARAM) {
  char name[32];
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window) || window == ContainerDialog) return TRUE;
  std::string text;
  EnumChildWindows(window, collect_static, reinterpret_cast<LPARAM>(&text));
  boxes_seen.push_back(text);
  int answer = answers.empty() ? IDOK : answers.front();
  if (!answers.empty()) answers.erase(answers.begin());
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
  return FALSE;
}

void CALLBACK answer_boxes(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), answer_box, 0);
}

// --- pages of the test's page table -------------------------------------

// A scripted run that waits for something unscripted (a question, a page
// that never ends) is ended after this long instead of waiting for ever.
enum : DWORD { kRunLimit = 20000 };
DWORD run_started;
bool run_overdue;

std::vector<int> visits;  // page numbers in the order they were shown

// After a page is made, the script posts what the user does on it.
struct Action {
  int page;            // page the action belongs to (checked)
  int radio;           // radio button to click first, or 0
  int button;          // container button to press
};
std::vector<Action> script;
std::vector<std::string> next_captions;  // the Next caption on each page shown

void play_script(HWND page) {
  visits.push_back(CurrentPage);
  char caption[64];
  GetDlgItemTextA(ContainerDialog, IDOK, caption, sizeof caption);
  next_captions.push_back(caption);
  if (script.empty()) {
    PostMessageA(ContainerDialog, WM_COMMAND, IDCANCEL, 0);  // nothing scripted: leave
    return;
  }
  Action a = script.front();
  script.erase(script.begin());
  EXPECT_EQ(a.page, CurrentPage) << "the script expected another page";
  if (a.radio) PostMessageA(GetDlgItem(page, a.radio), BM_CLICK, 0, 0);
  PostMessageA(ContainerDialog, WM_COMMAND, a.button, 0);
}

// The watchdog of a run: past the limit it answers No to any box, drops
// the rest of the script and ends each page it meets.
void CALLBACK end_overdue_run(HWND, UINT, UINT_PTR, DWORD) {
  if (GetTickCount() - run_started < kRunLimit) return;
  run_overdue = true;
  script.clear();
  answers = {IDNO};
  EnumThreadWindows(GetCurrentThreadId(), answer_box, 0);
  PageResult = kPageToClosing;
}

template <DLGPROC real>
INT_PTR CALLBACK scripted(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR answer = real(page, message, wparam, lparam);
  if (message == WM_INITDIALOG) play_script(page);
  return answer;
}

// Pages of other units: shown with the container's plain buttons; Cancel
// ends them at once.
INT_PTR CALLBACK plain_page(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    page_setup(page, ButtonBack | ButtonNext | ButtonCancel | ButtonCancelAtOnce);
    return TRUE;
  }
  return control_colour_answer(page, message, wparam, lparam);
}

}  // namespace

const WizardPage PageTable[kPageCount] = {
    {5, 0, scripted<welcome_page_proc>},    {3, 1, scripted<licence_page_proc>}, {9, 9, scripted<setup_type_page_proc>},
    {2, 2, scripted<plain_page>},           {5, 3, scripted<plain_page>},        {4, 4, scripted<plain_page>},
    {6, 5, scripted<plain_page>},           {11, 0, scripted<plain_page>},
};

namespace {

class Wizard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    build_template_store();
    ASSERT_TRUE(register_frame_class(GetModuleHandleA(nullptr)));
    make_face_brush();
  }

  void SetUp() override {
    for (int i = 0; i < kMaxSetupTypes; ++i) define_setup_type(i, false);
    use_setup_types(1);
    StartPageNumber = 0xFFFF;
    CurrentPage = -1;
    PageResult = 0;
    CurrentPageWindow = nullptr;
    boxes_seen.clear();
    answers.clear();
    visits.clear();
    script.clear();
    next_captions.clear();
  }

  void TearDown() override {
    if (ContainerDialog) DestroyWindow(ContainerDialog);
    if (FrameWindow) DestroyWindow(FrameWindow);
    ContainerDialog = FrameWindow = nullptr;
    if (container_copy) free_template(container_copy);
    container_copy = nullptr;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {  // the frame's WM_QUIT among them
      if (m.message != WM_QUIT) DispatchMessageA(&m);
    }
    SetupTypeCount = 0;
    CurrentSetupType = -1;
    CurrentRecord = nullptr;
  }

  // Frame and container as the entry point makes them, in either mode;
  // `grow` enlarges the container template (dialog units).
  void open_wizard(bool full_screen, int grow_x = 0, int grow_y = 0) {
    SetupFlags = full_screen ? 1 : 0;
    FrameWindow = create_frame_window(GetModuleHandleA(nullptr));
    ASSERT_NE(nullptr, FrameWindow);
    container_copy = load_template(full_screen ? 1 : 0);
    ASSERT_NE(nullptr, container_copy);
    uint8_t* t = reinterpret_cast<uint8_t*>(container_copy);
    ASSERT_EQ(0xFFFF, *reinterpret_cast<uint16_t*>(t + 2)) << "DIALOGEX templates expected";
    *reinterpret_cast<int16_t*>(t + 22) += static_cast<int16_t>(grow_x);
    *reinterpret_cast<int16_t*>(t + 24) += static_cast<int16_t>(grow_y);
    ContainerDialog =
        CreateDialogIndirectParamA(GetModuleHandleA(nullptr), container_copy, FrameWindow, container_dialog_proc, 0);
    ASSERT_NE(nullptr, ContainerDialog);
    if (!full_screen) fit_frame_around(ContainerDialog);
    ShowWindow(FrameWindow, SW_SHOWNORMAL);
    UpdateWindow(FrameWindow);
  }

  // A page as run_page makes it, with its procedure's set-up done.
  HWND open_page(int page_number, DLGPROC procedure) {
    CurrentPage = page_number;
    page_copy = load_template(PageTable[page_number].template_number);
    HWND page = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), page_copy, ContainerDialog, procedure, 0);
    free_template(page_copy);
    return page;
  }

  static std::string text_of(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
  }
  static std::string text_of(HWND dialog, int id) { return text_of(GetDlgItem(dialog, id)); }
  static bool enabled(int id) { return IsWindowEnabled(GetDlgItem(ContainerDialog, id)) != FALSE; }

  // Sends a command to the container, answering message boxes in order.
  void press(int id, std::initializer_list<int> box_answers = {}) {
    answers = box_answers;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, answer_boxes);
    SendMessageA(ContainerDialog, WM_COMMAND, id, 0);
    KillTimer(nullptr, timer);
  }

  std::vector<int> run(std::vector<Action> actions) {
    script = std::move(actions);
    run_started = GetTickCount();
    run_overdue = false;
    UINT_PTR watchdog = SetTimer(nullptr, 0, 250, end_overdue_run);
    run_wizard(PageTable);
    KillTimer(nullptr, watchdog);
    EXPECT_FALSE(run_overdue) << "the wizard waited for something the script never did";
    EXPECT_TRUE(script.empty()) << "the wizard ended before the script did";
    return visits;
  }

  DLGTEMPLATE* container_copy = nullptr;
  DLGTEMPLATE* page_copy = nullptr;
};

// --- frame and container ------------------------------------------------------

TEST_F(Wizard, WindowedFrameFitsAroundTheContainer) {
  open_wizard(false);
  RECT client, container;
  GetClientRect(FrameWindow, &client);
  GetWindowRect(ContainerDialog, &container);
  EXPECT_EQ(container.right - container.left, client.right);
  EXPECT_EQ(container.bottom - container.top, client.bottom);
  POINT origin = {0, 0};
  ClientToScreen(FrameWindow, &origin);
  EXPECT_EQ(origin.x, container.left);
  EXPECT_EQ(origin.y, container.top);
  EXPECT_EQ(static_cast<LONG>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            GetWindowLongA(FrameWindow, GWL_STYLE) & (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN));
}

TEST_F(Wizard, FullScreenContainerIsCentredOrPutAtTheEdge) {
  open_wizard(true);
  RECT frame, r;
  GetWindowRect(FrameWindow, &frame);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), frame.right - frame.left);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), frame.bottom - frame.top);
  GetWindowRect(ContainerDialog, &r);
  POINT at = {r.left, r.top};
  ScreenToClient(FrameWindow, &at);
  EXPECT_EQ(ScreenCentreX - (r.right - r.left) / 2, at.x);
  EXPECT_EQ(ScreenCentreY - (r.bottom - r.top) / 2, at.y);
  DestroyWindow(ContainerDialog);
  free_template(container_copy);
  container_copy = nullptr;
  DestroyWindow(FrameWindow);

  open_wizard(true, 2000, 0);  // far wider than the screen, of normal height
  GetWindowRect(ContainerDialog, &r);
  at = {r.left, r.top};
  ScreenToClient(FrameWindow, &at);
  EXPECT_GT(r.right - r.left, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(0, at.x);
  EXPECT_EQ(ScreenCentreY - (r.bottom - r.top) / 2, at.y);
}

TEST_F(Wizard, FramePaintsTheBackgroundOnlyInFullScreenMode) {
  open_wizard(false);
  background_paints = 0;
  RedrawWindow(FrameWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(0, background_paints);
  DestroyWindow(ContainerDialog);
  free_template(container_copy);
  container_copy = nullptr;
  DestroyWindow(FrameWindow);
  open_wizard(true);
  background_paints = 0;
  RedrawWindow(FrameWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(1, background_paints);
}

TEST_F(Wizard, PageSetUpPlacesThePageAndFillsTextsCaptionsAndButtons) {
  open_wizard(false);
  HWND page = open_page(0, plain_page);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ(page, CurrentPageWindow);
  RECT placeholder, placed;
  GetWindowRect(GetDlgItem(ContainerDialog, kPagePlaceholder), &placeholder);
  GetWindowRect(page, &placed);
  EXPECT_EQ(placeholder.left, placed.left);
  EXPECT_EQ(placeholder.top, placed.top);
  EXPECT_EQ("w1", text_of(page, 1000));
  EXPECT_EQ("w4", text_of(page, 1003));
  EXPECT_EQ("Back-7/0", text_of(ContainerDialog, kBackButton));
  EXPECT_EQ("Next-7/1", text_of(ContainerDialog, kNextButton));
  EXPECT_EQ("Cancel-7/2", text_of(ContainerDialog, kCancelButton));
  EXPECT_EQ("Product Setup - Welcome", text_of(FrameWindow));

  apply_button_mask(ButtonNext);
  EXPECT_FALSE(enabled(kBackButton));
  EXPECT_TRUE(enabled(kNextButton));
  EXPECT_FALSE(enabled(kCancelButton));
  apply_button_mask(ButtonBack | ButtonCancel);
  EXPECT_TRUE(enabled(kBackButton));
  EXPECT_FALSE(enabled(kNextButton));
  EXPECT_TRUE(enabled(kCancelButton));
  DestroyWindow(page);
}

TEST_F(Wizard, EmptyPageTitleLeavesTheSetupTitleOrTheContainerCaption) {
  types[0].lists[1] = text_list({"", "licence text"});
  SetupTypeTable[0].record.text_lists[1] = types[0].lists[1].data();
  open_wizard(false);
  HWND page = open_page(0, plain_page);
  EXPECT_EQ("Product Setup - Welcome", text_of(FrameWindow));
  DestroyWindow(page);
  page = open_page(1, plain_page);
  EXPECT_EQ("Product Setup", text_of(FrameWindow));
  DestroyWindow(page);
  DestroyWindow(ContainerDialog);
  free_template(container_copy);
  container_copy = nullptr;
  DestroyWindow(FrameWindow);

  open_wizard(true);
  page = open_page(0, plain_page);
  EXPECT_EQ("Welcome", text_of(ContainerDialog));
  EXPECT_EQ("Product Setup", text_of(FrameWindow));
  DestroyWindow(page);
  page = open_page(1, plain_page);
  EXPECT_EQ("Welcome", text_of(ContainerDialog)) << "the previous page's title stays";
  DestroyWindow(page);
}

TEST_F(Wizard, SinglePageModeLetsCancelEndAtOnce) {
  open_wizard(false);
  StartPageNumber = 3;
  HWND page = open_page(3, welcome_page_proc);
  EXPECT_EQ(ButtonNext | ButtonCancel | ButtonCancelAtOnce, StoredButtonMask);
  press(IDCANCEL);
  EXPECT_EQ(kPageToClosing, PageResult);
  EXPECT_TRUE(boxes_seen.empty());
  DestroyWindow(page);
}

TEST_F(Wizard, CancelAsksAndNoLeavesEverythingAsItWas) {
  open_wizard(false);
  HWND page = open_page(0, welcome_page_proc);
  uint8_t item = 0;
  ProgramItem = ScreenSaverItem = DocumentItem = &item;
  press(IDCANCEL, {IDNO});
  ASSERT_EQ(1u, boxes_seen.size());
  EXPECT_NE(std::string::npos, boxes_seen[0].find("Really cancel?"));
  EXPECT_EQ(0, PageResult);
  EXPECT_EQ(&item, ProgramItem);

  boxes_seen.clear();
  press(IDCANCEL, {IDYES, IDOK});
  ASSERT_EQ(2u, boxes_seen.size());
  EXPECT_NE(std::string::npos, boxes_seen[1].find("Cancelled."));
  EXPECT_EQ(kPageToClosing, PageResult);
  EXPECT_EQ(nullptr, ProgramItem);
  EXPECT_EQ(nullptr, ScreenSaverItem);
  EXPECT_EQ(nullptr, DocumentItem);
  DestroyWindow(page);
}

TEST_F(Wizard, SystemMenuCloseEndsThePageWithoutAQuestionOrALaterCancel) {
  open_wizard(true);
  HWND page = open_page(0, welcome_page_proc);
  answers = {IDYES, IDOK};
  UINT_PTR timer = SetTimer(nullptr, 0, 50, answer_boxes);
  SendMessageA(ContainerDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kPageToClosing, PageResult);
  MSG m;
  bool cancel_queued = false;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_COMMAND && LOWORD(m.wParam) == IDCANCEL) cancel_queued = true;
    DispatchMessageA(&m);
  }
  EXPECT_FALSE(cancel_queued);
  PageResult = 0;
  SendMessageA(FrameWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(kPageToClosing, PageResult);
  EXPECT_TRUE(IsWindow(FrameWindow));
  KillTimer(nullptr, timer);
  EXPECT_TRUE(boxes_seen.empty());
  DestroyWindow(page);
}

INT_PTR CALLBACK consuming_page(HWND page, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    page_setup(page, ButtonBack | ButtonNext | ButtonCancel);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == kNextButton) return command_handled_answer(page);
  return FALSE;
}

TEST_F(Wizard, ButtonsThePageConsumesDoNotEndIt) {
  open_wizard(false);
  HWND page = open_page(3, consuming_page);
  press(IDOK);
  EXPECT_EQ(0, PageResult);
  press(kBackButton);
  EXPECT_EQ(kPageBack, PageResult);
  DestroyWindow(page);
  PageResult = 0;
  press(IDOK);  // the page is gone: the container's own answer applies
  EXPECT_EQ(kPageNext, PageResult);
}

TEST_F(Wizard, DialogsStaticsAndButtonsGetTheFaceColourEditsDoNot) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetBkColor(dc, RGB(1, 2, 3));
  EXPECT_EQ(0, control_colour_answer(nullptr, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0));
  EXPECT_EQ(0, control_colour_answer(nullptr, WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc), 0));
  EXPECT_EQ(RGB(1, 2, 3), GetBkColor(dc));
  for (UINT m : {WM_CTLCOLORSTATIC, WM_CTLCOLORDLG, WM_CTLCOLORBTN, WM_CTLCOLORMSGBOX}) {
    SetBkColor(dc, RGB(1, 2, 3));
    HBRUSH brush = reinterpret_cast<HBRUSH>(control_colour_answer(nullptr, m, reinterpret_cast<WPARAM>(dc), 0));
    ASSERT_NE(nullptr, brush);
    LOGBRUSH b;
    ASSERT_EQ(static_cast<int>(sizeof b), GetObjectA(brush, sizeof b, &b));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), b.lbColor);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetBkColor(dc));
  }
  DeleteDC(dc);
}

TEST_F(Wizard, SunkenFrameIsShadowAboveAndLeftHighlightBelowAndRight) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 20, 20);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  fill_colour_rect(dc, 0, 0, 20, 20, RGB(255, 0, 255));
  draw_sunken_frame(dc, RECT{2, 3, 12, 10}, false);
  COLORREF shadow = GetNearestColor(dc, GetSysColor(COLOR_BTNSHADOW));
  COLORREF light = GetNearestColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
  COLORREF magenta = GetNearestColor(dc, RGB(255, 0, 255));
  EXPECT_EQ(shadow, GetPixel(dc, 2, 3));
  EXPECT_EQ(shadow, GetPixel(dc, 10, 3));
  EXPECT_EQ(shadow, GetPixel(dc, 2, 8));
  EXPECT_EQ(light, GetPixel(dc, 11, 3));   // the highlight owns the top-right pixel
  EXPECT_EQ(light, GetPixel(dc, 2, 9));    // and the bottom-left one
  EXPECT_EQ(light, GetPixel(dc, 11, 9));
  EXPECT_EQ(magenta, GetPixel(dc, 5, 5)) << "not filled";
  EXPECT_EQ(magenta, GetPixel(dc, 12, 5)) << "nothing right of the rectangle";
  EXPECT_EQ(magenta, GetPixel(dc, 5, 10)) << "nothing below it";
  draw_sunken_frame(dc, RECT{2, 3, 12, 10}, true);
  EXPECT_EQ(GetNearestColor(dc, GetSysColor(COLOR_BTNFACE)), GetPixel(dc, 5, 5));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

TEST_F(Wizard, DialogFontIsTheFirstDialogsFontAtNormalWeight) {
  open_wizard(false);
  HWND next = GetDlgItem(ContainerDialog, IDOK);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(next, WM_GETFONT, 0, 0));
  ASSERT_NE(nullptr, font);
  LOGFONTA given, own;
  GetObjectA(font, sizeof given, &given);
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(ContainerDialog, WM_GETFONT, 0, 0)), sizeof own, &own);
  EXPECT_EQ(FW_NORMAL, given.lfWeight);
  EXPECT_STREQ(own.lfFaceName, given.lfFaceName);
  EXPECT_EQ(own.lfHeight, given.lfHeight);
}

// --- the first pages ----------------------------------------------------------

TEST_F(Wizard, OneTypeWithoutLicenceGoesFromWelcomeToDestination) {
  open_wizard(false);
  std::vector<int> expected = {0, 3, 7};
  EXPECT_EQ(expected, run({{0, 0, IDOK}, {3, 0, IDCANCEL}, {7, 0, IDOK}}));
}

TEST_F(Wizard, LicenceWithOneTypeLeadsToDestinationWithItsOwnNextCaption) {
  define_setup_type(0, true, "I agree");
  use_setup_types(1);
  open_wizard(false);
  std::vector<int> expected = {0, 1, 0, 1, 3, 7};
  EXPECT_EQ(expected, run({{0, 0, IDOK}, {1, 0, kBackButton}, {0, 0, IDOK}, {1, 0, IDOK}, {3, 0, IDCANCEL},
                           {7, 0, IDOK}}));
  EXPECT_EQ("I agree", next_captions[1]) << "text 1/2 on the licence page";
  EXPECT_EQ("Next-7/1", next_captions[4]);
}

TEST_F(Wizard, LicenceWithoutItsOwnNextCaptionKeepsTheCommonOne) {
  define_setup_type(0, true, "");
  use_setup_types(1);
  open_wizard(false);
  // Cancel on the licence page would ask first; the destination page ends at once.
  run({{0, 0, IDOK}, {1, 0, IDOK}, {3, 0, IDCANCEL}, {7, 0, IDOK}});
  ASSERT_EQ(4u, next_captions.size());
  EXPECT_EQ("Next-7/1", next_captions[1]);
}

TEST_F(Wizard, TwoTypesWithoutLicenceShowTheTypePageBetween) {
  use_setup_types(2);
  open_wizard(false);
  std::vector<int> expected = {0, 2, 0, 2, 3, 7};
  EXPECT_EQ(expected, run({{0, 0, IDOK}, {2, 0, kBackButton}, {0, 0, IDOK}, {2, 0, IDOK}, {3, 0, IDCANCEL},
                           {7, 0, IDOK}}));
}

TEST_F(Wizard, SwitchingToATypeWithoutLicenceChangesWhereBackLeads) {
  define_setup_type(0, true);
  use_setup_types(2);
  open_wizard(false);
  // Type 0 has a licence: Back from the type page shows it. After choosing
  // type 1, which has none, Back skips to the welcome page.
  std::vector<int> expected = {0, 1, 2, 1, 2, 0, 2, 3, 7};
  EXPECT_EQ(expected, run({{0, 0, IDOK},
                           {1, 0, IDOK},
                           {2, 0, kBackButton},
                           {1, 0, IDOK},
                           {2, 1022, kBackButton},
                           {0, 0, IDOK},
                           {2, 0, IDOK},
                           {3, 0, IDCANCEL},
                           {7, 0, IDOK}}));
  EXPECT_EQ(1, CurrentSetupType);
}

TEST_F(Wizard, TypePageShowsOneButtonPerTypeAndSwitchesTheSelection) {
  use_setup_types(3);
  types[1].lists[9] = text_list({"Other type", "its own text"});
  SetupTypeTable[1].record.text_lists[9] = types[1].lists[9].data();
  SetupTypeTable[2].record.caption = nullptr;
  open_wizard(true);
  HWND page = open_page(2, setup_type_page_proc);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ("Caption T0", text_of(page, 1021));
  EXPECT_EQ("Caption T1", text_of(page, 1022));
  EXPECT_EQ("", text_of(page, 1023)) << "no caption: the template's text";
  for (int id = 1021; id <= 1023; ++id) {
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, id)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, id)));
  }
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, 1024)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1024)));
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1021));
  EXPECT_EQ("Type title", text_of(ContainerDialog));
  EXPECT_EQ("Pick one", text_of(page, 1000));

  strcpy(InstallDir, "D:\\Changed");
  SendMessageA(GetDlgItem(page, 1022), BM_CLICK, 0, 0);
  EXPECT_EQ(1, CurrentSetupType);
  EXPECT_STREQ("C:\\T1", InstallDir);
  EXPECT_STREQ("D:\\Changed", SetupTypeTable[0].folder) << "the folder of the type left is kept";
  EXPECT_EQ("Other type", text_of(ContainerDialog));
  EXPECT_EQ("its own text", text_of(page, 1000));
  EXPECT_EQ(0, PageResult);
  DestroyWindow(page);
}

// --- the folder browser --------------------------------------------------------

std::string browser_caption, browser_start;
const char* typed_folder;   // typed into the path field, or null to press Cancel
const char* opened_folder;  // else opened, as the folder list does it, before OK

BOOL CALLBACK drive_browser(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || !GetDlgItem(window, 101) || !GetDlgItem(window, 1091)) return TRUE;
  char caption[260] = "", start[260] = "";
  GetWindowTextA(window, caption, sizeof caption);
  browser_caption = caption;
  GetDlgItemTextA(window, 101, start, sizeof start);
  browser_start = start;
  if (opened_folder) {
    // The list makes the folder current and tells the hook.
    SetCurrentDirectoryA(opened_folder);
    SendMessageA(window, RegisterWindowMessageA("commdlg_LBSelChangedNotify"), 0, 0);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
  } else if (typed_folder) {
    SetDlgItemTextA(window, 101, typed_folder);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
  } else {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
  }
  return FALSE;
}

BOOL CALLBACK cancel_dialog(HWND window, LPARAM) {
  char name[32];
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") == 0 && IsWindowVisible(window)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// Looked for every 200 ms; a browser that is not found within 10 s (a
// dialog without the expected fields) is cancelled, so the test cannot hang.
int browser_ticks;
void CALLBACK find_browser(HWND, UINT, UINT_PTR timer, DWORD) {
  if (++browser_ticks > 50) {
    EnumThreadWindows(GetCurrentThreadId(), cancel_dialog, 0);
    KillTimer(nullptr, timer);
    return;
  }
  if (!EnumThreadWindows(GetCurrentThreadId(), drive_browser, 0) || !browser_caption.empty()) KillTimer(nullptr, timer);
}

TEST_F(Wizard, FolderBrowserReturnsTheTypedFolderAndKeepsThePathOnCancel) {
  types[0].lists[6] = text_list({"Product Setup", "Pick a folder", "Folder:", "Drives:"});
  SetupTypeTable[0].record.text_lists[6] = types[0].lists[6].data();
  open_wizard(false);
  char path[260] = "C:\\windows";
  typed_folder = "C:\\Not There Yet\\Product";
  browser_caption.clear();
  browser_ticks = 0;
  SetTimer(nullptr, 0, 200, find_browser);
  EXPECT_NE(0, browse_for_folder(ContainerDialog, path));
  EXPECT_STREQ("C:\\Not There Yet\\Product", path) << "a folder that does not exist is returned too";
  EXPECT_EQ("Pick a folder", browser_caption);
  EXPECT_EQ(0, lstrcmpiA("C:\\windows", browser_start.c_str()));

  typed_folder = nullptr;
  browser_caption.clear();
  browser_ticks = 0;
  SetTimer(nullptr, 0, 200, find_browser);
  EXPECT_EQ(0, browse_for_folder(ContainerDialog, path));
  EXPECT_STREQ("C:\\Not There Yet\\Product", path);
  EXPECT_FALSE(browser_caption.empty()) << "the browser was shown";
}

// The folder the user opens is shown, and returned, as the system names it:
// the file calls answer in the ANSI code page, and a conversion from the OEM
// code page would turn its letters beyond ASCII into another folder.
TEST_F(Wizard, FolderBrowserReturnsAnOpenedFolderWithLettersBeyondAscii) {
  const wchar_t wide[] = L"C:\\M\u00fcller Gr\u00f6\u00dfe";
  char folder[MAX_PATH];
  BOOL lossy = FALSE;
  ASSERT_NE(0, WideCharToMultiByte(CP_ACP, 0, wide, -1, folder, sizeof folder, nullptr, &lossy));
  if (lossy) GTEST_SKIP() << "the ANSI code page has no such letters";
  ASSERT_TRUE(CreateDirectoryW(wide, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  char saved[MAX_PATH];
  GetCurrentDirectoryA(sizeof saved, saved);
  types[0].lists[6] = text_list({"Product Setup", "Pick a folder", "Folder:", "Drives:"});
  SetupTypeTable[0].record.text_lists[6] = types[0].lists[6].data();
  open_wizard(false);
  char path[260] = "C:\\";
  opened_folder = folder;
  browser_caption.clear();
  browser_ticks = 0;
  SetTimer(nullptr, 0, 200, find_browser);
  EXPECT_NE(0, browse_for_folder(ContainerDialog, path));
  opened_folder = nullptr;
  SetCurrentDirectoryA(saved);
  EXPECT_STREQ(folder, path);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path)) << "the folder returned exists";
  RemoveDirectoryW(wide);
}

}  // namespace
