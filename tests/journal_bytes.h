// Journal files as a run of the setup writes them (record/journal_records.h),
// for the tests, the fuzz target and its seeds.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "record/journal_records.h"

struct JournalChange {
  uint8_t kind;
  bool existed;
  uint32_t number;
  std::string path, other;
  std::vector<uint8_t> data;
};

inline std::vector<uint8_t> journal_record(const JournalChange& c) {
  uint32_t size = kRecordHeaderSize + static_cast<uint32_t>(c.path.size() + c.other.size() + 2 + c.data.size());
  std::vector<uint8_t> r(size);
  write_record(r.data(), size, c.kind, c.existed, c.number, c.path.c_str(), static_cast<uint32_t>(c.path.size()),
               c.other.c_str(), static_cast<uint32_t>(c.other.size()), c.data.data(),
               static_cast<uint32_t>(c.data.size()));
  return r;
}

// The mark of a complete installation.
inline std::vector<uint8_t> journal_complete_mark() {
  std::vector<uint8_t> mark(kRecordHeaderSize + 2, 0);
  put_u32(mark.data(), static_cast<uint32_t>(mark.size()));
  mark[4] = kMarkComplete;
  return mark;
}

// The head, then each record and its checksum, seeded with the one before.
inline std::vector<uint8_t> journal_file(const std::vector<std::vector<uint8_t>>& records, const char* name) {
  std::vector<uint8_t> file(journal_head_size(name));
  write_journal_head(name, file.data());
  uint32_t seed = get_u32(file.data() + file.size() - 4);
  for (const auto& r : records) {
    file.insert(file.end(), r.begin(), r.end());
    seed = record_checksum(r.data(), static_cast<uint32_t>(r.size()), seed);
    uint8_t sum[4];
    put_u32(sum, seed);
    file.insert(file.end(), sum, sum + 4);
  }
  return file;
}

// A run that made a folder, replaced a file, set a registry value over an
// earlier one and wrote an INI key that was not there.
inline std::vector<std::vector<uint8_t>> sample_journal_records() {
  std::vector<uint8_t> value = {1, 0, 0, 0, 'o', 'l', 'd', 0};  // REG_SZ "old"
  std::vector<uint8_t> ini = {'G', 'r', 'e', 'e', 't', 'i', 'n', 'g', 0};
  return {journal_record({2, false, 0, "C:\\Product", "", {}}),
          journal_record({1, true, 0x20, "C:\\Product\\a.txt", "C:\\Product\\a.$~0123abcd", {}}),
          journal_record({3, true, 0x80000001u, "Software\\Product", "Colour", value}),
          journal_record({9, false, 3, "C:\\Product\\p.ini", "Viewer", ini})};
}
