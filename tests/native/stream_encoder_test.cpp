// The stream encoder: block-by-block rewriting of raw deflate into our
// stream format, the repair of blocks our decoder would refuse, and round
// trips through our decoder.
#include "builder/stream_encoder.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zopfli/zopfli.h>

extern "C" {
#include <zopfli/deflate.h>
}

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "base/platform.h"
#include "tests/native/test_files.h"

namespace {

uint32_t reverse(uint32_t code, unsigned n) {
  uint32_t r = 0;
  for (unsigned i = 0; i < n; ++i) r |= ((code >> i) & 1u) << (n - 1 - i);
  return r;
}

// Writes deflate-style bits, least significant first, to craft streams.
struct BitBuilder {
  std::vector<uint8_t> bytes;
  uint64_t acc = 0;
  unsigned count = 0;
  void put(uint32_t value, unsigned n) {
    acc |= static_cast<uint64_t>(value) << count;
    count += n;
    while (count >= 8) {
      bytes.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      count -= 8;
    }
  }
  // A Huffman code goes out starting with its most significant bit.
  void code(uint32_t code, unsigned length) { put(reverse(code, length), length); }
  std::vector<uint8_t> finish() {
    if (count) put(0, 8 - count);
    return bytes;
  }
};

// Reads bits of a byte vector, least significant first.
struct BitCursor {
  const std::vector<uint8_t>& bytes;
  uint64_t pos = 0;
  explicit BitCursor(const std::vector<uint8_t>& b, uint64_t start = 0) : bytes(b), pos(start) {}
  // Up to 64 bits: a whole run of codes is compared at once.
  uint64_t get(unsigned n) {
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos) {
      size_t byte = pos >> 3;
      uint64_t bit = byte < bytes.size() ? (bytes[byte] >> (pos & 7)) & 1u : 0;
      v |= bit << i;
    }
    return v;
  }
  void align() { pos = (pos + 7) & ~uint64_t(7); }
  uint64_t bits_left() const { return pos >= bytes.size() * 8 ? 0 : bytes.size() * 8 - pos; }
};

// Canonical Huffman codes for a list of code lengths.
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
  unsigned count[16] = {0};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {0};
  uint32_t code = 0;
  for (unsigned len = 1; len < 16; ++len) next[len] = code = (code + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> raw_deflate(const std::vector<uint8_t>& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(c, data.size()));
  size_t n = libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  out.resize(n);
  return out;
}

int transcode(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& original, std::vector<uint8_t>* out,
              StreamEncodeStats* stats = nullptr) {
  return transcode_deflate(deflate.data(), deflate.size(), original.data(), original.size(), out, stats);
}

std::vector<uint8_t> text_sample(size_t size) {
  static const char* words[] = {"setup ", "archive ", "window ", "install ", "folder ", "the ", "of ", "file ",
                                "program ", "registry ", "\n", "shortcut ", "uninstall ", "disk "};
  std::mt19937 rng(7);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    const char* w = words[rng() % (sizeof words / sizeof words[0])];
    out.insert(out.end(), w, w + strlen(w));
  }
  out.resize(size);
  return out;
}

const uint8_t kStreamOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const uint8_t kDeflateOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// ---------------------------------------------------------------------------
// Rewriting of well-formed blocks.

TEST(StreamTranscode, FixedBlockGetsNewHeaderAndIdenticalCodes) {
  // "abcabcabc": three literals, a match of length 6 at distance 3, end.
  BitBuilder b;
  b.put(1, 1);  // BFINAL
  b.put(1, 2);  // fixed
  for (char c : std::string("abc")) b.code(0x30 + static_cast<uint8_t>(c), 8);
  b.code(260 - 256, 7);  // length 6
  b.code(2, 5);          // distance 3
  b.code(0, 7);          // end of block
  std::vector<uint8_t> deflate = b.finish();
  std::vector<uint8_t> original = bytes_of("abcabcabc");

  std::vector<uint8_t> out;
  StreamEncodeStats stats;
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &out, &stats));
  EXPECT_EQ(1u, stats.fixed_blocks);
  EXPECT_EQ(0u, stats.rewritten_blocks);
  BitCursor ours(out), theirs(deflate, 3);
  EXPECT_EQ(5u, ours.get(3));
  EXPECT_EQ(1u, ours.get(1));
  uint64_t code_bits = 3 * 8 + 7 + 5 + 7;
  EXPECT_EQ(theirs.get(code_bits), ours.get(code_bits));
  EXPECT_EQ((4 + code_bits + 7) / 8, out.size());
  EXPECT_EQ(0u, ours.get(static_cast<unsigned>(ours.bits_left()))) << "padding must be zero";
}

