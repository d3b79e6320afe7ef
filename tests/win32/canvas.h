// A 32-bit top-down DIB section in a memory device context, so that tests
// can paint into it and read back exact pixels.
#pragma once
#include <windows.h>

#include <cstdint>

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels_ = static_cast<uint32_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return dc_ && pixels_; }
  HDC dc() const { return dc_; }
  RECT rect() const { return {0, 0, width_, height_}; }
  int width() const { return width_; }
  int height() const { return height_; }
  void fill(COLORREF colour) {
    for (int i = 0; i < width_ * height_; ++i) pixels_[i] = rgb(colour);
  }
  // The pixel as a COLORREF (0x00BBGGRR), comparable with GetSysColor.
  COLORREF at(int x, int y) const {
    GdiFlush();
    uint32_t p = pixels_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }

 private:
  static uint32_t rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* pixels_ = nullptr;
};
