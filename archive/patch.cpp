#include "archive/patch.h"

#include <cstring>

#include "archive/checksum.h"
#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/platform.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"

PatchProgress PatchProgressReport;

namespace {

// The two blocks of the patch being applied; freed at the end of every call.
uint8_t* PatchCommands;
uint8_t* PatchLiterals;

enum : uint32_t { kCopyBufferSize = 65536 };

struct BlockCursor {
  const uint8_t* next;
  uint32_t left;
};

bool next_command_byte(BlockCursor& c, uint32_t* value) {
  if (c.left < 1) return false;
  *value = *c.next++;
  --c.left;
  return true;
}

bool next_command_word(BlockCursor& c, uint32_t* value) {
  if (c.left < 2) return false;
  *value = get_u16(c.next);
  c.next += 2;
  c.left -= 2;
  return true;
}

// A copy offset in 1, 2, 3 or 7 bytes; each longer form begins where the
// shorter one ends. False when the operand runs past the commands.
bool next_offset(BlockCursor& c, int64_t* offset) {
  uint32_t b, n1, n2;
  if (!next_command_byte(c, &b)) return false;
  if ((b & 0xC0) == 0x80) {
    int64_t v = b & 0x3F;
    *offset = (v & 0x20) ? v - 0x40 : v;
    return true;
  }
  if (b < 0x80) {
    if (!next_command_byte(c, &n1)) return false;
    int64_t v = ((b & 0x7F) << 8) | n1;
    if (v & 0x4000) v -= 0x8000;
    *offset = v >= 0 ? v + 32 : v - 32;
    return true;
  }
  if (!next_command_byte(c, &n1) || !next_command_byte(c, &n2)) return false;
  int64_t v = ((b & 0x3F) << 16) | (n1 << 8) | n2;
  if (v == 0x100000) {
    if (c.left < 4) return false;
    v = static_cast<int32_t>((uint32_t(c.next[0]) << 24) | (uint32_t(c.next[1]) << 16) | (uint32_t(c.next[2]) << 8) |
                             uint32_t(c.next[3]));
    c.next += 4;
    c.left -= 4;
  } else if (v & 0x200000) {
    v -= 0x400000;
  }
  *offset = v >= 0 ? v + 16416 : v - 16416;
  return true;
}

// Reads exactly count bytes of the data area. A single read_data continues
// into one further volume only, so a block that spans more is read on.
bool read_patch_data(void* buffer, uint32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    uint32_t got = 0;
    if (read_data(data_file, p, count, &got) != 0 || got == 0) return false;
    p += got;
    count -= got;
  }
  return true;
}

// Reads `count` bytes of the item's data and counts them off what is left
// of it; false when the item's data does not hold them.
bool read_item_data(void* buffer, uint32_t count, uint32_t* left) {
  if (count > *left) return false;
  *left -= count;
  return read_patch_data(buffer, count);
}

bool read_size_field(bool wide, uint32_t* value, uint32_t* left) {
  uint8_t field[4];
  if (!read_item_data(field, wide ? 4 : 2, left)) return false;
  *value = wide ? get_u32(field) : get_u16(field);
  return true;
}

// A block's content is read into a buffer that grows with the bytes that
// arrive, starting from what the data at hand can back: a size that the
// data cannot hold is found out by reading, never asked of memory.
enum : uint32_t { kFirstPiece = 4096 };

// A raw block's `size` bytes: the rest of the current volume at a time, a
// first piece of the next one when it is used up.
uint32_t read_raw_content(uint8_t** slot, uint32_t size) {
  uint32_t used = 0, capacity = 0;
  while (used < size) {
    uint32_t piece = size - used, here = volume_data_at_hand();
    if (piece > here) piece = here ? here : piece < kFirstPiece ? piece : kFirstPiece;
    if (!grow_block(slot, used, &capacity, used + piece, piece)) return kErrorNoMemory;
    if (!read_patch_data(*slot + used, piece)) return kErrorDataUnreadable;
    used += piece;
  }
  return 0;
}

