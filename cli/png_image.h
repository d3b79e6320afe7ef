// PNG files of screenshots (kestrel preview, make demo): 8-bit RGB, written
// by a small deflate of our own (LZ77 with fixed codes), so that the
// Windows programs that take the screenshots need no library. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// `rgb` holds the pixels top row first, three bytes R, G, B each, no
// padding. Empty when the size is not 1 to 32768 pixels a side.
std::vector<uint8_t> encode_png(int32_t width, int32_t height, const uint8_t* rgb);
