// The corpus as streams, shared by the host benchmark (which writes it) and
// the Windows decoder benchmark (which reads it): idx.bin holds three
// little-endian u32 per file (original size, our stream's size, raw deflate
// size), ours.bin our streams one after the other, deflate.bin the raw
// deflate streams, raw.bin the originals. Also the data-area reader set up
// on a file of streams, as the setup program reads installed files, and
// our decoder fed from memory, as the other decoders are.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"

struct StreamSizes {
  uint32_t original, ours, deflate;
};

// A whole file, through the platform's file routines (32-bit sizes).
inline bool read_file_bytes(const std::string& path, std::vector<uint8_t>* bytes) {
  FileHandle file = open_file(path.c_str(), 0);
  if (file == INVALID_FILE_HANDLE) return false;
  bytes->resize(file_length(file));
  bool ok = bytes->empty() || read_exact(file, bytes->data(), static_cast<uint32_t>(bytes->size())) == 0;
  close_file(file);
  return ok;
}

inline bool read_stream_sizes(const std::string& dir, std::vector<StreamSizes>* sizes) {
  std::vector<uint8_t> bytes;
  if (!read_file_bytes(dir + "/idx.bin", &bytes) || bytes.size() % 12) return false;
  sizes->clear();
  for (size_t i = 0; i < bytes.size(); i += 12)
    sizes->push_back({get_u32(&bytes[i]), get_u32(&bytes[i + 4]), get_u32(&bytes[i + 8])});
  return true;
}

// A data area holding `streams` bytes of streams starts at offset 0 of
// `path` behind a block header and its length word, as in a setup file:
// data_file is opened and stands on the first stream.
inline std::vector<uint8_t> data_area_prefix(uint32_t streams) {
  std::vector<uint8_t> prefix(kBlockHeaderSize + 4, 0);
  put_u16(&prefix[0], kBlockDataArea);
  put_u32(&prefix[4], streams + 4);
  put_u32(&prefix[kBlockHeaderSize], streams);
  return prefix;
}

inline bool open_bench_data_area(const char* path) {
  copy_string(SourcePath, path, kPathSize);
  copy_string(ArchivePath, path, kPathSize);
  data_file = open_file(ArchivePath, 0);
  if (data_file == INVALID_FILE_HANDLE) return false;
  data_start = kBlockHeaderSize;
  uint8_t length[4];
  if (seek_to(data_file, data_start) != data_start || read_exact(data_file, length, 4) != 0) return false;
  volume_length = volume_left = get_u32(length);
  volumes_before = 0;
  volume_number = 0;
  return true;
}

// Our decoder alone, timed as zlib and libdeflate are: the stream is handed
// over in memory and no file is read. An input reader without a buffer has
// nothing to refill from, so the input ends where the stream's bytes end.
inline bool decode_from_memory(const uint8_t* stream, uint32_t size, uint8_t* out, uint32_t capacity,
                               uint32_t* produced) {
  Decompressor d;
  start_direct(d.window, out, capacity);
  d.bits.input.next = stream;
  d.bits.input.available = size;
  bool ok = decode_stream(d) == kStreamOk;
  *produced = d.window.position;
  return ok;
}
