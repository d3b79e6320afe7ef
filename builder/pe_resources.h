// The resources of a Windows program as a flat list, read from its
// resource directory and written as a new one: the build gives the stub
// the product's version resource and icon this way. The list keeps the order
// of the directory (types, names, languages), which is the sorted order
// that Windows searches.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint16_t { kResourceIcon = 3, kResourceGroupIcon = 14, kResourceVersion = 16, kResourceManifest = 24 };

// A resource type or name: a number, or a UTF-16 name.
struct ResourceId {
  bool named = false;
  uint16_t number = 0;
  std::u16string name;
  bool operator==(const ResourceId& other) const {
    return named == other.named && (named ? name == other.name : number == other.number);
  }
};

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  std::vector<uint8_t> data;
};

// Every resource of the image, checked whole: each directory, name and
// data entry lies inside the resource section, no directory is met twice
// and the tree is three levels deep. False with *error saying what is
// wrong; an image without resources, or bytes without PE headers, give
// an empty list.
bool read_pe_resources(const uint8_t* image, size_t size, std::vector<Resource>* resources, std::string* error);

// Gives the image `resources` (sorted here as Windows expects them) as a
// new resource section behind its others, which the resource directory
// entry then names; the section that held the old tree keeps its bytes,
// since a linker may have merged other data into it (it is renamed .data
// when it was .rsrc). The headers grow by whole file-alignment units when
// the section table needs room, moving every section's bytes by as much;
// SizeOfImage, SizeOfInitializedData, SizeOfHeaders and a header checksum
// that is set are brought up to date. False with *error, the image
// unchanged, when the layout does not allow it (a directory of file
// offsets such as a certificate table, data behind the sections).
bool write_pe_resources(std::vector<uint8_t>& image, std::vector<Resource> resources, std::string* error);
