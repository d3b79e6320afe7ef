#include "builder/pe_version.h"

#include <cstring>

#include "archive/format.h"
#include "archive/pe_header.h"

namespace {

enum : uint32_t { kResourceVersion = 16, kFixedSignature = 0xFEEF04BD };

struct Image {
  const uint8_t* data;
  size_t size;
  const uint8_t* sections;  // the section table
  uint32_t section_count;

  bool has(size_t offset, size_t length) const { return offset <= size && length <= size - offset; }

  // File offset of a relative virtual address, through the section table.
  bool offset_of(uint32_t rva, uint32_t length, size_t* offset) const {
    for (uint32_t i = 0; i < section_count; ++i) {
      const uint8_t* s = sections + kPeSectionEntrySize * i;
      uint32_t virtual_size = get_u32(s + 8), address = get_u32(s + 12);
      uint32_t raw_size = get_u32(s + 16), raw_at = get_u32(s + 20);
      uint32_t span = virtual_size > raw_size ? virtual_size : raw_size;
      if (rva >= address && rva - address < span) {
        uint32_t into = rva - address;
        if (into > raw_size || length > raw_size - into || !has(size_t{raw_at} + into, length)) return false;
        *offset = size_t{raw_at} + into;
        return true;
      }
    }
    return false;
  }
};

// The first entry of a resource directory whose id is `id` (or any, for
// -1): the offset (inside the resource section) it points at and whether
// that is another directory.
bool directory_entry(const uint8_t* base, size_t length, uint32_t at, int32_t id, uint32_t* target,
                     bool* is_directory) {
  if (at > length || length - at < 16) return false;
  uint32_t count = uint32_t{get_u16(base + at + 12)} + get_u16(base + at + 14);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t e = at + 16 + 8 * i;
    if (e > length || length - e < 8) return false;
    uint32_t name = get_u32(base + e), where = get_u32(base + e + 4);
    bool numeric = (name & 0x80000000u) == 0;
    if (id < 0 || (numeric && name == static_cast<uint32_t>(id))) {
      *target = where & 0x7FFFFFFFu;
      *is_directory = (where & 0x80000000u) != 0;
      return true;
    }
  }
  return false;
}

// VS_VERSIONINFO nodes: u16 length, u16 value length, u16 type, UTF-16
// key, padding to 4, value, padding, children.
struct Node {
  size_t at, length, value_at, value_length, children_at;
  bool is_text;  // value length counts UTF-16 characters
  std::u16string key;
};

bool read_node(const uint8_t* p, size_t limit, size_t at, Node* n) {
  if (at + 6 > limit) return false;
  n->at = at;
  n->length = get_u16(p + at);
  n->value_length = get_u16(p + at + 2);
  n->is_text = get_u16(p + at + 4) == 1;
  if (n->length < 6 || n->length > limit - at) return false;
  size_t end = at + n->length, k = at + 6;
  n->key.clear();
  for (; k + 2 <= end && get_u16(p + k) != 0; k += 2) n->key.push_back(static_cast<char16_t>(get_u16(p + k)));
  if (k + 2 > end) return false;
  k = (k + 2 + 3) & ~size_t{3};
  n->value_at = k;
  size_t bytes = n->is_text ? 2 * n->value_length : n->value_length;
  if (k > end || bytes > end - k) bytes = k > end ? 0 : end - k;
  n->value_length = bytes;
  n->children_at = (k + bytes + 3) & ~size_t{3};
  return true;
}

void read_translation(const uint8_t* p, const Node& root, PeVersion* v) {
  size_t root_end = root.at + root.length;
  for (size_t at = root.children_at; at < root_end;) {
    Node child;
    if (!read_node(p, root_end, at, &child)) return;
    if (child.key == u"VarFileInfo") {
      size_t child_end = child.at + child.length;
      for (size_t c = child.children_at; c < child_end;) {
        Node var;
        if (!read_node(p, child_end, c, &var)) return;
        if (var.key == u"Translation" && var.value_length >= 4) {
          v->has_language = true;
          v->language = get_u16(p + var.value_at);
          return;
        }
        c = (var.at + var.length + 3) & ~size_t{3};
      }
    }
    at = (child.at + child.length + 3) & ~size_t{3};
  }
}

void read_strings(const uint8_t* p, const Node& root, VersionStrings* strings) {
  size_t root_end = root.at + root.length;
  for (size_t at = root.children_at; at < root_end;) {
    Node child;
    if (!read_node(p, root_end, at, &child)) return;
    if (child.key == u"StringFileInfo") {
      Node table;
      size_t child_end = child.at + child.length;
      if (child.children_at >= child_end || !read_node(p, child_end, child.children_at, &table)) return;
      size_t table_end = table.at + table.length;
      for (size_t c = table.children_at; c < table_end;) {
        Node text;
        if (!read_node(p, table_end, c, &text)) return;
        std::u16string value;
        for (size_t k = 0; k + 2 <= text.value_length && get_u16(p + text.value_at + k) != 0; k += 2)
          value.push_back(static_cast<char16_t>(get_u16(p + text.value_at + k)));
        strings->push_back({text.key, value});
        c = (text.at + text.length + 3) & ~size_t{3};
      }
      return;
    }
    at = (child.at + child.length + 3) & ~size_t{3};
  }
}

}  // namespace

bool read_version_block(const uint8_t* p, size_t size, PeVersion* version, VersionStrings* strings) {
  Node root;
  if (!read_node(p, size, 0, &root) || root.key != u"VS_VERSION_INFO" || root.value_length < 52 ||
      get_u32(p + root.value_at) != kFixedSignature)
    return false;
  *version = PeVersion{};
  version->version_ms = get_u32(p + root.value_at + 8);
  version->version_ls = get_u32(p + root.value_at + 12);
  read_translation(p, root, version);
  if (strings) {
    strings->clear();
    read_strings(p, root, strings);
  }
  return true;
}

bool read_pe_version(const uint8_t* data, size_t size, PeVersion* version) {
  PeHeader header;
  uint32_t entry = 0;
  if (!read_pe_header(data, size, &header) || !pe_directory_entry(header, kPeDirectoryResources, &entry))
    return false;
  uint32_t resource_rva = get_u32(data + entry), resource_size = get_u32(data + entry + 4);
  Image image{data, size, data + header.sections, header.section_count};
  if (resource_rva == 0) return false;
  size_t resources = 0;
  if (!image.offset_of(resource_rva, resource_size, &resources)) return false;
  const uint8_t* base = data + resources;
  uint32_t at = 0;
  bool is_directory = false;
  // Type, then the first name, then the first language.
  if (!directory_entry(base, resource_size, 0, kResourceVersion, &at, &is_directory) || !is_directory) return false;
  if (!directory_entry(base, resource_size, at, -1, &at, &is_directory) || !is_directory) return false;
  if (!directory_entry(base, resource_size, at, -1, &at, &is_directory) || is_directory) return false;
  if (at > resource_size || resource_size - at < 16) return false;
  uint32_t data_rva = get_u32(base + at), data_size = get_u32(base + at + 4);
  size_t block = 0;
  if (!image.offset_of(data_rva, data_size, &block)) return false;
  return read_version_block(data + block, data_size, version, nullptr);
}
