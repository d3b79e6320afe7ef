#include "archive/loader.h"

#include <cstring>

#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/languages.h"
#include "archive/platform.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"

uint32_t StubSize;

namespace {

// Internal load results: 1, 5 and 12 end loading silently as a read or
// memory failure; kDamaged marks an archive whose structure cannot be
// trusted, which is reported with text 6/31 where a text can be had.
enum : int { kReadFailed = 1, kNoMemory = 5, kUndecodable = 6, kNoFolderMemory = 12, kDamaged = 100 };

// What the blocks of the archive being loaded may still announce, out of
// kConfigurationBudget.
uint32_t BudgetLeft;

const uint32_t kStringFields[] = {kRecordUninstallName, kRecordCaption,  kRecordDefaultFolder, kRecordRegistryKey,
                                  kRecordRegistryValue, kRecordIniFile, kRecordIniSection,    kRecordIniKey};
// The record's string of each of kStringFields, in the same order.
const char* SetupTypeRecord::* const kStringMembers[] = {
    &SetupTypeRecord::uninstall_name, &SetupTypeRecord::caption,  &SetupTypeRecord::default_folder,
    &SetupTypeRecord::registry_key,   &SetupTypeRecord::registry_value, &SetupTypeRecord::ini_file,
    &SetupTypeRecord::ini_section,    &SetupTypeRecord::ini_key};
static_assert(sizeof kStringMembers / sizeof kStringMembers[0] == sizeof kStringFields / sizeof kStringFields[0],
              "one string of the record for each field");

bool check_record(const uint8_t* raw, uint32_t length) {
  if (length < kRecordFixedSize) return false;
  for (uint32_t field : kStringFields) {
    uint32_t offset = get_u32(raw + field);
    if (offset != 0 && !string_inside(raw, length, offset)) return false;
  }
  for (int list = 0; list < kTextListCount; ++list) {
    uint32_t offset = get_u32(raw + kRecordTextLists + 4 * list);
    if (offset != 0 && !text_list_inside(raw, length, offset)) return false;
  }
  return true;
}

const char* string_at(const uint8_t* raw, uint32_t field) {
  uint32_t offset = get_u32(raw + field);
  return offset ? reinterpret_cast<const char*>(raw + offset) : nullptr;
}

// Kept out of line: inlined into the loader, every field's address is
// worked out from the slot number again, each an address to relocate.
__attribute__((noinline)) void relocate_strings(const uint8_t* raw, SetupTypeRecord* record) {
  record->flags = get_u16(raw + kRecordFlags);
  record->root_key = get_u32(raw + kRecordRootKey);
  for (size_t i = 0; i < sizeof kStringFields / sizeof kStringFields[0]; ++i)
    record->*kStringMembers[i] = string_at(raw, kStringFields[i]);
}

void relocate_text_lists(const uint8_t* raw, SetupTypeRecord* record) {
  for (int list = 0; list < kTextListCount; ++list) {
    uint32_t offset = get_u32(raw + kRecordTextLists + 4 * list);
    record->text_lists[list] = offset ? raw + offset : nullptr;
  }
}

// read_block into a slot that a repeated block may already hold.
int replace_block(FileHandle file, const BlockHeader& header, uint8_t** slot, uint32_t* length) {
  free_block(slot);
  return read_block(file, header, slot, length);
}

// Another writer may use the id of the product details for something of
// its own: only a text list that ends inside its block is taken (in the
// place of details read before); anything else is passed over, as an
// unknown id is.
void read_details(FileHandle file, const BlockHeader& header, SetupTypeSlot* slot) {
  uint8_t* block = nullptr;
  uint32_t length = 0;
  if (read_block(file, header, &block, &length) == 0 && text_list_inside(block, length, 0)) {
    free_block(&slot->details);
    slot->details = block;
    slot->details_length = length;
    return;
  }
  free_block(&block);
}

// The file list's entries must lie inside it, and each must name as its
// data source an entry that exists.
bool check_file_list(const SetupTypeSlot& slot, int type_count) {
  if (slot.file_list_length < 4) return false;
  uint32_t count = get_u32(slot.file_list);
  if (!check_file_entries(slot.file_list + 4, slot.file_list_length - 4, count)) return false;
  const uint8_t* entry = slot.file_list + 4;
  for (uint32_t i = 0; i < count; ++i, entry = next_entry(entry)) {
    uint16_t type = get_u16(entry + kEntrySetupType);
    int32_t index = static_cast<int32_t>(get_u32(entry + kEntryIndex));
    if (type >= type_count || index < 0) return false;
    const SetupTypeSlot& source = SetupTypeTable[type];
    uint32_t source_count = source.file_list ? get_u32(source.file_list) : 0;
    if (static_cast<uint32_t>(index) >= source_count) return false;
  }
  return true;
}

bool check_loaded_lists(int type_count) {
  for (int t = 0; t < type_count; ++t) {
    const SetupTypeSlot& slot = SetupTypeTable[t];
    if (slot.file_list && !check_file_list(slot, type_count)) return false;
    for (int k = 0; k < kEntryListCount; ++k)
      if (slot.entry_lists[k] &&
          !check_entry_list(static_cast<EntryListKind>(k), slot.entry_lists[k], slot.entry_list_lengths[k]))
        return false;
  }
  return true;
}

void show_damage_message() {
  const char* text = get_text(6, 31);
  if (text[0]) message_box(text, kMbIconInformation);
}

}  // namespace


