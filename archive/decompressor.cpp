// The public decode operations: one stream from a file into a sink, or
// straight into memory.
#include "archive/decompressor.h"

namespace {

// Runs one stream on a decoder whose output is set up; false unless it
// decoded completely.
bool run_stream(Decompressor& d, FileHandle input, uint32_t compressed_length) {
  if (!begin_input(d.bits.input, input, compressed_length)) return false;
  int result = decode_stream(d);
  bool ok = result == kStreamOk && !d.bits.input.failed;
  end_input(d.bits.input);
  return ok;
}

}  // namespace

bool decode_to_sink(OutputSink& sink, FileHandle input, uint32_t compressed_length) {
  if (!sink.ready()) return false;
  Decompressor d;
  d.sink = &sink;
  return run_stream(d, input, compressed_length);
}

bool decode_to_memory(uint8_t* buffer, uint32_t capacity, FileHandle input, uint32_t compressed_length,
                      uint32_t* produced) {
  if (produced) *produced = 0;
  if (!buffer) return false;
  Decompressor d;
  start_direct(d.window, buffer, capacity);
  bool ok = run_stream(d, input, compressed_length);
  if (produced) *produced = d.window.position;
  return ok;
}

bool decode_to_file(FileHandle output, FileHandle input, uint32_t compressed_length) {
  FileSink sink(output);
  return decode_to_sink(sink, input, compressed_length);
}
