// The output window: the bytes decoded so far that copies may still reach
// back into, and room for the next ones. Two kinds:
//
// - In front of a sink, the window is also the output buffer: the last
//   32768 bytes decoded, followed by a region of a few 32768-byte pieces.
//   When the region is full and more bytes come, its pieces go to the sink
//   and its last 32768 bytes move to the front as the history of the next
//   round, so a copy's source never wraps. The sink receives pieces of
//   exactly 32768 bytes, then one shorter piece at the end of a successful
//   stream.
// - Into memory, the caller's buffer is the window: bytes are decoded
//   straight into it, and a stream that needs more room than it has is a
//   data error.
//
// Fast copies may write up to 40 bytes past their own end, which the bytes
// decoded next overwrite, but never past the buffer: into memory, the
// buffer's bytes behind a shorter output than its capacity may change.
#pragma once
#include <cstdint>

#include "archive/output_sink.h"

enum : uint32_t {
  kWindowSize = 32768,  // how far copies reach back; the size of a piece
  kWindowPieces = 4,    // pieces decoded between two moves of the history
  kWindowEnd = kWindowSize + kWindowPieces * kWindowSize,
  kMaxCopy = 258,
};

struct OutputWindow {
  uint8_t* buffer = nullptr;
  uint32_t position = 0;  // offset of the next byte to decode
  // Offset of the stream's first byte while it is still in the buffer, 0
  // once a whole history lies before the region: a copy from before it
  // reads zeros, as from a window that starts out zero-filled.
  uint32_t first = 0;
  uint32_t end = 0;             // offset where the buffer is full
  OutputSink* sink = nullptr;   // null: the buffer is the caller's output
};

// A window of kWindowEnd bytes in front of a sink.
void start_window(OutputWindow& w, uint8_t* buffer, OutputSink* sink);
// The caller's buffer as the window.
void start_direct(OutputWindow& w, uint8_t* buffer, uint32_t capacity);
// Called when the buffer is full and another byte must be decoded: writes
// the region out and moves its last 32768 bytes to the front. False: the
// sink refused a piece, or the caller's buffer is full.
bool make_room(OutputWindow& w);
// Copies `length` bytes from `distance` back, byte-exact: zeros from before
// the stream's start, bytes just written repeated, room made whenever the
// buffer fills.
bool copy_exact(OutputWindow& w, uint32_t distance, uint32_t length);
// Writes out the whole pieces not written yet and, for a successful stream,
// the shorter rest (possibly empty).
bool finish_window(OutputWindow& w, bool success);
