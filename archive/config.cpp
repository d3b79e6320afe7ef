#include "archive/config.h"

#include <cstring>

#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"

uint32_t SetupFlags;
uint8_t* WizardPicture;
uint32_t WizardPictureLength;
uint8_t* BackgroundPicture;
uint32_t BackgroundPictureLength;
char* BackgroundTitle;
uint32_t BackgroundTitleLength;
uint8_t* BackgroundStyle;
uint32_t BackgroundStyleLength;
uint8_t* DialogTemplateStore;
uint32_t DialogTemplateStoreLength;
uint8_t* ItemPrefixBlob;
uint32_t ItemPrefixBlobLength;

uint16_t StartPageNumber = kNoStartPage;
bool HasStartPageBlock;
bool HasScopeChoice;
uint8_t ScopeChoice[kScopeChoiceSize];
uint8_t* ProductIdentity;
uint32_t ProductIdentityLength;

SetupTypeSlot SetupTypeTable[6];
int SetupTypeCount;

int CurrentSetupType = -1;
const SetupTypeRecord* CurrentRecord;
uint32_t CurrentFileCount;
uint8_t* CurrentFirstEntry;

static const char kEmptyText[] = "";

// The loader has checked that every string of the list is terminated
// inside its block.
const char* list_text(const uint8_t* texts, int index) {
  if (!texts) return kEmptyText;
  uint16_t wanted = static_cast<uint16_t>(index);
  if (wanted >= get_u16(texts)) return kEmptyText;
  const char* p = reinterpret_cast<const char*>(texts + 2);
  for (; wanted > 0; --wanted) p += std::strlen(p) + 1;
  return p;
}

bool string_inside(const uint8_t* record, uint32_t length, uint32_t offset) {
  for (; offset < length; ++offset)
    if (record[offset] == 0) return true;
  return false;
}

bool text_list_inside(const uint8_t* record, uint32_t length, uint32_t offset) {
  if (offset >= length || length - offset < 2) return false;
  uint32_t at = offset + 2;
  for (uint16_t n = get_u16(record + offset); n > 0; --n) {
    if (!string_inside(record, length, at)) return false;
    at += static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(record + at))) + 1;
  }
  return true;
}

const char* get_text(int list, int index) {
  if (list < 0 || list >= kTextListCount || !CurrentRecord) return kEmptyText;
  return list_text(CurrentRecord->text_lists[list], index);
}

const char* product_detail(int index) {
  return CurrentSetupType < 0 ? kEmptyText : list_text(SetupTypeTable[CurrentSetupType].details, index);
}

int message_text(int index, unsigned style) { return message_box(get_text(6, index), style); }

bool asked_yes(int index) { return message_text(index, kMbYesNo | kMbIconQuestion) == kIdYes; }

void select_setup_type(int index) {
  if (CurrentSetupType != -1) copy_string(SetupTypeTable[CurrentSetupType].folder, InstallDir, kPathSize);
  CurrentFileCount = 0;
  CurrentFirstEntry = nullptr;
  CurrentSetupType = index;
  SetupTypeSlot& slot = SetupTypeTable[index];
  if (slot.file_list) {
    CurrentFileCount = get_u32(slot.file_list);
    CurrentFirstEntry = slot.file_list + 4;
  }
  CurrentRecord = &slot.record;
  copy_string(InstallDir, slot.folder, kPathSize);
}

bool find_template(int number, const uint8_t** bytes, uint32_t* length) {
  uint32_t store = DialogTemplateStoreLength;
  if (!DialogTemplateStore || number < 0 || store < 4) return false;
  uint32_t table = get_u32(DialogTemplateStore);  // four times the number of entries
  if (table > store || static_cast<uint32_t>(number) >= table / 4) return false;
  uint32_t offset = get_u32(DialogTemplateStore + 4 * number);
  if (offset < table || offset >= store) return false;
  *bytes = DialogTemplateStore + offset;
  *length = store - offset;
  return true;
}
