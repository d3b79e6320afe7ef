// The full-screen background (gradient rows and dithered bands, tiled
// bitmaps from checked blocks, 8-bit palettes, the shadowed title) and the
// wizard picture centred in its control.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/config.h"
#include "tests/win32/canvas.h"
#include "ui/background.h"

// Stand-in for the wizard's painting helper: records where the frame goes.
RECT LastFrame;
bool LastFrameFilled = true;
int FramesDrawn = 0;
void draw_sunken_frame(HDC, const RECT& rect, bool fill) {
  LastFrame = rect;
  LastFrameFilled = fill;
  ++FramesDrawn;
}

namespace {

int blue(COLORREF c) { return GetBValue(c); }
bool blue_only(COLORREF c) { return GetRValue(c) == 0 && GetGValue(c) == 0; }

void put_u16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// A bitmap file: file header, 40-byte information header, `colours` table
// entries and `pixel_bytes` of bits.
std::vector<uint8_t> bitmap_file(int width, int height, int bits, uint32_t used, uint32_t colours,
                                 uint32_t pixel_bytes) {
  std::vector<uint8_t> b(14 + 40 + 4 * colours + pixel_bytes);
  b[0] = 'B';
  b[1] = 'M';
  put_u32(b, 2, static_cast<uint32_t>(b.size()));
  put_u32(b, 10, 14 + 40 + 4 * colours);
  put_u32(b, 14, 40);
  put_u32(b, 18, static_cast<uint32_t>(width));
  put_u32(b, 22, static_cast<uint32_t>(height));
  put_u16(b, 26, 1);
  put_u16(b, 28, static_cast<uint16_t>(bits));
  put_u32(b, 46, used);
  return b;
}

class Background : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    BackgroundPicture = nullptr;
    BackgroundPictureLength = 0;
    BackgroundTitle = nullptr;
    BackgroundTitleLength = 0;
    BackgroundStyle = nullptr;
    BackgroundStyleLength = 0;
  }
  void use_picture(std::vector<uint8_t>& file) {
    BackgroundPicture = file.data();
    BackgroundPictureLength = static_cast<uint32_t>(file.size());
  }
};

TEST_F(Background, SolidRowsDarkenQuadraticallyFromPureBlue) {
  Canvas canvas(16, 64);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(255, 255, 255));
  RECT all = canvas.rect();
  paint_gradient(canvas.dc(), all, all, 8);
  for (int y = 0; y < 64; ++y) {
    for (int x = 1; x < 16; ++x) ASSERT_EQ(canvas.at(0, y), canvas.at(x, y)) << "row " << y << " not solid";
    ASSERT_TRUE(blue_only(canvas.at(0, y))) << y;
    if (y > 0) {
      ASSERT_LE(blue(canvas.at(0, y)), blue(canvas.at(0, y - 1))) << y;
    }
  }
  EXPECT_EQ(RGB(0, 0, 255), canvas.at(0, 0));
  EXPECT_EQ(192, blue(canvas.at(0, 32)));  // halfway down a quarter of the blue is gone
  EXPECT_EQ(8, blue(canvas.at(0, 63)));    // 255 - 63^2 * 255 / 64^2
}

TEST_F(Background, SolidRowsPaintOnlyTheAreaAsked) {
  Canvas canvas(16, 64);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(255, 255, 255));
  RECT area = {4, 10, 8, 20};
  paint_gradient(canvas.dc(), canvas.rect(), area, 8);
  EXPECT_EQ(RGB(255, 255, 255), canvas.at(3, 15));
  EXPECT_EQ(RGB(255, 255, 255), canvas.at(8, 15));
  EXPECT_EQ(RGB(255, 255, 255), canvas.at(5, 9));
  EXPECT_EQ(RGB(0, 0, 255 - 100 * 255 / 4096), canvas.at(5, 10));
}

