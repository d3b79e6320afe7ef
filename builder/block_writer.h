// Blocks of the archive's chain: an 8-byte header (id, flags, stored size)
// and the payload, either the content as it stands or, compressed, the
// content's length followed by one stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "builder/stream_encoder.h"

// Little-endian words appended to a byte vector.
void append_u16(std::vector<uint8_t>* out, uint16_t value);
void append_u32(std::vector<uint8_t>* out, uint32_t value);

// Compresses data[0..size) into one stream of the archive's format,
// appended to *stream; false when it cannot.
using StreamCompressor = std::function<bool(const uint8_t* data, size_t size, std::vector<uint8_t>* stream)>;

// The stream encoder at the given level.
StreamCompressor stream_compressor(int level = kStreamLevelDefault);

void append_block_header(std::vector<uint8_t>* out, uint16_t id, uint16_t flags, uint32_t stored_size);

// A block holding `content` uncompressed.
bool append_stored_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                         std::string* error);

// A block holding `content` compressed: flags bit 0, the u32 content length,
// then the stream.
bool append_compressed_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                             const StreamCompressor& compress, std::string* error);

// A configuration block: compressed when a compressor is given and the
// compressed payload is smaller, stored otherwise. The flags block and the
// start-page block are always stored, as the loader reads them raw.
bool append_config_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                         const StreamCompressor& compress, std::string* error);
