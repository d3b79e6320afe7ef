// Texts of a current setup type for tests: lists of strings laid out as the
// archive stores them (a u16 count, then NUL-terminated strings).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/config.h"

class TextFixture {
 public:
  TextFixture() {
    saved_ = CurrentRecord;
    CurrentRecord = &record_;
  }
  ~TextFixture() { CurrentRecord = saved_; }
  TextFixture(const TextFixture&) = delete;
  TextFixture& operator=(const TextFixture&) = delete;

  // The current record itself, for its flags.
  SetupTypeRecord& record() { return record_; }
  // Sets text list/index; missing lower indices become empty texts.
  void set(int list, int index, const std::string& text) {
    std::vector<std::string>& texts = texts_[list];
    if (texts.size() <= static_cast<size_t>(index)) texts.resize(index + 1);
    texts[index] = text;
    std::vector<uint8_t>& bytes = bytes_[list];
    bytes.assign(2, 0);
    bytes[0] = texts.size() & 0xFF;
    bytes[1] = texts.size() >> 8;
    for (const std::string& t : texts) bytes.insert(bytes.end(), t.c_str(), t.c_str() + t.size() + 1);
    record_.text_lists[list] = bytes.data();
  }

 private:
  const SetupTypeRecord* saved_;
  SetupTypeRecord record_ = {};
  std::map<int, std::vector<std::string>> texts_;
  std::map<int, std::vector<uint8_t>> bytes_;
};
