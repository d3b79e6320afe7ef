#include "builder/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "archive/format.h"
#include "archive/pe_header.h"
#include "builder/program_layout.h"

namespace {

// Offsets in the optional header (PE32 and PE32+ alike) and a section entry.
enum : uint32_t {
  kInitializedData = 8,
  kSectionAlignment = 32,
  kFileAlignment = 36,
  kSizeOfImage = 56,
  kSizeOfHeaders = 60,
  kVirtualSize = 8,
  kVirtualAddress = 12,
  kRawSize = 16,
  kRawAt = 20,
  kCharacteristics = 36,
};
enum : uint32_t { kDirectoryDebug = 6, kHasInitializedData = 0x40, kMemoryRead = 0x40000000u };
enum : uint32_t { kSubdirectory = 0x80000000u, kNamedEntry = 0x80000000u };

bool fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

uint32_t span_of(const uint8_t* section) {
  return std::max(get_u32(section + kVirtualSize), get_u32(section + kRawSize));
}

// The image as the loader maps it, section by section: bytes of the file,
// zeros beyond them up to the size in memory.
struct Mapped {
  const uint8_t* image;
  size_t size;
  const uint8_t* sections;
  uint32_t count;

  bool copy(uint32_t rva, uint32_t length, std::vector<uint8_t>* out) const {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* s = sections + kPeSectionEntrySize * i;
      uint32_t address = get_u32(s + kVirtualAddress), span = span_of(s);
      if (rva < address || rva - address >= span) continue;
      uint32_t into = rva - address;
      if (length > span - into) return false;
      uint32_t raw_size = get_u32(s + kRawSize), raw_at = get_u32(s + kRawAt);
      out->assign(length, 0);
      if (into < raw_size) {
        uint32_t from_file = std::min(length, raw_size - into);
        if (raw_at > size || from_file > size - raw_at || into > size - raw_at - from_file) return false;
        std::copy_n(image + raw_at + into, from_file, out->begin());
      }
      return true;
    }
    return false;
  }
  // How far the section holding `rva` reaches beyond it in memory.
  uint32_t room(uint32_t rva) const {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* s = sections + kPeSectionEntrySize * i;
      uint32_t address = get_u32(s + kVirtualAddress), span = span_of(s);
      if (rva >= address && rva - address < span) return span - (rva - address);
    }
    return 0;
  }
};

struct TreeReader {
  const Mapped& mapped;
  std::vector<uint8_t> tree;     // the section from the root on
  std::set<uint32_t> seen;
  std::string* error;

  bool id_of(uint32_t field, ResourceId* id) {
    if (!(field & kNamedEntry)) {
      if (field > 0xFFFF) return fail(error, "a resource number is larger than 65535");
      *id = ResourceId{false, static_cast<uint16_t>(field), {}};
      return true;
    }
    uint32_t at = field & ~kNamedEntry;
    if (at > tree.size() || tree.size() - at < 2) return fail(error, "a resource name lies outside the resource section");
    uint32_t length = get_u16(tree.data() + at);
    if ((tree.size() - at - 2) / 2 < length) return fail(error, "a resource name runs past the resource section");
    id->named = true;
    id->name.clear();
    for (uint32_t k = 0; k < length; ++k) id->name.push_back(static_cast<char16_t>(get_u16(tree.data() + at + 2 + 2 * k)));
    return true;
  }

