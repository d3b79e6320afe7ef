// The version resource of a Windows program or library, read from its PE
// file on the host, for the version and language comparison of an item.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct PeVersion {
  uint32_t version_ms = 0;  // dwFileVersionMS of VS_FIXEDFILEINFO
  uint32_t version_ls = 0;
  bool has_language = false;
  uint16_t language = 0;    // first language of \VarFileInfo\Translation
};

// False when the bytes are not a PE file or it has no version resource.
// Every offset read from the file is checked against its size.
bool read_pe_version(const uint8_t* data, size_t size, PeVersion* version);

// The key and value of each string of a version block's first string table.
using VersionStrings = std::vector<std::pair<std::u16string, std::u16string>>;

// A VS_VERSIONINFO block itself (the data of a version resource): false
// when it is none. `strings` may be null.
bool read_version_block(const uint8_t* block, size_t size, PeVersion* version, VersionStrings* strings);