TEST(StreamTranscode, DynamicBlockReordersCodeLengthCodeAndCopiesTheRest) {
  std::vector<uint8_t> original = text_sample(6000);
  std::vector<uint8_t> deflate = raw_deflate(original, 6);
  BitCursor theirs(deflate);
  ASSERT_EQ(1u, theirs.get(1)) << "the sample must be one final block";
  ASSERT_EQ(2u, theirs.get(2)) << "the sample must be one dynamic block";
  uint32_t hlit = theirs.get(5), hdist = theirs.get(5), hclen = theirs.get(4) + 4;
  uint8_t clc[19] = {0};
  for (uint32_t i = 0; i < hclen; ++i) clc[kDeflateOrder[i]] = static_cast<uint8_t>(theirs.get(3));

  std::vector<uint8_t> out;
  StreamEncodeStats stats;
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &out, &stats));
  EXPECT_EQ(1u, stats.dynamic_blocks);
  BitCursor ours(out);
  EXPECT_EQ(6u, ours.get(3));
  EXPECT_EQ(1u, ours.get(1));
  EXPECT_EQ(hlit, ours.get(5));
  EXPECT_EQ(hdist, ours.get(5));
  uint32_t listed = ours.get(4) + 4;
  uint8_t ours_clc[19] = {0};
  for (uint32_t i = 0; i < listed; ++i) ours_clc[kStreamOrder[i]] = static_cast<uint8_t>(ours.get(3));
  for (int s = 0; s < 19; ++s) EXPECT_EQ(clc[s], ours_clc[s]) << "code-length symbol " << s;
  // Fewest fields: the last listed one is non-zero unless the minimum of 4.
  if (listed > 4) {
    EXPECT_NE(0, ours_clc[kStreamOrder[listed - 1]]);
  }
  // Everything after the header is the same bit string; each side then has
  // less than a byte of zero padding.
  uint64_t rest = std::min(theirs.bits_left(), ours.bits_left());
  while (rest > 0) {
    unsigned n = rest > 32 ? 32 : static_cast<unsigned>(rest);
    ASSERT_EQ(theirs.get(n), ours.get(n)) << "at bit " << theirs.pos;
    rest -= n;
  }
  ASSERT_LT(theirs.bits_left(), 8u);
  ASSERT_LT(ours.bits_left(), 8u);
  EXPECT_EQ(0u, theirs.get(static_cast<unsigned>(theirs.bits_left())));
  EXPECT_EQ(0u, ours.get(static_cast<unsigned>(ours.bits_left())));
}

TEST(StreamTranscode, StoredBlocksLoseTheirComplementAndOnlyTheLastIsFinal) {
  std::mt19937 rng(3);
  std::vector<uint8_t> original(200000);
  for (auto& byte : original) byte = static_cast<uint8_t>(rng());
  std::vector<uint8_t> deflate = raw_deflate(original, 0);
  std::vector<uint8_t> out;
  StreamEncodeStats stats;
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &out, &stats));
  ASSERT_GE(stats.stored_blocks, 4u);
  EXPECT_EQ(0u, stats.fixed_blocks + stats.dynamic_blocks);

  BitCursor ours(out);
  std::vector<uint8_t> content;
  for (uint32_t block = 0;; ++block) {
    ASSERT_LT(block, stats.stored_blocks);
    ASSERT_EQ(7u, ours.get(3));
    bool last = ours.get(1) == 1;
    ours.align();
    uint32_t len = ours.get(16);
    ASSERT_LE(ours.pos / 8 + len, out.size());
    content.insert(content.end(), out.begin() + ours.pos / 8, out.begin() + ours.pos / 8 + len);
    ours.pos += uint64_t(len) * 8;
    if (last) {
      EXPECT_EQ(stats.stored_blocks - 1, block);
      break;
    }
  }
  EXPECT_EQ(out.size() * 8, ours.pos);
  EXPECT_EQ(original, content);
}

TEST(StreamTranscode, AppendsToWhatTheOutputHolds) {
  std::vector<uint8_t> original = text_sample(3000);
  std::vector<uint8_t> deflate = raw_deflate(original, 9);
  std::vector<uint8_t> alone, appended = {0xAA, 0xBB};
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &alone));
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &appended));
  ASSERT_EQ(alone.size() + 2, appended.size());
  EXPECT_EQ(0xAA, appended[0]);
  EXPECT_EQ(0xBB, appended[1]);
  EXPECT_TRUE(std::equal(alone.begin(), alone.end(), appended.begin() + 2));
}

// ---------------------------------------------------------------------------
// Deflate that does not match the original, or is damaged.

TEST(StreamTranscode, RefusesDeflateThatDoesNotReproduceTheOriginal) {
  std::vector<uint8_t> original = text_sample(20000);
  std::vector<uint8_t> deflate = raw_deflate(original, 12);
  std::vector<uint8_t> out = {0x42};

  std::vector<uint8_t> changed = original;
  changed[12345] ^= 0x20;
  EXPECT_EQ(kEncodeBadDeflate, transcode(deflate, changed, &out));
  std::vector<uint8_t> longer = original;
  longer.push_back('x');
  EXPECT_EQ(kEncodeBadDeflate, transcode(deflate, longer, &out));
  std::vector<uint8_t> shorter(original.begin(), original.end() - 1);
  EXPECT_EQ(kEncodeBadDeflate, transcode(deflate, shorter, &out));

  std::vector<uint8_t> truncated(deflate.begin(), deflate.end() - 3);
  EXPECT_EQ(kEncodeBadDeflate, transcode(truncated, original, &out));
  std::vector<uint8_t> trailing = deflate;
  trailing.push_back(0);
  EXPECT_EQ(kEncodeBadDeflate, transcode(trailing, original, &out));
  std::vector<uint8_t> reserved_type = {0x07, 0x00};  // BFINAL, BTYPE 3
  EXPECT_EQ(kEncodeBadDeflate, transcode(reserved_type, original, &out));

  // A failed transcode leaves the output as it was.
  EXPECT_EQ(std::vector<uint8_t>{0x42}, out);
}

