// The decoder of the archive's deflate-derived stream format.
#pragma once
#include <cstdint>

#include "archive/platform.h"

// The most bytes a stream of `stored` bytes can expand to: a match of 258
// bytes costs at least two bits.
inline uint64_t max_expansion(uint32_t stored) { return static_cast<uint64_t>(stored) * 1032 + 1032; }

// Decodes one stream from `input`, positioned at its first byte, into
// `buffer`, never writing more than `capacity` bytes (a stream that yields
// more is a data error). compressed_length 0: the file is read directly and
// the stream's own end stops decoding; otherwise the stream lies in the data
// area and is fetched through read_data up to that length. On return the
// input stands right behind the stream's last consumed byte. `produced`, when
// given, receives the number of bytes written.
bool decode_to_memory(uint8_t* buffer, uint32_t capacity, FileHandle input, uint32_t compressed_length,
                      uint32_t* produced = nullptr);

// The same into an open output file.
bool decode_to_file(FileHandle output, FileHandle input, uint32_t compressed_length);

class OutputSink;
// The same into any sink, for readers that bound or check what they keep.
bool decode_to_sink(OutputSink& sink, FileHandle input, uint32_t compressed_length);

// ---------------------------------------------------------------------------
// The parts of the decoder, for the public operations above and the tests.

enum : uint32_t { kInputChunk = 4096, kWindowSize = 32768 };

// Stream results.
enum : int { kStreamOk = 0, kStreamDataError = 1, kStreamBadBlock = 2, kStreamNoMemory = 3 };

// Input of one stream. It hands out bytes only as the decoder asks for them
// and gives back what it buffered but did not hand out, so the file ends up
// right behind the stream without the stream's length being known.
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

// One entry of a decoding table. op: 0..13 length or distance base with
// that many extra bits; 15 end of block; 16 literal or plain symbol;
// 17..32 link: the next (op - 16) bits index the sub-table that starts at
// entry `value` of the same table; 100 invalid code. bits: code bits of this
// entry counted from the start of its table's index.
struct CodeEntry {
  uint8_t op;
  uint8_t bits;
  uint16_t value;
};
enum : uint8_t { kOpEndOfBlock = 15, kOpLiteral = 16, kOpInvalid = 100 };

// Results of build_code_table.
enum : int { kCodeComplete = 0, kCodeIncomplete = 1, kCodeOversubscribed = 2, kCodeNoMemory = 3 };

// Turns code lengths (0..15, 0 = absent) of symbols 0..n-1 into a table:
// symbols below s are plain (256 is the end of block when s > 256), symbol
// v >= s decodes to bases[v - s] with extras[v - s] extra bits. *width comes
// in as the wanted root width and goes out as the actual one. All lengths 0
// give a null table of width 0. An incomplete code still yields a table
// whose spare codes decode as invalid; a single code of length 1 counts as
// complete.
int build_code_table(const uint8_t* lengths, uint32_t n, uint32_t s, const uint16_t* bases, const uint16_t* extras,
                     CodeEntry** table, uint32_t* width);
// Frees the table and clears the slot; a null table does nothing.
void free_code_table(CodeEntry** table);

// Where decoded bytes go: whole windows of 32768 bytes, then one shorter
// piece at the end of a successful stream.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual bool ready() = 0;
  // False stops the stream with a data error.
  virtual bool write(const uint8_t* data, uint32_t count) = 0;
};

// Writes into a caller's buffer and never past its end.
class MemorySink : public OutputSink {
 public:
  MemorySink(uint8_t* buffer, uint32_t capacity) : next_(buffer), left_(capacity), produced_(0) {}
  bool ready() override { return next_ != nullptr; }
  bool write(const uint8_t* data, uint32_t count) override;
  uint32_t produced() const { return produced_; }

 private:
  uint8_t* next_;
  uint32_t left_;
  uint32_t produced_;
};

// Writes to a caller's open file. Failed writes are not reported: the
// installed file's checksum reveals them.
class FileSink : public OutputSink {
 public:
  explicit FileSink(FileHandle file) : file_(file) {}
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override;

 private:
  FileHandle file_;
};

// The state of one stream. A local of its caller, used for one operation.
struct Decompressor {
  InputReader input;
  OutputSink* sink = nullptr;
  // Constant tables, filled at the start of every stream.
  uint8_t code_length_order[19];
  uint16_t length_bases[31];  // 286 and 287 stay 0: they are invalid
  uint16_t length_extra[31];
  uint16_t distance_extra[30];
  uint16_t distance_bases[30];
  CodeEntry* fixed_literal = nullptr;
  CodeEntry* fixed_distance = nullptr;
  uint32_t fixed_literal_width = 0;
  uint32_t fixed_distance_width = 0;
  uint32_t window_position = 0;
  // Bits fetched and not yet used; the next bit is bit 0.
  uint64_t bit_buffer = 0;
  uint32_t bit_count = 0;
  // Zero bits put behind the end of the input so a table lookup can always
  // be made; consuming any of them means the input ran out.
  uint32_t padding_bits = 0;
  uint8_t* window = nullptr;
  // Set at the first flush: until then the window's unwritten part stands
  // for zeros.
  bool window_filled = false;
};

// Decodes the whole stream from d.input into d.sink; returns a stream result.
// A failed data-area read ends it at once with 1 and d.input.failed set.
int decode_stream(Decompressor& d);
