#include "builder/stub_image.h"

#include <algorithm>

#include "app/stub_size.h"
#include "archive/format.h"

static const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;

bool find_stub_size_field(const uint8_t* image, size_t length, size_t* offset, StampResult* why) {
  const uint8_t* end = image + length;
  const uint8_t* found = nullptr;
  for (const uint8_t* at = image;; ++at) {
    at = std::search(at, end, kMarker, kMarker + kStubSizeMarkerLength);
    if (at == end) break;
    if (found) {
      *why = StampResult::kMarkerNotUnique;
      return false;
    }
    found = at;
  }
  if (!found || end - found < static_cast<ptrdiff_t>(sizeof(StubSizeRecord))) {
    *why = StampResult::kNoMarker;
    return false;
  }
  *offset = static_cast<size_t>(found - image) + kStubSizeMarkerLength;
  return true;
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