TEST(StreamTranscode, RefusesStoredBlockWithWrongComplement) {
  std::vector<uint8_t> original = bytes_of("hello");
  std::vector<uint8_t> deflate = raw_deflate(original, 0);
  ASSERT_GE(deflate.size(), 5u + original.size());
  std::vector<uint8_t> out;
  ASSERT_EQ(kEncodeOk, transcode(deflate, original, &out));
  deflate[3] ^= 0x01;  // NLEN
  out.clear();
  EXPECT_EQ(kEncodeBadDeflate, transcode(deflate, original, &out));
  EXPECT_TRUE(out.empty());
}

// ---------------------------------------------------------------------------
// Blocks our decoder would refuse are written again.

// The header of a final dynamic deflate block: counts, the code-length code
// and both code-length tables, with long zero runs as code 18.
void put_dynamic_header(BitBuilder& b, const std::vector<uint8_t>& litlen, const std::vector<uint8_t>& distance,
                        const std::vector<uint8_t>& clc_lengths) {
  b.put(1, 1);
  b.put(2, 2);
  b.put(static_cast<uint32_t>(litlen.size() - 257), 5);
  b.put(static_cast<uint32_t>(distance.size() - 1), 5);
  b.put(19 - 4, 4);
  for (uint8_t sym : kDeflateOrder) b.put(clc_lengths[sym], 3);
  std::vector<uint32_t> clc_codes = canonical_codes(clc_lengths);
  std::vector<uint8_t> all = litlen;
  all.insert(all.end(), distance.begin(), distance.end());
  for (size_t i = 0; i < all.size();) {
    size_t run = 0;
    while (i + run < all.size() && all[i + run] == 0 && run < 138) ++run;
    if (run >= 11) {
      b.code(clc_codes[18], clc_lengths[18]);
      b.put(static_cast<uint32_t>(run - 11), 7);
      i += run;
    } else {
      b.code(clc_codes[all[i]], clc_lengths[all[i]]);
      ++i;
    }
  }
}

// One dynamic block with the given literal/length and distance code lengths,
// coding `symbols` (literals and 256 only). The code-length code gives 18,
// 0, 1 and 2 their lengths from clc_lengths.
std::vector<uint8_t> dynamic_block(const std::vector<uint8_t>& litlen, const std::vector<uint8_t>& distance,
                                   const std::vector<uint8_t>& clc_lengths, const std::vector<unsigned>& symbols) {
  BitBuilder b;
  put_dynamic_header(b, litlen, distance, clc_lengths);
  std::vector<uint32_t> codes = canonical_codes(litlen);
  for (unsigned s : symbols) b.code(codes[s], litlen[s]);
  return b.finish();
}

std::vector<uint8_t> clc_of(std::initializer_list<std::pair<int, int>> lengths) {
  std::vector<uint8_t> clc(19, 0);
  for (auto& p : lengths) clc[p.first] = static_cast<uint8_t>(p.second);
  return clc;
}

struct RefusedBlock {
  const char* name;
  std::vector<uint8_t> deflate;
  std::vector<uint8_t> original;
};

std::vector<RefusedBlock> refused_blocks() {
  std::vector<RefusedBlock> cases;
  std::vector<uint8_t> complete_clc = clc_of({{18, 1}, {0, 2}, {1, 3}, {2, 3}});
  {
    // Three codes of length 2: one code left over.
    std::vector<uint8_t> litlen(257, 0);
    litlen['a'] = litlen['b'] = litlen[256] = 2;
    cases.push_back({"incomplete literal/length code",
                     dynamic_block(litlen, {0}, complete_clc, {'a', 'b', 'b', 'a', 256}), bytes_of("abba")});
  }
  {
    std::vector<uint8_t> litlen(288, 0);
    litlen['a'] = litlen[256] = 1;
    cases.push_back({"288 literal/length codes", dynamic_block(litlen, {0}, complete_clc, {'a', 'a', 'a', 256}),
                     bytes_of("aaa")});
  }
  {
    std::vector<uint8_t> litlen(257, 0);
    litlen['a'] = litlen[256] = 1;
    cases.push_back({"32 distance codes",
                     dynamic_block(litlen, std::vector<uint8_t>(32, 0), complete_clc, {'a', 256}), bytes_of("a")});
  }
  {
    std::vector<uint8_t> litlen(257, 0);
    litlen['a'] = litlen[256] = 1;
    std::vector<uint8_t> distance(30, 0);
    distance[0] = 2;  // a single code, but not of length 1
    cases.push_back({"incomplete distance code", dynamic_block(litlen, distance, complete_clc, {'a', 'a', 256}),
                     bytes_of("aa")});
  }
  {
    std::vector<uint8_t> litlen(257, 0);
    litlen['a'] = litlen[256] = 1;
    cases.push_back({"incomplete code-length code",
                     dynamic_block(litlen, {0}, clc_of({{18, 2}, {0, 2}, {1, 2}}), {'a', 256}), bytes_of("a")});
  }
  {
    // High literals, more than one stored block can hold: stored is smaller
    // than fixed codes here.
    std::vector<uint8_t> litlen(257, 0);
    for (int s = 128; s < 256; ++s) litlen[s] = 8;  // 128 codes of 8 bits: half the code space
    litlen[256] = 8;
    std::vector<unsigned> symbols;
    std::vector<uint8_t> original;
    for (int i = 0; i < 70000; ++i) {
      symbols.push_back(128 + (i * 37) % 128);
      original.push_back(static_cast<uint8_t>(symbols.back()));
    }
    symbols.push_back(256);
    cases.push_back({"incomplete code of high literals",
                     dynamic_block(litlen, {0}, clc_of({{18, 1}, {0, 2}, {8, 2}}), symbols), original});
  }
  return cases;
}

