// Writes a block of our stream format from LZ77 tokens, with Huffman codes
// made for exactly those tokens: a dynamic block, or a fixed or stored one
// when that is smaller.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "builder/deflate_symbols.h"

// A literal (length 0, value the byte) or a match (length 3..258, value the
// distance 1..32768).
struct Token {
  uint16_t length;
  uint16_t value;
};

// Where a written block lies and how far a decoder may look past it.
struct WrittenBlock {
  uint64_t header_at = 0;  // bit position of the block header
  // Bits past the end-of-block code that a decoder looking up as many bits
  // as its tables are wide may ask for (the end-of-block code itself is
  // exempt: the decoder's tables end exactly at it).
  uint64_t tail_need = 0;
  uint32_t type = 0;  // kTypeStored, kTypeFixed or kTypeDynamic
  uint32_t stored_pieces = 0;
};

// Stored blocks of at most 65535 bytes each (one empty block for no
// bytes); `last` (kLastBlock or 0) marks the final one.
void write_stored_blocks(BitWriter& out, const uint8_t* bytes, size_t size, uint32_t last, WrittenBlock* block);

// `bytes` are the `size` bytes the tokens stand for; `last` is kLastBlock
// or 0.
WrittenBlock write_token_block(BitWriter& out, const std::vector<Token>& tokens, const uint8_t* bytes, size_t size,
                               uint32_t last);