TEST_F(Background, DitheredBandsRunFromPureBlueToNearBlack) {
  Canvas canvas(64, 256);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(255, 255, 255));
  RECT all = canvas.rect();
  paint_gradient(canvas.dc(), all, all, 32);
  int top_max = 0, bottom_max = 0;
  for (int x = 0; x < 64; ++x) {
    for (int y = 0; y < 256; ++y) ASSERT_TRUE(blue_only(canvas.at(x, y))) << x << "," << y;
    top_max = std::max(top_max, blue(canvas.at(x, 0)));
    bottom_max = std::max(bottom_max, blue(canvas.at(x, 255)));
    // Within a band every colour lies between the band's first and eighth.
    EXPECT_GE(blue(canvas.at(x, 0)), 255 - 56 * 56 * 255 / 65536);
  }
  EXPECT_EQ(255, top_max);
  // The pattern's top row is its last stored row: its sixth pixel takes
  // the band's own colour, its first the colour five steps (40 rows) on.
  EXPECT_EQ(255, blue(canvas.at(5, 0)));
  EXPECT_EQ(255 - 40 * 40 * 255 / 65536, blue(canvas.at(0, 0)));
  EXPECT_LE(bottom_max, 16);
  // The pattern repeats every 8 pixels across the band.
  EXPECT_EQ(canvas.at(3, 100), canvas.at(11, 100));
  EXPECT_NE(canvas.at(0, 100), canvas.at(1, 100));
}

TEST_F(Background, NoHeightPaintsNoGradient) {
  Canvas canvas(8, 8);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(1, 2, 3));
  RECT empty = {0, 0, 8, 0};
  paint_gradient(canvas.dc(), empty, canvas.rect(), 32);
  paint_gradient(canvas.dc(), empty, canvas.rect(), 8);
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(4, 4));
}

TEST_F(Background, PictureIsTiledFromTheTopLeftCorner) {
  // 3 x 2, 24 bits, rows of 12 bytes (9 and padding), stored bottom row first.
  std::vector<uint8_t> file = bitmap_file(3, 2, 24, 0, 0, 24);
  auto tile = [](int x, int y) { return RGB(40 * x + 10, 100 * y + 20, 7); };
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = &file[54 + (1 - y) * 12 + 3 * x];
      COLORREF c = tile(x, y);
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  use_picture(file);
  Canvas canvas(7, 5);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(255, 255, 255));
  paint_background_area(canvas.dc(), canvas.rect(), canvas.rect());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(tile(x % 3, y % 2), canvas.at(x, y)) << x << "," << y;
}

TEST_F(Background, EightBitPictureKeepsItsColoursAndPalette) {
  std::vector<uint8_t> file = bitmap_file(2, 1, 8, 0, 256, 4);
  for (int i = 0; i < 256; ++i) {
    file[54 + 4 * i] = static_cast<uint8_t>(i);        // blue
    file[54 + 4 * i + 1] = static_cast<uint8_t>(255 - i);  // green
    file[54 + 4 * i + 2] = 9;                          // red
  }
  file[54 + 1024] = 100;
  file[54 + 1025] = 250;
  Canvas canvas(4, 1);
  ASSERT_TRUE(canvas.ok());
  BitmapView view;
  ASSERT_TRUE(view_bitmap(canvas.dc(), file.data(), static_cast<uint32_t>(file.size()), &view));
  EXPECT_EQ(256u, view.colour_count);

  HPALETTE palette = make_bitmap_palette(canvas.dc(), view);
  ASSERT_NE(nullptr, palette);
  PALETTEENTRY entries[256];
  ASSERT_EQ(256u, GetPaletteEntries(palette, 0, 256, entries));
  EXPECT_EQ(9, entries[100].peRed);
  EXPECT_EQ(155, entries[100].peGreen);
  EXPECT_EQ(100, entries[100].peBlue);
  EXPECT_EQ(0, entries[100].peFlags);
  EXPECT_EQ(PC_NOCOLLAPSE, entries[5].peFlags);
  EXPECT_EQ(PC_NOCOLLAPSE, entries[250].peFlags);
  DeleteObject(palette);

  use_picture(file);
  paint_background_area(canvas.dc(), canvas.rect(), canvas.rect());
  EXPECT_EQ(RGB(9, 155, 100), canvas.at(0, 0));
  EXPECT_EQ(RGB(9, 5, 250), canvas.at(1, 0));
  EXPECT_EQ(RGB(9, 155, 100), canvas.at(2, 0));
}