int read_block(FileHandle file, const BlockHeader& header, uint8_t** slot, uint32_t* length) {
  uint32_t content = header.stored_size;
  bool compressed = (header.flags & kBlockCompressed) != 0;
  if (compressed) {
    uint8_t word[4];
    if (read_exact(file, word, 4)) return kReadFailed;
    content = get_u32(word);
    // An announced length the stored bytes cannot produce is damage, not a
    // reason to ask for gigabytes.
    if (content > max_expansion(header.stored_size) || content == 0xFFFFFFFFu) return kUndecodable;
  }
  // Nor may the blocks together ask for more than a real setup needs.
  if (content > BudgetLeft) return kUndecodable;
  BudgetLeft -= content;
  if (length) *length = content;
  if (!alloc_block(content + 1, slot)) return kNoMemory;
  (*slot)[content] = 0;
  if (compressed) {
    uint32_t produced = 0;
    if (!decode_to_memory(*slot, content, file, 0, &produced) || produced != content) {
      free_block(slot);
      return kUndecodable;
    }
  } else if (read_exact(file, *slot, content)) {
    free_block(slot);
    return kReadFailed;
  }
  return 0;
}

void free_archive() {
  free_block(&DialogTemplateStore);
  free_block(&WizardPicture);
  free_block(&BackgroundPicture);
  free_block(&ItemPrefixBlob);
  free_block(&BackgroundStyle);
  free_block(&BackgroundTitle);
  free_block(&LanguageBlock);
  free_block(&ProductIdentity);
  ChosenLanguage = nullptr;
  for (SetupTypeSlot& slot : SetupTypeTable) {
    for (uint8_t*& list : slot.entry_lists) free_block(&list);
    free_block(&slot.file_list);
    free_block(&slot.details);
    free_block(&slot.languages);
    free_block(&slot.solid);
    free_block(&slot.raw_record);
    free_block(&slot.folder);
    slot = SetupTypeSlot{};
  }
  DialogTemplateStoreLength = WizardPictureLength = BackgroundPictureLength = 0;
  ItemPrefixBlobLength = BackgroundStyleLength = BackgroundTitleLength = 0;
  SetupFlags = 0;
  StartPageNumber = kNoStartPage;
  HasStartPageBlock = false;
  SetupTypeCount = 0;
  CurrentSetupType = -1;
  CurrentRecord = nullptr;
  CurrentFileCount = 0;
  CurrentFirstEntry = nullptr;
  data_start = volume_length = volume_left = volumes_before = 0;
  BudgetLeft = kConfigurationBudget;
}

