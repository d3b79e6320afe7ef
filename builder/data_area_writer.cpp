#include "builder/data_area_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/format.h"

namespace {

// The reader moves through its files with 32-bit signed positions.
const uint64_t kMaxFileSize = 0x7FFFFFFF;

bool fail(DataAreaWriter& w, const std::string& what) {
  w.error = what;
  return false;
}

bool put_u32_at(FILE* file, long offset, uint32_t value) {
  uint8_t bytes[4];
  put_u32(bytes, value);
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

// Writes the current volume's data length. The setup file's DataArea block
// header carries volume 0's data length as its stored size, as the reader
// ignores it; an empty data area still counts its 4-byte length word, since
// a stored size of 0 would read as "no data area at all".
bool finish_volume(DataAreaWriter& w) {
  if (!put_u32_at(w.file, w.length_offset, w.volume_data))
    return fail(w, "cannot write the data length of volume " + std::to_string(w.volume_number));
  if (w.volume_number == 0) {
    uint32_t stored = w.volume_data ? w.volume_data : kVolumeHeaderSize;
    if (!put_u32_at(w.file, w.length_offset - 4, stored) || std::fseek(w.file, 0, SEEK_END) != 0)
      return fail(w, "cannot write the data area header of " + w.setup_path);
    return true;
  }
  bool closed = std::fclose(w.file) == 0;
  w.file = nullptr;
  if (!closed) return fail(w, "cannot write " + volume_path(w.setup_path, w.volume_number));
  return true;
}

bool start_next_volume(DataAreaWriter& w) {
  if (!finish_volume(w)) return false;
  ++w.volume_number;
  std::string path = volume_path(w.setup_path, w.volume_number);
  w.file = std::fopen(path.c_str(), "wb");
  if (!w.file) return fail(w, "cannot create " + path + ": " + std::strerror(errno));
  uint8_t zero[4] = {0, 0, 0, 0};
  if (std::fwrite(zero, 1, 4, w.file) != 4) return fail(w, "cannot write " + path);
  w.length_offset = 0;
  w.volume_data = 0;
  w.budget = w.volume_size - kVolumeHeaderSize;
  return true;
}

}  // namespace

std::string volume_path(const std::string& setup_path, uint32_t volume) {
  char extension[16];
  std::snprintf(extension, sizeof extension, ".D%2.2u", volume);
  size_t name = setup_path.find_last_of("/\\");
  size_t dot = setup_path.rfind('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) return setup_path + extension;
  return setup_path.substr(0, dot) + extension;
}

uint32_t volume_holding(uint64_t start, uint64_t volume_size, uint32_t position) {
  if (volume_size <= kVolumeHeaderSize) return 0;
  uint64_t used = start + kDataAreaHeaderSize;
  uint64_t first = volume_size > used ? volume_size - used : 0;
  if (position < first) return 0;
  return static_cast<uint32_t>(1 + (position - first) / (volume_size - kVolumeHeaderSize));
}

bool begin_data_area(DataAreaWriter& w, FILE* setup_file, const std::string& setup_path, uint64_t volume_size) {
  w = DataAreaWriter();
  w.setup_file = setup_file;
  w.file = setup_file;
  w.setup_path = setup_path;
  w.volume_size = volume_size;
  long start = std::ftell(setup_file);
  if (start < 0) return fail(w, "cannot tell the position in " + setup_path);
  uint64_t used = static_cast<uint64_t>(start) + kDataAreaHeaderSize;
  // Every later volume must hold data, or a read could meet an empty one.
  if (volume_size != 0 && volume_size <= kVolumeHeaderSize)
    return fail(w, "volume size " + std::to_string(volume_size) + " is too small");
  if (volume_size > kMaxFileSize) return fail(w, "volumes must be smaller than 2 GiB");
  uint64_t limit = volume_size ? volume_size : kMaxFileSize;
  if (used > limit)
    return fail(w, "the stub and configuration (" + std::to_string(used) +
                       " bytes with the data area header) do not fit a volume of " + std::to_string(limit) + " bytes");
  w.budget = limit - used;
  uint8_t header[kDataAreaHeaderSize] = {};
  put_u16(header, kBlockDataArea);
  if (std::fwrite(header, 1, sizeof header, setup_file) != sizeof header)
    return fail(w, "cannot write the data area header of " + setup_path);
  w.length_offset = start + kBlockHeaderSize;
  return true;
}

bool add_item_data(DataAreaWriter& w, const uint8_t* data, size_t size, DataPlacement* placement) {
  if (size > 0xFFFFFFFFu - w.position) return fail(w, "the data area would exceed 4 GiB");
  placement->position = w.position;
  placement->length = static_cast<uint32_t>(size);
  while (size > 0) {
    if (w.budget == 0) {
      if (w.volume_size == 0) return fail(w, "the data area does not fit one file below 2 GiB: give a volume size");
      if (!start_next_volume(w)) return false;
    }
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, w.budget));
    if (std::fwrite(data, 1, chunk, w.file) != chunk)
      return fail(w, "cannot write the data of volume " + std::to_string(w.volume_number));
    data += chunk;
    size -= chunk;
    w.budget -= chunk;
    w.volume_data += static_cast<uint32_t>(chunk);
    w.position += static_cast<uint32_t>(chunk);
  }
  return true;
}

bool end_data_area(DataAreaWriter& w, uint32_t* volumes) {
  // Earlier volumes were completed when the next one began.
  if (!finish_volume(w)) return false;
  if (volumes) *volumes = w.volume_number;
  if (std::fflush(w.setup_file) != 0) return fail(w, "cannot write " + w.setup_path);
  return true;
}
