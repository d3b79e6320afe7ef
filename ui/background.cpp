#include "ui/background.h"

#include <cstring>

#include "archive/bitmap.h"
#include "archive/config.h"
#include "archive/format.h"
#include "base/memory.h"
#include "ui/control_rect.h"
#include "ui/gradient.h"
#include "ui/sunken_frame.h"

enum : uint32_t { kTitleStyleSize = 68 };

bool view_bitmap(HDC dc, const uint8_t* block, uint32_t length, BitmapView* out) {
  BitmapLayout layout;
  if (!check_bitmap(block, length, &layout)) return false;
  out->info = reinterpret_cast<const BITMAPINFO*>(block + layout.header_offset);
  out->colours = reinterpret_cast<const RGBQUAD*>(block + layout.colours_offset);
  out->colour_count = layout.colour_count;
  out->bits = block + layout.bits_offset;
  out->width = layout.width;
  out->height = layout.height;
  out->drawn_width = at_dpi(dc, layout.width);
  out->drawn_height = at_dpi(dc, layout.height);
  return true;
}

HPALETTE make_bitmap_palette(HDC dc, const BitmapView& bitmap) {
  if (bitmap.info->bmiHeader.biBitCount != 8) return nullptr;
  LOGPALETTE* palette = nullptr;
  if (!alloc_zeroed(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY), &palette)) return nullptr;
  palette->palVersion = 0x300;
  palette->palNumEntries = 256;
  for (uint32_t i = 0; i < 256; ++i) {
    PALETTEENTRY& entry = palette->palPalEntry[i];
    // A short colour table leaves the remaining positions black.
    if (i < bitmap.colour_count) {
      entry.peRed = bitmap.colours[i].rgbRed;
      entry.peGreen = bitmap.colours[i].rgbGreen;
      entry.peBlue = bitmap.colours[i].rgbBlue;
    }
    if (i < 10 || i >= 246) entry.peFlags = PC_NOCOLLAPSE;
  }
  int device_bits = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
  if (device_bits == 8 && (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
    GetSystemPaletteEntries(dc, 0, 10, palette->palPalEntry);
    GetSystemPaletteEntries(dc, 246, 10, palette->palPalEntry + 246);
  }
  HPALETTE made = CreatePalette(palette);
  free_block(&palette);
  return made;
}

PaletteSelection select_bitmap_palette(HDC dc, const BitmapView& bitmap) {
  PaletteSelection selection = {make_bitmap_palette(dc, bitmap), nullptr};
  if (selection.made) {
    selection.previous = SelectPalette(dc, selection.made, FALSE);
    RealizePalette(dc);
  }
  return selection;
}

void restore_palette(HDC dc, PaletteSelection* selection) {
  if (!selection->made) return;
  SelectPalette(dc, selection->previous, TRUE);
  DeleteObject(selection->made);
  selection->made = nullptr;
}

int at_dpi(HDC dc, int value) {
  // Never smaller than made: a tile of one pixel still ends its rows.
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  return value * (dpi > 96 ? dpi : 96) / 96;
}

void blit_bitmap(HDC dc, const BitmapView& bitmap, int x, int y) {
  // Smoothed where it is stretched; 1:1 it stays an exact copy. (The
  // Windows 95 family has no HALFTONE and keeps its default stretching.)
  if (bitmap.drawn_width != bitmap.width) SetStretchBltMode(dc, HALFTONE);
  StretchDIBits(dc, x, y, bitmap.drawn_width, bitmap.drawn_height, 0, 0, bitmap.width, bitmap.height, bitmap.bits,
                bitmap.info, DIB_RGB_COLORS, SRCCOPY);
}

static void paint_solid_rows(HDC dc, const RECT& area, int height) {
  HBRUSH brush = nullptr;
  COLORREF brush_colour = 0;
  for (int y = area.top; y <= area.bottom; ++y) {
    COLORREF colour = RGB(0, 0, gradient_blue(y, height));
    if (!brush || colour != brush_colour) {
      if (brush) DeleteObject(brush);
      brush = CreateSolidBrush(colour);
      brush_colour = colour;
      if (!brush) continue;
    }
    RECT row = {area.left, y, area.right, y + 1};
    FillRect(dc, &row, brush);
  }
  if (brush) DeleteObject(brush);
}