  // Directory at `at`, `level` 0 (types) to 2 (languages).
  bool directory(uint32_t at, int level, Resource& path, std::vector<Resource>* out) {
    if (!seen.insert(at).second) return fail(error, "a resource directory is reached twice");
    if (at > tree.size() || tree.size() - at < 16) return fail(error, "a resource directory lies outside the resource section");
    uint32_t count = uint32_t{get_u16(tree.data() + at + 12)} + get_u16(tree.data() + at + 14);
    if ((tree.size() - at - 16) / 8 < count) return fail(error, "a resource directory runs past the resource section");
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = tree.data() + at + 16 + 8 * i;
      uint32_t name = get_u32(e), target = get_u32(e + 4);
      bool sub = (target & kSubdirectory) != 0;
      if (sub != (level < 2)) return fail(error, "the resource tree is not three levels deep");
      if (level == 0 && !id_of(name, &path.type)) return false;
      if (level == 1 && !id_of(name, &path.name)) return false;
      if (level == 2) {
        if (name & kNamedEntry || name > 0xFFFF) return fail(error, "a resource language is not a number");
        path.language = static_cast<uint16_t>(name);
      }
      if (sub) {
        if (!directory(target & ~kSubdirectory, level + 1, path, out)) return false;
        continue;
      }
      if (target > tree.size() || tree.size() - target < 16) return fail(error, "a resource data entry lies outside the resource section");
      uint32_t rva = get_u32(tree.data() + target), length = get_u32(tree.data() + target + 4);
      path.code_page = get_u32(tree.data() + target + 8);
      if (!mapped.copy(rva, length, &path.data)) return fail(error, "a resource's data lies outside the image");
      out->push_back(path);
    }
    return true;
  }
};

bool id_less(const ResourceId& a, const ResourceId& b) {
  if (a.named != b.named) return a.named;  // names come before numbers
  return a.named ? a.name < b.name : a.number < b.number;
}

uint32_t round_up(uint32_t n, uint32_t unit) { return (n + unit - 1) / unit * unit; }

// The tree of sorted resources, placed at `rva`: directories, data
// entries, names, then the data, each on an 8-byte boundary.
std::vector<uint8_t> build_tree(const std::vector<Resource>& list, uint32_t rva) {
  struct Dir {
    std::vector<std::pair<const ResourceId*, size_t>> entries;  // id, child dir or resource index
    uint32_t named = 0;
  };
  std::vector<Dir> dirs(1);
  std::vector<int> level_of(1, 0);
  // Resources arrive sorted; equal types and names are neighbours.
  for (size_t i = 0; i < list.size(); ++i) {
    const Resource& r = list[i];
    Dir& root = dirs[0];
    if (root.entries.empty() || !(*root.entries.back().first == r.type)) {
      root.entries.push_back({&r.type, dirs.size()});
      dirs.emplace_back();
      level_of.push_back(1);
    }
    size_t type_dir = dirs[0].entries.back().second;
    if (dirs[type_dir].entries.empty() || !(*dirs[type_dir].entries.back().first == r.name)) {
      dirs[type_dir].entries.push_back({&r.name, dirs.size()});
      dirs.emplace_back();
      level_of.push_back(2);
    }
    size_t name_dir = dirs[type_dir].entries.back().second;
    dirs[name_dir].entries.push_back({nullptr, i});
  }
  // Directories in breadth order: the root, the types, the names.
  std::vector<size_t> order;
  for (int level = 0; level < 3; ++level)
    for (size_t d = 0; d < dirs.size(); ++d)
      if (level_of[d] == level) order.push_back(d);
  std::vector<uint32_t> dir_at(dirs.size());
  uint32_t at = 0;
  for (size_t d : order) {
    dir_at[d] = at;
    at += 16 + 8 * static_cast<uint32_t>(dirs[d].entries.size());
  }
  uint32_t entries_at = at;
  at += 16 * static_cast<uint32_t>(list.size());
  std::vector<uint8_t> names;
  std::vector<std::pair<const ResourceId*, uint32_t>> name_at;
  auto name_offset = [&](const ResourceId* id) {
    for (auto& [known, offset] : name_at)
      if (*known == *id) return offset;
    uint32_t offset = at + static_cast<uint32_t>(names.size());
    names.push_back(static_cast<uint8_t>(id->name.size()));
    names.push_back(static_cast<uint8_t>(id->name.size() >> 8));
    for (char16_t c : id->name) {
      names.push_back(static_cast<uint8_t>(c));
      names.push_back(static_cast<uint8_t>(c >> 8));
    }
    name_at.push_back({id, offset});
    return offset;
  };
  for (const Resource& r : list) {
    if (r.type.named) name_offset(&r.type);
    if (r.name.named) name_offset(&r.name);
  }
  at = round_up(at + static_cast<uint32_t>(names.size()), 8);
  std::vector<uint32_t> data_at(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    data_at[i] = at;
    at = round_up(at + static_cast<uint32_t>(list[i].data.size()), 8);
  }
  std::vector<uint8_t> out(at, 0);
  for (size_t d : order) {
    uint8_t* p = out.data() + dir_at[d];
    uint32_t named = 0;
    for (auto& e : dirs[d].entries) named += e.first && e.first->named ? 1 : 0;
    put_u16(p + 12, static_cast<uint16_t>(named));
    put_u16(p + 14, static_cast<uint16_t>(dirs[d].entries.size() - named));
    for (size_t k = 0; k < dirs[d].entries.size(); ++k) {
      auto [id, child] = dirs[d].entries[k];
      uint8_t* e = p + 16 + 8 * k;
      if (!id) {  // a language: the leaf
        put_u32(e, list[child].language);
        put_u32(e + 4, entries_at + 16 * static_cast<uint32_t>(child));
      } else {
        put_u32(e, id->named ? kNamedEntry | name_offset(id) : id->number);
        put_u32(e + 4, kSubdirectory | dir_at[child]);
      }
    }
  }
  std::copy(names.begin(), names.end(), out.begin() + (name_at.empty() ? 0 : name_at[0].second));
  for (size_t i = 0; i < list.size(); ++i) {
    uint8_t* e = out.data() + entries_at + 16 * i;
    put_u32(e, rva + data_at[i]);
    put_u32(e + 4, static_cast<uint32_t>(list[i].data.size()));
    put_u32(e + 8, list[i].code_page);
    std::copy(list[i].data.begin(), list[i].data.end(), out.begin() + data_at[i]);
  }
  return out;
}

}  // namespace

