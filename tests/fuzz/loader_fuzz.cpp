// The loader on any archive behind the stub. A loaded configuration must
// keep every string, text, entry and template inside its block, as all
// later readers trust it; a refused one must leave nothing loaded.
#include <cstring>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "archive/platform_host.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int Messages;
int count_message(const char*, unsigned) { return ++Messages, kIdOk; }

bool inside(const void* p, const uint8_t* block, uint32_t length) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return b >= block && b < block + length;
}

// Null, or a text that starts and ends inside the block.
bool text_inside(const char* text, const uint8_t* block, uint32_t length) {
  if (!text) return true;
  const uint8_t* t = reinterpret_cast<const uint8_t*>(text);
  return inside(t, block, length) && std::memchr(t, 0, block + length - t) != nullptr;
}

bool nothing_loaded() {
  for (const SetupTypeSlot& s : SetupTypeTable)
    if (s.raw_record || s.folder || s.file_list || s.entry_lists[0] || s.entry_lists[1] || s.entry_lists[2])
      return false;
  return SetupTypeCount == 0 && !CurrentRecord && !DialogTemplateStore && !WizardPicture && !BackgroundPicture &&
         !BackgroundTitle && !BackgroundStyle && !ItemPrefixBlob;
}

void check_type(int type) {
  const SetupTypeSlot& slot = SetupTypeTable[type];
  const uint8_t* raw = slot.raw_record;
  uint32_t length = slot.raw_record_length;
  const SetupTypeRecord& r = slot.record;
  for (const char* s : {r.uninstall_name, r.caption, r.default_folder, r.registry_key, r.registry_value, r.ini_file,
                        r.ini_section, r.ini_key})
    FUZZ_RULE(text_inside(s, raw, length));
  FUZZ_RULE(slot.folder && std::memchr(slot.folder, 0, kPathSize));

  select_setup_type(type);
  FUZZ_RULE(CurrentRecord == &r && std::memchr(InstallDir, 0, kPathSize));
  for (int list = 0; list <= kTextListCount; ++list) {
    uint16_t count = list < kTextListCount && r.text_lists[list] ? get_u16(r.text_lists[list]) : 0;
    for (uint32_t i = 0; i <= count; ++i) {
      const char* text = get_text(list, static_cast<int>(i));
      FUZZ_RULE(text != nullptr);
      FUZZ_RULE(i == count ? *text == '\0' : text_inside(text, raw, length));
    }
  }

  if (slot.file_list) {
    const uint8_t* end = slot.file_list + slot.file_list_length;
    const uint8_t* entry = slot.file_list + 4;
    FUZZ_RULE(slot.file_list_length >= 4 && CurrentFirstEntry == entry);
    for (uint32_t i = 0; i < CurrentFileCount; ++i, entry = next_entry(entry)) {
      uint32_t size = get_u32(entry + kEntryLength);
      FUZZ_RULE(inside(entry, slot.file_list, slot.file_list_length) && size <= uint32_t(end - entry));
      FUZZ_RULE(entry_strings_offset(entry) < size && text_inside(entry_string(entry, 5), entry, size));
      // A patch's base is an entry that exists.
      uint16_t base_type = get_u16(entry + kEntrySetupType);
      FUZZ_RULE(base_type < SetupTypeCount && SetupTypeTable[base_type].file_list);
      FUZZ_RULE(get_u32(entry + kEntryIndex) < get_u32(SetupTypeTable[base_type].file_list));
    }
  }

  for (int k = 0; k < 3; ++k) {
    const uint8_t* list = slot.entry_lists[k];
    if (!list) continue;
    const uint8_t* end = list + slot.entry_list_lengths[k];
    const uint8_t* p = list + 2;
    for (uint16_t n = get_u16(list); n > 0; --n) {
      IniEntry ini;
      RegistryEntry registry;
      StringPatchEntry patch;
      p = k == kIniList ? parse_ini_entry(p, end, &ini)
          : k == kRegistryList ? parse_registry_entry(p, end, &registry)
                               : parse_string_patch(p, end, &patch);
      FUZZ_RULE(p && p <= end);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = scratch_path("loader");
  fresh_folder(folder);
  std::string path = write_setup_input(folder, data, size);
  copy_string(SourcePath, path.c_str(), kPathSize);
  StubSize = static_cast<uint32_t>(minimal_stub().size());
  Messages = 0;
  set_message_box_handler(count_message);

  if (!load_archive()) {
    // At most the one notice that the archive is damaged.
    FUZZ_RULE(Messages <= 1 && nothing_loaded());
    return 0;
  }
  FUZZ_RULE(Messages == 0);
  FUZZ_RULE(SetupTypeCount >= 1 && SetupTypeCount <= kMaxSetupTypes);
  FUZZ_RULE(CurrentSetupType >= 0 && CurrentSetupType < SetupTypeCount);
  // Without a start page block, the data area lies whole inside the file.
  FUZZ_RULE(HasStartPageBlock || (data_start > 0 && uint64_t(data_start) + 4 + volume_length <= StubSize + size));
  if (BackgroundTitle) FUZZ_RULE(std::memchr(BackgroundTitle, 0, BackgroundTitleLength + 1));
  for (int t = 0; t < SetupTypeCount; ++t) check_type(t);
  for (int number = 0; number < 16; ++number) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (find_template(number, &bytes, &length))
      FUZZ_RULE(inside(bytes, DialogTemplateStore, DialogTemplateStoreLength) &&
                length <= DialogTemplateStoreLength - uint32_t(bytes - DialogTemplateStore));
  }
  free_archive();
  FUZZ_RULE(nothing_loaded());
  return 0;
}
