#include "builder/stub_image.h"

#include "archive/format.h"
#include "archive/stub_size.h"

static const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;

bool find_stub_size_field(const uint8_t* image, size_t length, size_t* offset, StampResult* why) {
  switch (find_stub_size_field(image, length, kMarker, offset)) {
    case StubFieldSearch::kFound: return true;
    case StubFieldSearch::kNotUnique: *why = StampResult::kMarkerNotUnique; return false;
    case StubFieldSearch::kNone: break;
  }
  *why = StampResult::kNoMarker;
  return false;
}

StampResult stamp_stub_size(std::vector<uint8_t>& image) {
  size_t offset = 0;
  StampResult why = StampResult::kStamped;
  if (!find_stub_size_field(image.data(), image.size(), &offset, &why)) return why;
  // Positions in a setup file are 32-bit.
  if (image.size() > 0x7FFFFFFFu) return StampResult::kTooLarge;
  put_u32(image.data() + offset, static_cast<uint32_t>(image.size()));
  return StampResult::kStamped;
}

bool read_stub_size(const std::vector<uint8_t>& image, uint32_t* size) {
  size_t offset = 0;
  StampResult why;
  if (!find_stub_size_field(image.data(), image.size(), &offset, &why)) return false;
  *size = get_u32(image.data() + offset);
  return true;
}

const char* stamp_result_text(StampResult result) {
  switch (result) {
    case StampResult::kStamped: return "stamped";
    case StampResult::kNoMarker: return "the program has no stub-size field";
    case StampResult::kMarkerNotUnique: return "the stub-size marker occurs more than once";
    case StampResult::kTooLarge: return "the program is too large for a setup file";
  }
  return "unknown result";
}
