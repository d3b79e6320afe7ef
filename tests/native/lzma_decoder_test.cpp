// The solid LZMA decoder against liblzma's encoder: round trips in pieces
// of any size (as a setup type's items are taken from one stream), every
// property combination the decoder accepts, a dictionary that wraps many
// times, and streams cut short, damaged or asked for more than they hold,
// which must fail without reading or writing outside the decoder's memory.
#include <gtest/gtest.h>
#include <lzma.h>

#include <random>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/decompressor.h"
#include "archive/lzma_decoder.h"
#include "builder/lzma_encoder.h"
#include "tests/data_area_reader.h"
#include "tests/native/test_files.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Keeps what it is given and sums it as the setup program's sink does,
// piece by piece: the sum is right only if every piece but the last is a
// multiple of 4 bytes long.
class KeepingSink : public OutputSink {
 public:
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    EXPECT_FALSE(short_piece) << "a piece of " << last << " bytes was followed by another";
    short_piece = count % 4 != 0;
    last = count;
    bytes.insert(bytes.end(), data, data + count);
    sum = checksum_block(data, count, sum);
    return true;
  }
  Bytes bytes;
  uint32_t sum = 0, last = 0;
  bool short_piece = false;
};

// A raw LZMA1 stream with any properties, as liblzma writes it.
Bytes encode(const Bytes& data, uint32_t dict_size, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t preset = 6) {
  lzma_options_lzma options;
  EXPECT_FALSE(lzma_lzma_preset(&options, preset));
  options.dict_size = dict_size;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(data.size() + data.size() / 2 + 1024);
  size_t used = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &used, out.size()), LZMA_OK);
  out.resize(used);
  return out;
}

struct Stream {
  TempDir dir;
  std::string path = dir.file("setup");
  LzmaDecoder* decoder = nullptr;
  int begun = -1;
  Stream(const Bytes& stream, uint8_t properties, uint32_t dict_size, uint32_t length = 0) {
    Bytes file(kBlockHeaderSize + 4);
    put_u32(file.data() + kBlockHeaderSize, static_cast<uint32_t>(stream.size()));
    file.insert(file.end(), stream.begin(), stream.end());
    write_bytes(path, file);
    if (!open_data_area(path, 0) || seek_data(0) != 0) return;
    begun = lzma_begin(&decoder, properties, dict_size, data_file, length ? length : static_cast<uint32_t>(stream.size()));
  }
  ~Stream() {
    lzma_end(&decoder);
    EXPECT_EQ(decoder, nullptr);
    close_data_area();
  }
};

uint8_t properties(uint32_t lc, uint32_t lp, uint32_t pb) { return static_cast<uint8_t>(lc + 9 * (lp + 5 * pb)); }

// Decodes `data` back from its stream in the pieces `sizes` (cycled),
// passing every third piece over, and compares each kept piece.
void round_trip(const Bytes& data, uint32_t dict_size, uint32_t lc, uint32_t lp, uint32_t pb,
                const std::vector<uint32_t>& sizes) {
  Bytes stream = encode(data, dict_size, lc, lp, pb);
  Stream s(stream, properties(lc, lp, pb), dict_size);
  ASSERT_EQ(s.begun, 0);
  size_t at = 0;
  for (size_t n = 0; at < data.size(); ++n) {
    uint32_t size = std::min<uint32_t>(sizes[n % sizes.size()], static_cast<uint32_t>(data.size() - at));
    if (n % 3 == 2) {
      ASSERT_TRUE(lzma_read(s.decoder, nullptr, size));
    } else {
      KeepingSink sink;
      ASSERT_TRUE(lzma_read(s.decoder, &sink, size)) << "piece " << n << " at " << at;
      ASSERT_TRUE(sink.bytes == Bytes(data.begin() + at, data.begin() + at + size)) << "piece " << n << " at " << at;
      ASSERT_EQ(sink.sum, checksum_block(data.data() + at, size, 0));
    }
    at += size;
  }
  // The stream holds no more: the next byte meets its end marker.
  KeepingSink sink;
  EXPECT_FALSE(lzma_read(s.decoder, &sink, 1));
  EXPECT_TRUE(sink.bytes.empty());
}

Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes b(size);
  for (auto& x : b) x = static_cast<uint8_t>(g());
  return b;
}

