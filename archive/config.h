// The configuration that load_archive leaves in memory, the text lookup and
// the choice of the current setup type.
#pragma once
#include <cstdint>

#include "archive/format.h"

// A SetupTypeRecord with its offsets turned into pointers into the raw bytes
// (null where the offset is 0). Kept beside the raw record rather than in its
// u32 fields, so the same code runs where pointers are 64 bits wide.
struct SetupTypeRecord {
  uint16_t flags;
  const char* uninstall_name;
  const char* caption;
  const char* default_folder;
  uint32_t root_key;
  const char* registry_key;
  const char* registry_value;
  const char* ini_file;
  const char* ini_section;
  const char* ini_key;
  const uint8_t* text_lists[11];
};

// One slot of the SetupTypeTable. Lengths are kept so that every later
// reader can stay inside its block.
struct SetupTypeSlot {
  uint8_t* raw_record;
  uint32_t raw_record_length;
  SetupTypeRecord record;
  char* folder;  // 260 bytes: the folder chosen for this setup type
  uint8_t* file_list;
  uint32_t file_list_length;
  uint8_t* entry_lists[4];  // by EntryListKind: INI entries, registry entries, string patches, path entries
  uint32_t entry_list_lengths[4];
  uint8_t* details;  // the product-details text list, or null
  uint32_t details_length;
  uint8_t* languages;  // the type's language tables (block 0x1249), or null
  uint32_t languages_length;
  uint8_t* solid;  // the solid stream block (0x124d), or null
  uint32_t solid_length;
  // The uninstaller's texts in the chosen language (a text list), or null.
  const uint8_t* uninstaller_texts;
};

extern uint32_t SetupFlags;
extern uint8_t* WizardPicture;
extern uint32_t WizardPictureLength;
extern uint8_t* BackgroundPicture;
extern uint32_t BackgroundPictureLength;
extern char* BackgroundTitle;
extern uint32_t BackgroundTitleLength;
extern uint8_t* BackgroundStyle;
extern uint32_t BackgroundStyleLength;
extern uint8_t* DialogTemplateStore;
extern uint32_t DialogTemplateStoreLength;
extern uint8_t* ItemPrefixBlob;
extern uint32_t ItemPrefixBlobLength;

enum : uint16_t { kNoStartPage = 0xFFFF };
extern uint16_t StartPageNumber;       // kNoStartPage: none
extern bool HasStartPageBlock;   // suppresses the finishing actions
// Block 0x1248 as stored, read with get_u32: the setup lets its user
// choose between all users and this user alone.
extern bool HasScopeChoice;
extern uint8_t ScopeChoice[kScopeChoiceSize];
// Block 0x124b, checked: its product id is terminated and not empty; null
// for a setup without one.
extern uint8_t* ProductIdentity;
extern uint32_t ProductIdentityLength;
// A start page shows that one page alone instead of the whole wizard.
inline bool single_page_mode() { return StartPageNumber != kNoStartPage; }
// The frame fills the screen, with the background behind the dialog.
inline bool full_screen_mode() { return (SetupFlags & kSetupFullScreen) != 0; }

extern SetupTypeSlot SetupTypeTable[6];
extern int SetupTypeCount;

extern int CurrentSetupType;  // -1 before the first selection
extern const SetupTypeRecord* CurrentRecord;
extern uint32_t CurrentFileCount;
extern uint8_t* CurrentFirstEntry;

// A text at `offset` of a block of `length` bytes ends inside it; so does
// every text of a text list there.
bool string_inside(const uint8_t* block, uint32_t length, uint32_t offset);
bool text_list_inside(const uint8_t* block, uint32_t length, uint32_t offset);
// Text `index` of a text list the loader has checked (or null); never null.
const char* list_text(const uint8_t* texts, int index);
// Text index of the current setup type; never null.
const char* get_text(int list, int index);
// Text `index` of the current setup type's product details; never null.
const char* product_detail(int index);
void select_setup_type(int index);
// Text 6/index in a message box; the answer.
int message_text(int index, unsigned style);
// Text 6/index asked as a Yes/No question: true for Yes.
bool asked_yes(int index);

// Bounds of template `number` inside the DialogTemplateStore: from its offset
// to the end of the store. False when the store has no such template.
bool find_template(int number, const uint8_t** bytes, uint32_t* length);
