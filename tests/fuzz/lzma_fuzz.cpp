// The solid LZMA decoder. Input: u8 mode, u8 properties, u16 dictionary
// in 4 KiB units, u32 output length, u32 piece seed, then the stream; with
// mode bit 0 the rest is plain bytes instead, encoded by the builder's
// encoder and decoded back. Rules: never more output than asked; every
// piece a sink gets but an item's last is a multiple of 4 bytes; the
// stream read in pieces (some passed over) gives the same bytes as read
// whole, and fails where it fails; a round trip gives back the input.
#include <algorithm>
#include <vector>

#include "archive/data_area.h"
#include "archive/lzma_decoder.h"
#include "builder/lzma_encoder.h"
#include "tests/data_area_reader.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/native/test_files.h"

namespace {

enum : uint32_t { kMaxOutput = 1u << 20 };

class KeepingSink : public OutputSink {
 public:
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    FUZZ_RULE(!short_piece);
    short_piece = count % 4 != 0;
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }
  std::vector<uint8_t> bytes;
  bool short_piece = false;
};

struct Result {
  int begun;
  bool ok;
  std::vector<uint8_t> bytes;  // what the kept pieces gave, zeros for those passed over
};

// Reads `total` bytes in pieces drawn from `seed` (whole when 0).
Result decode(const std::string& path, uint8_t properties, uint32_t dict, uint32_t length, uint32_t total,
              uint32_t seed) {
  Result r{-1, false, {}};
  FUZZ_RULE(open_data_area(path, 0) && seek_data(0) == 0);
  LzmaDecoder* d = nullptr;
  r.begun = lzma_begin(&d, properties, dict, data_file, length);
  if (r.begun == 0) {
    r.ok = true;
    uint32_t x = seed | 1;
    for (uint32_t done = 0, n = 0; done < total && r.ok; done += n) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      n = seed ? std::min<uint32_t>(1 + x % 9000, total - done) : total;
      KeepingSink sink;
      bool pass_over = seed && x % 5 == 0;
      r.ok = lzma_read(d, pass_over ? nullptr : &sink, n);
      FUZZ_RULE(sink.bytes.size() <= n);
      if (pass_over) sink.bytes.assign(n, 0);
      FUZZ_RULE(!r.ok || sink.bytes.size() == n);
      r.bytes.insert(r.bytes.end(), sink.bytes.begin(), sink.bytes.end());
    }
  }
  lzma_end(&d);
  FUZZ_RULE(d == nullptr);
  close_data_area();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputCursor in{data, size};
  uint8_t mode = in.u8();
  uint8_t properties = in.u8();
  uint32_t dict = (in.u16() % 512 + 1) * kLzmaMinDictionary;
  uint32_t total = in.u32() % (kMaxOutput + 1);
  uint32_t seed = in.u32();
  std::string path = scratch_path("stream");
  if (mode & 1) {
    if (in.left > kMaxOutput) return 0;
    std::vector<uint8_t> stream;
    FUZZ_RULE(lzma_encode(in.next, in.left, dict, &stream));
    write_data_area_file(path, stream.data(), stream.size());
    uint32_t n = static_cast<uint32_t>(in.left);
    Result r = decode(path, kLzmaProperties, dict, static_cast<uint32_t>(stream.size()), n, seed);
    FUZZ_RULE(r.begun == 0 && r.ok);
    for (uint32_t i = 0; i < n; ++i) FUZZ_RULE(r.bytes[i] == in.next[i] || r.bytes[i] == 0);
    Result whole = decode(path, kLzmaProperties, dict, static_cast<uint32_t>(stream.size()), n, 0);
    FUZZ_RULE(whole.ok && whole.bytes == std::vector<uint8_t>(in.next, in.next + n));
    // The end marker follows the last byte.
    FUZZ_RULE(!decode(path, kLzmaProperties, dict, static_cast<uint32_t>(stream.size()), n + 1, 0).ok);
    return 0;
  }
  // An empty data area has no position 0 to start a stream at.
  if (in.left == 0) return 0;
  write_data_area_file(path, in.next, in.left);
  uint32_t length = static_cast<uint32_t>(in.left);
  Result whole = decode(path, properties, dict, length, total, 0);
  Result pieces = decode(path, properties, dict, length, total, seed);
  FUZZ_RULE(whole.begun == pieces.begun);
  if (whole.begun != 0) return 0;
  // Pieces fail where the whole fails; before that they agree, but for
  // the pieces passed over.
  FUZZ_RULE(whole.ok == pieces.ok);
  if (whole.ok) {
    FUZZ_RULE(pieces.bytes.size() == whole.bytes.size());
    for (size_t i = 0; i < whole.bytes.size(); ++i) FUZZ_RULE(pieces.bytes[i] == whole.bytes[i] || pieces.bytes[i] == 0);
  }
  return 0;
}
