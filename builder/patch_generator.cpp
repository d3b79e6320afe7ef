#include "builder/patch_generator.h"

#include <algorithm>

#include "archive/format.h"
#include "builder/stream_encoder.h"

namespace {

// Each longer offset form begins where the shorter one ends.
enum : int64_t { kOffset1Max = 31, kOffset2Base = 32, kOffset3Base = 16416, kOffset3Escape = 0x100000 };

int offset_cost(int64_t offset) {
  if (offset >= -32 && offset <= kOffset1Max) return 1;
  int64_t v = offset >= 0 ? offset - kOffset2Base : offset + kOffset2Base;
  if (v >= -0x4000 && v < 0x4000) return 2;
  v = offset >= 0 ? offset - kOffset3Base : offset + kOffset3Base;
  if (v >= -0x200000 && v < 0x200000 && v != kOffset3Escape) return 3;
  return 7;
}

// Writes commands and literals as the parse decides on copies and inserts.
struct CommandWriter {
  PatchBlocks blocks;
  const uint8_t* new_data;
  size_t literal_start = 0;  // first new byte not yet written
  size_t literal_count = 0;  // new bytes waiting to be inserted
  int64_t copy_end = 0;      // end of the previous copy in the old file

  void flush_literals(size_t keep) {
    while (literal_count > keep) {
      size_t n = std::min<size_t>(literal_count - keep, kPatchInsertMax);
      blocks.commands.push_back(static_cast<uint8_t>(0x80 | (n - 1)));
      take_literals(n);
    }
  }

  void take_literals(size_t n) {
    blocks.literals.insert(blocks.literals.end(), new_data + literal_start, new_data + literal_start + n);
    literal_start += n;
    literal_count -= n;
  }

  void copy(int64_t old_pos, size_t length) {
    int64_t offset = old_pos - copy_end;
    copy_end = old_pos + static_cast<int64_t>(length);
    // Up to three waiting bytes ride along with a short copy in one command;
    // the rest go first in inserts of up to 32.
    size_t rest = literal_count % kPatchInsertMax;
    bool mixed = length <= kPatchMixedCopyMax && rest >= 1 && rest <= kPatchMixedInsertMax;
    flush_literals(mixed ? rest : 0);
    if (mixed) {
      blocks.commands.push_back(static_cast<uint8_t>(0x80 | (literal_count << 5) | (length - 2)));
      take_literals(literal_count);
      put_patch_offset(offset, &blocks.commands);
      literal_start += length;
      return;
    }
    while (length > 0) {
      size_t piece = std::min<size_t>(length, kPatchLongCopyMax);
      if (length - piece == 1) --piece;  // no copy is shorter than two bytes
      if (piece <= kPatchShortCopyMax) {
        blocks.commands.push_back(static_cast<uint8_t>(piece - 1));
      } else {
        uint8_t w[2];
        put_u16(w, static_cast<uint16_t>(piece - (kPatchShortCopyMax + 1)));
        blocks.commands.push_back(0x00);
        blocks.commands.insert(blocks.commands.end(), w, w + 2);
      }
      put_patch_offset(offset, &blocks.commands);
      offset = 0;  // later pieces continue where the previous one ended
      length -= piece;
      literal_start += piece;
    }
  }
};

// Hash chains over every 4-byte group of the old file.
struct Matcher {
  enum : uint32_t { kHashBits = 20, kMinHashed = 4, kDepth = 48, kGoodEnough = 4096 };
  const uint8_t* old_data;
  size_t old_size;
  std::vector<int32_t> head;
  std::vector<int32_t> prev;

  static uint32_t hash(const uint8_t* p) { return (get_u32(p) * 2654435761u) >> (32 - kHashBits); }

