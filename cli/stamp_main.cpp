// Build step: copies a Windows program of ours without the zero bytes at
// the end of its sections (builder/program_layout.h), stamps its own
// length in and fills in its header checksum.
//   kestrel-stamp IN OUT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builder/program_layout.h"
#include "builder/stub_image.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestrel-stamp IN OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kestrel-stamp: cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "kestrel-stamp: cannot read %s\n", argv[1]);
    return 1;
  }
  // The field is zero until stamped: it stays in the file wherever it lies.
  size_t field = 0;
  StampResult result = StampResult::kStamped;
  if (find_stub_size_field(image.data(), image.size(), &field, &result)) {
    LayoutResult layout = drop_zero_section_tails(image, field + 4);
    if (layout != LayoutResult::kDone) {
      std::fprintf(stderr, "kestrel-stamp: %s: %s\n", argv[1], layout_result_text(layout));
      return 1;
    }
    result = stamp_stub_size(image);
  }
  if (result != StampResult::kStamped) {
    std::fprintf(stderr, "kestrel-stamp: %s: %s\n", argv[1], stamp_result_text(result));
    return 1;
  }
  write_pe_checksum(image);
  // Written beside the target and renamed, so a failed stamp never leaves
  // a half-written stub behind.
  std::string temp = std::string(argv[2]) + ".tmp";
  std::ofstream out(temp, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out || std::rename(temp.c_str(), argv[2]) != 0) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "kestrel-stamp: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
