// The stream decoder: code tables, block formats, the window, the sinks and
// the input discipline that leaves the file right behind the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "base/platform.h"
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
    EXPECT_TRUE(begin_input(d.bits.input, in, 0));
    d.sink = sink;
    result = decode_stream(d);
  }
  close_file(in);
  return result;
}

// ---------------------------------------------------------------------------

// Builds a table into room for the largest one.
struct Table {
  std::vector<CodeEntry> entries = std::vector<CodeEntry>(kLiteralTableSize, 0xDEADBEEF);
  uint32_t width = 0;
  int build(const Bytes& lengths, uint32_t s, const SymbolValue* values, uint32_t root) {
    width = root;
    return build_code_table(lengths.data(), static_cast<uint32_t>(lengths.size()), s, values, entries.data(),
                            static_cast<uint32_t>(entries.size()), root);
  }
  CodeEntry operator[](uint32_t i) const { return entries.at(i); }
};

bool is_plain(CodeEntry e, uint32_t symbol, uint32_t bits) {
  return (e & kEntryLiteral) && entry_value(e) == symbol && entry_drop(e) == bits && entry_code_bits(e) == bits;
}

TEST(CodeTable, ResultsForCompleteIncompleteAndOversubscribedCodes) {
  Table t;
  // No code at all: a root of invalid entries.
  EXPECT_EQ(kCodeComplete, t.build(Bytes(30, 0), 0, nullptr, 9));
  for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(kEntryInvalid, t[i]);

  EXPECT_EQ(kCodeOversubscribed, t.build({1, 1, 1}, 3, nullptr, 7));

  ASSERT_EQ(kCodeIncomplete, t.build({2, 2, 2}, 3, nullptr, 7));
  // Codes 00, 01, 10 read first bit first; the spare 11 is invalid. The
  // root is wider than the codes: whatever bits follow, the same entry.
  for (uint32_t high = 0; high < 128; high += 4) {
    EXPECT_TRUE(is_plain(t[high | 0b00], 0, 2));
    EXPECT_TRUE(is_plain(t[high | 0b10], 1, 2));
    EXPECT_TRUE(is_plain(t[high | 0b01], 2, 2));
    EXPECT_EQ(kEntryInvalid, t[high | 0b11]);
  }

  // Kraft sums over one at a longer length.
  EXPECT_EQ(kCodeOversubscribed, t.build({1, 2, 3, 3, 3}, 5, nullptr, 7));
  // An incomplete code that would need sub-tables is refused unbuilt.
  Bytes sparse(20, 0);
  sparse[0] = 1;
  sparse[1] = 12;
  EXPECT_EQ(kCodeIncomplete, t.build(sparse, 20, nullptr, 9));
  // Too little room.
  std::vector<CodeEntry> small(64);
  Bytes seven(128, 7);
  EXPECT_EQ(kCodeNoMemory, build_code_table(seven.data(), 128, 128, nullptr, small.data(), 64, 7));
}

TEST(CodeTable, SingleOneBitCodeCountsAsComplete) {
  Bytes l(19, 0);
  l[5] = 1;
  Table t;
  ASSERT_EQ(kCodeComplete, t.build(l, 19, nullptr, 7));
  EXPECT_TRUE(is_plain(t[0], 5, 1));
  EXPECT_EQ(kEntryInvalid, t[1]);
  EXPECT_TRUE(is_plain(t[126], 5, 1));
  EXPECT_EQ(kEntryInvalid, t[127]);
}

