// FileList records built field by field for the engine's tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/file_entry.h"

struct TestEntry {
  uint16_t status = 0;
  uint8_t folder_code = 0;
  uint8_t shared = 0;
  uint8_t kind = 0;
  uint8_t registration = 0;
  uint8_t flags = 0;
  std::string strings[kEntryStringCount];  // 0 name, ..., 4 desktop name, 5 desktop arguments
};

// Entries back to back, as a FileList holds them behind its count.
struct TestFileList {
  std::vector<uint8_t> bytes;
  uint32_t count = 0;

  void add(const TestEntry& e) {
    std::vector<uint8_t> r(kEntryFixedSize, 0);
    r[kEntryStatus] = static_cast<uint8_t>(e.status);
    r[kEntryStatus + 1] = static_cast<uint8_t>(e.status >> 8);
    r[kEntryFolderCode] = e.folder_code;
    r[kEntryShared] = e.shared;
    r[kEntryKind] = e.kind;
    r[kEntryRegistration] = e.registration;
    r[kEntryFlags] = e.flags;
    for (const std::string& s : e.strings) {
      r.insert(r.end(), s.begin(), s.end());
      r.push_back(0);
    }
    uint32_t length = static_cast<uint32_t>(r.size());
    for (int i = 0; i < 4; ++i) r[kEntryLength + i] = static_cast<uint8_t>(length >> (8 * i));
    bytes.insert(bytes.end(), r.begin(), r.end());
    ++count;
  }
  void add(uint8_t registration, const std::string& name) {
    TestEntry e;
    e.registration = registration;
    e.strings[0] = name;
    add(e);
  }
  // The list as a FileList block: u32 count, then the entries.
  std::vector<uint8_t> block() const {
    std::vector<uint8_t> b(4);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(count >> (8 * i));
    b.insert(b.end(), bytes.begin(), bytes.end());
    return b;
  }
};
