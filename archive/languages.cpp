#include "archive/languages.h"

#include "archive/config.h"

uint8_t* LanguageBlock;
uint32_t LanguageBlockLength;
const uint8_t* ChosenLanguage;

int language_count() {
  if (!LanguageBlock || LanguageBlockLength < kLanguagesFirstEntry) return 0;
  uint32_t count = get_u16(LanguageBlock + kLanguagesCount);
  return (LanguageBlockLength - kLanguagesFirstEntry) / kLanguageEntrySize >= count ? static_cast<int>(count) : 0;
}

const uint8_t* language_entry(int index) {
  return LanguageBlock + kLanguagesFirstEntry + static_cast<uint32_t>(index) * kLanguageEntrySize;
}

// List `list` of language `index` in a setup type's tables, or null.
static const uint8_t* table_list(const SetupTypeSlot& slot, int index, int list) {
  const uint8_t* block = slot.languages;
  uint32_t length = slot.languages_length;
  if (!block || length < 4 || index >= get_u16(block) || 8 + 4u * index > length) return nullptr;
  uint32_t table = get_u32(block + 4 + 4 * index);
  if (table > length || length - table < 4 * kLanguageTableLists) return nullptr;
  uint32_t offset = get_u32(block + table + 4 * list);
  return offset && text_list_inside(block, length, offset) ? block + offset : nullptr;
}

void use_language(int index) {
  ChosenLanguage = language_entry(index);
  for (int t = 0; t < SetupTypeCount; ++t) {
    SetupTypeSlot& slot = SetupTypeTable[t];
    for (int list = 0; list < kTextListCount; ++list)
      if (const uint8_t* texts = table_list(slot, index, list)) slot.record.text_lists[list] = texts;
    slot.uninstaller_texts = table_list(slot, index, kTextListCount);
  }
}
