// Encoder of the archive's compressed stream format. The LZ77 parse and the
// Huffman codes come from libdeflate (or zopfli at the maximum level) as raw
// deflate; each block is then rewritten into our variant: a 4-bit block
// header, stored blocks without the one's-complement length, and the
// code-length code lengths listed in our order. The Huffman-coded data is
// copied bit for bit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Levels 1..12 are libdeflate's; the maximum runs zopfli as well and keeps
// the smaller of the two results.
enum : int { kStreamLevelMin = 1, kStreamLevelDefault = 12, kStreamLevelMax = 13 };

enum StreamEncodeResult : int {
  kEncodeOk = 0,
  kEncodeBadLevel = 1,
  kEncodeNoMemory = 2,
  // The raw deflate handed to the transcoder is malformed or does not decode
  // to the original bytes.
  kEncodeBadDeflate = 3,
};

// What the transcoder wrote, block by block.
struct StreamEncodeStats {
  uint32_t stored_blocks = 0;
  uint32_t fixed_blocks = 0;
  uint32_t dynamic_blocks = 0;
  // Deflate blocks our decoder would refuse (more than 286 literal/length or
  // 30 distance codes, an incomplete code other than one code of length 1),
  // written again as fixed or stored blocks.
  uint32_t rewritten_blocks = 0;
  // Empty stored blocks added at the end so that the decoder, which looks
  // bits up ahead, does not take a byte from behind the stream.
  uint32_t closing_blocks = 0;
};

// Compresses data[0..size) into one stream appended to *out.
int encode_stream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out,
                  StreamEncodeStats* stats = nullptr);

// Rewrites the raw deflate stream deflate[0..deflate_size), which must decode
// to exactly original[0..original_size), as one stream appended to *out.
// The original bytes check every literal and match, and supply the content
// of blocks that are written as stored blocks.
int transcode_deflate(const uint8_t* deflate, size_t deflate_size, const uint8_t* original, size_t original_size,
                      std::vector<uint8_t>* out, StreamEncodeStats* stats = nullptr);