// Every code of a table with sub-tables decodes to its own symbol with its
// own length, and a length or distance symbol's extra bits follow its code.
TEST(CodeTable, LongCodesResolveThroughSubTables) {
  std::vector<uint32_t> symbols;
  for (uint32_t s = 0; s < 135; ++s) symbols.push_back((s * 37) % 286);
  Bytes lengths = chain_lengths(286, symbols, 7, 14);
  SymbolValue values[29];
  for (int i = 0; i < 29; ++i) values[i] = SymbolValue{static_cast<uint16_t>(1000 + i), static_cast<uint8_t>(i % 6)};
  Table t;
  ASSERT_EQ(kCodeComplete, t.build(lengths, 257, values, 9));
  EXPECT_EQ(9u, t.width);
  std::vector<uint32_t> codes = canonical_codes(lengths);
  for (uint32_t s : symbols) {
    // Bit-reversed code: the first-arriving bit is bit 0.
    uint32_t rev = 0;
    for (uint32_t i = 0; i < lengths[s]; ++i) rev |= ((codes[s] >> (lengths[s] - 1 - i)) & 1u) << i;
    CodeEntry e = t[rev & ((1u << t.width) - 1)];
    uint32_t used = 0;
    if (e & kEntryLink) {
      EXPECT_EQ(t.width, entry_drop(e));
      used = entry_drop(e);
      e = t[entry_value(e) + ((rev >> used) & ((1u << entry_code_bits(e)) - 1))];
      ASSERT_FALSE(e & kEntryLink);
    }
    ASSERT_NE(kEntryInvalid, e) << s;
    EXPECT_EQ(lengths[s], used + entry_code_bits(e)) << s;
    if (s < 256) {
      EXPECT_TRUE(e & kEntryLiteral);
      EXPECT_EQ(s, entry_value(e));
    } else if (s == 256) {
      EXPECT_TRUE(e & kEntryEnd);
    } else {
      EXPECT_FALSE(e & kEntrySpecial);
      EXPECT_EQ(values[s - 257].extra, entry_extra_bits(e));
      EXPECT_EQ(values[s - 257].base, entry_value(e));
    }
  }

  // Take one 14-bit code away: incomplete.
  lengths[symbols.back()] = 0;
  EXPECT_EQ(kCodeIncomplete, t.build(lengths, 257, values, 9));
}

// Complete codes of every shape, up to 15 bits, fit the room set aside for
// their tables and decode each symbol: random full binary trees, grown by
// splitting leaves, some always at the deepest one to make long chains.
TEST(CodeTable, EveryCompleteCodeFitsItsRoom) {
  std::mt19937 rng(5);
  for (int round = 0; round < 600; ++round) {
    uint32_t n = round % 2 ? 286 : 30;
    std::vector<uint32_t> depths{0};
    while (depths.size() < n) {
      uint32_t pick = draw(rng) % depths.size();
      if (round % 3 == 0) pick = static_cast<uint32_t>(std::max_element(depths.begin(), depths.end()) - depths.begin());
      if (depths[pick] >= 15) pick = draw(rng) % depths.size();
      if (depths[pick] >= 15) continue;
      ++depths[pick];
      depths.push_back(depths[pick]);
    }
    std::shuffle(depths.begin(), depths.end(), rng);
    Bytes lengths(depths.begin(), depths.end());
    SymbolValue values[30] = {};
    Table t;
    uint32_t root = n == 286 ? kLiteralRootBits : kDistanceRootBits;
    t.entries.assign(n == 286 ? kLiteralTableSize : kDistanceTableSize, 0);
    ASSERT_EQ(kCodeComplete, t.build(lengths, n == 286 ? 257 : 0, values, root)) << round;
    std::vector<uint32_t> codes = canonical_codes(lengths);
    for (uint32_t s = 0; s < n; ++s) {
      uint32_t rev = 0;
      for (uint32_t i = 0; i < lengths[s]; ++i) rev |= ((codes[s] >> (lengths[s] - 1 - i)) & 1u) << i;
      CodeEntry e = t[rev & ((1u << t.width) - 1)];
      uint32_t used = 0;
      if (e & kEntryLink) {
        used = entry_drop(e);
        e = t[entry_value(e) + ((rev >> used) & ((1u << entry_code_bits(e)) - 1))];
      }
      ASSERT_EQ(lengths[s], used + entry_code_bits(e)) << round << " " << s;
    }
  }
}

