// The PNG writer of kestrel preview and the wizard driver, read back by
// zlib: every kind of picture comes back pixel for pixel, and screenshot
// pictures come out much smaller than their pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "cli/png_image.h"
#include "tests/native/png_reader.h"

namespace {

Image round_trip(const Image& in, size_t* file_size = nullptr) {
  std::vector<uint8_t> file = encode_png(in.width, in.height, in.rgb.data());
  if (file_size) *file_size = file.size();
  Image out;
  std::string why;
  EXPECT_TRUE(decode_png(file.data(), file.size(), out, &why)) << why;
  return out;
}

Image picture(int32_t w, int32_t h) {
  Image image;
  image.width = w;
  image.height = h;
  image.rgb.assign(static_cast<size_t>(w) * h * 3, 0);
  return image;
}

TEST(PngImage, ComesBackPixelForPixel) {
  std::mt19937 random(7);
  Image noise = picture(37, 23), one = picture(1, 1), wide = picture(12000, 2), screen = picture(1024, 768);
  for (uint8_t& b : noise.rgb) b = static_cast<uint8_t>(random());
  one.rgb = {1, 2, 3};
  for (size_t i = 0; i < wide.rgb.size(); ++i) wide.rgb[i] = static_cast<uint8_t>(i % 7 == 0 ? random() : i / 500);
  // A gradient behind a grey dialog with some text-like noise on it.
  for (int32_t y = 0; y < screen.height; ++y)
    for (int32_t x = 0; x < screen.width; ++x) {
      uint8_t* p = &screen.rgb[(static_cast<size_t>(y) * screen.width + x) * 3];
      bool dialog = x > 200 && x < 800 && y > 150 && y < 600;
      p[0] = dialog ? 192 : 0;
      p[1] = dialog ? 192 : 0;
      p[2] = dialog ? 192 : static_cast<uint8_t>(255 - y / 3);
      if (dialog && y % 20 < 8 && random() % 3 == 0) p[0] = p[1] = p[2] = 0;
    }
  for (const Image* in : {&noise, &one, &wide, &screen}) {
    Image out = round_trip(*in);
    EXPECT_EQ(out.width, in->width);
    EXPECT_EQ(out.height, in->height);
    EXPECT_TRUE(out.rgb == in->rgb) << in->width << "x" << in->height;
  }
  size_t size = 0;
  round_trip(screen, &size);
  EXPECT_LT(size, screen.rgb.size() / 8) << "a screenshot compresses to " << size << " bytes";
}

TEST(PngImage, RefusesSizesNoPictureHas) {
  uint8_t pixel[3] = {};
  EXPECT_TRUE(encode_png(0, 1, pixel).empty());
  EXPECT_TRUE(encode_png(1, -1, pixel).empty());
  EXPECT_TRUE(encode_png(32769, 1, pixel).empty());
}

}  // namespace
