// The decoder of a setup type's solid LZMA stream (raw LZMA, no header):
// the items of the type one after the other, each taken as its size in
// bytes from where the previous one ended. Its memory is one allocation:
// this state, the probabilities (some 16 KiB for lc + lp = 3) and the
// dictionary.
#pragma once
#include <cstdint>

#include "archive/input_reader.h"
#include "archive/output_sink.h"
#include "archive/platform.h"

// The largest dictionary a setup may ask for: the setup program allocates
// it whole, and 16 MiB stays well inside what a 64 MB machine gives it.
// The smallest is LZMA's own, 4 KiB.
enum : uint32_t { kLzmaMinDictionary = 4096, kLzmaMaxDictionary = 16u << 20 };

struct LzmaDecoder {
  InputReader in;
  uint16_t* probs;
  uint8_t* dict;
  const uint8_t* flushed;  // first decoded byte not yet handed to the sink
  OutputSink* sink;        // null: the bytes are passed over
  uint32_t dict_size, pos, total;
  uint32_t range, code, state, pending;
  uint32_t rep[4];
  uint32_t lc, lp_mask, pb_mask;
  bool full;  // the dictionary has wrapped: every byte of it is history
  bool bad;   // a data error, a failed read or a failed write
};

// Starts the stream of `length` bytes at the data-area reader's position
// in `input` (read through read_data). `properties` is the usual byte
// lc + 9 * (lp + 5 * pb), with lc + lp at most 4 and pb at most 4.
// 0, kStreamDataError (properties, dictionary or first bytes) or
// kStreamNoMemory; on 0 *decoder holds the new decoder.
int lzma_begin(LzmaDecoder** decoder, uint8_t properties, uint32_t dict_size, FileHandle input, uint32_t length);

// The next `count` bytes of the stream into `sink` (null passes them
// over). False on a data error, a truncated stream or a failed write; the
// decoder then stays failed.
bool lzma_read(LzmaDecoder* d, OutputSink* sink, uint32_t count);

// Frees the decoder; harmless on null.
void lzma_end(LzmaDecoder** decoder);

// The current setup type's solid stream while an installation reads it.
extern LzmaDecoder* SolidStream;
// Ends the solid stream and closes the data-area reader's data_file;
// harmless when neither is open.
void close_data_file();
