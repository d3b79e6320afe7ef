#include "builder/language_blocks.h"

#include "builder/block_writer.h"
#include "builder/record_writer.h"

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

void put_field(std::vector<uint8_t>* out, size_t at, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) (*out)[at + i] = static_cast<uint8_t>(text[i]);
}

}  // namespace

bool encode_languages(uint32_t names_code_page, const std::vector<LanguageEntryFields>& languages,
                      std::vector<uint8_t>* out, std::string* error) {
  if (languages.empty() || languages.size() > 0xFFFF) return fail(error, "a setup offers 1 to 65535 languages");
  append_u32(out, names_code_page);
  append_u16(out, static_cast<uint16_t>(languages.size()));
  append_u16(out, 0);
  for (const LanguageEntryFields& l : languages) {
    if (l.code.size() >= kLanguageCodeSize || l.face.size() >= kLanguageFaceSize)
      return fail(error, "language " + l.code + ": its code or its font's name is too long");
    size_t at = out->size();
    out->resize(at + kLanguageEntrySize, 0);
    put_u16(&(*out)[at + kLanguageId], l.langid);
    put_u16(&(*out)[at + kLanguageCodePage], l.code_page);
    (*out)[at + kLanguageCharset] = l.charset;
    (*out)[at + kLanguageFlags] = l.flags;
    put_field(out, at + kLanguageCode, l.code);
    put_field(out, at + kLanguageFace, l.face);
  }
  return true;
}

bool encode_language_tables(const std::vector<LanguageTableFields>& tables, std::vector<uint8_t>* out,
                            std::string* error) {
  if (tables.empty() || tables.size() > 0xFFFF) return fail(error, "a setup offers 1 to 65535 languages");
  std::vector<uint8_t> block;
  append_u16(&block, static_cast<uint16_t>(tables.size()));
  append_u16(&block, 0);
  size_t offsets = block.size();
  block.resize(offsets + 4 * tables.size(), 0);
  for (size_t t = 0; t < tables.size(); ++t) {
    size_t table = block.size();
    put_u32(&block[offsets + 4 * t], static_cast<uint32_t>(table));
    block.resize(table + 4 * kLanguageTableLists, 0);
    for (int l = 0; l < kLanguageTableLists; ++l) {
      const std::vector<std::string>* texts =
          l < kTextListCount ? (tables[t].lists[l] ? &*tables[t].lists[l] : nullptr) : &tables[t].uninstaller;
      if (!texts || (l == kTextListCount && texts->empty())) continue;
      put_u32(&block[table + 4 * l], static_cast<uint32_t>(block.size()));
      if (!encode_text_list(*texts, "language " + std::to_string(t) + " text " + std::to_string(l), &block, error))
        return false;
    }
    if (block.size() > 0xFFFFFFF0u) return fail(error, "the language tables are larger than 4 GiB");
  }
  out->insert(out->end(), block.begin(), block.end());
  return true;
}
