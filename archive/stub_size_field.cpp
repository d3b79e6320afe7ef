#include "archive/stub_size.h"

StubFieldSearch find_stub_size_field(const uint8_t* image, size_t length, const volatile uint8_t* marker,
                                     size_t* offset) {
  uint8_t pattern[kStubSizeMarkerLength];
  for (size_t i = 0; i < kStubSizeMarkerLength; ++i) pattern[i] = marker[i];
  size_t found = length;
  for (size_t at = 0; at + kStubSizeMarkerLength <= length; ++at) {
    if (image[at] != pattern[0]) continue;
    size_t i = 1;
    while (i < kStubSizeMarkerLength && image[at + i] == pattern[i]) ++i;
    if (i < kStubSizeMarkerLength) continue;
    if (found != length) return StubFieldSearch::kNotUnique;
    found = at;
  }
  if (found == length || length - found < sizeof(StubSizeRecord)) return StubFieldSearch::kNone;
  *offset = found + kStubSizeMarkerLength;
  return StubFieldSearch::kFound;
}
