// The few fields of a PE file's headers that Kestrel reads or adjusts: the
// section table and data directories (for a version resource), the header
// checksum, and the certificate table entry, which signing fills in and
// whose address is a file offset, not an address in memory. Portable: the
// stub uses it on its relaunch copy, the host tool on programs and setups.
// Every offset read from the file is checked against the bytes given.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t {
  kPeDirectoryResources = 2,
  kPeDirectoryCertificates = 4,
  kPeDirectoryEntrySize = 8,
  kPeSectionEntrySize = 40,
};

struct PeHeader {
  uint32_t checksum_field;   // file offset of the u32 CheckSum
  uint32_t directories;      // file offset of the data directory table
  uint32_t directory_count;  // entries present in the header
  uint32_t sections;         // file offset of the section table
  uint16_t section_count;
  uint16_t machine;  // IMAGE_FILE_MACHINE_...: 0x14C x86, 0x8664 x64, 0xAA64 ARM64
};

// False when the bytes do not begin with the headers of a PE image.
bool read_pe_header(const uint8_t* data, size_t size, PeHeader* header);

// File offset of data directory entry `index` (u32 address, u32 size);
// false when the header holds no such entry.
bool pe_directory_entry(const PeHeader& header, uint32_t index, uint32_t* offset);

// File offset of the certificate table entry when it names a table that
// does not lie within the first `size` bytes (a signed image's table
// follows the image): 0 when it names none, or one inside them.
uint32_t certificate_entry_beyond(const uint8_t* image, size_t size);
// Clears the certificate table entry of an image whose table lies outside
// its first `size` bytes: a copy of a signed setup's stub carries no table,
// and a header naming one beyond the file's end would be malformed.
// True when the entry was cleared.
bool forget_missing_certificate_table(uint8_t* image, size_t size);
