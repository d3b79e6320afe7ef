// Shared by the data-area writer and patch tests: a setup file whose data
// area the reader is opened on, as the installation's preparation step
// opens it.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/data_area.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "builder/data_area_writer.h"
#include "tests/data_area_reader.h"
#include "tests/native/test_files.h"

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Bytes that differ from position to position and between calls' seeds.
inline std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

// Writes a setup file of `prefix_size` stand-in stub and configuration
// bytes followed by the data area holding `items`; fills `placements`.
inline bool write_setup_file(const std::string& path, uint32_t prefix_size, const std::vector<std::vector<uint8_t>>& items,
                             uint64_t volume_size, std::vector<DataPlacement>* placements, uint32_t* volumes = nullptr,
                             std::string* error = nullptr) {
  FILE* file = std::fopen(path.c_str(), "wb+");
  if (!file) return false;
  std::vector<uint8_t> prefix = pattern_bytes(prefix_size, 99);
  if (!prefix.empty()) std::fwrite(prefix.data(), 1, prefix.size(), file);
  DataAreaWriter w;
  bool ok = begin_data_area(w, file, path, volume_size);
  for (const auto& item : items) {
    DataPlacement p{};
    ok = ok && add_item_data(w, item.data(), item.size(), &p);
    if (placements) placements->push_back(p);
  }
  ok = ok && end_data_area(w, volumes);
  if (error) *error = w.error;
  std::fclose(file);
  return ok;
}

