// The 32-bit rotate-and-add checksum of installed files.
#pragma once
#include <cstdint>

#include "archive/platform.h"

uint32_t checksum_block(const uint8_t* data, uint32_t length, uint32_t seed);
// Checksum (seed 0) of the file from its current position to its end.
uint32_t checksum_file(FileHandle file);