// Takes a compressed block's decoded content, at most its announced size.
class GrowingSink : public OutputSink {
 public:
  GrowingSink(uint8_t** slot, uint32_t size, uint32_t first) : slot_(slot), size_(size), first_(first) {}
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    if (count > size_ - used_) return false;
    if (count == 0) return true;
    if (!grow_block(slot_, used_, &capacity_, used_ + count, first_)) {
      out_of_memory_ = true;
      return false;
    }
    std::memcpy(*slot_ + used_, data, count);
    used_ += count;
    return true;
  }
  uint32_t used() const { return used_; }
  bool out_of_memory() const { return out_of_memory_; }

 private:
  uint8_t** slot_;
  uint32_t size_, first_;
  uint32_t used_ = 0, capacity_ = 0;
  bool out_of_memory_ = false;
};

// read_patch_block without the error report.
uint32_t read_patch_content(uint8_t** slot, uint32_t* size, uint32_t* left) {
  uint8_t header;
  uint32_t length, packed = 0;
  if (!read_item_data(&header, 1, left) || !read_size_field(header & kPatchLongSize, &length, left))
    return kErrorDataUnreadable;
  if (length == 0) return 0;
  bool compressed = (header & kPatchCompressed) != 0;
  // A compressed size of 0 would make the decoder read the file directly,
  // past the data area's volume accounting.
  if (compressed && (!read_size_field(header & kPatchLongCompressedSize, &packed, left) || packed == 0))
    return kErrorDataUnreadable;
  // The block lies in what is left of the item's data, and a stream
  // expands only so far.
  uint32_t stored = compressed ? packed : length;
  if (stored > *left || (compressed && length > max_expansion(packed))) return kErrorDataUnreadable;
  if (compressed) {
    uint32_t here = volume_data_at_hand();
    uint64_t backed = max_expansion(packed < here ? packed : here);
    GrowingSink sink(slot, length, backed < length ? static_cast<uint32_t>(backed) : length);
    // A stream that fails or comes out short leaves unread bytes in the
    // block: refuse it here.
    if (!decode_to_sink(sink, data_file, packed) || sink.used() != length)
      return sink.out_of_memory() ? kErrorNoMemory : kErrorDataUnreadable;
  } else if (uint32_t e = read_raw_content(slot, length)) {
    return e;
  }
  *left -= stored;
  *size = length;
  return 0;
}

// One call's files and buffers, released together however the call ends.
struct PatchRun {
  const uint8_t* entry;
  const char* old_path;
  char new_path[kPathSize];
  FileHandle old_file = INVALID_FILE_HANDLE;
  FileHandle new_file = INVALID_FILE_HANDLE;
  bool created = false;
  uint8_t* copy_buffer = nullptr;
  uint32_t written = 0;  // position of the new file
};

uint32_t fail_with(uint32_t code, const char* argument) {
  if (argument) copy_string(MessageArgument, argument, kPathSize);
  return code;
}

uint32_t write_new(PatchRun& run, const uint8_t* data, uint32_t count) {
  int result = write_all(run.new_file, data, count);
  if (result == 3) return kErrorDiskFull;
  if (result != 0) return fail_with(kErrorWrite, run.new_path);
  run.written += count;
  return 0;
}

uint32_t run_commands(PatchRun& run, uint32_t commands_size, uint32_t literals_size, uint32_t progress_from,
                      uint32_t progress_to) {
  uint32_t new_size = get_u32(run.entry + kEntrySize);
  uint32_t scale = (new_size + 10000) / 10000;
  uint32_t last_progress = progress_from;
  uint32_t old_length = file_length(run.old_file);
  int64_t copy_end = 0;
  BlockCursor commands = {PatchCommands, commands_size};
  BlockCursor literals = {PatchLiterals, literals_size};
  while (commands.left > 0) {
    uint32_t k, inserts = 0, copies = 0;
    next_command_byte(commands, &k);
    if (k == 0x00) {
      if (!next_command_word(commands, &copies)) return fail_with(kErrorWrite, run.new_path);
      copies += 129;
    } else if (k < 0x80) {
      copies = k + 1;
    } else if ((k & 0x60) == 0) {
      inserts = (k & 0x1F) + 1;
    } else {
      inserts = (k >> 5) & 3;
      copies = (k & 0x1F) + 2;
    }
    if (literals.left < inserts) return fail_with(kErrorWrite, run.new_path);
    // A file longer than the entry says can never match its checksum; stop
    // before a damaged patch fills the disk.
    if (inserts + copies > new_size - run.written) return fail_with(kErrorChecksum, DestPath);
    if (inserts) {
      if (uint32_t e = write_new(run, literals.next, inserts)) return e;
      literals.next += inserts;
      literals.left -= inserts;
    }
    if (copies) {
      int64_t offset;
      if (!next_offset(commands, &offset)) return fail_with(kErrorWrite, run.new_path);
      int64_t from = copy_end + offset;
      if (from < 0 || from + copies > old_length || seek_to(run.old_file, static_cast<uint32_t>(from)) != from)
        return fail_with(kErrorDataUnreadable, DestPath);
      // A copy may be longer than the buffer: move it in pieces.
      for (uint32_t left = copies; left > 0;) {
        uint32_t piece = left < kCopyBufferSize ? left : kCopyBufferSize;
        if (read_exact(run.old_file, run.copy_buffer, piece) != 0) return fail_with(kErrorDataUnreadable, DestPath);
        if (uint32_t e = write_new(run, run.copy_buffer, piece)) return e;
        left -= piece;
      }
      copy_end = from + copies;
    }
    if (progress_to != progress_from) {
      uint32_t p = progress_from + (run.written + 10000) / 10000 * (progress_to - progress_from) / scale;
      if (p != last_progress) {
        last_progress = p;
        if (PatchProgressReport) PatchProgressReport(p);
      }
    }
  }
  return 0;
}

