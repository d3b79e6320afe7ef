// kestrel-png-check FILE W H [RRGGBB BW BH TOLERANCE]: FILE is a whole PNG
// (read back through zlib) of W x H pixels and, when a colour is given, the
// pixels of that colour span exactly BW x BH. Exit 0 when so, 1 otherwise,
// saying what was found.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/native/png_reader.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 8) {
    fprintf(stderr, "usage: kestrel-png-check FILE W H [RRGGBB BW BH TOLERANCE]\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "%s: cannot be opened\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) data.insert(data.end(), buffer, buffer + n);
  fclose(f);
  Image image;
  std::string why;
  if (!decode_png(data.data(), data.size(), image, &why)) {
    fprintf(stderr, "%s: %s\n", argv[1], why.c_str());
    return 1;
  }
  if (image.width != atoi(argv[2]) || image.height != atoi(argv[3])) {
    fprintf(stderr, "%s: %dx%d, expected %sx%s\n", argv[1], image.width, image.height, argv[2], argv[3]);
    return 1;
  }
  if (argc == 8) {
    uint32_t colour = static_cast<uint32_t>(strtoul(argv[4], nullptr, 16));
    Box box;
    if (!colour_box(image, 0, 0, image.width, image.height, colour, atoi(argv[7]), box)) {
      fprintf(stderr, "%s: no pixel of %06X\n", argv[1], colour);
      return 1;
    }
    int w = box.right - box.left, h = box.bottom - box.top;
    if (w != atoi(argv[5]) || h != atoi(argv[6])) {
      fprintf(stderr, "%s: %06X spans %dx%d at %d,%d, expected %sx%s\n", argv[1], colour, w, h, box.left, box.top,
              argv[5], argv[6]);
      return 1;
    }
  }
  printf("%s: %dx%d, as expected\n", argv[1], image.width, image.height);
  return 0;
}