TEST(StreamTranscode, BlocksOurDecoderRefusesAreRewritten) {
  for (const RefusedBlock& c : refused_blocks()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out;
    StreamEncodeStats stats;
    ASSERT_EQ(kEncodeOk, transcode(c.deflate, c.original, &out, &stats));
    EXPECT_EQ(1u, stats.rewritten_blocks);
    EXPECT_EQ(0u, stats.dynamic_blocks);
    ASSERT_FALSE(out.empty());
    uint32_t type = out[0] & 7;
    // Fixed codes, unless storing the bytes is smaller.
    size_t pieces = (c.original.size() + 65534) / 65535;
    size_t fixed_bits = 4 + 7;
    for (uint8_t byte : c.original) fixed_bits += byte < 144 ? 8 : 9;
    size_t stored_bits = pieces * (4 + 4 + 16) + 8 * c.original.size();
    ASSERT_EQ(fixed_bits <= stored_bits ? 5u : 7u, type);
    if (type == 5) {
      EXPECT_EQ(1u, stats.fixed_blocks);
      EXPECT_EQ(8, out[0] & 8) << "still the final block";
      EXPECT_EQ((fixed_bits + 7) / 8, out.size());
      continue;
    }
    // Stored pieces of at most 65535 bytes; only the last one is final.
    EXPECT_EQ(pieces, stats.stored_blocks);
    std::vector<uint8_t> content;
    size_t at = 0;
    for (size_t piece = 0; piece < pieces; ++piece) {
      ASSERT_LE(at + 3, out.size());
      EXPECT_EQ(piece + 1 == pieces ? 0x0Fu : 0x07u, out[at]);
      size_t len = out[at + 1] | out[at + 2] << 8;
      ASSERT_LE(at + 3 + len, out.size());
      content.insert(content.end(), out.begin() + at + 3, out.begin() + at + 3 + len);
      at += 3 + len;
    }
    EXPECT_EQ(out.size(), at);
    EXPECT_EQ(c.original, content);
  }
}

// ---------------------------------------------------------------------------
// Levels.

TEST(StreamEncode, RefusesLevelsOutsideTheRange) {
  std::vector<uint8_t> data = text_sample(100);
  std::vector<uint8_t> out;
  EXPECT_EQ(kEncodeBadLevel, encode_stream(data.data(), data.size(), 0, &out));
  EXPECT_EQ(kEncodeBadLevel, encode_stream(data.data(), data.size(), kStreamLevelMax + 1, &out));
  EXPECT_TRUE(out.empty());
}

TEST(StreamEncode, SizeFollowsLibdeflateAndMaxIsNeverLarger) {
  std::vector<uint8_t> data = text_sample(150000);
  for (int level = kStreamLevelMin; level < kStreamLevelMax; ++level) {
    SCOPED_TRACE(level);
    std::vector<uint8_t> out;
    StreamEncodeStats stats;
    ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), level, &out, &stats));
    size_t deflate_size = raw_deflate(data, level).size();
    // One more header bit per block, a shorter code-length list, two bytes
    // less per stored block: the size stays within a hair of deflate's.
    EXPECT_LE(out.size(), deflate_size + deflate_size / 200 + 4);
    EXPECT_GE(out.size() + deflate_size / 200 + 4, deflate_size);
  }
  std::vector<uint8_t> best, max;
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), kStreamLevelDefault, &best));
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), kStreamLevelMax, &max));
  EXPECT_LE(max.size(), best.size());
}

// The maximum level runs zopfli only below 512 KiB, where it pays: above,
// its stream is level 12's.
TEST(StreamEncode, MaximumLevelLeavesLargeInputsToLibdeflate) {
  std::vector<uint8_t> large = text_sample(512 << 10);
  std::vector<uint8_t> max, best;
  ASSERT_EQ(kEncodeOk, encode_stream(large.data(), large.size(), kStreamLevelMax, &max));
  ASSERT_EQ(kEncodeOk, encode_stream(large.data(), large.size(), kStreamLevelDefault, &best));
  EXPECT_TRUE(max == best);
  std::vector<uint8_t> small(large.begin(), large.begin() + 20000);
  max.clear();
  best.clear();
  ASSERT_EQ(kEncodeOk, encode_stream(small.data(), small.size(), kStreamLevelMax, &max));
  ASSERT_EQ(kEncodeOk, encode_stream(small.data(), small.size(), kStreamLevelDefault, &best));
  EXPECT_LT(max.size(), best.size());
}

