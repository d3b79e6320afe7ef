// The encoder of the solid LZMA mode: liblzma's raw LZMA1, fed the items of
// a setup type one after the other.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/lzma_decoder.h"

// lc 3, lp 0, pb 2: lc 3 suits the text and code most setups carry, and
// lp and pb as LZMA's defaults, which x86 code, mostly unaligned, prefers.
enum : uint8_t { kLzmaProperties = 3 + 9 * (0 + 5 * 2) };
// The dictionary unless the project says otherwise: 8 MiB, as NSIS's
// solid mode, which the setup program holds with room to spare on a
// 32 MB machine; a smaller stream gets a dictionary only as large as it.
enum : uint32_t { kLzmaDefaultDictionary = 8u << 20 };

// The dictionary a stream of `total` bytes is given, at most `wanted`:
// whole 4 KiB units, at least one.
uint32_t lzma_dictionary_for(uint64_t total, uint32_t wanted);

class LzmaEncoder {
 public:
  LzmaEncoder();
  ~LzmaEncoder();
  LzmaEncoder(const LzmaEncoder&) = delete;
  LzmaEncoder& operator=(const LzmaEncoder&) = delete;
  // False when liblzma refuses the settings or has no memory.
  bool begin(uint32_t dict_size);
  // Appends the bytes of the next item to the stream.
  bool add(const uint8_t* data, size_t size);
  // Ends the stream (with its end marker, which the setup program never
  // reaches) and hands it over.
  bool finish(std::vector<uint8_t>* stream);

 private:
  bool run(const uint8_t* data, size_t size, bool finishing);
  struct State;
  State* state_;
};

// One stream of `size` bytes, for the tests and `kestrel stream`.
bool lzma_encode(const uint8_t* data, size_t size, uint32_t dict_size, std::vector<uint8_t>* stream);