TEST_F(Background, ADamagedPictureIsPassedOverAndTheGradientShows) {
  std::vector<uint8_t> tall = bitmap_file(3, 200, 24, 0, 0, 24);  // bits for 2 rows only
  use_picture(tall);
  Canvas canvas(4, 16);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(255, 255, 255));
  paint_background_area(canvas.dc(), canvas.rect(), canvas.rect());
  // The gradient the device paints (solid rows or dithered bands, whose
  // top-left pixel may well be dark), drawn alone for comparison.
  Canvas gradient(4, 16);
  ASSERT_TRUE(gradient.ok());
  gradient.fill(RGB(255, 255, 255));
  paint_gradient(gradient.dc(), gradient.rect(), gradient.rect(),
                 GetDeviceCaps(gradient.dc(), PLANES) * GetDeviceCaps(gradient.dc(), BITSPIXEL));
  int bright = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 4; ++x) {
      ASSERT_EQ(gradient.at(x, y), canvas.at(x, y)) << x << "," << y;
      ASSERT_TRUE(blue_only(canvas.at(x, y))) << x << "," << y;
      bright += blue(canvas.at(x, y)) > 200;
    }
  EXPECT_GT(bright, 0) << "the top of the gradient is near pure blue";
}

// A w x h 24-bit bitmap whose pixel (x, y), counted from the top, is
// colour_of(x, y).
template <typename F>
std::vector<uint8_t> picture(int w, int h, F colour_of) {
  int stride = (w * 3 + 3) / 4 * 4;
  std::vector<uint8_t> file = bitmap_file(w, h, 24, 0, 0, stride * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &file[54 + (h - 1 - y) * stride + 3 * x];
      COLORREF c = colour_of(x, y);
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return file;
}

// A dialog-like window with the picture area 1011 at (10, 10), 20 x 10.
class Picture : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 60, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, dialog_);
    ASSERT_NE(nullptr, CreateWindowExA(0, "STATIC", "", WS_CHILD, 10, 10, 20, 10, dialog_,
                                       reinterpret_cast<HMENU>(1011), nullptr, nullptr));
    FramesDrawn = 0;
  }
  void TearDown() override { DestroyWindow(dialog_); }
  HWND dialog_ = nullptr;
};

TEST_F(Picture, IsCentredInTheControlWithAFrameAroundIt) {
  std::vector<uint8_t> file = picture(8, 6, [](int x, int y) { return RGB(20 * x, 30 * y, 99); });
  Canvas canvas(100, 60);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(1, 2, 3));
  draw_picture(dialog_, canvas.dc(), 1011, file.data(), static_cast<uint32_t>(file.size()));
  // x = 10 + (20 - 8) / 2, y = 10 + (10 - 6) / 2
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(RGB(20 * x, 30 * y, 99), canvas.at(16 + x, 12 + y)) << x << "," << y;
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(15, 14));
  ASSERT_EQ(1, FramesDrawn);
  EXPECT_EQ(16, LastFrame.left);
  EXPECT_EQ(12, LastFrame.top);
  EXPECT_EQ(24, LastFrame.right);
  EXPECT_EQ(18, LastFrame.bottom);
  EXPECT_FALSE(LastFrameFilled);
}

TEST_F(Picture, ALargerPictureIsCutAtTheControlsEdges) {
  std::vector<uint8_t> file = picture(40, 30, [](int x, int y) { return RGB(5 * x, 5 * y, 200); });
  Canvas canvas(100, 60);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(1, 2, 3));
  draw_picture(dialog_, canvas.dc(), 1011, file.data(), static_cast<uint32_t>(file.size()));
  // x = 10 + (20 - 40) / 2 = 0 and y = 10 + (10 - 30) / 2 = 0: only the
  // part inside the control shows.
  EXPECT_EQ(RGB(50, 50, 200), canvas.at(10, 10));
  EXPECT_EQ(RGB(5 * 29, 5 * 19, 200), canvas.at(29, 19));
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(9, 15));
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(30, 15));
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(15, 20));
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(0, 0));
  EXPECT_EQ(0, LastFrame.left);
  EXPECT_EQ(40, LastFrame.right);
}