TEST(Input, UnusedBufferedBytesAreGivenBack) {
  TempDir dir;
  write_bytes(dir.file("f"), Bytes(5000, 7));
  FileHandle f = open_file(dir.file("f").c_str(), 0);
  {
    InputReader in;
    ASSERT_TRUE(begin_input(in, f, 0));
    refill_input(in);
    EXPECT_EQ(kUnboundedChunk, in.available);
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

// Tokens that fill `target` bytes: literals, then copies of `distance`
// (and, to land exactly, a shorter last one), then `tail` literals.
std::vector<Token> fill_to(size_t target, uint32_t distance, size_t tail) {
  std::vector<Token> tokens;
  size_t produced = 0;
  for (uint32_t i = 0; i < distance && produced < target; ++i, ++produced) tokens.push_back({0, 'A' + i % 23});
  while (produced < target) {
    size_t left = target - produced;
    uint32_t length = left >= 258 + 3 ? 258 : left <= 258 ? static_cast<uint32_t>(left) : 200;
    if (length < 3) {
      tokens.push_back({0, 'z'});
      ++produced;
      continue;
    }
    tokens.push_back({length, distance});
    produced += length;
  }
  for (size_t i = 0; i < tail; ++i) tokens.push_back({0, static_cast<uint32_t>('a' + i % 26)});
  return tokens;
}

// Decodes a fixed block of the tokens both ways, into memory and through a
// sink, and checks both against the tokens' own expansion.
void expect_both_ways(const std::vector<Token>& tokens, const std::string& what) {
  Bytes expected = expand(tokens);
  BitWriter w;
  put_fixed_block(w, tokens, true);
  Bytes stream = w.finish();
  // Bytes behind the stream keep the input from running low, so the fast
  // loop decodes up to the end.
  Decoded d = decode_bytes(stream, static_cast<uint32_t>(expected.size()), Bytes(32, 0x5A));
  EXPECT_TRUE(d.ok) << what;
  EXPECT_TRUE(expected == d.out) << what;
  RecordingSink sink;
  EXPECT_EQ(kStreamOk, stream_result(stream, &sink)) << what;
  EXPECT_TRUE(expected == sink.out) << what;
  for (size_t i = 0; i + 1 < sink.sizes.size(); ++i) EXPECT_EQ(kWindowSize, sink.sizes[i]) << what;
}

// Copies that end on, just before and just after the points where the
// window writes its region out, and where a buffer in memory ends, for
// close overlapping sources (each byte repeating one just written), word
// distances and distance 1.
TEST(Window, CopiesAroundTheRegionEndAndTheBufferEnd) {
  const size_t region_full = kWindowEnd - kWindowSize;
  for (uint32_t distance : {1u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 300u, 32768u}) {
    for (size_t target : {region_full - 1, region_full, region_full + 1, region_full + 258, size_t(2) * region_full}) {
      expect_both_ways(fill_to(target, distance, 0), "distance " + std::to_string(distance) + " to " +
                                                         std::to_string(target));
      expect_both_ways(fill_to(target, distance, 5), "distance " + std::to_string(distance) + " to " +
                                                         std::to_string(target) + " then literals");
    }
    // Short outputs: the buffer in memory ends within a longest copy of the
    // start, where only the careful loop may write.
    for (size_t target : {3u, 10u, 257u, 258u, 259u, 300u, 600u})
      expect_both_ways(fill_to(target, distance, 0), "short " + std::to_string(target));
  }
}

// Copies of many lengths, with close and far sources, ending on the end of
// a buffer in memory or a few literals before it: the fast copies may write
// a little past a copy's end, but never past the buffer.
TEST(MemoryOutput, CopiesEndingNearTheBufferEnd) {
  std::vector<uint32_t> lengths;
  for (uint32_t length = 3; length <= 20; ++length) lengths.push_back(length);
  for (uint32_t length = 240; length <= 258; ++length) lengths.push_back(length);
  for (uint32_t distance : {1u, 2u, 5u, 8u, 12u, 40u}) {
    for (uint32_t length : lengths) {
      for (uint32_t tail : {0u, 1u, 3u, 8u, 15u, 16u}) {
        std::vector<Token> tokens;
        for (uint32_t i = 0; i < 600; ++i) tokens.push_back({0, (i * 7) % 251});
        tokens.push_back({length, distance});
        for (uint32_t i = 0; i < tail; ++i) tokens.push_back({0, 'k'});
        Bytes expected = expand(tokens);
        BitWriter w;
        put_fixed_block(w, tokens, true);
        // Bytes behind the stream keep the input from running low, so the
        // fast loop decodes up to the end.
        Decoded d = decode_bytes(w.finish(), static_cast<uint32_t>(expected.size()), Bytes(32, 0x5A));
        ASSERT_TRUE(d.ok) << distance << " " << length << " " << tail;
        ASSERT_TRUE(expected == d.out) << distance << " " << length << " " << tail;
      }
    }
  }
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

// A dynamic block header written item by item: the code-length code given
// per symbol, then (symbol, extra bits) pairs.
struct LengthItem {
  uint32_t symbol, extra;
};
void put_dynamic_raw(BitWriter& w, uint32_t literal_count, uint32_t distance_count, const Bytes& cl_lengths,
                     const std::vector<LengthItem>& items, bool last) {
  const uint8_t order[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  uint32_t listed = 19;
  while (listed > 4 && cl_lengths[order[listed - 1]] == 0) --listed;
  w.put(6 | (last ? 8 : 0), 4);
  w.put(literal_count - 257, 5);
  w.put(distance_count - 1, 5);
  w.put(listed - 4, 4);
  for (uint32_t i = 0; i < listed; ++i) w.put(cl_lengths[order[i]], 3);
  Code cl(cl_lengths);
  for (const LengthItem& item : items) {
    cl.put(w, item.symbol);
    if (item.symbol == 16) w.put(item.extra, 2);
    if (item.symbol == 17) w.put(item.extra, 3);
    if (item.symbol == 18) w.put(item.extra, 7);
  }
}

// Code-length items that give `lengths` one plain symbol each.
std::vector<LengthItem> plain_items(const Bytes& lengths) {
  std::vector<LengthItem> items;
  for (uint8_t l : lengths) items.push_back({l, 0});
  return items;
}

Bytes join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A complete code-length code over all 19 symbols: 0..12 4 bits, the rest 5.
Bytes all_cl_symbols() {
  Bytes l(19, 4);
  for (int i = 13; i < 19; ++i) l[i] = 5;
  return l;
}

// A complete literal/length code: 'a' and 'b' 2 bits, 'c', 'd', the end of
// block and symbol 257 (length 3) 3 bits.
Bytes small_literal_code() {
  Bytes l(258, 0);
  l['a'] = l['b'] = 2;
  l['c'] = l['d'] = l[256] = l[257] = 3;
  return l;
}

// Runs decode_stream on one final dynamic block: the header from the items,
// then `body` (bits written by the caller), then spare zero bytes so that
// the input does not run out first.
int dynamic_result(const Bytes& cl, uint32_t nlit, uint32_t ndist, const std::vector<LengthItem>& items,
                   RecordingSink* sink, void (*body)(BitWriter&) = nullptr) {
  BitWriter w;
  put_dynamic_raw(w, nlit, ndist, cl, items, true);
  if (body) body(w);
  for (int i = 0; i < 8; ++i) w.put(0, 8);
  return stream_result(w.finish(), sink);
}

TEST(DynamicBlocks, RunsOfLengths) {
  // 'a'..'d' 3 bits (one plain 3 and a repeat of it), the end of block 2
  // bits, 257 and 258 3 bits, one distance code of 1 bit; zeros by 17, 18.
  std::vector<LengthItem> items = {{18, 97 - 11}, {3, 0},       {16, 0}, {18, 138 - 11}, {17, 10 - 3},
                                   {17, 7 - 3},   {2, 0},       {3, 0},  {3, 0},         {1, 0}};
  Bytes lit(259, 0);
  lit['a'] = lit['b'] = lit['c'] = lit['d'] = 3;
  lit[256] = 2;
  lit[257] = lit[258] = 3;
  static Code lit_code(lit);
  static Code dist_code(Bytes{1});
  auto body = [](BitWriter& w) {
    std::vector<Token> tokens = literals("abcd");
    tokens.push_back({3, 1});
    tokens.push_back({4, 1});
    put_tokens(w, lit_code, dist_code, tokens);
  };
  RecordingSink sink;
  EXPECT_EQ(kStreamOk, dynamic_result(all_cl_symbols(), 259, 1, items, &sink, body));
  EXPECT_EQ(Bytes({'a', 'b', 'c', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd'}), sink.out);

  // A 16 at the very start repeats the length 0.
  items[0].extra -= 3;
  items.insert(items.begin(), {16, 0});
  RecordingSink sink2;
  EXPECT_EQ(kStreamOk, dynamic_result(all_cl_symbols(), 259, 1, items, &sink2, body));
  EXPECT_EQ(sink.out, sink2.out);
}

TEST(DynamicBlocks, MalformedHeaders) {
  Bytes lit = small_literal_code();
  std::vector<LengthItem> good = plain_items(join(lit, {1}));
  // The header itself is fine: the end of block decodes.
  auto end_of_block = [](BitWriter& w) { Code(small_literal_code()).put(w, 256); };
  RecordingSink good_sink;
  EXPECT_EQ(kStreamOk, dynamic_result(all_cl_symbols(), 258, 1, good, &good_sink, end_of_block));

  RecordingSink sink;
  // More than 286 literal/length codes, more than 30 distance codes.
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 287, 1, plain_items(Bytes(288, 0)), &sink));
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 31, plain_items(Bytes(289, 0)), &sink));
  // A run of zeros or a repeat past the end of the list.
  std::vector<LengthItem> items = plain_items(lit);
  items.push_back({18, 0});
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 1, items, &sink));
  items = plain_items(Bytes(lit.begin(), lit.end() - 1));
  items.push_back({16, 0});
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 1, items, &sink));
  // Incomplete and over-subscribed literal/length codes.
  Bytes incomplete = lit;
  incomplete['d'] = 0;
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 1, plain_items(join(incomplete, {1})), &sink));
  Bytes over = lit;
  over['e'] = 2;
  EXPECT_EQ(kStreamBadBlock, dynamic_result(all_cl_symbols(), 258, 1, plain_items(join(over, {1})), &sink));
  // Incomplete and over-subscribed distance codes.
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 2, plain_items(join(lit, {2, 1, 0})), &sink));
  EXPECT_EQ(kStreamBadBlock, dynamic_result(all_cl_symbols(), 258, 3, plain_items(join(lit, {1, 1, 1})), &sink));
  // Incomplete, over-subscribed and empty code-length codes.
  EXPECT_EQ(kStreamDataError, dynamic_result(Bytes(19, 5), 258, 1, good, &sink));
  EXPECT_EQ(kStreamBadBlock, dynamic_result(Bytes(19, 4), 258, 1, good, &sink));
  EXPECT_EQ(kStreamDataError, dynamic_result(Bytes(19, 0), 258, 1, {}, &sink));
  // A literal/length code without any code.
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 257, 1, {{18, 127}, {18, 127}, {17, 0}}, &sink));
  EXPECT_TRUE(sink.sizes.empty());
}

