// The decoder of the archive's deflate-derived stream format.
#pragma once
#include <cstdint>

#include "archive/bit_input.h"
#include "archive/code_table.h"
#include "archive/output_sink.h"
#include "archive/output_window.h"
#include "archive/platform.h"

// The most bytes a stream of `stored` bytes can expand to: a match of 258
// bytes costs at least two bits.
inline uint64_t max_expansion(uint32_t stored) { return static_cast<uint64_t>(stored) * 1032 + 1032; }

// Decodes one stream from `input`, positioned at its first byte, into
// `buffer`, never writing more than `capacity` bytes (a stream that yields
// more is a data error). compressed_length 0: the file is read directly and
// the stream's own end stops decoding; otherwise the stream lies in the data
// area and is fetched through read_data up to that length. On return the
// input stands right behind the stream's last consumed byte. `produced`, when
// given, receives the number of bytes written.
bool decode_to_memory(uint8_t* buffer, uint32_t capacity, FileHandle input, uint32_t compressed_length,
                      uint32_t* produced = nullptr);

// The same into an open output file.
bool decode_to_file(FileHandle output, FileHandle input, uint32_t compressed_length);

// The same into any sink, for readers that bound or check what they keep.
bool decode_to_sink(OutputSink& sink, FileHandle input, uint32_t compressed_length);

// ---------------------------------------------------------------------------
// The state of one stream, for the operations above and the tests.

// Stream results.
enum : int { kStreamOk = 0, kStreamDataError = 1, kStreamBadBlock = 2, kStreamNoMemory = 3 };

// The decoding tables of one stream; they live behind the window in one
// allocation.
struct DecodeTables {
  CodeEntry literal[kLiteralTableSize];
  CodeEntry distance[kDistanceTableSize];
  CodeEntry code_length[kCodeLengthTableSize];
  CodeEntry fixed_literal[kLiteralTableSize];
  CodeEntry fixed_distance[kDistanceTableSize];
};

// A local of its caller, used for one operation.
struct Decompressor {
  BitInput bits;
  // Where the output goes; null when the window was started on the
  // caller's buffer (start_direct).
  OutputSink* sink = nullptr;
  OutputWindow window;
  DecodeTables* tables = nullptr;
  uint8_t* memory = nullptr;  // the window and the tables
  // Constant tables, filled at the start of every stream.
  uint8_t code_length_order[19];
  SymbolValue length_values[31];  // 286 and 287 are invalid
  SymbolValue distance_values[30];
  // The fixed tables are built at the first fixed block of a stream.
  bool fixed_built = false;
};

// Decodes the whole stream from d.bits.input into d.sink or the caller's
// buffer; returns a stream result. A failed data-area read ends it at once with 1 and
// d.bits.input.failed set.
int decode_stream(Decompressor& d);
