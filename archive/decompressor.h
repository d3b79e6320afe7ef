// The decoder of the archive's deflate-derived stream format.
#pragma once
#include <cstdint>

#include "archive/platform.h"

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
