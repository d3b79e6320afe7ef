// Lays out a whole setup archive: the configuration blocks in the order the
// loader expects, then the data area (written by builder/data_area_writer).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builder/block_writer.h"
#include "builder/data_area_writer.h"
#include "builder/language_blocks.h"
#include "builder/record_writer.h"

// One setup type: its record and the lists that follow it. An empty list
// writes no block, which the installer treats like a list of no entries.
// Block 0x124d: where a setup type's solid LZMA stream lies and how it
// was made.
struct SolidStreamFields {
  uint8_t properties = 0;
  uint32_t dictionary = 0;
  uint32_t position = 0;
  uint32_t length = 0;
};

struct SetupTypePlan {
  SetupTypeRecordFields record;
  std::vector<FileEntryFields> files;
  std::vector<IniEntryFields> ini_entries;
  std::vector<RegistryEntryFields> registry_entries;
  std::vector<StringPatchFields> string_patches;
  std::vector<PathEntryFields> path_entries;
  std::vector<std::string> details;  // product details (by kDetail...); empty = no block
  std::vector<LanguageTableFields> languages;  // by ArchivePlan::languages; empty = no block 0x1249
  // compression = "lzma": the type's solid stream (block 0x124d), whose
  // bytes are the type's items with kItemSolid in turn; none otherwise.
  std::optional<SolidStreamFields> solid;
};

// Block 0x1248 of a setup that lets its user choose its scope.
struct ScopeChoiceFields {
  uint32_t flags = 0;              // kScopeMachineOnly
  uint32_t uninstaller_level = 0;  // offset of the level text in block 0x123f; 0 none
};

struct ArchivePlan {
  std::vector<std::vector<uint8_t>> dialog_templates;  // by template number; empty = none
  uint32_t setup_flags = 0;                             // kSetupFullScreen, kSetupRemoveOthers
  std::vector<uint8_t> wizard_picture;                  // bitmap files; empty = none
  std::vector<uint8_t> background_picture;
  std::optional<std::string> background_title;
  std::optional<BackgroundStyleFields> background_style;
  std::vector<SetupTypePlan> setup_types;  // one to six
  std::optional<StartPageFields> start_page;
  std::vector<uint8_t> item_prefix;  // written at the start of the uninstaller; empty = none
  uint32_t code_page = kDefaultCodePage;  // of every text; block 0x1244 only when not the default
  uint32_t architecture = kArchitectureX86;  // kArchitecture...; block 0x1247 only for the 64-bit mode
  // The languages offered, the default first; empty = one, and no block 0x124a.
  std::vector<LanguageEntryFields> languages;
  uint32_t names_code_page = 0;  // of the names, 0 when every name is plain ASCII
  std::optional<ScopeChoiceFields> scope_choice;  // block 0x1248 only for privileges = "choice"
  // Block 0x124b only for a product_id: the id, the downgrade rule, the flags.
  std::string product_id;
  uint8_t downgrade = 0;
  uint8_t product_flags = 0;  // kCloseApplications
};

// Every block before the data area: 0x1239, 0x1234, 0x1247, 0x1248, 0x124b, 0x1244, 0x124a,
// 0x1235, 0x1236, 0x1237, 0x123d, for each setup type 0x123e with its 0x123a, 0x1240..0x1242, 0x1246, 0x1243
// and 0x1249,
// then 0x123b and 0x123f. Blocks are compressed where `compress` is given
// and saves bytes. Refuses what the loader would refuse: no or more than six
// setup types, a start page naming a setup type that does not exist, a file
// entry whose data source is not an entry of the archive; and what would
// fail later: a start page that is not a page (0 to 7), a patch whose base
// entry is itself or another patch.
bool assemble_configuration(const ArchivePlan& archive, const StreamCompressor& compress, std::vector<uint8_t>* out,
                            std::string* error);

// Where items of these sizes land in the data area: back to back from 0, in
// this order, as add_item_data places them. The file entries need their
// positions before the configuration, which precedes the data, is written.
bool plan_item_data(const std::vector<size_t>& sizes, std::vector<DataPlacement>* placements, std::string* error);

// Writes the setup file: the stub, the configuration, then the data area
// with the items' stored data in the order of plan_item_data, continued in
// volume files when volume_size is not 0. *volumes receives the number of
// volume files beside the setup file.
bool write_setup_file(const std::string& path, const std::vector<uint8_t>& stub,
                      const std::vector<uint8_t>& configuration, const std::vector<std::vector<uint8_t>>& items,
                      uint64_t volume_size, uint32_t* volumes, std::string* error);
