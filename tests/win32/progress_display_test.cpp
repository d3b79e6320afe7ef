// The progress display: the block bar's pixels, the percentage text and
// the shortened file name.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/engine_reports.h"
#include "tests/win32/canvas.h"
#include "ui/page_setup.h"
#include "ui/progress_display.h"

// Stand-in for the wizard's painting helper (the frame's machinery).
void fill_colour_rect(HDC dc, int x, int y, int width, int height, COLORREF colour) {
  SetBkColor(dc, colour);
  RECT r = {x, y, x + width, y + height};
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
}

namespace {

// A page-like window with the bar area 1009 (hidden, 200 x 14 at 10, 20),
// the percentage 1010 and the file name 1008.
class ProgressBar : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window_);
    child(1009, 10, 20, 200, 14);
    child(1010, 220, 20, 40, 14);
    child(1008, 10, 50, 280, 14);
    face_ = GetSysColor(COLOR_BTNFACE);
    bar_ = GetSysColor(COLOR_ACTIVECAPTION);
    ASSERT_NE(face_, bar_);
  }
  void TearDown() override {
    ProgressWindow = nullptr;
    ProgressPercent = 0;
    DestroyWindow(window_);
  }
  void child(int id, int x, int y, int w, int h) {
    ASSERT_NE(nullptr, CreateWindowExA(0, "STATIC", "", WS_CHILD, x, y, w, h, window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr));
  }
  std::string text(int id) {
    char buffer[260] = "";
    GetDlgItemTextA(window_, id, buffer, sizeof buffer);
    return buffer;
  }
  // Pixel (x, y) of the bar, in its own coordinates.
  COLORREF bar_at(const Canvas& canvas, int x, int y) { return canvas.at(10 + x, 20 + y); }
  void draw(Canvas* canvas, unsigned percent) {
    canvas->fill(RGB(1, 2, 3));
    ProgressPercent = percent;
    draw_progress(window_, canvas->dc());
  }
  HWND window_ = nullptr;
  COLORREF face_ = 0, bar_ = 0;
};

TEST_F(ProgressBar, AtZeroPercentOneBlockInsideTheSunkenBorder) {
  Canvas canvas(300, 100);
  ASSERT_TRUE(canvas.ok());
  draw(&canvas, 0);
  EXPECT_EQ("0%", text(1010));
  // half = 7: block 0 spans x 1..7, rows 2..11.
  for (int x = 1; x <= 7; ++x) EXPECT_EQ(bar_, bar_at(canvas, x, 5)) << x;
  EXPECT_EQ(bar_, bar_at(canvas, 4, 2));
  EXPECT_EQ(bar_, bar_at(canvas, 4, 11));
  EXPECT_EQ(face_, bar_at(canvas, 4, 1));
  EXPECT_EQ(face_, bar_at(canvas, 4, 12));
  EXPECT_EQ(face_, bar_at(canvas, 8, 5));
  EXPECT_EQ(face_, bar_at(canvas, 11, 5));  // no second block
  EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), bar_at(canvas, 50, 0));
  EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), bar_at(canvas, 0, 7));
  EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), bar_at(canvas, 199, 7));
  EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), bar_at(canvas, 50, 13));
  // Nothing outside the bar's place is touched.
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(9, 25));
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(210, 25));
}

TEST_F(ProgressBar, BlocksFollowThePercentage) {
  Canvas canvas(300, 100);
  ASSERT_TRUE(canvas.ok());
  // Block k spans 1 + 9k to 7 + 9k; one more is drawn while its right edge
  // (8 + 9k) stays below percent x 200 / 100.
  draw(&canvas, 50);
  EXPECT_EQ("50%", text(1010));
  EXPECT_EQ(bar_, bar_at(canvas, 91, 5));  // block 10 ends at 98 < 100
  EXPECT_EQ(bar_, bar_at(canvas, 97, 5));
  EXPECT_EQ(face_, bar_at(canvas, 100, 5));  // block 11 would end at 107
  draw(&canvas, 100);
  EXPECT_EQ("100%", text(1010));
  EXPECT_EQ(bar_, bar_at(canvas, 190, 5));  // block 21 ends at 197 < 200
  EXPECT_EQ(bar_, bar_at(canvas, 196, 5));
  EXPECT_EQ(face_, bar_at(canvas, 197, 5));
  EXPECT_EQ(face_, bar_at(canvas, 198, 5));
  EXPECT_EQ(GetSysColor(COLOR_BTNHIGHLIGHT), bar_at(canvas, 199, 5));
}

// The value is kept always, painted only on a page that is shown.
TEST_F(ProgressBar, SetProgressKeepsAtMostAHundredAndPaintsVisiblePagesOnly) {
  ProgressWindow = window_;
  ShowWindow(window_, SW_SHOWNA);
  set_progress(150);
  EXPECT_EQ(100u, ProgressPercent);
  EXPECT_EQ("100%", text(1010));
  set_progress(37);
  EXPECT_EQ(37u, ProgressPercent);
  EXPECT_EQ("37%", text(1010));
  // Without a page nothing is painted, but the value is kept.
  ProgressWindow = nullptr;
  set_progress(60);
  EXPECT_EQ(60u, ProgressPercent);
  EXPECT_EQ("37%", text(1010));
  // A hidden page is left alone; its own paint shows the value once the
  // page is shown again.
  ProgressWindow = window_;
  ShowWindow(window_, SW_HIDE);
  set_progress(70);
  EXPECT_EQ(70u, ProgressPercent);
  EXPECT_EQ("37%", text(1010));
  ShowWindow(window_, SW_SHOWNA);
  set_progress(80);
  EXPECT_EQ("80%", text(1010));
}

TEST_F(ProgressBar, TheCurrentFileIsShownShortened) {
  ProgressWindow = window_;
  show_current_file("D:\\Program Files\\Company\\Product\\bin\\file.exe");
  EXPECT_EQ("D:\\Program Files\\...\\file.exe", text(1008));
  std::string too_long = "C:\\" + std::string(300, 'a') + "\\b.txt";
  show_current_file(too_long.c_str());  // cut to the buffer, never past it
  EXPECT_LE(text(1008).size(), 259u);
}

// Items announce their names; a quick item's name may wait, but the page
// shows the waiting name when asked to, a slow item's name at once, and a
// hidden page nothing until it is shown.
TEST_F(ProgressBar, AnnouncedNamesAreShownOnVisiblePagesOnly) {
  ProgressWindow = window_;
  ShowWindow(window_, SW_SHOWNA);
  announce_file("C:\\App\\slow.bin", true);
  EXPECT_EQ("C:\\App\\slow.bin", text(1008));
  announce_file("C:\\App\\quick.txt", false);
  show_waiting_file();
  EXPECT_EQ("C:\\App\\quick.txt", text(1008));
  ShowWindow(window_, SW_HIDE);
  announce_file("C:\\App\\hidden.txt", true);
  show_waiting_file();
  EXPECT_EQ("C:\\App\\quick.txt", text(1008));
  ShowWindow(window_, SW_SHOWNA);
  show_waiting_file();
  EXPECT_EQ("C:\\App\\hidden.txt", text(1008));
  // A name shown directly (the rollback's) is not overwritten by one that
  // waited.
  announce_file("C:\\App\\late.txt", false);
  show_current_file("");
  show_waiting_file();
  EXPECT_EQ("", text(1008));
}

}  // namespace
