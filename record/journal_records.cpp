#include "record/journal_records.h"

#include <string.h>

#include "archive/checksum.h"
#include "base/byte_order.h"
#include "base/path_strings.h"

namespace {

enum : uint8_t {
  kReplacedFileKind = 1,
  kRegistryValueKind = 3,
  kCreatedKeyKind = 4,
  kIniKeyKind = 9,
};

// The text of `length` bytes at p ends at its terminator and holds no
// other.
bool sound_text(const uint8_t* p, uint32_t length) { return p[length] == 0 && memchr(p, 0, length) == nullptr; }

// The record at p, `room` bytes before the end of what was read (its
// checksum not counted): sound when its lengths fit, its texts end where
// they say, its kind is known and its data is what the kind needs.
bool sound_record(const uint8_t* p, uint32_t room) {
  if (room < kRecordHeaderSize + 2) return false;
  uint32_t size = get_u32(p);
  if (size < kRecordHeaderSize + 2 || size > room || size > kRecordLimit) return false;
  uint8_t kind = p[4];
  uint32_t path_length = get_u16(p + 6);
  uint32_t other_length = get_u16(p + 8);
  uint32_t number = get_u32(p + 12);
  if (get_u16(p + kFlagsOffset) > kChangeTakenBack) return false;
  if (kRecordHeaderSize + path_length + 1 + other_length + 1 > size) return false;
  const uint8_t* path = p + kRecordHeaderSize;
  const uint8_t* other = path + path_length + 1;
  if (!sound_text(path, path_length) || !sound_text(other, other_length)) return false;
  const uint8_t* data = other + other_length + 1;
  uint32_t data_length = static_cast<uint32_t>(p + size - data);
  bool existed = p[5] != 0;
  if (kind == kMarkComplete) return path_length == 0 && other_length == 0 && data_length == 0;
  if (kind > kLastChangeKind || path_length == 0) return false;
  if ((kind == kRegistryValueKind || kind == kCreatedKeyKind) && (number < kFirstRoot || number > kLastRoot))
    return false;
  if (kind == kReplacedFileKind && other_length == 0) return false;
  if (kind == kRegistryValueKind && existed && data_length < 4) return false;
  if (kind == kIniKeyKind) {
    // The key, and its earlier value when there was one, each ended.
    const uint8_t* end = static_cast<const uint8_t*>(memchr(data, 0, data_length));
    if (!end) return false;
    uint32_t rest = static_cast<uint32_t>(data + data_length - (end + 1));
    if (existed ? rest == 0 || data[data_length - 1] != 0 : rest != 0) return false;
  }
  return true;
}

// A file system may leave zeros where a write that the power cut short
// was to go.
bool all_zero(const uint8_t* p, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (p[i]) return false;
  return true;
}

}  // namespace

void write_record(uint8_t* out, uint32_t size, uint8_t kind, bool existed, uint32_t number, const char* path,
                  uint32_t path_length, const char* other, uint32_t other_length, const void* data,
                  uint32_t data_length) {
  put_u32(out, size);
  out[4] = kind;
  out[5] = existed ? 1 : 0;
  put_u16(out + 6, static_cast<uint16_t>(path_length));
  put_u16(out + 8, static_cast<uint16_t>(other_length));
  put_u16(out + kFlagsOffset, 0);
  put_u32(out + 12, number);
  out += kRecordHeaderSize;
  memcpy(out, path, path_length + 1);
  out += path_length + 1;
  memcpy(out, other, other_length + 1);
  if (data_length) memcpy(out + other_length + 1, data, data_length);
}

uint32_t record_checksum(const uint8_t* record, uint32_t size, uint32_t seed) {
  // The flags change in place after the record is written.
  seed = checksum_block(record, kFlagsOffset, seed);
  static const uint8_t kNoFlags[2] = {0, 0};
  seed = checksum_block(kNoFlags, 2, seed);
  return checksum_block(record + kFlagsOffset + 2, size - kFlagsOffset - 2, seed);
}

uint32_t journal_head_size(const char* name) { return 12 + static_cast<uint32_t>(strlen(name)); }

