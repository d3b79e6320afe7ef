// Reading a setup file on the host for the inspection commands: the stub
// size from the stub's stamp, the configuration through the same loader the
// stub runs, and each item's installed content from the data area, checked
// as the installer checks it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

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

// The entry a patch is applied to, or null when it names none.
const uint8_t* patch_base(const uint8_t* entry);

// Writes the installed content of `entry` (kStored, kPatch or kUninstaller)
// into a new file at `path` and checks its size and checksum. A patch first
// builds its base there; apply_patch puts a sibling ".$AA" file beside it, so
// `path` belongs in a folder of the caller's own. On failure the file is
// removed and *error says why.
bool write_item_content(const uint8_t* entry, const std::string& path, std::string* error);

// "setup type T, item I (NAME)" for messages.
std::string describe_item(int type, uint32_t index);

// Text with control bytes shown as \xNN, so that names from an archive
// cannot drive the terminal.
std::string printable(const char* text);

// A fresh private folder inside `parent` for temporary files; empty string
// with *error set when it cannot be made.
std::string make_work_folder(const std::string& parent, std::string* error);
