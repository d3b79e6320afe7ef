// The stream decoder. Input: u8 mode, u32 capacity, then the stream; with
// mode bit 0 the rest is plain bytes instead, encoded at level
// 1 + (mode >> 1) % 12 and decoded back. Rules: never more output than the
// capacity, and room for exactly the output is enough; a stream's end
// leaves the file right behind it, so the same stream cut there, read
// through the data area, or written to a file gives the same bytes; a
// round trip gives back exactly the input.
#include <memory>
#include <vector>

#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/format.h"
#include "builder/stream_encoder.h"
#include "tests/data_area_reader.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/native/test_files.h"

namespace {

// Largest output a stream may be given room for.
enum : uint32_t { kMaxCapacity = 1u << 20 };
// Where the stream starts in its file: the data area's block header and
// length word stand before it.
enum : uint32_t { kStreamAt = kBlockHeaderSize + 4 };

struct Decoded {
  bool ok;
  std::vector<uint8_t> bytes;
  uint32_t end;  // file position afterwards
};

std::string write_stream(const std::string& name, const uint8_t* stream, size_t size) {
  std::string path = scratch_path(name);
  write_data_area_file(path, stream, size);
  return path;
}

// compressed 0: from the file directly; otherwise through the data-area
// reader, as an item's data is read.
Decoded decode(const std::string& path, uint32_t capacity, uint32_t compressed) {
  Decoded d{false, {}, 0};
  // Exactly the capacity, not one byte more, and never null: a write past
  // it is a finding even for a capacity of 0.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
  uint32_t produced = 0;
  FileHandle file = INVALID_FILE_HANDLE;
  if (compressed) {
    FUZZ_RULE(open_data_area(path, 0) && seek_data(0) == 0);
    file = data_file;
  } else {
    file = open_file(path.c_str(), 0);
    FUZZ_RULE(seek_to(file, kStreamAt) == kStreamAt);
  }
  d.ok = decode_to_memory(buffer.get(), capacity, file, compressed, &produced);
  FUZZ_RULE(produced <= capacity);
  d.bytes.assign(buffer.get(), buffer.get() + produced);
  d.end = tell_file(file);
  FUZZ_RULE(d.end >= kStreamAt && d.end <= file_length(file));
  if (compressed) close_data_area();
  else close_file(file);
  return d;
}

std::vector<uint8_t> decode_into_file(const std::string& path) {
  std::string out_path = scratch_path("decoded");
  FileHandle in = open_file(path.c_str(), 0), out = create_file(out_path.c_str());
  seek_to(in, kStreamAt);
  FUZZ_RULE(decode_to_file(out, in, 0));
  close_file(in);
  close_file(out);
  return read_bytes(out_path);
}

void check_stream(const uint8_t* stream, size_t size, uint32_t capacity) {
  std::string path = write_stream("stream", stream, size);
  Decoded whole = decode(path, capacity, 0);
  if (!whole.ok) return;
  // Room for exactly its output is enough; one byte less is not.
  uint32_t produced = static_cast<uint32_t>(whole.bytes.size());
  Decoded exact = decode(path, produced, 0);
  FUZZ_RULE(exact.ok && exact.bytes == whole.bytes && exact.end == whole.end);
  if (produced > 0) FUZZ_RULE(!decode(path, produced - 1, 0).ok);
  uint32_t used = whole.end - kStreamAt;
  Decoded cut = decode(write_stream("cut", stream, used), capacity, 0);
  FUZZ_RULE(cut.ok && cut.bytes == whole.bytes && cut.end == whole.end);
  if (used > 0) {
    Decoded area = decode(path, capacity, used);
    FUZZ_RULE(area.ok && area.bytes == whole.bytes && area.end == whole.end);
  }
  FUZZ_RULE(decode_into_file(path) == whole.bytes);
}

void round_trip(const uint8_t* data, size_t size, int level) {
  std::vector<uint8_t> stream;
  FUZZ_RULE(encode_stream(data, size, level, &stream) == kEncodeOk);
  std::string path = write_stream("stream", stream.data(), stream.size());
  uint32_t length = static_cast<uint32_t>(size);
  Decoded back = decode(path, length, 0);
  FUZZ_RULE(back.ok && back.bytes == std::vector<uint8_t>(data, data + size));
  FUZZ_RULE(back.end == kStreamAt + stream.size());
  // One byte less room is a stream that yields more than announced.
  if (length > 0) FUZZ_RULE(!decode(path, length - 1, 0).ok);
  Decoded area = decode(path, length, static_cast<uint32_t>(stream.size()));
  FUZZ_RULE(area.ok && area.bytes == back.bytes && area.end == back.end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputCursor in{data, size};
  uint8_t mode = in.u8();
  uint32_t capacity = in.u32() % (kMaxCapacity + 1);
  if (mode & 1) {
    if (in.left <= kMaxCapacity) round_trip(in.next, in.left, 1 + (mode >> 1) % 12);
  } else {
    check_stream(in.next, in.left, capacity);
  }
  return 0;
}
