// Painting of the archive's pictures: the full-screen background of the
// frame window and the wizard picture of the container.
#pragma once
#include <windows.h>

#include <cstdint>

// Paints the frame's client area (BackgroundPicture tiled, or the blue
// gradient, and BackgroundTitle in BackgroundStyle) into dc, the device
// context that the frame's WM_PAINT got from BeginPaint; the caller ends
// the painting.
void paint_background(HWND frame, HDC dc);
// Draws the bitmap block (BMP file layout, `length` bytes) centred in the
// dialog's control, clipped to it, with a sunken frame around it.
void draw_picture(HWND dialog, HDC dc, int control_id, const uint8_t* bitmap, uint32_t length);
