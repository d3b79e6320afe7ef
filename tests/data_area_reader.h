// Shared by the native and the Win32 tests: the data-area reader opened on
// volume 0 of a setup file, as the loader and the preparation step leave it.
#pragma once
#include <cstdint>
#include <string>

#include "archive/data_area.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"

// Positioned at the first data byte; prefix_size is where the data area's
// block header stands.
inline bool open_data_area(const std::string& setup_path, uint32_t prefix_size) {
  copy_string(SourcePath, setup_path.c_str(), kPathSize);
  copy_string(ArchivePath, setup_path.c_str(), kPathSize);
  data_file = open_file(ArchivePath, 0);
  if (data_file == INVALID_FILE_HANDLE) return false;
  uint8_t length[4];
  data_start = prefix_size + kBlockHeaderSize;
  if (seek_to(data_file, data_start) != data_start || read_exact(data_file, length, 4) != 0) return false;
  volume_length = volume_left = get_u32(length);
  volumes_before = 0;
  volume_number = 0;
  return true;
}

inline void close_data_area() {
  if (data_file != INVALID_FILE_HANDLE) close_file(data_file);
  data_file = INVALID_FILE_HANDLE;
}