// ---------------------------------------------------------------------------
// Round trips through our decoder. Every stream is followed by a marker byte
// in its file: the decoder must stop exactly behind the stream, on the
// marker.

const uint8_t kMarker = 0xA5;

// Decodes the stream at the start of `path` and checks what the file holds
// behind it.
void expect_decodes_to(const std::string& path, uint32_t stream_size, const std::vector<uint8_t>& data) {
  FileHandle file = open_file(path.c_str(), 0);
  ASSERT_NE(INVALID_FILE_HANDLE, file);
  // One spare byte keeps the buffer pointer valid for empty data; the
  // capacity is the exact size.
  std::vector<uint8_t> out(data.size() + 1, 0);
  uint32_t produced = 0xFFFFFFFF;
  EXPECT_TRUE(decode_to_memory(out.data(), static_cast<uint32_t>(data.size()), file, 0, &produced));
  EXPECT_EQ(data.size(), produced);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin())) << "decoded bytes differ";
  EXPECT_EQ(stream_size, tell_file(file)) << "the file must stand right behind the stream";
  uint8_t next = 0;
  EXPECT_EQ(0, read_exact(file, &next, 1));
  EXPECT_EQ(kMarker, next);
  close_file(file);
}

void expect_round_trip(const std::vector<uint8_t>& data, int level) {
  SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(data.size()) + " bytes");
  std::vector<uint8_t> stream;
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), level, &stream));
  TempDir dir;
  std::vector<uint8_t> file = stream;
  file.push_back(kMarker);
  write_bytes(dir.file("s"), file);
  expect_decodes_to(dir.file("s"), static_cast<uint32_t>(stream.size()), data);
}

const int kRoundTripLevels[] = {1, 6, 9, kStreamLevelDefault};

std::vector<uint8_t> random_bytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Files of this machine that fit a purpose; none found skips the test.
std::vector<std::string> existing(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& p : paths)
    if (std::filesystem::is_regular_file(p)) out.push_back(p);
  return out;
}

std::vector<std::string> wine_dlls(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const char* dir : {"/usr/lib/i386-linux-gnu/wine/i386-windows/", "/usr/lib/wine/i386-windows/"})
    for (const std::string& n : names) paths.push_back(dir + n);
  return existing(paths);
}

TEST(StreamRoundTrip, EdgeSizes) {
  std::vector<uint8_t> text = text_sample(65537);
  for (size_t size : {0, 1, 2, 100, 32767, 32768, 32769, 65535, 65536, 65537}) {
    std::vector<uint8_t> data(text.begin(), text.begin() + size);
    for (int level : kRoundTripLevels) expect_round_trip(data, level);
  }
  expect_round_trip({0x00}, kStreamLevelDefault);
  expect_round_trip({0xFF}, kStreamLevelDefault);
}

TEST(StreamRoundTrip, IncompressibleAndRepetitive) {
  std::vector<std::vector<uint8_t>> samples = {
      random_bytes(300000, 11),
      random_bytes(65536, 12),
      std::vector<uint8_t>(1 << 20, 0),
      std::vector<uint8_t>(100000, 0xFF),
  };
  std::vector<uint8_t> ab;
  for (int i = 0; i < 200000; ++i) ab.push_back("ab"[i & 1]);
  samples.push_back(ab);
  // Random bytes from a small alphabet, then a long copy of them: far
  // matches and many blocks.
  std::vector<uint8_t> mixed = random_bytes(40000, 13);
  for (auto& b : mixed) b &= 0x0F;
  std::vector<uint8_t> twice = mixed;
  twice.insert(twice.end(), mixed.begin(), mixed.end());
  samples.push_back(twice);
  for (const auto& data : samples)
    for (int level : kRoundTripLevels) expect_round_trip(data, level);
}

TEST(StreamRoundTrip, WindowsPeFiles) {
  std::vector<std::string> paths = wine_dlls({"version.dll", "shlwapi.dll", "kernel32.dll"});
  if (paths.empty()) GTEST_SKIP() << "no Wine DLLs on this machine";
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> data = read_bytes(path);
    for (int level : kRoundTripLevels) expect_round_trip(data, level);
  }
}

TEST(StreamRoundTrip, TextDocuments) {
  std::vector<std::string> paths =
      existing({"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/Apache-2.0",
                "/usr/share/doc/libgnutls30/copyright", "/usr/share/doc/bash/README.abs-guide",
                "/usr/share/doc/base-passwd/users-and-groups.html"});
  if (paths.empty()) GTEST_SKIP() << "no documents on this machine";
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> data = read_bytes(path);
    for (int level : kRoundTripLevels) expect_round_trip(data, level);
  }
}

