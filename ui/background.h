// The painted full-screen background (a tiled bitmap or a blue gradient,
// with a shadowed title) and the bitmap helpers the wizard's pictures share.
#pragma once
#include <windows.h>

#include <cstdint>

// A bitmap file from the archive as GDI takes it, checked against the bytes
// of its block (check_bitmap): everything GDI reads lies inside the block.
struct BitmapView {
  const BITMAPINFO* info;  // the information header, 14 bytes into the block
  const RGBQUAD* colours;  // colour table, colour_count entries
  uint32_t colour_count;
  const void* bits;
  int width;
  int height;  // rows, positive also for a top-down bitmap
  // Its size on the screen: its pixels are taken as pixels at 96 DPI, so
  // that it keeps its size against the dialogs.
  int drawn_width;
  int drawn_height;
};

// False, and nothing to draw, for a block that check_bitmap refuses; the
// drawn size is for the DPI of dc.
bool view_bitmap(HDC dc, const uint8_t* block, uint32_t length, BitmapView* out);

// A palette for 8-bit bitmaps, or null. With a palette-based 8-bit device
// the 20 static system colours take entries 0 to 9 and 246 to 255.
HPALETTE make_bitmap_palette(HDC dc, const BitmapView& bitmap);

// The bitmap's palette selected as foreground palette and realised, undone
// by restore_palette (previous palette back as background, ours deleted).
struct PaletteSelection {
  HPALETTE made;
  HPALETTE previous;
};
PaletteSelection select_bitmap_palette(HDC dc, const BitmapView& bitmap);
void restore_palette(HDC dc, PaletteSelection* selection);

// A length in pixels at 96 DPI (the pictures', the title's) at the DPI of
// dc, below 96 DPI as it is.
int at_dpi(HDC dc, int value);
// Draws the bitmap at its drawn size with its top-left corner at (x, y).
void blit_bitmap(HDC dc, const BitmapView& bitmap, int x, int y);

// Paints the frame's client area (BackgroundPicture tiled, or the blue
// gradient, and BackgroundTitle in BackgroundStyle) into dc, the device
// context that the frame's WM_PAINT got from BeginPaint; the caller ends
// the painting.
void paint_background(HWND frame, HDC dc);
// Draws the bitmap block (BMP file layout, `length` bytes) centred in the
// dialog's control, clipped to it, with a sunken frame around it.
void draw_picture(HWND dialog, HDC dc, int control_id, const uint8_t* bitmap, uint32_t length);
// The same for a client rectangle and the part of it to be painted.
void paint_background_area(HDC dc, const RECT& client, const RECT& area);
// The gradient alone; device_bits (planes x bits per pixel) chooses solid
// rows (8 or fewer) or dithered 8-row bands.
void paint_gradient(HDC dc, const RECT& client, const RECT& area, int device_bits);
