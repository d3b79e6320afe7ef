// The stub's own file length, stamped into its initialised data after
// linking: the archive of a setup file begins at that offset. The record's
// layout is shared with the stamping step (builder/stub_image.h), which
// finds it by its marker.
#pragma once
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