TEST_F(Picture, NothingWithoutTheControlOrAWholeBitmap) {
  std::vector<uint8_t> file = picture(8, 6, [](int, int) { return RGB(255, 0, 0); });
  Canvas canvas(100, 60);
  ASSERT_TRUE(canvas.ok());
  canvas.fill(RGB(1, 2, 3));
  draw_picture(dialog_, canvas.dc(), 1099, file.data(), static_cast<uint32_t>(file.size()));
  draw_picture(dialog_, canvas.dc(), 1011, file.data(), static_cast<uint32_t>(file.size() - 1));
  draw_picture(dialog_, canvas.dc(), 1011, nullptr, 0);
  EXPECT_EQ(0, FramesDrawn);
  EXPECT_EQ(RGB(1, 2, 3), canvas.at(16, 12));
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  void add(int x, int y) {
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x);
    bottom = std::max(bottom, y);
  }
  bool empty() const { return right < 0; }
};

class Title : public Background {
 protected:
  void SetUp() override {
    Background::SetUp();
    style_.assign(68, 0);
    put_u32(style_, 0, RGB(255, 0, 0));  // shadow
    put_u32(style_, 4, RGB(0, 255, 0));  // text
    LOGFONTA font = {};
    font.lfHeight = -40;
    font.lfWeight = FW_BOLD;
    font.lfQuality = NONANTIALIASED_QUALITY;
    std::strcpy(font.lfFaceName, "Tahoma");
    std::memcpy(&style_[8], &font, sizeof font);
    BackgroundStyle = style_.data();
    BackgroundStyleLength = 68;
    BackgroundTitle = title_;
    BackgroundTitleLength = sizeof title_;
  }
  void paint(Box* shadow, Box* text) {
    Canvas canvas(240, 120);
    ASSERT_TRUE(canvas.ok());
    paint_background_area(canvas.dc(), canvas.rect(), canvas.rect());
    for (int y = 0; y < canvas.height(); ++y)
      for (int x = 0; x < canvas.width(); ++x) {
        COLORREF c = canvas.at(x, y);
        if (c == RGB(255, 0, 0)) shadow->add(x, y);
        if (c == RGB(0, 255, 0)) text->add(x, y);
      }
  }
  std::vector<uint8_t> style_;
  char title_[8] = "Kestrel";
};

TEST_F(Title, ShadowLiesFourPixelsRightAndBelowTheText) {
  Box shadow, text;
  paint(&shadow, &text);
  ASSERT_FALSE(text.empty());
  ASSERT_FALSE(shadow.empty());
  EXPECT_GE(text.left, 10);
  EXPECT_GE(text.top, 10);
  EXPECT_EQ(text.right + 4, shadow.right);
  EXPECT_EQ(text.bottom + 4, shadow.bottom);
  EXPECT_GE(shadow.left, 14);
  EXPECT_GE(shadow.top, 14);
}

TEST_F(Title, NoTitleWithoutTextOrWithoutAWholeStyle) {
  Box shadow, text;
  title_[0] = '\0';
  paint(&shadow, &text);
  EXPECT_TRUE(shadow.empty() && text.empty());

  title_[0] = 'K';
  BackgroundStyleLength = 67;
  paint(&shadow, &text);
  EXPECT_TRUE(shadow.empty() && text.empty());
}

TEST_F(Title, AnUnterminatedTitleStopsAtTheEndOfItsBlock) {
  Box whole_shadow, whole_text, cut_shadow, cut_text;
  BackgroundTitleLength = 7;  // no terminator inside the block
  paint(&whole_shadow, &whole_text);
  BackgroundTitleLength = 3;
  paint(&cut_shadow, &cut_text);
  ASSERT_FALSE(cut_text.empty());
  EXPECT_LT(cut_text.right, whole_text.right);
}

}  // namespace