TEST(StreamRoundTrip, MaximumLevel) {
  // Below 4 KiB zopfli does not split blocks; from 4 KiB on it does.
  std::vector<std::vector<uint8_t>> samples = {{}, {'x'}, text_sample(3000), text_sample(32768), random_bytes(5000, 21)};
  for (const std::string& path : wine_dlls({"version.dll"})) samples.push_back(read_bytes(path));
  for (const auto& data : samples) expect_round_trip(data, kStreamLevelMax);
}

TEST(StreamRoundTrip, RewrittenBlocksDecode) {
  for (const RefusedBlock& c : refused_blocks()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> stream;
    ASSERT_EQ(kEncodeOk, transcode(c.deflate, c.original, &stream));
    TempDir dir;
    std::vector<uint8_t> file = stream;
    file.push_back(kMarker);
    write_bytes(dir.file("s"), file);
    expect_decodes_to(dir.file("s"), static_cast<uint32_t>(stream.size()), c.original);
  }
}

// A final block that ends in a match with a 1-bit distance code from a
// 4-bit-wide distance table and a 1-bit end-of-block code: a decoder looking
// up 4 bits for that distance reaches up to 2 bits past the block. Leading
// literals shift where the block ends within its last byte.
std::vector<uint8_t> overreaching_block(unsigned literals) {
  std::vector<uint8_t> litlen(258, 0);
  litlen[256] = 1;
  litlen['a'] = litlen[257] = 2;
  std::vector<uint8_t> distance = {1, 2, 4, 4, 4, 4};
  std::vector<uint8_t> clc = clc_of({{18, 1}, {0, 3}, {1, 3}, {2, 3}, {4, 3}});
  BitBuilder b;
  put_dynamic_header(b, litlen, distance, clc);
  std::vector<uint32_t> codes = canonical_codes(litlen), distance_codes = canonical_codes(distance);
  for (unsigned i = 0; i < literals; ++i) b.code(codes['a'], 2);
  b.code(codes[257], 2);                    // length 3
  b.code(distance_codes[0], distance[0]);   // distance 1
  b.code(codes[256], 1);
  return b.finish();
}

TEST(StreamRoundTrip, FinalLookupsNeverTakeTheByteBehind) {
  unsigned closed = 0;
  for (unsigned literals = 1; literals <= 8; ++literals) {
    SCOPED_TRACE(literals);
    std::vector<uint8_t> original(literals + 3, 'a');
    std::vector<uint8_t> stream;
    StreamEncodeStats stats;
    ASSERT_EQ(kEncodeOk, transcode(overreaching_block(literals), original, &stream, &stats));
    EXPECT_EQ(1u, stats.dynamic_blocks);
    closed += stats.closing_blocks;
    TempDir dir;
    std::vector<uint8_t> file = stream;
    file.push_back(kMarker);
    write_bytes(dir.file("s"), file);
    expect_decodes_to(dir.file("s"), static_cast<uint32_t>(stream.size()), original);
  }
  // Some of the alignments leave too little padding and need the closing
  // block. Our decoder gives unused whole bytes of its bit buffer back, so it
  // would cope without; a decoder that only gives back its byte buffer
  // would stop one byte too far.
  EXPECT_GT(closed, 0u);
  EXPECT_LT(closed, 8u);
}

// Streams one after the other in one file decode in turn, each leaving the
// file on the first byte of the next, as the archive's blocks are read.
TEST(StreamRoundTrip, ConsecutiveStreamsInOneFile) {
  std::vector<std::vector<uint8_t>> parts = {text_sample(5000), {}, random_bytes(70000, 5), {'q'},
                                             std::vector<uint8_t>(40000, 7)};
  std::vector<uint8_t> file;
  std::vector<uint32_t> ends;
  for (const auto& part : parts) {
    ASSERT_EQ(kEncodeOk, encode_stream(part.data(), part.size(), kStreamLevelDefault, &file));
    ends.push_back(static_cast<uint32_t>(file.size()));
  }
  file.push_back(kMarker);
  TempDir dir;
  write_bytes(dir.file("s"), file);
  FileHandle f = open_file(dir.file("s").c_str(), 0);
  ASSERT_NE(INVALID_FILE_HANDLE, f);
  for (size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> out(parts[i].size() + 1);
    uint32_t produced = 0;
    ASSERT_TRUE(decode_to_memory(out.data(), static_cast<uint32_t>(parts[i].size()), f, 0, &produced));
    EXPECT_EQ(parts[i].size(), produced);
    EXPECT_TRUE(std::equal(parts[i].begin(), parts[i].end(), out.begin()));
    EXPECT_EQ(ends[i], tell_file(f));
  }
  close_file(f);
}

TEST(StreamRoundTrip, DecodeToFile) {
  std::vector<std::vector<uint8_t>> samples = {{}, text_sample(32768), text_sample(200001)};
  for (const std::string& path : wine_dlls({"version.dll"})) samples.push_back(read_bytes(path));
  for (const auto& data : samples) {
    SCOPED_TRACE(data.size());
    std::vector<uint8_t> stream;
    ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), kStreamLevelDefault, &stream));
    stream.push_back(kMarker);
    TempDir dir;
    write_bytes(dir.file("s"), stream);
    FileHandle in = open_file(dir.file("s").c_str(), 0);
    FileHandle out = create_file(dir.file("out").c_str());
    ASSERT_NE(INVALID_FILE_HANDLE, in);
    ASSERT_NE(INVALID_FILE_HANDLE, out);
    EXPECT_TRUE(decode_to_file(out, in, 0));
    EXPECT_EQ(stream.size() - 1, tell_file(in));
    close_file(in);
    close_file(out);
    EXPECT_EQ(data, read_bytes(dir.file("out")));
  }
}


