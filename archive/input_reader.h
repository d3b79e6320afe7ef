// The input of one compressed stream. It hands out bytes only as the
// decoder asks for them and gives back what it buffered but did not hand
// out, so the file ends up right behind the stream without the stream's
// length being known.
#pragma once
#include <cstdint>

#include "archive/platform.h"

// A stream of known length is read in large chunks, as few reads as its
// length allows; one whose end is found only by decoding reads less at a
// time, since what it reads past its end goes back by a seek.
enum : uint32_t { kInputChunk = 16384, kUnboundedChunk = 4096 };

struct InputReader {
  uint8_t* buffer = nullptr;
  const uint8_t* next = nullptr;  // next unread byte
  uint32_t available = 0;         // unread bytes behind `next`
  FileHandle file = INVALID_FILE_HANDLE;
  uint32_t compressed_left = 0;   // bytes of a data-area stream not yet fetched
  bool from_data_area = false;    // a compressed length was given: read through read_data
  bool failed = false;            // a data-area read failed: the stream is abandoned

  InputReader() = default;
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;
};

// compressed_length 0: unbounded, the file is read directly.
bool begin_input(InputReader& in, FileHandle file, uint32_t compressed_length);
// Frees the buffer and moves the file back over the bytes not handed out.
// Harmless when nothing is attached.
void end_input(InputReader& in);
// Fills the buffer with the next chunk (available 0 at the end of input).
void refill_input(InputReader& in);
bool fetch_byte(InputReader& in, uint8_t* byte);
