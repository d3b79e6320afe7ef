#include "archive/input_reader.h"

#include "archive/data_area.h"
#include "base/memory.h"

InputReader::~InputReader() { end_input(*this); }

bool begin_input(InputReader& in, FileHandle file, uint32_t compressed_length) {
  if (file == INVALID_FILE_HANDLE) return false;
  // Never read before it is filled: no need to clear it.
  if (!alloc_block(kInputChunk, &in.buffer)) return false;
  in.next = in.buffer;
  in.available = 0;
  in.compressed_left = compressed_length;
  in.from_data_area = compressed_length != 0;
  in.failed = false;
  in.file = file;
  return true;
}

void end_input(InputReader& in) {
  free_block(&in.buffer);
  if (in.file != INVALID_FILE_HANDLE && in.available > 0) {
    skip_file(in.file, -static_cast<int32_t>(in.available));
    // The reader counts what it handed out; these bytes are unread again.
    if (in.from_data_area && in.file == data_file) volume_left += in.available;
  }
  in.next = nullptr;
  in.available = 0;
  in.file = INVALID_FILE_HANDLE;
}

void refill_input(InputReader& in) {
  in.next = in.buffer;
  in.available = 0;
  if (!in.buffer) return;
  if (!in.from_data_area) {
    in.available = read_some(in.file, in.buffer, kUnboundedChunk);
    return;
  }
  // A data-area stream ends at its compressed length: reading on would take
  // the next item's bytes.
  if (in.failed || in.compressed_left == 0) return;
  uint32_t chunk = in.compressed_left < kInputChunk ? in.compressed_left : kInputChunk;
  // A change of volume inside read_data replaces the reader's handle.
  bool volume_file = in.file == data_file;
  uint32_t got = 0;
  int r = read_data(in.file, in.buffer, chunk, &got);
  if (volume_file) in.file = data_file;
  if (r != 0) {
    in.failed = true;
    return;
  }
  in.available = got;
  in.compressed_left -= got;
}

bool fetch_byte(InputReader& in, uint8_t* byte) {
  if (in.available == 0) refill_input(in);
  if (in.available == 0) return false;
  *byte = *in.next++;
  --in.available;
  return true;
}