// ---------------------------------------------------------------------------
// Large inputs in parts.

// Text, noise, a long run and a far repeat of earlier text: matches reach
// across every seam between parts.
std::vector<uint8_t> seamed_sample(size_t size) {
  std::vector<uint8_t> text = text_sample(200000);
  std::vector<uint8_t> noise = random_bytes(50000, 17);
  std::vector<uint8_t> out;
  size_t round = 0;
  while (out.size() < size) {
    out.insert(out.end(), text.begin() + (round * 7919) % 100000, text.begin() + (round * 7919) % 100000 + 90000);
    out.insert(out.end(), noise.begin(), noise.begin() + 5000 + (round * 131) % 20000);
    out.insert(out.end(), 3000 + round % 500, static_cast<uint8_t>('x' + round % 3));
    ++round;
  }
  out.resize(size);
  return out;
}

// Writes the stream with a marker behind it and decodes it.
void expect_stream_decodes_to(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& data) {
  TempDir dir;
  std::vector<uint8_t> file = stream;
  file.push_back(kMarker);
  write_bytes(dir.file("s"), file);
  expect_decodes_to(dir.file("s"), static_cast<uint32_t>(stream.size()), data);
}

TEST(StreamParts, LargeInputsJoinIntoOneStream) {
  std::vector<uint8_t> data = seamed_sample(2 * kStreamPartSize + 12345);
  for (int level : {1, static_cast<int>(kStreamLevelDefault)}) {
    SCOPED_TRACE(level);
    std::vector<uint8_t> stream;
    StreamEncodeStats stats;
    ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), level, &stream, &stats));
    EXPECT_EQ(3u, stats.parts);
    EXPECT_GE(stats.cut_blocks, 1u);
    expect_stream_decodes_to(stream, data);
  }
  // Parts joined behind what the output already holds.
  std::vector<uint8_t> behind = {'a', 'b', 'c'};
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), 1, &behind));
  EXPECT_EQ("abc", std::string(behind.begin(), behind.begin() + 3));
  expect_stream_decodes_to(std::vector<uint8_t>(behind.begin() + 3, behind.end()), data);
  // Exactly one part's size is one stream; a byte more makes two parts.
  std::vector<uint8_t> one(data.begin(), data.begin() + kStreamPartSize);
  StreamEncodeStats stats;
  std::vector<uint8_t> stream;
  ASSERT_EQ(kEncodeOk, encode_stream(one.data(), one.size(), 1, &stream, &stats));
  EXPECT_EQ(0u, stats.parts);
  one.push_back('!');
  stream.clear();
  ASSERT_EQ(kEncodeOk, encode_stream(one.data(), one.size(), 1, &stream, &stats));
  EXPECT_EQ(2u, stats.parts);
  expect_stream_decodes_to(stream, one);
}

// The seams cost little: the parts together stay within 0.1 % of the same
// input compressed whole at the same level.
TEST(StreamParts, SeamsCostLittle) {
  std::vector<uint8_t> data = seamed_sample(2 * kStreamPartSize + 100000);
  std::vector<uint8_t> parts, whole;
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), 6, &parts));
  ASSERT_EQ(kEncodeOk, transcode(raw_deflate(data, 6), data, &whole));
  EXPECT_LE(parts.size(), whole.size() + whole.size() / 1000);
}

// Noise and text taking turns every 2 KiB, as in an item that mixes
// compressed and plain content.
std::vector<uint8_t> alternating_sample(size_t size) {
  std::vector<uint8_t> text = text_sample(size / 2 + 2048), noise = random_bytes(size / 2 + 2048, 23);
  std::vector<uint8_t> out;
  for (size_t at = 0; out.size() < size; at += 2048) {
    out.insert(out.end(), noise.begin() + at, noise.begin() + at + 2048);
    out.insert(out.end(), text.begin() + at, text.begin() + at + 2048);
  }
  out.resize(size);
  return out;
}

