// The per-setup-type settings lists: INI entries, registry values, string
// patches and the entries the setup adds to a search path. Each is a u16
// count followed by the records.
#pragma once
#include <cstdint>

struct IniEntry {
  uint8_t flags;  // kEntryKeepExisting, kEntryDeleteAtUninstall
  const char* file;
  const char* section;
  const char* key;
  const char* value;
};

struct RegistryEntry {
  uint32_t root_key;
  uint8_t flags;  // kEntryKeepExisting, kEntryDeleteAtUninstall, kEntryDeleteKeyIfEmpty
  const char* key;
  const char* value_name;
  const char* value;
};

struct StringPatchEntry {
  int32_t offset;  // -1: write after the pattern
  uint32_t pattern_length;
  const char* file;
  const char* text;
  const uint8_t* pattern;
};

// A folder the setup adds to the user's or the machine's search path
// (kPathScope..., base/path_list.h); its macros are expanded at install.
struct PathEntry {
  uint8_t scope;
  const char* folder;
};

// Bit 0 keeps an existing non-empty value. Bit 1 has the uninstaller
// delete the value or entry; bit 2 (registry) the key as well when that
// leaves it empty. Setups that use neither carry neither bit.
enum : uint8_t { kEntryKeepExisting = 0x01, kEntryDeleteAtUninstall = 0x02, kEntryDeleteKeyIfEmpty = 0x04 };

// Each parser reads one record from [p, end) and returns the first byte
// after it, or null when the record does not fit.
const uint8_t* parse_ini_entry(const uint8_t* p, const uint8_t* end, IniEntry* out);
const uint8_t* parse_registry_entry(const uint8_t* p, const uint8_t* end, RegistryEntry* out);
const uint8_t* parse_string_patch(const uint8_t* p, const uint8_t* end, StringPatchEntry* out);
// A scope that names no search path does not fit either.
const uint8_t* parse_path_entry(const uint8_t* p, const uint8_t* end, PathEntry* out);

// List kinds in the order of their slots in a SetupTypeSlot.
enum EntryListKind { kIniList = 0, kRegistryList = 1, kStringPatchList = 2, kPathList = 3, kEntryListCount = 4 };

// True when the list's count and every record fit in `length` bytes.
bool check_entry_list(EntryListKind kind, const uint8_t* list, uint32_t length);