TEST(DynamicBlocks, SingleCodesAndEmptyDistanceCodes) {
  // A code-length code of one 1-bit code (for length 0): the other bit
  // pattern is a spare code and a data error.
  Bytes cl(19, 0);
  cl[0] = 1;
  RecordingSink sink;
  auto spare = [](BitWriter& w) { w.put(1, 1); };
  std::vector<LengthItem> none;
  EXPECT_EQ(kStreamDataError, dynamic_result(cl, 257, 1, none, &sink, spare));

  // No distance code: literals decode, a length code is a data error.
  Bytes lit = small_literal_code();
  auto literal_only = [](BitWriter& w) {
    Code c(small_literal_code());
    c.put(w, 'c');
    c.put(w, 256);
  };
  RecordingSink sink2;
  EXPECT_EQ(kStreamOk, dynamic_result(all_cl_symbols(), 258, 1, plain_items(join(lit, {0})), &sink2, literal_only));
  EXPECT_EQ(Bytes({'c'}), sink2.out);
  auto with_length = [](BitWriter& w) {
    Code c(small_literal_code());
    c.put(w, 'c');
    c.put(w, 257);
    c.put(w, 256);
  };
  RecordingSink sink3;
  EXPECT_EQ(kStreamDataError, dynamic_result(all_cl_symbols(), 258, 1, plain_items(join(lit, {0})), &sink3, with_length));

  // A distance code of one 1-bit code works.
  auto one_distance = [](BitWriter& w) {
    Code c(small_literal_code());
    c.put(w, 'c');
    c.put(w, 257);
    w.put(0, 1);  // distance symbol 0: 1
    c.put(w, 256);
  };
  RecordingSink sink4;
  EXPECT_EQ(kStreamOk, dynamic_result(all_cl_symbols(), 258, 1, plain_items(join(lit, {1})), &sink4, one_distance));
  EXPECT_EQ(Bytes({'c', 'c', 'c', 'c'}), sink4.out);
}