// Each part of a large input at the default levels takes the parse that
// serves it: text keeps the near-optimal parser; noise taking turns with
// text takes zlib's, primed with the bytes before it; noise takes
// libdeflate's fastest level. The parts join into one stream, and the
// choice costs little against the near-optimal parser on every part: here
// 0.25 %, nearly all of it on the alternating part, whose text repeats
// more than most.
TEST(StreamParts, EachPartTakesTheParseThatServesIt) {
  const size_t part = kStreamPartSize;
  std::vector<uint8_t> data = text_sample(part);
  std::vector<uint8_t> alternating = alternating_sample(part), noise = random_bytes(part, 29);
  data.insert(data.end(), alternating.begin(), alternating.end());
  data.insert(data.end(), noise.begin(), noise.end());
  std::vector<uint8_t> tail = text_sample(part / 2);
  data.insert(data.end(), tail.begin(), tail.end());
  std::vector<uint8_t> stream;
  StreamEncodeStats stats;
  ASSERT_EQ(kEncodeOk, encode_stream(data.data(), data.size(), kStreamLevelDefault, &stream, &stats));
  EXPECT_EQ(4u, stats.parts);
  EXPECT_EQ(1u, stats.lazy_parts);
  EXPECT_EQ(1u, stats.fast_parts);
  expect_stream_decodes_to(stream, data);

  // The same parts, all with the near-optimal parser.
  std::vector<uint8_t> near_optimal;
  for (size_t start = 0; start < data.size(); start += part) {
    size_t window = std::min<size_t>(start, 32768), end = std::min(data.size(), start + part);
    std::vector<uint8_t> primed(data.begin() + static_cast<long>(start - window), data.begin() + static_cast<long>(end));
    std::vector<uint8_t> deflate = raw_deflate(primed, kStreamPartLevel);
    TranscodeOptions cut;
    cut.skip = window;
    cut.more_follows = end < data.size();
    ASSERT_EQ(kEncodeOk, transcode_deflate(deflate.data(), deflate.size(), primed.data(), primed.size(),
                                           &near_optimal, nullptr, cut));
  }
  expect_stream_decodes_to(near_optimal, data);
  EXPECT_LE(stream.size(), near_optimal.size() + near_optimal.size() / 200);

  // Below the default levels, and at the maximum, every part keeps
  // libdeflate's parse.
  std::vector<uint8_t> middle(data.begin() + static_cast<long>(part), data.begin() + static_cast<long>(3 * part));
  for (int level : {6, static_cast<int>(kStreamLevelMax)}) {
    SCOPED_TRACE(level);
    std::vector<uint8_t> other;
    ASSERT_EQ(kEncodeOk, encode_stream(middle.data(), middle.size(), level, &other, &stats));
    EXPECT_EQ(2u, stats.parts);
    EXPECT_EQ(0u, stats.lazy_parts);
    EXPECT_EQ(0u, stats.fast_parts);
  }
}

// Both ways of priming a part: a deflate stream that also makes the bytes
// before the part (libdeflate's, cut at the part's start), and one that
// only reaches back into them (zopfli's). Every part but the last ends on a
// byte boundary with an empty stored block; joined, they are one stream.
TEST(StreamParts, PrimedPartsJoin) {
  std::vector<uint8_t> data = seamed_sample(300000);
  const size_t window = 32768, seam1 = 100000, seam2 = 200000;
  std::vector<uint8_t> joined, part;
  StreamEncodeStats stats;
  TranscodeOptions first;
  first.more_follows = true;
  std::vector<uint8_t> head(data.begin(), data.begin() + seam1);
  ASSERT_EQ(kEncodeOk, transcode_deflate(raw_deflate(head, 12).data(), raw_deflate(head, 12).size(), head.data(),
                                         head.size(), &part, &stats, first));
  ASSERT_GE(part.size(), 2u);
  EXPECT_EQ(0, part[part.size() - 1]);  // an empty stored block's length
  EXPECT_EQ(0, part[part.size() - 2]);
  joined.insert(joined.end(), part.begin(), part.end());

  part.clear();
  TranscodeOptions cut;
  cut.skip = window;
  cut.more_follows = true;
  std::vector<uint8_t> middle(data.begin() + seam1 - window, data.begin() + seam2);
  std::vector<uint8_t> deflate = raw_deflate(middle, 12);
  ASSERT_EQ(kEncodeOk, transcode_deflate(deflate.data(), deflate.size(), middle.data(), middle.size(), &part, &stats,
                                         cut));
  EXPECT_EQ(1u, stats.cut_blocks);
  joined.insert(joined.end(), part.begin(), part.end());

  part.clear();
  ZopfliOptions options;
  ZopfliInitOptions(&options);
  options.numiterations = 1;
  unsigned char bit = 0;
  unsigned char* zopfli = nullptr;
  size_t zopfli_size = 0;
  ZopfliDeflatePart(&options, 2, 1, data.data() + seam2 - window, window, window + data.size() - seam2, &bit, &zopfli,
                    &zopfli_size);
  TranscodeOptions primed;
  primed.history = window;
  int r = transcode_deflate(zopfli, zopfli_size, data.data() + seam2, data.size() - seam2, &part, &stats, primed);
  free(zopfli);
  ASSERT_EQ(kEncodeOk, r);
  joined.insert(joined.end(), part.begin(), part.end());

  expect_stream_decodes_to(joined, data);

  // Without the bytes before it, the zopfli part's matches reach nowhere.
  part.clear();
  zopfli = nullptr;
  zopfli_size = 0;
  bit = 0;
  ZopfliDeflatePart(&options, 2, 1, data.data() + seam2 - window, window, window + data.size() - seam2, &bit, &zopfli,
                    &zopfli_size);
  r = transcode_deflate(zopfli, zopfli_size, data.data() + seam2, data.size() - seam2, &part, &stats);
  free(zopfli);
  EXPECT_EQ(kEncodeBadDeflate, r);
}

}  // namespace