uint32_t build_new_file(PatchRun& run, uint32_t progress_from, uint32_t progress_to) {
  if (uint32_t e = seek_data(get_u32(run.entry + kEntryDataPosition))) return e;
  run.old_file = open_file(run.old_path, 0);
  if (run.old_file == INVALID_FILE_HANDLE) return fail_with(kErrorOpen, run.old_path);
  run.new_file = create_temp_file(run.old_path, "$", run.new_path, sizeof run.new_path);
  if (run.new_file == INVALID_FILE_HANDLE) return fail_with(kErrorCreate, run.new_path[0] ? run.new_path : run.old_path);
  run.created = true;

  uint32_t commands_size, literals_size;
  uint32_t data_left = get_u32(run.entry + kEntryDataLength);
  if (uint32_t e = read_patch_block(&PatchCommands, &commands_size, &data_left)) return e;
  if (uint32_t e = read_patch_block(&PatchLiterals, &literals_size, &data_left)) return e;
  if (!alloc_block(kCopyBufferSize, &run.copy_buffer)) return kErrorNoMemory;
  if (uint32_t e = run_commands(run, commands_size, literals_size, progress_from, progress_to)) return e;

  close_file(run.old_file);
  run.old_file = INVALID_FILE_HANDLE;
  uint8_t flags = run.entry[kEntryFlags];
  if (flags & kItemHasTimes) {
    uint32_t times = kEntryFixedSize;
    if (flags & (kItemCompareVersion | kItemCompareLanguage)) times += kEntryVersionSize;
    set_file_times(run.new_file, run.entry + times);
  }
  close_file(run.new_file);
  run.new_file = INVALID_FILE_HANDLE;

  FileHandle check = open_file(run.new_path, 0);
  if (check == INVALID_FILE_HANDLE) return fail_with(kErrorOpen, run.new_path);
  uint32_t sum = checksum_file(check);
  close_file(check);
  if (sum != get_u32(run.entry + kEntryChecksum)) return fail_with(kErrorChecksum, DestPath);

  // Either version stands under the old name at every moment.
  if (!replace_file(run.new_path, run.old_path)) return fail_with(kErrorNotReplaced, run.old_path);
  run.created = false;
  return 0;
}

}  // namespace

uint32_t read_patch_block(uint8_t** slot, uint32_t* size, uint32_t* data_left) {
  *size = 0;
  uint32_t error = read_patch_content(slot, size, data_left);
  if (error) free_block(slot);
  if (error == kErrorDataUnreadable) copy_string(MessageArgument, ArchivePath, kPathSize);
  return error;
}

uint32_t apply_patch(const uint8_t* entry, const char* old_path, uint32_t progress_from, uint32_t progress_to) {
  PatchRun run;
  run.entry = entry;
  run.old_path = old_path;
  run.new_path[0] = '\0';
  uint32_t error = build_new_file(run, progress_from, progress_to);
  if (run.old_file != INVALID_FILE_HANDLE) close_file(run.old_file);
  if (run.new_file != INVALID_FILE_HANDLE) close_file(run.new_file);
  if (run.created) delete_file(run.new_path);
  free_block(&run.copy_buffer);
  free_block(&PatchCommands);
  free_block(&PatchLiterals);
  return error;
}