TEST(FixedBlocks, SymbolsOutsideTheAlphabetAreDataErrors) {
  Code lit = fixed_literals();
  for (uint32_t symbol : {286u, 287u}) {
    BitWriter w;
    w.put(5 | 8, 4);
    lit.put(w, 'x');
    lit.put(w, symbol);
    w.put(0, 32);
    RecordingSink sink;
    EXPECT_EQ(kStreamDataError, stream_result(w.finish(), &sink)) << symbol;
  }
  for (uint32_t distance : {30u, 31u}) {
    BitWriter w;
    w.put(5 | 8, 4);
    lit.put(w, 'x');
    lit.put(w, 257);
    w.put_code(distance, 5);
    lit.put(w, 256);
    w.put(0, 32);
    RecordingSink sink;
    EXPECT_EQ(kStreamDataError, stream_result(w.finish(), &sink)) << distance;
  }
}

// A stream of stored, fixed and dynamic blocks, with long codes.
Bytes mixed_stream(Bytes* expected) {
  std::vector<uint32_t> lits;
  for (uint32_t s = 257; s < 286; ++s) lits.push_back(s);
  lits.push_back(256);
  for (uint32_t s = 0; lits.size() < 8 + 128; ++s) lits.push_back(s);
  Code lit(chain_lengths(286, lits, 8, 15));
  Code dist(complete_distances());
  std::vector<Token> tokens = literals("HELLO, HELLO");
  tokens.push_back({20, 7});
  tokens.push_back({0, 'X'});
  BitWriter w;
  put_stored_block(w, {'s', 't'}, false);
  put_fixed_block(w, tokens, false);
  put_dynamic_header(w, lit, dist, true);
  put_tokens(w, lit, dist, tokens);
  *expected = expand(tokens, expand(tokens, {'s', 't'}));
  return w.finish();
}

