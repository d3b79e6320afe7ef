// Reads PNG files back for the tests, through zlib: an independent check of
// the files that kestrel preview and the wizard driver write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/driver/bitmap.h"

// 8-bit RGB, not interlaced, every chunk's CRC right, the image data whole;
// otherwise false with *why saying what is wrong.
bool decode_png(const uint8_t* data, size_t size, Image& image, std::string* why);
