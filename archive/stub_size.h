// The stub's own file length, stamped into its initialised data after
// linking: the archive of a setup file begins at that offset. The record's
// layout is shared with the stamping step (builder/stub_image.h), which
// finds it by its marker.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t { kStubSizeMarkerLength = 16 };

// Bytes unlikely to occur anywhere else in a program image. The stamping
// step insists on finding them exactly once.
#define KESTREL_STUB_SIZE_MARKER \
  {0x8B, 0x4B, 0x53, 0x54, 0xE2, 0x53, 0x54, 0x55, 0x42, 0xA7, 0x53, 0x49, 0x5A, 0x45, 0xC3, 0x1F}

struct StubSizeRecord {
  uint8_t marker[kStubSizeMarkerLength];
  uint32_t size;  // little-endian; 0 until stamped
};

// The stamped length; 0 for a stub that was never stamped, which carries
// no archive.
uint32_t stamped_stub_size();
// The marker as this program carries it: a program that searches other
// images for the field must not hold a second copy of the marker, or its
// own image could not be stamped.
const volatile uint8_t* stub_size_marker();

enum class StubFieldSearch { kFound, kNone, kNotUnique };
// Where the stub-size field (the u32 behind the marker) of an image lies:
// at *offset when the marker occurs exactly once, with room for the field
// behind it. Portable: the stamping step uses it as well.
StubFieldSearch find_stub_size_field(const uint8_t* image, size_t length, const volatile uint8_t* marker,
                                     size_t* offset);