TEST(Input, EveryShortenedStreamIsADataError) {
  Bytes expected;
  Bytes stream = mixed_stream(&expected);
  Decoded whole = decode_bytes(stream, static_cast<uint32_t>(expected.size()));
  ASSERT_TRUE(whole.ok);
  ASSERT_EQ(expected, whole.out);
  for (size_t n = 0; n < stream.size(); ++n) {
    RecordingSink sink;
    EXPECT_NE(kStreamOk, stream_result(Bytes(stream.begin(), stream.begin() + n), &sink)) << n;
    EXPECT_TRUE(sink.sizes.empty()) << n;
  }
  // A final fixed block whose last byte holds only the end-of-block code
  // (seven 0 bits): without that byte the zeros behind the input must not
  // pass for it.
  BitWriter w;
  put_fixed_block(w, literals("a"), true);
  Bytes fixed = w.finish();
  ASSERT_EQ(3u, fixed.size());
  RecordingSink sink;
  EXPECT_EQ(kStreamDataError, stream_result(Bytes(fixed.begin(), fixed.end() - 1), &sink));
}

// The file stands on the first byte after the stream, however many bytes
// the decoder had buffered and whatever its lookups saw ahead.
TEST(Input, FileEndsRightBehindTheStream) {
  Bytes trailer{0xC3, 0x3C, 0x99, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  Bytes expected;
  Bytes stream = mixed_stream(&expected);
  for (const Bytes& t : {Bytes{}, trailer}) {
    Decoded d = decode_bytes(stream, static_cast<uint32_t>(expected.size()), t);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(stream.size(), d.position);
  }

  // A 1-bit end-of-block code after a 10-bit root lookup.
  Bytes l(286, 0);
  l[256] = 1;
  l['z'] = 2;
  l[257] = 2;
  Code lit(l);
  Code dist(Bytes{1});
  BitWriter w;
  put_dynamic_header(w, lit, dist, true);
  std::vector<Token> tokens = literals("z");
  tokens.push_back({3, 1});
  put_tokens(w, lit, dist, tokens);
  Bytes short_end = w.finish();
  Decoded d = decode_bytes(short_end, 4, trailer);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(Bytes({'z', 'z', 'z', 'z'}), d.out);
  EXPECT_EQ(short_end.size(), d.position);

  // Streams that end exactly on the input buffer's last refill, and one
  // byte before or after it.
  for (uint32_t size : {0u + kUnboundedChunk, kUnboundedChunk - 1, kUnboundedChunk + 1, 2 * kUnboundedChunk}) {
    Bytes data(size - 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
    BitWriter sw;
    put_stored_block(sw, data, true);
    Bytes stored = sw.finish();
    ASSERT_EQ(size, stored.size());
    Decoded sd = decode_bytes(stored, size, trailer);
    EXPECT_TRUE(sd.ok);
    EXPECT_EQ(data, sd.out);
    EXPECT_EQ(size, sd.position);
  }
}

TEST(MemoryOutput, NeverWritesPastTheBuffer) {
  std::vector<Token> tokens = literals("abc");
  tokens.push_back({258, 3});
  BitWriter w;
  put_fixed_block(w, tokens, true);
  Bytes stream = w.finish();
  Decoded exact = decode_bytes(stream, 261);
  EXPECT_TRUE(exact.ok);
  EXPECT_EQ(261u, exact.out.size());
  Decoded short_buffer = decode_bytes(stream, 100);
  EXPECT_FALSE(short_buffer.ok);
  EXPECT_EQ(Bytes(exact.out.begin(), exact.out.begin() + 100), short_buffer.out);
  // A larger buffer is filled only as far as the stream goes.
  Decoded long_buffer = decode_bytes(stream, 300);
  EXPECT_TRUE(long_buffer.ok);
  EXPECT_EQ(exact.out, long_buffer.out);

  // Too small for the first whole window.
  Bytes big(40000, 'q');
  BitWriter bw;
  put_stored_block(bw, Bytes(big.begin(), big.begin() + 20000), false);
  put_stored_block(bw, Bytes(big.begin() + 20000, big.end()), true);
  Bytes big_stream = bw.finish();
  for (uint32_t capacity : {30000u, 32768u, 39999u}) {
    Decoded d = decode_bytes(big_stream, capacity);
    EXPECT_FALSE(d.ok) << capacity;
    EXPECT_EQ(capacity, d.out.size());
  }
  // No buffer at all.
  TempDir dir;
  write_bytes(dir.file("s"), stream);
  FileHandle in = open_file(dir.file("s").c_str(), 0);
  EXPECT_FALSE(decode_to_memory(nullptr, 0, in, 0));
  close_file(in);
}

TEST(FileOutput, DecodesIntoTheFile) {
  Bytes expected;
  Bytes stream = mixed_stream(&expected);
  TempDir dir;
  write_bytes(dir.file("in"), join(stream, {1, 2, 3}));
  FileHandle in = open_file(dir.file("in").c_str(), 0);
  FileHandle out = create_file(dir.file("out").c_str());
  EXPECT_TRUE(decode_to_file(out, in, 0));
  EXPECT_EQ(stream.size(), tell_file(in));
  close_file(out);
  EXPECT_EQ(expected, read_bytes(dir.file("out")));
  close_file(in);
  EXPECT_FALSE(decode_to_file(INVALID_FILE_HANDLE, INVALID_FILE_HANDLE, 0));
}

// Random damage never makes the decoder write past its buffer or read past
// the stream's own bytes.
TEST(Input, DamagedStreamsStayInBounds) {
  Bytes expected;
  Bytes stream = mixed_stream(&expected);
  std::mt19937 rng(3);
  for (int round = 0; round < 400; ++round) {
    Bytes damaged = stream;
    for (int k = 0; k < 1 + round % 4; ++k) damaged[draw(rng) % damaged.size()] ^= static_cast<uint8_t>(1u << (draw(rng) % 8));
    if (round % 5 == 0) damaged.resize(draw(rng) % damaged.size());
    Decoded d = decode_bytes(damaged, static_cast<uint32_t>(expected.size()), Bytes(64, 0));
    EXPECT_LE(d.position, damaged.size() + 64);
    if (d.ok) {
      EXPECT_LE(d.position, damaged.size()) << round;
    }
  }
  for (int round = 0; round < 300; ++round) {
    Bytes noise(1 + draw(rng) % 600);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(draw(rng));
    noise[0] = static_cast<uint8_t>((noise[0] & 0xF0) | (5 + round % 3));
    decode_bytes(noise, 1000);
  }
}

}  // namespace