static void paint_dithered_bands(HDC dc, const RECT& client, const RECT& area, int height) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BITMAPINFOHEADER) + kBandPatternBytes);
  if (!block) return;
  for (int y0 = 0; y0 < height; y0 += 8) {
    if (y0 + 8 <= area.top || y0 >= area.bottom) continue;  // clipped away anyway
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (!header) break;
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = 8;
    header->biHeight = 8;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = kBandPatternBytes;
    fill_band_pattern(reinterpret_cast<uint8_t*>(header + 1), y0, height);
    GlobalUnlock(block);
    HBRUSH brush = CreateDIBPatternBrush(block, DIB_RGB_COLORS);
    if (!brush) continue;
    RECT band = {client.left, y0, client.right, y0 + 8};
    FillRect(dc, &band, brush);
    DeleteObject(brush);
  }
  GlobalFree(block);
}

void paint_gradient(HDC dc, const RECT& client, const RECT& area, int device_bits) {
  int height = client.bottom - client.top;
  if (height <= 0) return;
  if (device_bits <= 8)
    paint_solid_rows(dc, area, height);
  else
    paint_dithered_bands(dc, client, area, height);
}

static void paint_tiles(HDC dc, const RECT& client, const BitmapView& bitmap) {
  PaletteSelection palette = select_bitmap_palette(dc, bitmap);
  for (int y = client.top; y < client.bottom; y += bitmap.drawn_height)
    for (int x = client.left; x < client.right; x += bitmap.drawn_width) blit_bitmap(dc, bitmap, x, y);
  restore_palette(dc, &palette);
}

static void paint_title(HDC dc) {
  if (!BackgroundTitle || !BackgroundStyle || BackgroundStyleLength < kTitleStyleSize) return;
  // The title ends at its first NUL or at the end of its record; memchr is
  // imported anyway, where strnlen would link a copy of the C library's.
  const void* end = std::memchr(BackgroundTitle, '\0', BackgroundTitleLength);
  size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - BackgroundTitle) : BackgroundTitleLength;
  if (length == 0) return;
  LOGFONTA description;
  std::memcpy(&description, BackgroundStyle + 8, sizeof description);
  description.lfFaceName[LF_FACESIZE - 1] = '\0';
  // The style's sizes and places are pixels at 96 DPI.
  description.lfHeight = at_dpi(dc, description.lfHeight);
  HFONT font = CreateFontIndirectA(&description);
  HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  int right = GetSystemMetrics(SM_CXSCREEN);
  int bottom = GetSystemMetrics(SM_CYSCREEN);
  // First the shadow in its colour (the style's first field) at 14, 14, then
  // the text in the second at 10, 10.
  for (int i = 0; i < 2; ++i) {
    int at = at_dpi(dc, 14 - 4 * i);
    RECT place = {at, at, right, bottom};
    SetTextColor(dc, get_u32(BackgroundStyle + 4 * i));
    DrawTextA(dc, BackgroundTitle, static_cast<int>(length), &place, DT_NOPREFIX | DT_NOCLIP);
  }
  if (font) {
    SelectObject(dc, previous);
    DeleteObject(font);
  }
}

void paint_background_area(HDC dc, const RECT& client, const RECT& area) {
  BitmapView bitmap;
  // A damaged picture is treated as none: the gradient shows instead.
  if (view_bitmap(dc, BackgroundPicture, BackgroundPictureLength, &bitmap))
    paint_tiles(dc, client, bitmap);
  else
    paint_gradient(dc, client, area, GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL));
  paint_title(dc);
}

void paint_background(HWND frame, HDC dc) {
  if (!dc) return;
  RECT client;
  GetClientRect(frame, &client);
  RECT area;
  if (GetClipBox(dc, &area) == ERROR) area = client;
  paint_background_area(dc, client, area);
}

void draw_picture(HWND dialog, HDC dc, int control_id, const uint8_t* bitmap, uint32_t length) {
  RECT place;
  if (!control_rect(dialog, control_id, &place)) return;
  // The restriction stays for the rest of this painting, the frame included.
  IntersectClipRect(dc, place.left, place.top, place.right, place.bottom);
  BitmapView view;
  if (!view_bitmap(dc, bitmap, length, &view)) return;
  // One that would not fit at this DPI is drawn as it was made, as before:
  // a picture made larger for a high DPI is not cut off there.
  if (view.drawn_width > place.right - place.left || view.drawn_height > place.bottom - place.top) {
    view.drawn_width = view.width;
    view.drawn_height = view.height;
  }
  PaletteSelection palette = select_bitmap_palette(dc, view);
  int x = place.left + (place.right - place.left - view.drawn_width) / 2;
  int y = place.top + (place.bottom - place.top - view.drawn_height) / 2;
  blit_bitmap(dc, view, x, y);
  restore_palette(dc, &palette);
  RECT frame = {x, y, x + view.drawn_width, y + view.drawn_height};
  draw_sunken_frame(dc, frame, false);
}
