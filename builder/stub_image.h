// Stamping a stub image with its own file length, as the build does after
// linking (kestrel-stamp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum class StampResult { kStamped, kNoMarker, kMarkerNotUnique, kTooLarge };

// Offset of the stub-size field (the u32 behind the marker). False when the
// marker is missing or occurs more than once: a stamp must never land on
// bytes that merely look like the field.
bool find_stub_size_field(const uint8_t* image, size_t length, size_t* offset, StampResult* why);

// Writes the image's length into its field.
StampResult stamp_stub_size(std::vector<uint8_t>& image);

// The length the image carries in its field, or false when it has none.
bool read_stub_size(const std::vector<uint8_t>& image, uint32_t* size);

// One line for the user.
const char* stamp_result_text(StampResult result);
