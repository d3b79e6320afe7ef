// The stream decoder: code tables, block formats, the window, the sinks and
// the input discipline that leaves the file right behind the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "archive/platform.h"
#include "tests/native/test_files.h"

namespace {

typedef std::vector<uint8_t> Bytes;

uint32_t draw(std::mt19937& g) { return static_cast<uint32_t>(g()); }

// Writes fields least significant bit first and Huffman codes first bit
// first, as the stream format reads them.
struct BitWriter {
  Bytes bytes;
  uint32_t acc = 0, count = 0;
  void put(uint32_t value, uint32_t bits) {
    for (uint32_t i = 0; i < bits; ++i) {
      acc |= ((value >> i) & 1u) << count;
      if (++count == 8) {
        bytes.push_back(static_cast<uint8_t>(acc));
        acc = count = 0;
      }
    }
  }
  void put_code(uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;) put((code >> i) & 1u, 1);
  }
  void align() {
    if (count) put(0, 8 - count);
  }
  Bytes finish() {
    align();
    return bytes;
  }
};

// Canonical codes for a list of code lengths.
std::vector<uint32_t> canonical_codes(const Bytes& lengths) {
  uint32_t count[17] = {}, next[17] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  for (uint32_t l = 1, code = 0; l <= 16; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

struct Code {
  Bytes lengths;
  std::vector<uint32_t> codes;
  explicit Code(Bytes l) : lengths(std::move(l)), codes(canonical_codes(lengths)) {}
  void put(BitWriter& w, uint32_t symbol) const {
    ASSERT_NE(0, lengths.at(symbol)) << symbol;
    w.put_code(codes[symbol], lengths[symbol]);
  }
};

Code fixed_literals() {
  Bytes l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return Code(l);
}
Code fixed_distances() { return Code(Bytes(30, 5)); }

// A complete code over all 30 distance symbols: two of 4 bits, 28 of 5.
Bytes complete_distances() {
  Bytes l(30, 5);
  l[0] = l[1] = 4;
  return l;
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

// One token of the literal/length/distance data.
struct Token {
  uint32_t length;  // 0: literal
  uint32_t value;   // literal byte or distance
};

void put_tokens(BitWriter& w, const Code& lit, const Code& dist, const std::vector<Token>& tokens) {
  for (const Token& t : tokens) {
    if (t.length == 0) {
      lit.put(w, t.value);
      continue;
    }
    uint32_t ls = 28;
    while (ls > 0 && !(kLengthBase[ls] <= t.length && (ls == 28 || t.length < kLengthBase[ls] + (1u << kLengthExtra[ls]))))
      --ls;
    if (t.length == 258) ls = 28;
    else if (ls == 28) ls = 27;
    lit.put(w, 257 + ls);
    w.put(t.length - kLengthBase[ls], kLengthExtra[ls]);
    uint32_t ds = 29;
    while (kDistanceBase[ds] > t.value) --ds;
    dist.put(w, ds);
    w.put(t.value - kDistanceBase[ds], ds < 4 ? 0 : (ds - 2) / 2);
  }
  lit.put(w, 256);
}

void put_fixed_block(BitWriter& w, const std::vector<Token>& tokens, bool last) {
  w.put(5 | (last ? 8 : 0), 4);
  put_tokens(w, fixed_literals(), fixed_distances(), tokens);
}

void put_stored_block(BitWriter& w, const Bytes& data, bool last) {
  w.put(7 | (last ? 8 : 0), 4);
  w.align();
  w.put(static_cast<uint32_t>(data.size()), 16);
  for (uint8_t b : data) w.put(b, 8);
}

// Writes a dynamic block header listing every code length as a plain
// code-length symbol (all 16 of them with 4-bit codes).
void put_dynamic_header(BitWriter& w, const Code& lit, const Code& dist, bool last) {
  w.put(6 | (last ? 8 : 0), 4);
  w.put(static_cast<uint32_t>(lit.lengths.size() - 257), 5);
  w.put(static_cast<uint32_t>(dist.lengths.size() - 1), 5);
  w.put(15, 4);  // 19 code-length code lengths: 18, 17, 16, then 0..15
  for (int i = 0; i < 3; ++i) w.put(0, 3);
  for (int i = 0; i < 16; ++i) w.put(4, 3);
  Code cl(Bytes{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4});
  for (uint8_t l : lit.lengths) cl.put(w, l);
  for (uint8_t l : dist.lengths) cl.put(w, l);
}

// A complete code over `symbols` (in that order): lengths 1, 2, ..., k, and
// the rest shares the longest length. Long codes make sub-tables.
Bytes chain_lengths(size_t alphabet, const std::vector<uint32_t>& symbols, uint32_t k, uint32_t longest) {
  Bytes l(alphabet, 0);
  size_t i = 0;
  for (uint32_t len = 1; len <= k; ++len) l[symbols[i++]] = static_cast<uint8_t>(len);
  size_t rest = size_t(1) << (longest - k);
  EXPECT_EQ(symbols.size() - k, rest);
  for (; i < symbols.size(); ++i) l[symbols[i]] = static_cast<uint8_t>(longest);
  return l;
}

// The output the tokens stand for, with the window's zero start.
Bytes expand(const std::vector<Token>& tokens, Bytes out = {}) {
  for (const Token& t : tokens) {
    if (t.length == 0) {
      out.push_back(static_cast<uint8_t>(t.value));
      continue;
    }
    for (uint32_t i = 0; i < t.length; ++i) {
      size_t n = out.size();
      out.push_back(t.value > n ? 0 : out[n - t.value]);
    }
  }
  return out;
}

std::vector<Token> literals(const std::string& s) {
  std::vector<Token> t;
  for (unsigned char c : s) t.push_back({0, c});
  return t;
}

struct Decoded {
  bool ok = false;
  Bytes out;
  uint32_t position = 0;  // of the input file afterwards
};

// Writes `prefix`, the stream and `trailer` to a file and decodes the stream
// from behind the prefix into a buffer of `capacity` bytes.
Decoded decode_bytes(const Bytes& stream, uint32_t capacity, const Bytes& trailer = {}, uint32_t compressed = 0) {
  TempDir dir;
  Bytes file_bytes = stream;
  file_bytes.insert(file_bytes.end(), trailer.begin(), trailer.end());
  write_bytes(dir.file("s"), file_bytes);
  FileHandle in = open_file(dir.file("s").c_str(), 0);
  EXPECT_NE(INVALID_FILE_HANDLE, in);
  Decoded d;
  // Guard bytes behind the buffer catch writes past its end.
  Bytes buffer(capacity + 16, 0xEE);
  uint32_t produced = 0;
  d.ok = decode_to_memory(buffer.data(), capacity, in, compressed, &produced);
  for (uint32_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(0xEE, buffer[i]) << "written past the buffer";
  d.out.assign(buffer.begin(), buffer.begin() + produced);
  d.position = tell_file(in);
  close_file(in);
  return d;
}

// Records every write of a stream.
class RecordingSink : public OutputSink {
 public:
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    sizes.push_back(count);
    out.insert(out.end(), data, data + count);
    return true;
  }
  std::vector<uint32_t> sizes;
  Bytes out;
};

// Runs decode_stream itself, for its result code and the pieces written.
int stream_result(const Bytes& stream, RecordingSink* sink) {
  TempDir dir;
  write_bytes(dir.file("s"), stream);
  FileHandle in = open_file(dir.file("s").c_str(), 0);
  int result;
  {
    Decompressor d;
    EXPECT_TRUE(begin_input(d.input, in, 0));
    d.sink = sink;
    result = decode_stream(d);
  }
  close_file(in);
  return result;
}

// ---------------------------------------------------------------------------

TEST(CodeTable, ResultsForCompleteIncompleteAndOversubscribedCodes) {
  CodeEntry* t = nullptr;
  uint32_t width = 9;
  Bytes zeros(30, 0);
  EXPECT_EQ(kCodeComplete, build_code_table(zeros.data(), 30, 0, nullptr, nullptr, &t, &width));
  EXPECT_EQ(nullptr, t);
  EXPECT_EQ(0u, width);

  Bytes three_ones{1, 1, 1};
  width = 7;
  EXPECT_EQ(kCodeOversubscribed, build_code_table(three_ones.data(), 3, 3, nullptr, nullptr, &t, &width));
  EXPECT_EQ(nullptr, t);

  Bytes twos{2, 2, 2};
  width = 7;
  ASSERT_EQ(kCodeIncomplete, build_code_table(twos.data(), 3, 3, nullptr, nullptr, &t, &width));
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(2u, width);  // cut to the longest code
  // Codes 00, 01, 10 read first bit first; the spare 11 is invalid.
  EXPECT_EQ(0, t[0b00].value);
  EXPECT_EQ(1, t[0b10].value);
  EXPECT_EQ(2, t[0b01].value);
  EXPECT_EQ(kOpInvalid, t[0b11].op);
  free_code_table(&t);
  EXPECT_EQ(nullptr, t);
  free_code_table(&t);

  // Kraft sums over one at a longer length.
  Bytes over{1, 2, 3, 3, 3};
  width = 7;
  EXPECT_EQ(kCodeOversubscribed, build_code_table(over.data(), 5, 5, nullptr, nullptr, &t, &width));
}

TEST(CodeTable, SingleOneBitCodeCountsAsComplete) {
  Bytes l(19, 0);
  l[5] = 1;
  CodeEntry* t = nullptr;
  uint32_t width = 7;
  ASSERT_EQ(kCodeComplete, build_code_table(l.data(), 19, 19, nullptr, nullptr, &t, &width));
  EXPECT_EQ(1u, width);
  EXPECT_EQ(kOpLiteral, t[0].op);
  EXPECT_EQ(5, t[0].value);
  EXPECT_EQ(1, t[0].bits);
  EXPECT_EQ(kOpInvalid, t[1].op);
  free_code_table(&t);
}

// Every code of a table with sub-tables decodes to its own symbol with its
// own length, and the spare codes of an incomplete code are invalid.
TEST(CodeTable, LongCodesResolveThroughSubTables) {
  std::vector<uint32_t> symbols;
  for (uint32_t s = 0; s < 135; ++s) symbols.push_back((s * 37) % 286);
  Bytes lengths = chain_lengths(286, symbols, 7, 14);
  uint16_t bases[29], extras[29];
  for (int i = 0; i < 29; ++i) bases[i] = static_cast<uint16_t>(1000 + i), extras[i] = static_cast<uint16_t>(i % 6);
  CodeEntry* t = nullptr;
  uint32_t width = 9;
  ASSERT_EQ(kCodeComplete, build_code_table(lengths.data(), 286, 257, bases, extras, &t, &width));
  EXPECT_EQ(9u, width);
  std::vector<uint32_t> codes = canonical_codes(lengths);
  for (uint32_t s : symbols) {
    // Bit-reversed code: the first-arriving bit is bit 0.
    uint32_t rev = 0;
    for (uint32_t i = 0; i < lengths[s]; ++i) rev |= ((codes[s] >> (lengths[s] - 1 - i)) & 1u) << i;
    CodeEntry e = t[rev & ((1u << width) - 1)];
    uint32_t used = 0;
    while (e.op > kOpLiteral) {
      ASSERT_NE(kOpInvalid, e.op);
      used += e.bits;
      e = t[e.value + ((rev >> used) & ((1u << (e.op - kOpLiteral)) - 1))];
    }
    EXPECT_EQ(lengths[s], used + e.bits) << s;
    if (s < 256) {
      EXPECT_EQ(kOpLiteral, e.op);
      EXPECT_EQ(s, e.value);
    } else if (s == 256) {
      EXPECT_EQ(kOpEndOfBlock, e.op);
    } else {
      EXPECT_EQ(extras[s - 257], e.op);
      EXPECT_EQ(bases[s - 257], e.value);
    }
  }
  free_code_table(&t);

  // Take one 14-bit code away: one spare code, invalid.
  lengths[symbols.back()] = 0;
  width = 9;
  ASSERT_EQ(kCodeIncomplete, build_code_table(lengths.data(), 286, 257, bases, extras, &t, &width));
  free_code_table(&t);
}

TEST(Input, KnownLengthIsFetchedInChunksAndNeverBeyond) {
  // Without a data area behind it the reader reads the plain file, so only
  // the chunking is seen here; the data-area tests cover read_data.
  TempDir dir;
  write_bytes(dir.file("f"), Bytes(5000, 7));
  FileHandle f = open_file(dir.file("f").c_str(), 0);
  {
    InputReader in;
    ASSERT_TRUE(begin_input(in, f, 0));
    refill_input(in);
    EXPECT_EQ(4096u, in.available);
    uint8_t b;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(fetch_byte(in, &b));
    end_input(in);
    EXPECT_EQ(10u, tell_file(f));  // the unused 4086 bytes are given back
    end_input(in);                 // twice is harmless
    EXPECT_EQ(10u, tell_file(f));
  }
  EXPECT_FALSE([] {
    InputReader in;
    return begin_input(in, INVALID_FILE_HANDLE, 0);
  }());
  close_file(f);
}

TEST(StoredBlocks, ExampleStreams) {
  Bytes stream{0x0F, 0x19, 0x00};
  Bytes data;
  for (int i = 0; i < 25; ++i) data.push_back(static_cast<uint8_t>('A' + i));
  stream.insert(stream.end(), data.begin(), data.end());
  Decoded d = decode_bytes(stream, 25, {0x55, 0x66});
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(data, d.out);
  EXPECT_EQ(28u, d.position);

  d = decode_bytes({0x07, 0x02, 0x00, 0x61, 0x62, 0x0F, 0x01, 0x00, 0x63}, 3, {0x01});
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(Bytes({'a', 'b', 'c'}), d.out);
  EXPECT_EQ(9u, d.position);
}

TEST(StoredBlocks, EmptyBlockAndBlocksAfterHuffmanData) {
  BitWriter w;
  put_stored_block(w, {}, false);
  put_fixed_block(w, literals("xy"), false);  // leaves a partial byte
  put_stored_block(w, {'z', 'w'}, true);
  Bytes stream = w.finish();
  Decoded d = decode_bytes(stream, 4, {0xAA, 0xBB});
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(Bytes({'x', 'y', 'z', 'w'}), d.out);
  EXPECT_EQ(stream.size(), d.position);
}

TEST(FixedBlocks, ExampleStreams) {
  Decoded d = decode_bytes({0x9D, 0x98, 0x94, 0x0C, 0x00}, 3, {0xFF, 0xFF});
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(Bytes({'a', 'b', 'c'}), d.out);
  EXPECT_EQ(5u, d.position);

  d = decode_bytes({0x0D, 0x00}, 0, {0x12});
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.out.empty());
  EXPECT_EQ(2u, d.position);
}

TEST(FixedBlocks, ExampleAgreesWithTheWriter) {
  BitWriter w;
  put_fixed_block(w, literals("abc"), true);
  EXPECT_EQ(Bytes({0x9D, 0x98, 0x94, 0x0C, 0x00}), w.finish());
}

TEST(BlockTypes, InvalidTypesEndWithResultTwoAndWriteNothing) {
  for (uint8_t type = 0; type < 5; ++type) {
    RecordingSink sink;
    EXPECT_EQ(kStreamBadBlock, stream_result({static_cast<uint8_t>(type | 8), 0, 0}, &sink)) << int(type);
    EXPECT_TRUE(sink.sizes.empty());
  }
  // Also after a good block: the first block's bytes never leave the window.
  BitWriter w;
  put_stored_block(w, {'a'}, false);
  w.put(3, 4);
  RecordingSink sink;
  EXPECT_EQ(kStreamBadBlock, stream_result(w.finish(), &sink));
  EXPECT_TRUE(sink.sizes.empty());
}

TEST(Window, WholeWindowsThenOneShorterPiece) {
  Bytes data(32768);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  BitWriter w;
  put_stored_block(w, Bytes(data.begin(), data.begin() + 30000), false);
  put_stored_block(w, Bytes(data.begin() + 30000, data.end()), true);
  RecordingSink sink;
  ASSERT_EQ(kStreamOk, stream_result(w.finish(), &sink));
  EXPECT_EQ(std::vector<uint32_t>({32768, 0}), sink.sizes);
  EXPECT_EQ(data, sink.out);

  // 70000 bytes through copies: pieces of 32768, 32768 and 4464.
  std::vector<Token> tokens = literals("0123456789");
  for (int i = 0; i < 271; ++i) tokens.push_back({258, 10});
  tokens.push_back({72, 10});
  BitWriter w2;
  put_fixed_block(w2, tokens, true);
  RecordingSink sink2;
  ASSERT_EQ(kStreamOk, stream_result(w2.finish(), &sink2));
  EXPECT_EQ(std::vector<uint32_t>({32768, 32768, 4464}), sink2.sizes);
  EXPECT_EQ(expand(tokens), sink2.out);
}

TEST(Window, CopiesFromBeforeTheStartGiveZerosAndDistanceOneRepeats) {
  std::vector<Token> tokens = literals("ab");
  tokens.push_back({5, 100});  // reaches back before the first byte
  tokens.push_back({0, 'q'});
  tokens.push_back({258, 1});
  tokens.push_back({4, 32768});
  Bytes expected = expand(tokens);
  ASSERT_EQ(Bytes({'a', 'b', 0, 0, 0, 0, 0, 'q'}), Bytes(expected.begin(), expected.begin() + 8));
  EXPECT_EQ(Bytes(258, 'q'), Bytes(expected.begin() + 8, expected.begin() + 266));
  BitWriter w;
  put_fixed_block(w, tokens, true);
  Decoded d = decode_bytes(w.finish(), static_cast<uint32_t>(expected.size()));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(expected, d.out);
}

// Copies across the window's end, including distance 32768 and sources that
// wrap while the destination does not.
TEST(Window, CopiesAcrossTheWrap) {
  std::mt19937 rng(7);
  std::vector<Token> tokens;
  size_t produced = 0;
  while (produced < 200000) {
    if (draw(rng) % 3 == 0 || produced < 300) {
      tokens.push_back({0, draw(rng) % 256});
      produced += 1;
    } else {
      uint32_t length = 3 + draw(rng) % 256;
      uint32_t distance = draw(rng) % 4 == 0 ? 32768 - draw(rng) % 64 : 1 + draw(rng) % 32768;
      tokens.push_back({length, distance});
      produced += length;
    }
  }
  Bytes expected = expand(tokens);
  BitWriter w;
  put_fixed_block(w, tokens, true);
  Decoded d = decode_bytes(w.finish(), static_cast<uint32_t>(expected.size()));
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(expected == d.out);
}

// A dynamic block with long codes (sub-tables) and every length and
// distance symbol.
TEST(DynamicBlocks, DecodeWithSubTables) {
  // The length symbols and the end of block get codes of 1..8 bits, the
  // literals 15-bit codes.
  std::vector<uint32_t> lits;
  for (uint32_t s = 257; s < 286; ++s) lits.push_back(s);
  lits.push_back(256);
  for (uint32_t s = 0; lits.size() < 8 + 128; ++s) lits.push_back(s);
  Code lit(chain_lengths(286, lits, 8, 15));
  Code dist(complete_distances());

  std::mt19937 rng(11);
  std::vector<Token> tokens;
  for (int i = 0; i < 300; ++i) tokens.push_back({0, draw(rng) % 106});
  for (int round = 0; round < 40; ++round) {
    for (uint32_t ls = 0; ls < 29; ++ls) {
      uint32_t length = kLengthBase[ls] + (ls == 28 ? 0 : draw(rng) % (1u << kLengthExtra[ls]));
      tokens.push_back({length, 1 + draw(rng) % 300});
    }
    for (uint32_t ds = 0; ds < 30; ++ds) tokens.push_back({3 + draw(rng) % 10, kDistanceBase[ds]});
    tokens.push_back({0, draw(rng) % 106});
  }
  Bytes expected = expand(tokens);
  BitWriter w;
  put_dynamic_header(w, lit, dist, false);
  put_tokens(w, lit, dist, tokens);
  put_dynamic_header(w, lit, dist, true);
  put_tokens(w, lit, dist, literals("abc"));
  Bytes stream = w.finish();
  expected.insert(expected.end(), {'a', 'b', 'c'});
  Decoded d = decode_bytes(stream, static_cast<uint32_t>(expected.size()), {0x5A});
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(expected == d.out);
  EXPECT_EQ(stream.size(), d.position);
}

}  // namespace