bool load_archive() {
  free_archive();
  if (StubSize == 0) return false;
  copy_string(ArchivePath, SourcePath, kPathSize);
  FileHandle file = open_file(ArchivePath, 0);
  if (file == INVALID_FILE_HANDLE) return false;
  uint32_t end_of_file = file_length(file);
  seek_to(file, StubSize);

  int current = -1;  // setup type that per-setup-type blocks attach to
  uint16_t start_type = 0;
  bool data_ready = false;
  int error = 0;
  int complete_types = 0;  // records fully read and checked, whose texts can be shown
  for (;;) {
    uint8_t raw[kBlockHeaderSize];
    if (read_exact(file, raw, kBlockHeaderSize)) {
      error = kReadFailed;
      break;
    }
    BlockHeader header = {get_u16(raw), get_u16(raw + 2), get_u32(raw + 4)};
    if (header.stored_size == 0) {
      if (header.id == kBlockDataArea) break;
      continue;
    }
    uint32_t here = tell_file(file);
    // The data area's stored size is not used; every other block must fit.
    if (header.id != kBlockDataArea && (here > end_of_file || header.stored_size > end_of_file - here)) {
      error = kReadFailed;
      break;
    }
    uint32_t next = here + header.stored_size;

    switch (header.id) {
      case kBlockSetupFlags: {
        uint8_t word[4];
        if (read_exact(file, word, 4)) error = kReadFailed;
        else SetupFlags = get_u32(word);
        break;
      }
      case kBlockArchitecture: {
        uint8_t word[4];
        if (read_exact(file, word, 4)) error = kReadFailed;
        else take_architecture(get_u32(word));
        break;
      }
      case kBlockScopeChoice:
        // One too short to read is no choice: the setup then runs per user,
        // as its manifest asks for no rights.
        HasScopeChoice = header.stored_size >= kScopeChoiceSize && read_exact(file, ScopeChoice, kScopeChoiceSize) == 0;
        break;
      case kBlockWizardPicture: error = replace_block(file, header, &WizardPicture, &WizardPictureLength); break;
      case kBlockBackgroundPicture:
        error = replace_block(file, header, &BackgroundPicture, &BackgroundPictureLength);
        break;
      case kBlockBackgroundTitle:
        error = replace_block(file, header, reinterpret_cast<uint8_t**>(&BackgroundTitle), &BackgroundTitleLength);
        break;
      case kBlockBackgroundStyle:
        error = replace_block(file, header, &BackgroundStyle, &BackgroundStyleLength);
        break;
      case kBlockDialogTemplates:
        error = replace_block(file, header, &DialogTemplateStore, &DialogTemplateStoreLength);
        break;
      case kBlockItemPrefix: error = replace_block(file, header, &ItemPrefixBlob, &ItemPrefixBlobLength); break;
      case kBlockProductDetails:
        if (current >= 0) read_details(file, header, &SetupTypeTable[current]);
        break;
      case kBlockLanguages: error = replace_block(file, header, &LanguageBlock, &LanguageBlockLength); break;
      case kBlockProductIdentity:
        // One whose id does not end inside it, or is empty, names nothing.
        error = replace_block(file, header, &ProductIdentity, &ProductIdentityLength);
        if (!error && (!string_inside(ProductIdentity, ProductIdentityLength, kProductIdOffset) ||
                       !ProductIdentity[kProductIdOffset]))
          free_block(&ProductIdentity);
        break;
      case kBlockLanguageTables:
      case kBlockSolidStream:
        if (current >= 0) {
          SetupTypeSlot& slot = SetupTypeTable[current];
          bool solid = header.id == kBlockSolidStream;
          error = replace_block(file, header, solid ? &slot.solid : &slot.languages,
                                solid ? &slot.solid_length : &slot.languages_length);
        }
        break;
      case kBlockFileList:
      case kBlockIniEntries:
      case kBlockRegistryEntries:
      case kBlockStringPatches:
      case kBlockPathEntries: {
        // Blocks of a setup type come after its record. Tested here, in
        // the one case for them all: a slot pointer that may be null makes
        // the compiler build the whole switch twice.
        if (current < 0) {
          error = kDamaged;
          break;
        }
        SetupTypeSlot& slot = SetupTypeTable[current];
        uint8_t** block = &slot.file_list;
        uint32_t* block_length = &slot.file_list_length;
        if (header.id != kBlockFileList) {
          int k = header.id == kBlockPathEntries ? kPathList : header.id - kBlockIniEntries;
          block = &slot.entry_lists[k];
          block_length = &slot.entry_list_lengths[k];
        }
        error = replace_block(file, header, block, block_length);
        break;
      }
      case kBlockStartPage: {
        HasStartPageBlock = true;
        uint8_t word[2];
        if (read_exact(file, word, 2) == 0) {
          StartPageNumber = get_u16(word);
          if (read_exact(file, word, 2) == 0) start_type = get_u16(word);
        }
        data_ready = true;
        break;
      }
      case kBlockSetupType: {
        if (current + 1 >= kMaxSetupTypes) {
          error = kDamaged;
          break;
        }
        SetupTypeSlot& slot = SetupTypeTable[++current];
        error = read_block(file, header, &slot.raw_record, &slot.raw_record_length);
        if (error) break;
        if (!check_record(slot.raw_record, slot.raw_record_length)) {
          error = kDamaged;
          break;
        }
        relocate_strings(slot.raw_record, &slot.record);
        if (!alloc_zeroed(kPathSize, &slot.folder)) {
          error = kNoFolderMemory;
          break;
        }
        default_install_dir(&slot.record);
        copy_string(slot.folder, InstallDir, kPathSize);
        relocate_text_lists(slot.raw_record, &slot.record);
        ++complete_types;
        break;
      }
      case kBlockDataArea: {
        data_start = here;
        uint8_t word[4];
        if (read_exact(file, word, 4)) {
          error = kReadFailed;
          break;
        }
        volume_length = volume_left = get_u32(word);
        volumes_before = 0;
        if (static_cast<uint64_t>(data_start) + 4 + volume_length <= end_of_file) data_ready = true;
        break;
      }
      default: break;  // not ours to read: skipped
    }
    if (error || header.id == kBlockDataArea) break;
    seek_to(file, next);
  }
  close_file(file);

  if (error && error != kDamaged && error != kUndecodable) {
    free_archive();
    return false;
  }
  if (!error) {
    if (current < 0) {  // no setup type, so no text and nothing to install
      free_archive();
      return false;
    }
    SetupTypeCount = current + 1;
    if (start_type >= SetupTypeCount || !check_loaded_lists(SetupTypeCount)) error = kDamaged;
  }
  if (error) {
    if (complete_types > 0) {
      SetupTypeCount = complete_types;
      select_setup_type(0);
      show_damage_message();
    }
    free_archive();
    return false;
  }
  select_setup_type(start_type);
  if (data_ready) return true;
  show_damage_message();
  free_archive();
  return false;
}
