// Builds file patches: the commands and literals that turn an old version of
// a file into its new version by copying runs of the old file and inserting
// new bytes, and the two patch blocks in which they are stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/patch.h"

struct PatchBlocks {
  std::vector<uint8_t> commands;
  std::vector<uint8_t> literals;
};

// Copy and insert limits of the command bytes.
enum : uint32_t {
  kPatchMinCopy = 2,
  kPatchShortCopyMax = 128,  // 0x01..0x7F
  kPatchLongCopyMax = 65664, // 0x00 with a u16 operand
  kPatchInsertMax = 32,      // 0x80..0x9F
  kPatchMixedInsertMax = 3,  // 0xA0..0xFF: 1..3 inserts, then a copy of 2..33
  kPatchMixedCopyMax = 33,
};

// Appends the coded form of a copy offset (1, 2, 3 or 7 bytes) to *out.
void put_patch_offset(int64_t offset, std::vector<uint8_t>* out);

// Finds matches of the new file in the old one and writes them as commands.
// Both files are below 2 GiB, as every file the setup handles.
PatchBlocks make_patch(const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size);

// One patch block: header, size, and the content raw or, when that is
// smaller, compressed at `level` (0 = never compress).
bool encode_patch_block(const std::vector<uint8_t>& content, int level, std::vector<uint8_t>* out);

// The patch data of one item: the commands block, then the literals block.
bool encode_patch(const PatchBlocks& blocks, int level, std::vector<uint8_t>* out);