bool read_pe_resources(const uint8_t* image, size_t size, std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  PeHeader header;
  uint32_t entry = 0;
  if (!read_pe_header(image, size, &header) || !pe_directory_entry(header, kPeDirectoryResources, &entry)) return true;
  uint32_t rva = get_u32(image + entry);
  if (rva == 0) return true;
  Mapped mapped{image, size, image + header.sections, header.section_count};
  TreeReader reader{mapped, {}, {}, error};
  if (!mapped.copy(rva, mapped.room(rva), &reader.tree) || reader.tree.empty())
    return fail(error, "the resource directory lies outside the image's sections");
  Resource path;
  return reader.directory(0, 0, path, resources);
}

bool write_pe_resources(std::vector<uint8_t>& image, std::vector<Resource> resources, std::string* error) {
  PeHeader header;
  uint32_t entry = 0;
  if (!read_pe_header(image.data(), image.size(), &header) ||
      !pe_directory_entry(header, kPeDirectoryResources, &entry))
    return fail(error, "not a Windows program with a resource directory");
  const uint32_t optional = header.checksum_field - 64;
  const uint32_t file_unit = get_u32(image.data() + optional + kFileAlignment);
  const uint32_t memory_unit = get_u32(image.data() + optional + kSectionAlignment);
  const uint32_t headers_size = get_u32(image.data() + optional + kSizeOfHeaders);
  if (file_unit < 512 || file_unit > 65536 || (file_unit & (file_unit - 1)) || memory_unit < file_unit ||
      (memory_unit & (memory_unit - 1)))
    return fail(error, "the program's alignments are not powers of two");
  for (uint32_t index : {uint32_t{kPeDirectoryCertificates}, uint32_t{kDirectoryDebug}}) {
    uint32_t at = 0;
    if (pe_directory_entry(header, index, &at) && (get_u32(image.data() + at) || get_u32(image.data() + at + 4)))
      return fail(error, "the program carries a certificate table or debug directory, whose file offsets would go stale");
  }
  const uint32_t old_rva = get_u32(image.data() + entry);
  const uint32_t table_end = header.sections + kPeSectionEntrySize * header.section_count;
  uint32_t file_end = round_up(headers_size, file_unit), image_end = 0, first_section = 0xFFFFFFFFu;
  int old_section = -1;
  for (uint32_t i = 0; i < header.section_count; ++i) {
    const uint8_t* s = image.data() + header.sections + kPeSectionEntrySize * i;
    uint32_t address = get_u32(s + kVirtualAddress), raw_at = get_u32(s + kRawAt), raw_size = get_u32(s + kRawSize);
    if (old_rva && address == old_rva) old_section = static_cast<int>(i);
    if (raw_size && (raw_at < headers_size || raw_at % file_unit)) return fail(error, "a section lies among the headers");
    if (raw_size) file_end = std::max(file_end, raw_at + raw_size);
    image_end = std::max(image_end, address + span_of(s));
    first_section = std::min(first_section, address);
  }
  if (file_end != image.size()) return fail(error, "the program carries data after its sections");
  if (headers_size > image.size() || table_end > headers_size) return fail(error, "the program's headers are incomplete");

  // The new tree goes into a section of its own behind the others: the
  // section that held the old tree may hold other data too (the linker
  // merges the imports and variables into it), which stays where it is.
  // The headers grow by whole file units when the section table has no
  // room for one more entry; every section's bytes then move down by as
  // much, and nothing but the section table names a file offset.
  uint32_t grow = 0;
  while (table_end + kPeSectionEntrySize > headers_size + grow) grow += file_unit;
  if (headers_size + grow > first_section) return fail(error, "the program's headers have no room for another section");
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    if (!(a.type == b.type)) return id_less(a.type, b.type);
    if (!(a.name == b.name)) return id_less(a.name, b.name);
    return a.language < b.language;
  });
  const uint32_t rva = round_up(image_end, memory_unit);
  std::vector<uint8_t> tree = build_tree(resources, rva);
  const uint32_t tree_size = static_cast<uint32_t>(tree.size());
  tree.resize(round_up(tree_size, file_unit), 0);

  std::vector<uint8_t> out(image.begin(), image.begin() + headers_size);
  out.resize(headers_size + grow, 0);
  out.insert(out.end(), image.begin() + headers_size, image.end());
  const uint32_t raw_at = static_cast<uint32_t>(out.size());
  out.insert(out.end(), tree.begin(), tree.end());
  uint8_t* table = out.data() + header.sections;
  for (uint32_t i = 0; i < header.section_count; ++i) {
    uint8_t* s = table + kPeSectionEntrySize * i;
    if (grow && get_u32(s + kRawSize)) put_u32(s + kRawAt, get_u32(s + kRawAt) + grow);
  }
  // The section that held the old tree keeps its other data; its name no
  // longer claims the resources.
  if (old_section >= 0 && std::memcmp(table + kPeSectionEntrySize * old_section, ".rsrc\0\0\0", 8) == 0)
    std::memcpy(table + kPeSectionEntrySize * old_section, ".data\0\0\0", 8);
  uint8_t* added = table + kPeSectionEntrySize * header.section_count;
  std::fill(added, added + kPeSectionEntrySize, 0);
  std::memcpy(added, ".rsrc\0\0\0", 8);
  put_u32(added + kVirtualSize, tree_size);
  put_u32(added + kVirtualAddress, rva);
  put_u32(added + kRawSize, static_cast<uint32_t>(tree.size()));
  put_u32(added + kRawAt, raw_at);
  put_u32(added + kCharacteristics, kHasInitializedData | kMemoryRead);
  // NumberOfSections, in the file header behind the PE signature.
  put_u16(out.data() + get_u32(out.data() + 60) + 6, static_cast<uint16_t>(header.section_count + 1));
  put_u32(out.data() + optional + kSizeOfHeaders, headers_size + grow);
  put_u32(out.data() + optional + kSizeOfImage, rva + round_up(tree_size, memory_unit));
  put_u32(out.data() + optional + kInitializedData,
          get_u32(out.data() + optional + kInitializedData) + static_cast<uint32_t>(tree.size()));
  put_u32(out.data() + entry, rva);
  put_u32(out.data() + entry + 4, tree_size);
  if (get_u32(out.data() + header.checksum_field) != 0) write_pe_checksum(out);
  image.swap(out);
  return true;
}
