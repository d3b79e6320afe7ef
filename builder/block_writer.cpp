#include "builder/block_writer.h"

#include <cstdio>

#include "archive/format.h"

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

std::string block_name(uint16_t id) {
  char name[16];
  std::snprintf(name, sizeof name, "0x%04x", id);
  return std::string("block ") + name;
}

}  // namespace

void append_u16(std::vector<uint8_t>* out, uint16_t value) {
  uint8_t bytes[2];
  put_u16(bytes, value);
  out->insert(out->end(), bytes, bytes + 2);
}

void append_u32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  put_u32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

StreamCompressor stream_compressor(int level) {
  return [level](const uint8_t* data, size_t size, std::vector<uint8_t>* stream) {
    return encode_stream(data, size, level, stream) == kEncodeOk;
  };
}

void append_block_header(std::vector<uint8_t>* out, uint16_t id, uint16_t flags, uint32_t stored_size) {
  append_u16(out, id);
  append_u16(out, flags);
  append_u32(out, stored_size);
}

bool append_stored_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                         std::string* error) {
  if (content.size() > 0xFFFFFFFFu) return fail(error, block_name(id) + " is larger than 4 GiB");
  append_block_header(out, id, 0, static_cast<uint32_t>(content.size()));
  out->insert(out->end(), content.begin(), content.end());
  return true;
}

bool append_compressed_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                             const StreamCompressor& compress, std::string* error) {
  std::vector<uint8_t> stream;
  if (!compress || !compress(content.data(), content.size(), &stream))
    return fail(error, "cannot compress " + block_name(id));
  if (content.size() > 0xFFFFFFFFu || stream.size() > 0xFFFFFFFFu - 4)
    return fail(error, block_name(id) + " is larger than 4 GiB");
  append_block_header(out, id, kBlockCompressed, static_cast<uint32_t>(4 + stream.size()));
  append_u32(out, static_cast<uint32_t>(content.size()));
  out->insert(out->end(), stream.begin(), stream.end());
  return true;
}

bool append_config_block(std::vector<uint8_t>* out, uint16_t id, const std::vector<uint8_t>& content,
                         const StreamCompressor& compress, std::string* error) {
  if (compress && id != kBlockSetupFlags && id != kBlockStartPage && !content.empty()) {
    std::vector<uint8_t> packed;
    if (!append_compressed_block(&packed, id, content, compress, error)) return false;
    if (packed.size() < kBlockHeaderSize + content.size()) {
      out->insert(out->end(), packed.begin(), packed.end());
      return true;
    }
  }
  return append_stored_block(out, id, content, error);
}