uint32_t write_journal_head(const char* name, uint8_t* out) {
  uint32_t length = static_cast<uint32_t>(strlen(name));
  put_u32(out, kJournalMagic);
  put_u16(out + 4, kJournalFormat);
  put_u16(out + 6, static_cast<uint16_t>(length));
  memcpy(out + 8, name, length);
  put_u32(out + 8 + length, checksum_block(out, 8 + length, 0));
  return 12 + length;
}

JournalReading read_journal(const uint8_t* bytes, size_t size, const char* name, uint8_t* out,
                            JournalContents* contents) {
  *contents = JournalContents();
  // A head cut short is the start of the one this product's run writes:
  // the run ended before its first change.
  uint8_t head[12 + kJournalNameLimit];
  if (strlen(name) > kJournalNameLimit) return JournalReading::kNotAJournal;
  uint32_t head_size = write_journal_head(name, head);
  if (size < head_size)
    return size == 0 || memcmp(bytes, head, size) == 0 ? JournalReading::kCutShort : JournalReading::kNotAJournal;
  if (size > 0x7FFFFFFFu || get_u32(bytes) != kJournalMagic || get_u16(bytes + 4) != kJournalFormat)
    return JournalReading::kNotAJournal;
  uint32_t total = static_cast<uint32_t>(size);
  uint32_t name_length = get_u16(bytes + 6);
  if (name_length > kJournalNameLimit || 12 + name_length > total) return JournalReading::kNotAJournal;
  uint32_t seed = get_u32(bytes + 8 + name_length);
  if (checksum_block(bytes, 8 + name_length, 0) != seed) return JournalReading::kNotAJournal;
  if (name_length != strlen(name) || !same_folded(reinterpret_cast<const char*>(bytes + 8), name, name_length))
    return JournalReading::kOtherProduct;
  uint32_t at = 12 + name_length;
  while (at < total) {
    uint32_t room = total - at;
    bool sound = room >= 4 && sound_record(bytes + at, room - 4);
    uint32_t record = sound ? get_u32(bytes + at) : 0;
    if (sound) sound = record_checksum(bytes + at, record, seed) == get_u32(bytes + at + record);
    if (!sound) {
      contents->bad_offset = at;
      // A record that runs to the end of the file was being written when
      // the run ended: its change was never made.
      uint32_t claimed = room >= 4 ? get_u32(bytes + at) : 0;
      bool last = room < kRecordHeaderSize + 6 || all_zero(bytes + at, room) ||
                  (claimed >= room - 4 && claimed <= kRecordLimit);
      return last ? JournalReading::kCutShort : JournalReading::kDamaged;
    }
    const uint8_t* p = bytes + at;
    seed = get_u32(p + record);
    at += record + 4;
    if (p[4] == kMarkComplete) {
      contents->complete = true;
      continue;
    }
    // Nothing follows the mark of a complete installation.
    if (contents->complete) {
      contents->bad_offset = at - record - 4;
      return JournalReading::kDamaged;
    }
    memcpy(out + contents->records_end, p, record);
    contents->records_end += record;
    ++contents->count;
  }
  return JournalReading::kWhole;
}

bool decode_change(const uint8_t* bytes, uint32_t used, uint32_t* position, Change* change) {
  if (*position + kRecordHeaderSize > used) return false;
  const uint8_t* p = bytes + *position;
  uint32_t size = get_u32(p);
  uint16_t path_length = get_u16(p + 6);
  uint16_t other_length = get_u16(p + 8);
  change->kind = static_cast<ChangeKind>(p[4]);
  change->existed = p[5] != 0;
  change->taken_back = (get_u16(p + kFlagsOffset) & kChangeTakenBack) != 0;
  change->number = get_u32(p + 12);
  change->path = reinterpret_cast<const char*>(p + kRecordHeaderSize);
  change->other = change->path + path_length + 1;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(change->other + other_length + 1);
  change->data = data;
  change->data_length = static_cast<uint32_t>(p + size - data);
  change->type = 0;
  if (change->kind == ChangeKind::kRegistryValue && change->existed) {
    change->type = get_u32(data);
    change->data += 4;
    change->data_length -= 4;
  }
  *position += size;
  return true;
}