// Text-like and code-like data: words and records repeated at many
// distances, with changes, so that every kind of match, the repeated
// distances 0 to 3, the one-byte repeat and literals after a match all
// occur.
Bytes mixed_bytes(size_t size, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes b;
  const char* words[] = {"setup", "kestrel", "install", "the ", "of ", "\r\n", "\x8b\x45\x08", "\xe8\x00\x00\x00\x00"};
  while (b.size() < size) {
    uint32_t r = g() % 10;
    if (r < 4) {
      const char* w = words[g() % 8];
      b.insert(b.end(), w, w + strlen(w));
    } else if (r < 7 && b.size() > 16) {
      size_t back = 1 + g() % std::min<size_t>(b.size(), r == 6 ? b.size() : 64);
      size_t len = 2 + g() % 40;
      for (size_t i = 0; i < len; ++i) b.push_back(b[b.size() - back]);
    } else if (r == 7) {
      b.push_back(static_cast<uint8_t>(g()));
    } else {
      uint32_t v = g() % 1000;
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  }
  b.resize(size);
  return b;
}

TEST(LzmaDecoder, EmptyAndOneByte) {
  round_trip({}, 4096, 3, 0, 2, {1});
  round_trip({0x41}, 4096, 3, 0, 2, {1});
  round_trip({0x00}, 4096, 0, 0, 0, {1});
  // Empty items in the middle take nothing.
  Bytes data = mixed_bytes(1000, 1);
  round_trip(data, 4096, 3, 0, 2, {0, 7, 0, 1, 0, 333});
}

TEST(LzmaDecoder, EveryPropertyCombination) {
  Bytes data = mixed_bytes(30000, 2);
  for (uint32_t pb = 0; pb <= 4; ++pb)
    for (uint32_t lc = 0; lc <= 4; ++lc)
      for (uint32_t lp = 0; lc + lp <= 4; ++lp) {
        SCOPED_TRACE(testing::Message() << "lc " << lc << " lp " << lp << " pb " << pb);
        round_trip(data, 8192, lc, lp, pb, {30000, 4099, 1, 17});
      }
}

// Runs as long as the dictionary, and matches at its far end, with a small
// dictionary that wraps many times while items end anywhere.
TEST(LzmaDecoder, DictionarySizedRunsAndWraps) {
  Bytes data(3 * 4096, 'a');
  Bytes block = random_bytes(4095, 3);
  for (int i = 0; i < 6; ++i) data.insert(data.end(), block.begin(), block.end());
  Bytes more = mixed_bytes(200000, 4);
  data.insert(data.end(), more.begin(), more.end());
  round_trip(data, 4096, 3, 0, 2, {4096, 4095, 4097, 1, 2, 3, 65536});
  round_trip(data, 4096, 3, 0, 2, {1});
  round_trip(data, 1 << 20, 3, 0, 2, {5000, 3});
  // Incompressible data: literals only, and the encoder's direct bits.
  round_trip(random_bytes(100000, 5), 65536, 3, 0, 2, {9999});
}

// Real files, a program and its libraries, through the builder's encoder
// with its own settings.
TEST(LzmaDecoder, BuilderEncoderOnProgramFiles) {
  Bytes data;
  for (const char* path : {"/bin/sh", "/usr/bin/cmake", "/etc/services"}) {
    Bytes file = read_bytes(path);
    data.insert(data.end(), file.begin(), file.begin() + std::min<size_t>(file.size(), 1 << 20));
  }
  ASSERT_GT(data.size(), 100000u);
  Bytes stream;
  uint32_t dict = lzma_dictionary_for(data.size(), kLzmaDefaultDictionary);
  ASSERT_TRUE(lzma_encode(data.data(), data.size(), dict, &stream));
  Stream s(stream, kLzmaProperties, dict);
  ASSERT_EQ(s.begun, 0);
  KeepingSink sink;
  ASSERT_TRUE(lzma_read(s.decoder, &sink, static_cast<uint32_t>(data.size())));
  EXPECT_TRUE(sink.bytes == data);
}

TEST(LzmaDecoder, RefusesBadStarts) {
  Bytes stream = encode(mixed_bytes(100, 6), 4096, 3, 0, 2);
  EXPECT_EQ(Stream(stream, properties(4, 1, 2), 4096).begun, kStreamDataError);  // lc + lp > 4
  EXPECT_EQ(Stream(stream, 9 * 5 * 5, 4096).begun, kStreamDataError);            // pb 5
  EXPECT_EQ(Stream(stream, 3, 4095).begun, kStreamDataError);
  EXPECT_EQ(Stream(stream, 3, kLzmaMaxDictionary + 1).begun, kStreamDataError);
  EXPECT_EQ(Stream(stream, 3, 0).begun, kStreamDataError);
  EXPECT_EQ(Stream(Bytes(stream.begin(), stream.begin() + 4), properties(3, 0, 2), 4096).begun, kStreamDataError);
  Bytes first = stream;
  first[0] = 1;
  EXPECT_EQ(Stream(first, properties(3, 0, 2), 4096).begun, kStreamDataError);
  EXPECT_EQ(Stream(stream, properties(3, 0, 2), kLzmaMaxDictionary).begun, 0);
}

// A stream cut anywhere either still gives every byte right (only its end
// marker was lost) or fails; it never reports garbage as decoded.
TEST(LzmaDecoder, TruncatedStreams) {
  Bytes data = mixed_bytes(20000, 7);
  Bytes stream = encode(data, 4096, 3, 0, 2);
  uint32_t failed = 0;
  for (size_t cut = 5; cut < stream.size(); cut += 1 + cut / 9) {
    Stream s(Bytes(stream.begin(), stream.begin() + cut), properties(3, 0, 2), 4096);
    ASSERT_EQ(s.begun, 0);
    KeepingSink sink;
    bool ok = lzma_read(s.decoder, &sink, static_cast<uint32_t>(data.size()));
    EXPECT_LE(sink.bytes.size(), data.size());
    if (ok) EXPECT_TRUE(sink.bytes == data) << "cut at " << cut;
    else ++failed;
    // A failed decoder stays failed.
    if (!ok) EXPECT_FALSE(lzma_read(s.decoder, &sink, 1));
  }
  EXPECT_GT(failed, 10u);
  // The data area's length bounds the input: the bytes behind the stream
  // in the file are not read.
  Bytes longer = stream;
  longer.insert(longer.end(), 64, 0);
  Stream bounded(longer, properties(3, 0, 2), 4096, static_cast<uint32_t>(stream.size() / 2));
  KeepingSink sink;
  EXPECT_FALSE(lzma_read(bounded.decoder, &sink, static_cast<uint32_t>(data.size())));
}

// Damaged bytes: the decoder gives at most what was asked and fails or
// decodes something (which the item's checksum then judges); under the
// sanitizers, any access outside its memory is a failure.
TEST(LzmaDecoder, DamagedStreams) {
  Bytes data = mixed_bytes(50000, 8);
  Bytes stream = encode(data, 4096, 3, 0, 2);
  std::mt19937 g(9);
  uint32_t failed = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes bad = stream;
    for (int k = 0; k <= round % 4; ++k) bad[1 + g() % (bad.size() - 1)] ^= static_cast<uint8_t>(1 + g() % 255);
    Stream s(bad, properties(3, 0, 2), 4096);
    ASSERT_EQ(s.begun, 0);
    KeepingSink sink;
    if (!lzma_read(s.decoder, &sink, static_cast<uint32_t>(data.size()))) ++failed;
    EXPECT_LE(sink.bytes.size(), data.size());
  }
  EXPECT_GT(failed, 150u);
}

}  // namespace
