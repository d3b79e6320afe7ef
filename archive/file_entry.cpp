#include "archive/file_entry.h"

#include "archive/format.h"

uint32_t entry_strings_offset(const uint8_t* entry) {
  uint8_t flags = entry[kEntryFlags];
  uint32_t offset = kEntryFixedSize;
  if (flags & (kItemCompareVersion | kItemCompareLanguage)) offset += kEntryVersionSize;
  if (flags & kItemHasTimes) offset += kEntryTimesSize;
  return offset;
}

const uint8_t* entry_file_times(const uint8_t* entry) {
  return entry + entry_strings_offset(entry) - kEntryTimesSize;
}

const char* entry_string(const uint8_t* entry, int n) {
  const char* p = reinterpret_cast<const char*>(entry + entry_strings_offset(entry));
  for (; n > 0; --n)
    while (*p++) {
    }
  return p;
}

uint8_t* next_entry(uint8_t* entry) { return entry + get_u32(entry + kEntryLength); }
const uint8_t* next_entry(const uint8_t* entry) { return entry + get_u32(entry + kEntryLength); }

bool check_file_entries(const uint8_t* entries, uint32_t length, uint32_t count) {
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (length - at < kEntryFixedSize) return false;
    const uint8_t* entry = entries + at;
    uint32_t size = get_u32(entry + kEntryLength);
    if (size > length - at) return false;
    uint32_t strings = entry_strings_offset(entry);
    if (size < strings) return false;
    uint32_t p = strings;
    for (uint32_t s = 0; s < kEntryStringCount; ++s) {
      while (p < size && entry[p] != 0) ++p;
      if (p == size) return false;
      ++p;
    }
    at += size;
  }
  return true;
}
