#include "archive/pe_header.h"

#include <cstring>

#include "archive/format.h"

namespace {

bool inside(size_t size, size_t offset, size_t length) { return offset <= size && length <= size - offset; }

}  // namespace

bool read_pe_header(const uint8_t* data, size_t size, PeHeader* header) {
  if (size < 64 || data[0] != 'M' || data[1] != 'Z') return false;
  uint32_t pe = get_u32(data + 60);
  if (!inside(size, pe, 24) || std::memcmp(data + pe, "PE\0\0", 4) != 0) return false;
  uint16_t section_count = get_u16(data + pe + 6), optional_size = get_u16(data + pe + 20);
  size_t optional = size_t{pe} + 24;
  if (!inside(size, optional, optional_size)) return false;
  // PE32 and PE32+ differ in the width of four fields before the count of
  // directories; the checksum stands at the same place in both.
  uint16_t magic = optional_size >= 2 ? get_u16(data + optional) : 0;
  size_t count_field = optional + (magic == 0x20B ? 108 : 92);
  if (magic != 0x10B && magic != 0x20B) return false;
  if (count_field + 4 > optional + optional_size) return false;
  size_t directories = count_field + 4;
  uint32_t count = get_u32(data + count_field);
  uint32_t room = static_cast<uint32_t>((optional + optional_size - directories) / kPeDirectoryEntrySize);
  size_t sections = optional + optional_size;
  if (!inside(size, sections, size_t{kPeSectionEntrySize} * section_count)) return false;
  header->checksum_field = static_cast<uint32_t>(optional + 64);
  header->directories = static_cast<uint32_t>(directories);
  header->directory_count = count < room ? count : room;
  header->sections = static_cast<uint32_t>(sections);
  header->section_count = section_count;
  header->machine = get_u16(data + pe + 4);
  return true;
}

bool pe_directory_entry(const PeHeader& header, uint32_t index, uint32_t* offset) {
  if (index >= header.directory_count) return false;
  *offset = header.directories + kPeDirectoryEntrySize * index;
  return true;
}

uint32_t certificate_entry_beyond(const uint8_t* image, size_t size) {
  PeHeader header;
  uint32_t entry = 0;
  if (!read_pe_header(image, size, &header) || !pe_directory_entry(header, kPeDirectoryCertificates, &entry))
    return 0;
  uint32_t at = get_u32(image + entry), length = get_u32(image + entry + 4);
  return (at == 0 && length == 0) || inside(size, at, length) ? 0 : entry;
}

bool forget_missing_certificate_table(uint8_t* image, size_t size) {
  uint32_t entry = certificate_entry_beyond(image, size);
  if (entry) std::memset(image + entry, 0, kPeDirectoryEntrySize);
  return entry != 0;
}
