// Reading a setup file on the host for the inspection commands: the stub
// size from the stub's stamp, the configuration through the same loader the
// stub runs, and each item's installed content from the data area, checked
// as the installer checks it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builder/setup_resources.h"
#include "cli/format_rules.h"

// Loads the archive of the setup file at `path`: every setup type, with the
// one the archive names made current. False with *error saying why.
bool open_setup(const char* path, std::string* error);
// Closes the data area and frees the configuration.
void close_setup();

// What open_setup found beside the configuration.
struct SetupFacts {
  uint32_t stub_size;
  uint64_t file_size;
  bool has_data_area;       // a DataArea block was read
  bool data_area_complete;  // and its data ends inside the setup file
  uint32_t data_length;     // data bytes in the setup file itself
  uint64_t data_offset;     // where in the setup file the first data byte stands
};
const SetupFacts& setup_facts();

// Where the archive of the open setup file ends in it: behind the data
// area's data; unknown for an archive without a data area.
std::optional<uint64_t> archive_end();

// The FileEntry `index` of setup type `type`, or null when there is none.
const uint8_t* file_entry_at(int type, uint32_t index);
uint32_t file_entry_count(int type);

// Where an item's installed content comes from.
enum class ItemContent {
  kNothing,      // a folder, or a file that already lies beside the setup file
  kBesideSetup,  // copied from beside the setup file, or a patch of such a file
  kStored,       // decoded from the data area
  kPatch,        // a patch applied to its base entry's content
  kUninstaller,  // the ItemPrefixBlob followed by the decoded data
};
ItemContent item_content(const uint8_t* entry);

// Whether the archive carries the uninstaller program (block 0x123f), the
// start of every kUninstaller item.
bool carries_uninstaller_program();

// The entry a patch is applied to, or null when it names none.
const uint8_t* patch_base(const uint8_t* entry);

// How an item's reads of the data area begin.
enum class DataReading {
  kAfresh,     // at the first volume again: every item can be had on its own
  kContinued,  // where the previous item left the reader, as the installation
               // reads; begin_data_reading starts a setup type
};

// Rules an item's content broke: the one a failure breaks, and those the
// installer tolerates, found on the way.
struct ItemCheck {
  Rule failed = Rule::kItemData;
  std::vector<Finding> tolerated;
};

// Writes the installed content of `entry` (kStored, kPatch or kUninstaller)
// into a new file at `path` and checks its size and checksum, as the
// installer writes it: an uninstaller without the uninstaller program in
// the archive is an empty file, which the installer does not check. A patch
// first builds its base there; apply_patch builds the new version beside
// it, in a temporary file named like `path` with its extension replaced
// by ".$" and eight random hexadecimal digits, so `path` belongs in a
// folder of the caller's own. On failure the file is removed, *error says
// why and check->failed names the rule.
bool write_item_content(const uint8_t* entry, const std::string& path, std::string* error,
                        DataReading reading = DataReading::kAfresh, ItemCheck* check = nullptr);

// A patch of a file copied from beside the setup: the installer reads its
// patch blocks, which kContinued reading passes over and checks.
bool pass_over_patch(const uint8_t* entry, std::string* error, ItemCheck* check);

// Opens the data area at its first byte, as the installation's preparation
// step does, for the kContinued reads of one setup type.
bool begin_data_reading(std::string* error);
void end_data_reading();

// One piece of the data area: the setup file's, or a volume file's.
struct DataVolume {
  std::string path;
  uint64_t file_size = 0;
  uint64_t data_offset = 0;     // file offset of its first data byte
  uint32_t length = 0;          // its data length word
  bool length_readable = false;
  uint64_t first_position = 0;  // data-area position of its first byte
};

// The setup file's piece and the volume files that follow it beside the
// setup file (SETUP.D01, SETUP.D02, ... as long as they exist), for the
// data area whose length word stands at `data_start` of the setup file.
std::vector<DataVolume> find_data_volumes(const std::string& setup_path, uint64_t data_start);

// "data-area position P, byte B of FILE" for a position inside `volumes`,
// else "data-area position P, behind the last volume".
std::string data_position_text(const std::vector<DataVolume>& volumes, uint64_t position);

// The volumes of the open setup (empty without a data area).
const std::vector<DataVolume>& setup_volumes();

// Where the installer puts an item, its folder named as a macro
// ("#InstallDir#\\bin\\Viewer.exe"), in UTF-8.
std::string item_destination(const uint8_t* entry);

// "setup type T, item I (NAME)" for messages.
std::string describe_item(int type, uint32_t index);

// A UTF-8 text of the host (a path, a name from the Wine prefix) for the
// terminal: control characters, and bytes that are no UTF-8, shown as \xNN,
// so that they cannot drive it.
std::string printable(const char* text);
// "byte N of FILE", the file's name printable.
std::string byte_of(uint64_t offset, const std::string& file);

// The code page of the open setup's texts (block 0x1244, else 1252).
unsigned setup_code_page();
// Makes the open setup speak the language of `code` (block 0x124a), its
// texts then read in that language's code page; false when it offers no
// such language.
bool use_setup_language(const std::string& code);
// A text of the open setup for the terminal: converted from its code page
// into UTF-8, then as printable() shows it.
std::string setup_text(const char* text);
// A name of the open setup as a host file name, in UTF-8; false when a byte
// of it is no character of the code page.
bool host_name(const char* name, std::string* out);

// A fresh private folder inside `parent` for temporary files; empty string
// with *error set when it cannot be made.
std::string make_work_folder(const std::string& parent, std::string* error);

// Where scratch folders go: $TMPDIR, else /tmp.
std::string scratch_parent();

// The signature state of an item decoded into the file at `path`
// (item_signature_text); "unreadable" when the file cannot be read.
std::string decoded_item_signature(const std::string& path);

// The "version resource:" and "icon:" lines of kestrel list and verify.
void print_stub_resources(const SetupResourceSummary& resources);
