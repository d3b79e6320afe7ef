// The blocks of a setup that offers several languages: the languages
// themselves (0x124a) and each setup type's texts in them (0x1249). See
// docs/setup-file-format.md.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/format.h"

struct LanguageEntryFields {
  uint16_t langid = 0;
  uint16_t code_page = 0;
  uint8_t charset = 0;
  uint8_t flags = 0;  // kLanguagePlainAscii
  std::string code;   // at most 9 bytes
  std::string face;   // at most 31 bytes, "" the template's font
};

// One language's table of a setup type, its texts in the language's code
// page: the text lists that differ from the record's (none: the record's
// own, as for the default language) and the uninstaller's texts.
struct LanguageTableFields {
  std::array<std::optional<std::vector<std::string>>, kTextListCount> lists;
  std::vector<std::string> uninstaller;
};

bool encode_languages(uint32_t names_code_page, const std::vector<LanguageEntryFields>& languages,
                      std::vector<uint8_t>* out, std::string* error);
bool encode_language_tables(const std::vector<LanguageTableFields>& tables, std::vector<uint8_t>* out,
                            std::string* error);
