// Encoder of the archive's compressed stream format. The LZ77 parse and the
// Huffman codes come from libdeflate (from zlib for some parts of large
// inputs, from zopfli at the maximum level) as raw deflate; each block is
// then rewritten into our variant: a 4-bit block header, stored blocks
// without the one's-complement length, and the code-length code lengths
// listed in our order. The Huffman-coded data is copied bit for bit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Levels 1..12 are libdeflate's; the maximum also runs zopfli (five
// iterations, on inputs below 512 KiB, where it pays; blocks split with a
// coarser search than zopfli's own) and keeps the smaller of the two results.
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
  // Parts compressed on their own (see encode_stream), and the blocks at
  // their starts coded again for the part's bytes alone.
  uint32_t parts = 0;
  uint32_t cut_blocks = 0;
  // Parts that took zlib's parse, and parts taken as incompressible that
  // took libdeflate's fastest level (see kStreamPartLevel).
  uint32_t lazy_parts = 0;
  uint32_t fast_parts = 0;
};

// Inputs larger than this are compressed in parts of this size, all at once
// on every core: each part is primed with the 32 KiB before it, so its
// matches still reach back across the seam, and ends on a byte boundary
// with an empty stored block, so the parts join into one stream. The parts
// do not depend on the number of cores. Below the maximum level the parts
// take at most level 10's parser: on large items levels 11 and 12 cost a
// third more time for a few hundredths of a percent. At level 10 and above,
// a part whose samples show the near-optimal parser gaining next to nothing
// over zlib's lazy parse takes zlib's: on incompressible stretches mixed
// with repetitive ones it is as small and takes half the time. A part whose
// samples do not compress at all takes libdeflate's fastest level.
enum : size_t { kStreamPartSize = 4 << 20 };
enum : int { kStreamPartLevel = 10 };

// Compresses data[0..size) into one stream appended to *out.
int encode_stream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out,
                  StreamEncodeStats* stats = nullptr);

// How transcode_deflate treats the edges of a part of a longer input.
struct TranscodeOptions {
  // Bytes right before `original` that matches may reach back into: the
  // deflate stream was primed with them.
  size_t history = 0;
  // Bytes at the start of `original` that the deflate stream makes but
  // that are not written: it was primed by compressing them too.
  size_t skip = 0;
  // More parts follow: the last block is not marked final, and an empty
  // stored block ends the part on a byte boundary.
  bool more_follows = false;
};

// Rewrites the raw deflate stream deflate[0..deflate_size), which must decode
// to exactly original[0..original_size), as one stream appended to *out.
// The original bytes check every literal and match, and supply the content
// of blocks that are written as stored blocks.
int transcode_deflate(const uint8_t* deflate, size_t deflate_size, const uint8_t* original, size_t original_size,
                      std::vector<uint8_t>* out, StreamEncodeStats* stats = nullptr,
                      const TranscodeOptions& options = TranscodeOptions());