  Matcher(const uint8_t* data, size_t size) : old_data(data), old_size(size) {
    if (size < kMinHashed) return;
    head.assign(size_t(1) << kHashBits, -1);
    prev.assign(size - kMinHashed + 1, -1);
    for (size_t i = 0; i + kMinHashed <= size; ++i) {
      uint32_t h = hash(data + i);
      prev[i] = head[h];
      head[h] = static_cast<int32_t>(i);
    }
  }
};

struct Match {
  int64_t old_pos = 0;
  size_t length = 0;
  int gain = 0;  // bytes saved against inserting the same bytes
};

size_t match_length(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The best copy for new_data[at..]: the old bytes right behind the previous
// copy (cheap to address) first, then the hash chain.
Match find_match(const Matcher& m, const uint8_t* new_data, size_t new_size, size_t at, const CommandWriter& w) {
  Match best;
  size_t limit = new_size - at;
  auto consider = [&](int64_t pos) {
    if (pos < 0 || static_cast<size_t>(pos) >= m.old_size) return;
    size_t len = match_length(m.old_data + pos, new_data + at, std::min(limit, m.old_size - pos));
    if (len < kPatchMinCopy) return;
    int gain = static_cast<int>(std::min<size_t>(len, 1 << 20)) - 1 - offset_cost(pos - w.copy_end);
    if (gain > best.gain || (gain == best.gain && len > best.length)) {
      best.old_pos = pos;
      best.length = len;
      best.gain = gain;
    }
  };
  consider(w.copy_end);
  consider(w.copy_end + static_cast<int64_t>(w.literal_count));
  if (m.head.empty() || limit < Matcher::kMinHashed) return best;
  int32_t pos = m.head[Matcher::hash(new_data + at)];
  for (uint32_t depth = 0; pos >= 0 && depth < Matcher::kDepth; ++depth, pos = m.prev[pos]) {
    if (best.length >= Matcher::kGoodEnough) break;
    consider(pos);
  }
  return best;
}

}  // namespace

void put_patch_offset(int64_t offset, std::vector<uint8_t>* out) {
  switch (offset_cost(offset)) {
    case 1:
      out->push_back(static_cast<uint8_t>(0x80 | (offset & 0x3F)));
      return;
    case 2: {
      int64_t v = offset >= 0 ? offset - kOffset2Base : offset + kOffset2Base;
      out->push_back(static_cast<uint8_t>((v >> 8) & 0x7F));
      out->push_back(static_cast<uint8_t>(v));
      return;
    }
    case 3: {
      int64_t v = offset >= 0 ? offset - kOffset3Base : offset + kOffset3Base;
      out->push_back(static_cast<uint8_t>(0xC0 | ((v >> 16) & 0x3F)));
      out->push_back(static_cast<uint8_t>(v >> 8));
      out->push_back(static_cast<uint8_t>(v));
      return;
    }
    default: {
      int64_t v = offset >= 0 ? offset - kOffset3Base : offset + kOffset3Base;
      uint8_t bytes[7] = {0xD0, 0x00, 0x00, static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
      out->insert(out->end(), bytes, bytes + 7);
    }
  }
}

PatchBlocks make_patch(const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size) {
  Matcher matcher(old_data, old_size);
  CommandWriter w;
  w.new_data = new_data;
  // A copy must save at least this much over inserting its bytes, since
  // inserted bytes still shrink when the literals block is compressed.
  enum : int { kMinGain = 3 };
  size_t at = 0;
  while (at < new_size) {
    Match here = find_match(matcher, new_data, new_size, at, w);
    if (here.gain >= kMinGain && at + 1 < new_size && here.length < Matcher::kGoodEnough) {
      // One step of lazy matching: a clearly better copy one byte later wins.
      ++w.literal_count;
      Match next = find_match(matcher, new_data, new_size, at + 1, w);
      --w.literal_count;
      if (next.gain > here.gain + 1) here.gain = 0;
    }
    if (here.gain >= kMinGain) {
      w.copy(here.old_pos, here.length);
      at += here.length;
    } else {
      ++w.literal_count;
      ++at;
    }
  }
  w.flush_literals(0);
  return w.blocks;
}

bool encode_patch_block(const std::vector<uint8_t>& content, int level, std::vector<uint8_t>* out) {
  if (content.size() > 0xFFFFFFFFu) return false;
  uint32_t size = static_cast<uint32_t>(content.size());
  std::vector<uint8_t> packed;
  bool compress = false;
  if (size > 0 && level > 0) {
    if (encode_stream(content.data(), content.size(), level, &packed) != kEncodeOk) return false;
    // The compressed form also carries its own size field.
    compress = packed.size() + (packed.size() > 0xFFFF ? 4 : 2) < content.size();
  }
  uint8_t header = (compress ? kPatchCompressed : 0) | (size > 0xFFFF ? kPatchLongSize : 0) |
                   (compress && packed.size() > 0xFFFF ? kPatchLongCompressedSize : 0);
  uint8_t field[4];
  out->push_back(header);
  auto put_size = [&](uint32_t value, bool wide) {
    if (wide) {
      put_u32(field, value);
      out->insert(out->end(), field, field + 4);
    } else {
      put_u16(field, static_cast<uint16_t>(value));
      out->insert(out->end(), field, field + 2);
    }
  };
  put_size(size, header & kPatchLongSize);
  if (size == 0) return true;
  if (compress) {
    put_size(static_cast<uint32_t>(packed.size()), header & kPatchLongCompressedSize);
    out->insert(out->end(), packed.begin(), packed.end());
  } else {
    out->insert(out->end(), content.begin(), content.end());
  }
  return true;
}

bool encode_patch(const PatchBlocks& blocks, int level, std::vector<uint8_t>* out) {
  return encode_patch_block(blocks.commands, level, out) && encode_patch_block(blocks.literals, level, out);
}
