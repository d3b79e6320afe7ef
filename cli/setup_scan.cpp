#include "cli/setup_scan.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "archive/lzma_decoder.h"
#include "base/memory.h"
#include "base/path_list.h"
#include "base/platform.h"
#include "builder/item_name.h"
#include "builder/setup_resources.h"
#include "cli/setup_reader.h"

namespace {

enum : uint32_t {
  kRawBlockSize = 4,
  kLastPage = 7,
  kTemplateHeaderSize = 18,  // DLGTEMPLATE
  kMaxUninstallName = 339,   // the Uninstall key's path is built in 392 bytes
  kMaxPatternLength = 16384,
  kMaxItemName = 259,
};

// The content of one configuration block and where it came from.
struct Content {
  bool present = false;
  uint16_t id = 0;
  uint64_t header = 0;  // file offset of its block header
  bool compressed = false;
  std::vector<uint8_t> bytes;
};

struct TypeBlocks {
  Content record;
  Content files;
  Content lists[kEntryListCount];  // by EntryListKind
  Content details;
  Content solid;  // block 0x124d
};

// A well-formed FileEntry: its place in its list's content.
struct EntryPlace {
  uint32_t offset;
  const uint8_t* bytes;
};

const char* const kListNames[kEntryListCount] = {"INI entry list", "registry entry list", "string patch list",
                                                 "search path entry list"};

std::string hex_id(uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", id);
  return text;
}

bool is_type_block(uint16_t id) {
  return id == kBlockFileList || id == kBlockIniEntries || id == kBlockRegistryEntries || id == kBlockStringPatches ||
         id == kBlockPathEntries;
}

EntryListKind list_kind(uint16_t id) {
  return id == kBlockPathEntries ? kPathList : static_cast<EntryListKind>(id - kBlockIniEntries);
}

struct Scanner {
  std::string path;
  uint32_t stub_size = 0;
  uint64_t file_size = 0;
  FILE* file = nullptr;
  SetupScan* scan = nullptr;

  Content templates, title, prefix, flags_block, start_block;
  uint32_t setup_flags = 0;
  uint16_t start_page = 0xFFFF, start_type = 0;
  Content architecture_block;
  int type_records = 0;  // 0x123e blocks seen, the seventh and later included
  bool chain_cut = false;  // the walk stopped before the data area: later blocks are unknown
  std::vector<TypeBlocks> types;
  std::vector<std::vector<EntryPlace>> entries;  // per type, its well-formed entries
  std::vector<uint32_t> declared;                // per type, its file list's count

  void add(Rule rule, const std::string& subject, const std::string& where, const std::string& detail) {
    scan->findings.push_back({rule, subject, where, detail});
  }

  std::string at_byte(uint64_t offset) const { return byte_of(offset, path); }

  // Where byte `offset` of a block's content stands.
  std::string where_in(const Content& c, uint64_t offset) const {
    if (!c.compressed) return at_byte(c.header + kBlockHeaderSize + offset);
    return "byte " + std::to_string(offset) + " of the decoded content of block " + hex_id(c.id) + " at " +
           at_byte(c.header);
  }

  bool read_at(uint64_t offset, void* buffer, size_t count) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, count, file) == count;
  }

  // ------------------------------------------------------------------
  // The block chain

  // The content of the block at `header`, decoded as the loader decodes it.
  bool read_content(uint64_t header, uint16_t id, uint16_t flags, uint32_t stored, Content* c) {
    *c = Content{};
    c->id = id;
    c->header = header;
    c->compressed = (flags & kBlockCompressed) != 0;
    uint64_t payload = header + kBlockHeaderSize;
    if (!c->compressed) {
      c->bytes.resize(stored);
      if (stored && !read_at(payload, c->bytes.data(), stored)) {
        add(Rule::kBlockHeader, "", at_byte(payload), "block " + hex_id(id) + " cannot be read");
        return false;
      }
      c->present = true;
      return true;
    }
    if (stored < 4) {
      add(Rule::kBlockStream, "", at_byte(header), "compressed block " + hex_id(id) + " has no room for its length");
      return false;
    }
    // Decoded by the loader's own routine, which bounds what a stream may
    // announce; the decoder leaves the file right behind the stream.
    FileHandle h = open_file(path.c_str(), 0);
    int result = 1;
    uint64_t consumed = 0;
    if (h != INVALID_FILE_HANDLE) {
      seek_to(h, static_cast<uint32_t>(payload));
      uint8_t* slot = nullptr;
      uint32_t length = 0;
      result = ::read_block(h, BlockHeader{id, flags, stored}, &slot, &length);
      consumed = tell_file(h) - (payload + 4);
      if (result == 0) c->bytes.assign(slot, slot + length);
      free_block(&slot);
      close_file(h);
    }
    if (result != 0) {
      add(Rule::kBlockStream, "", at_byte(payload),
          "the stream of block " + hex_id(id) + " does not decode to the length it announces");
      return false;
    }
    if (consumed != stored - 4u)
      add(Rule::kBlockStreamEnd, "", at_byte(payload + 4),
          "the stream of block " + hex_id(id) + " takes " + std::to_string(consumed) + " bytes, its block " +
              std::to_string(stored - 4u));
    c->present = true;
    return true;
  }

  // Blocks the loader reads 4 raw bytes of.
  void check_raw_block(uint64_t header, uint16_t id, uint16_t flags, uint32_t stored) {
    if (flags & kBlockCompressed)
      add(Rule::kRawBlock, "", at_byte(header + 2), "block " + hex_id(id) + " has its compressed bit set");
    if (stored != kRawBlockSize)
      add(Rule::kRawBlock, "", at_byte(header + 4),
          "block " + hex_id(id) + " stores " + std::to_string(stored) + " bytes instead of 4");
  }

  // A block read into a slot that already holds one replaces it.
  void keep(Content* slot, Content&& c, const std::string& owner) {
    if (slot->present)
      add(Rule::kBlockRepeated, owner, at_byte(c.header),
          "a second block " + hex_id(c.id) + " replaces the one at " + at_byte(slot->header));
    *slot = std::move(c);
  }

  void read_block(uint64_t header, uint16_t id, uint16_t flags, uint32_t stored) {
    if (id == kBlockCodePage) {  // read by the host's tools only, as 4 raw bytes
      check_raw_block(header, id, flags, stored);
      return;
    }
    if (id == kBlockScopeChoice) {  // read by the setup raw, its flags and an offset
      if ((flags & kBlockCompressed) || stored != kScopeChoiceSize)
        add(Rule::kRawBlock, "", at_byte(header), "block 0x1248 must store 8 bytes, uncompressed");
      return;
    }
    if (id == kBlockArchitecture) {
      check_raw_block(header, id, flags, stored);
      Content c;
      c.present = true;
      c.id = id;
      c.header = header;
      uint8_t word[4];
      uint32_t code = 0;
      if (stored >= 4 && read_at(header + kBlockHeaderSize, word, 4)) code = get_u32(word);
      if (code < kArchitectureX64 || code > kArchitectureX64Compatible)
        add(Rule::kArchitecture, "", at_byte(header + kBlockHeaderSize),
            "block 0x1247 names architecture " + std::to_string(code) + ", which no setup program takes");
      // Read after a setup type record, it comes too late for that type's folder.
      if (type_records > 0)
        add(Rule::kArchitecture, "", at_byte(header), "block 0x1247 follows a setup type record");
      keep(&architecture_block, std::move(c), "");
      return;
    }
    if (id == kBlockSetupFlags || id == kBlockStartPage) {
      check_raw_block(header, id, flags, stored);
      Content c;
      c.present = true;
      c.id = id;
      c.header = header;
      c.bytes.resize(stored < kRawBlockSize ? stored : kRawBlockSize);
      if (!c.bytes.empty() && !read_at(header + kBlockHeaderSize, c.bytes.data(), c.bytes.size())) return;
      if (id == kBlockSetupFlags) {
        if (c.bytes.size() == 4) setup_flags = get_u32(c.bytes.data());
        keep(&flags_block, std::move(c), "");
      } else {
        if (c.bytes.size() >= 2) start_page = get_u16(c.bytes.data());
        if (c.bytes.size() >= 4) start_type = get_u16(c.bytes.data() + 2);
        keep(&start_block, std::move(c), "");
      }
      return;
    }
    if (id == kBlockProductDetails) {
      read_details(header, flags, stored);
      return;
    }
    if (id == kBlockProductIdentity) {  // the downgrade rule, flags, then the product id
      Content c;
      if (!read_content(header, id, flags, stored, &c)) return;
      const std::vector<uint8_t>& b = c.bytes;
      if (b.size() <= kProductIdOffset || b[kProductIdOffset] == 0 ||
          !std::memchr(b.data() + kProductIdOffset, 0, b.size() - kProductIdOffset))
        add(Rule::kRawBlock, "", at_byte(header), "block 0x124b holds no product id that ends inside it; the setup "
                                                  "then has none");
      else if (b[0] > kDowngradeAllow)
        add(Rule::kRawBlock, "", at_byte(header), "block 0x124b names downgrade rule " + std::to_string(b[0]) +
                                                  ", which the setup takes as \"refuse\"");
      return;
    }
    if (id == kBlockLanguages || id == kBlockLanguageTables) {
      check_languages(header, id, flags, stored);
      return;
    }
    if (id == kBlockSolidStream) {
      check_solid(header, flags, stored);
      return;
    }
    Content* global = nullptr;
    switch (id) {
      case kBlockDialogTemplates: global = &templates; break;
      case kBlockBackgroundTitle: global = &title; break;
      case kBlockItemPrefix: global = &prefix; break;
      case kBlockWizardPicture:
      case kBlockBackgroundPicture:
      case kBlockBackgroundStyle: break;
      case kBlockSetupType: break;
      default:
        if (!is_type_block(id)) return;  // not the installer's to read: skipped
    }
    if (is_type_block(id) && type_records == 0) {
      add(Rule::kTypeBlockFirst, "", at_byte(header), "block " + hex_id(id) + " comes before any setup type record");
      return;
    }
    Content c;
    if (!read_content(header, id, flags, stored, &c)) return;
    if (global) {
      keep(global, std::move(c), "");
    } else if (id == kBlockSetupType) {
      if (++type_records <= kMaxSetupTypes) {
        types.emplace_back();
        types.back().record = std::move(c);
      }
    } else if (is_type_block(id) && type_records <= kMaxSetupTypes) {
      TypeBlocks& t = types.back();
      std::string owner = "setup type " + std::to_string(types.size() - 1);
      keep(id == kBlockFileList ? &t.files : &t.lists[list_kind(id)], std::move(c), owner);
    }
  }

  // Another writer may use the id of the product details for something of
  // its own: the installer takes only a text list that ends inside its
  // block, behind a setup type record, and passes anything else over.
  void read_details(uint64_t header, uint16_t flags, uint32_t stored) {
    Content c;
    const char* why = nullptr;
    // Findings about a block that is not ours are not findings.
    size_t findings = scan->findings.size();
    if (type_records == 0) {
      why = "it comes before any setup type record";
    } else if (!read_content(header, kBlockProductDetails, flags, stored, &c)) {
      why = "its content cannot be read";
    } else {
      const std::vector<uint8_t>& b = c.bytes;
      size_t at = 2;
      for (uint32_t n = b.size() >= 2 ? get_u16(b.data()) : 0; at <= b.size() && n > 0; --n) {
        const void* end = std::memchr(b.data() + at, 0, b.size() - at);
        at = end ? static_cast<const uint8_t*>(end) - b.data() + 1 : b.size() + 1;
      }
      if (at > b.size()) why = "its texts do not all end inside it";
    }
    if (why) {
      scan->findings.resize(findings);
      scan->notes.push_back("block 0x1243 at " + at_byte(header) + " is not product details (" + why +
                            "); passed over");
      return;
    }
    if (type_records <= kMaxSetupTypes)
      keep(&types.back().details, std::move(c), "setup type " + std::to_string(types.size() - 1));
  }

  // A setup type's solid stream block: stored, 16 bytes, settings the
  // setup program's decoder takes.
  void check_solid(uint64_t header, uint16_t flags, uint32_t stored) {
    auto broken = [&](const std::string& why) {
      add(Rule::kSolidStream, type_records > 0 ? "setup type " + std::to_string(type_records - 1) : "", at_byte(header),
          why);
    };
    if (type_records == 0) return broken("block 0x124d comes before any setup type record");
    if ((flags & kBlockCompressed) || stored != kSolidBlockSize)
      return broken("block 0x124d must store 16 bytes, uncompressed");
    Content c;
    if (!read_content(header, kBlockSolidStream, flags, stored, &c)) return;
    const uint8_t* b = c.bytes.data();
    uint32_t lc = b[kSolidProperties] % 9, lp = b[kSolidProperties] / 9 % 5, pb = b[kSolidProperties] / 45;
    uint32_t dictionary = get_u32(b + kSolidDictionary);
    if (b[kSolidMethod] != kSolidLzma) broken("method " + std::to_string(b[kSolidMethod]) + " is not defined");
    if (pb > 4 || lc + lp > 4) broken("LZMA properties " + std::to_string(b[kSolidProperties]) + " are not decoded");
    if (dictionary < kLzmaMinDictionary || dictionary > kLzmaMaxDictionary)
      broken("a dictionary of " + std::to_string(dictionary) + " bytes is outside 4 KiB to 16 MiB");
    if (type_records <= kMaxSetupTypes)
      keep(&types.back().solid, std::move(c), "setup type " + std::to_string(types.size() - 1));
  }

  // The setup passes a language block it cannot read over (it then keeps
  // the record's texts), so a broken one is a warning: each table is
  // checked as the record's text lists are.
  int languages = -1;  // the count of block 0x124a, -1 before one
  void check_languages(uint64_t header, uint16_t id, uint16_t flags, uint32_t stored) {
    Content c;
    if (!read_content(header, id, flags, stored, &c)) return;
    const std::vector<uint8_t>& b = c.bytes;
    const uint32_t n = static_cast<uint32_t>(b.size());
    std::string owner = type_records > 0 ? "setup type " + std::to_string(type_records - 1) : "";
    auto broken = [&](const std::string& why) { add(Rule::kLanguageTables, owner, at_byte(header), why); };
    if (id == kBlockLanguages) {
      uint32_t count = n >= kLanguagesFirstEntry ? get_u16(b.data() + kLanguagesCount) : 0;
      if (count == 0 || (n - kLanguagesFirstEntry) / kLanguageEntrySize < count)
        return broken("block 0x124a does not hold its count of language entries");
      languages = static_cast<int>(count);
      return;
    }
    if (type_records == 0) return broken("block 0x1249 comes before any setup type record");
    if (n < 4 || static_cast<int>(get_u16(b.data())) != languages)
      return broken("block 0x1249 does not hold a table for each language of block 0x124a");
    for (int l = 0; l < languages; ++l) {
      uint32_t at = 4 + 4 * static_cast<uint32_t>(l);
      uint32_t table = at + 4 <= n ? get_u32(b.data() + at) : n;
      if (table > n || n - table < 4 * kLanguageTableLists)
        return broken("the table of language " + std::to_string(l) + " lies outside block 0x1249");
      for (int list = 0; list < kLanguageTableLists; ++list) {
        uint32_t offset = get_u32(b.data() + table + 4 * list);
        if (offset && !text_list_inside(b.data(), n, offset))
          return broken("text list " + std::to_string(list) + " of language " + std::to_string(l) +
                        " does not lie inside block 0x1249, terminated");
      }
    }
  }

  void check_data_area(uint64_t header, uint32_t stored) {
    uint8_t word[4];
    if (file_size - header < kBlockHeaderSize + 4 || !read_at(header + kBlockHeaderSize, word, 4)) {
      add(Rule::kBlockHeader, "", at_byte(header), "the data area's length word lies past the end of the file");
      return;
    }
    uint32_t length = get_u32(word);
    if (stored == 0) {
      add(Rule::kDataAreaSize, "", at_byte(header + 4),
          "the data area block's stored size is 0, which the installer takes for no data area");
      if (!start_block.present) add(Rule::kChainEnd, "", at_byte(header), "the data area block is empty");
      return;
    }
    if (stored != length && static_cast<uint64_t>(stored) != static_cast<uint64_t>(length) + 4)
      add(Rule::kDataAreaSize, "", at_byte(header + 4),
          "stored size " + std::to_string(stored) + " for a data length of " + std::to_string(length));
    else
      scan->notes.push_back(stored == length && length != 0
                                ? "the data area block's stored size is its data length, as Kestrel writes it"
                                : "the data area block's stored size counts its length word and its data");
    uint64_t data_end = header + kBlockHeaderSize + 4 + length;
    if (data_end > file_size) {
      add(Rule::kDataAreaEnd, "", at_byte(header + kBlockHeaderSize),
          "its " + std::to_string(length) + " data bytes run " + std::to_string(data_end - file_size) +
              (data_end - file_size == 1 ? " byte" : " bytes") + " past the end of the file");
    } else {
      // Only a signer's certificate table may follow the data.
      std::string why;
      if (!read_setup_signature(path, data_end, &scan->signature, &why))
        add(Rule::kDataAreaEnd, "", at_byte(data_end), why);
    }
    std::vector<DataVolume> volumes = find_data_volumes(path, header + kBlockHeaderSize);
    for (size_t k = 1; k < volumes.size(); ++k) {
      const DataVolume& v = volumes[k];
      if (!v.length_readable) {
        add(Rule::kVolumeLength, "", byte_of(0, v.path), "the volume file is shorter than its length word");
        continue;
      }
      if (v.file_size != v.data_offset + v.length)
        add(Rule::kVolumeLength, "", byte_of(std::min(v.file_size, v.data_offset + v.length), v.path),
            "the volume file is " + std::to_string(v.file_size) + " bytes for " + std::to_string(v.length) +
                " bytes of data");
      if (v.length == 0) add(Rule::kVolumeEmpty, "", byte_of(0, v.path), "the volume file holds no data");
    }
  }

  void walk_chain() {
    uint64_t pos = stub_size;
    for (;;) {
      if (pos == file_size) {
        if (!start_block.present)
          add(Rule::kChainEnd, "", at_byte(pos), "the block chain ends with the file, without a data area");
        return;
      }
      uint8_t raw[kBlockHeaderSize];
      if (file_size - pos < kBlockHeaderSize || !read_at(pos, raw, sizeof raw)) {
        add(Rule::kBlockHeader, "", at_byte(pos), "the file ends inside a block header");
        chain_cut = true;
        return;
      }
      uint16_t id = get_u16(raw), flags = get_u16(raw + 2);
      uint32_t stored = get_u32(raw + 4);
      if (id == kBlockDataArea) {
        check_data_area(pos, stored);
        return;
      }
      if (stored > file_size - pos - kBlockHeaderSize) {
        add(Rule::kBlockHeader, "", at_byte(pos + 4),
            "block " + hex_id(id) + " of " + std::to_string(stored) + " bytes runs past the end of the file");
        chain_cut = true;
        return;
      }
      read_block(pos, id, flags, stored);
      pos += kBlockHeaderSize + stored;
    }
  }

  // ------------------------------------------------------------------
  // The configuration

  void check_record(int t) {
    const Content& c = types[t].record;
    const std::vector<uint8_t>& r = c.bytes;
    std::string owner = "setup type " + std::to_string(t);
    if (r.size() < kRecordFixedSize) {
      add(Rule::kRecordSize, owner, where_in(c, 0), "the record is " + std::to_string(r.size()) + " bytes");
      return;
    }
    const struct {
      uint32_t field;
      const char* name;
    } strings[] = {{kRecordUninstallName, "uninstall name"}, {kRecordCaption, "caption"},
                   {kRecordDefaultFolder, "folder"},         {kRecordRegistryKey, "registry key"},
                   {kRecordRegistryValue, "registry value"}, {kRecordIniFile, "INI file"},
                   {kRecordIniSection, "INI section"},       {kRecordIniKey, "INI key"}};
    uint32_t length = static_cast<uint32_t>(r.size());
    auto terminated = [&](uint32_t at) { return at < length && std::memchr(&r[at], 0, length - at) != nullptr; };
    for (const auto& s : strings) {
      uint32_t offset = get_u32(&r[s.field]);
      if (offset == 0) continue;
      if (!terminated(offset)) {
        add(Rule::kRecordText, owner, where_in(c, s.field), std::string("the ") + s.name + " at offset " +
                                                                std::to_string(offset) + " is not inside the record");
        continue;
      }
      if (offset < kRecordFixedSize)
        add(Rule::kRecordOffset, owner, where_in(c, s.field),
            std::string("the ") + s.name + " at offset " + std::to_string(offset) + " lies in the fixed fields");
      if (s.field == kRecordUninstallName && std::strlen(reinterpret_cast<const char*>(&r[offset])) > kMaxUninstallName)
        add(Rule::kUninstallName, owner, where_in(c, offset),
            "the uninstall name is " + std::to_string(std::strlen(reinterpret_cast<const char*>(&r[offset]))) +
                " characters long");
    }
    for (int list = 0; list < kTextListCount; ++list) {
      uint32_t field = kRecordTextLists + 4 * list;
      uint32_t offset = get_u32(&r[field]);
      if (offset == 0) continue;
      bool inside = offset < length && length - offset >= 2;
      uint32_t at = offset + 2;
      for (uint16_t n = inside ? get_u16(&r[offset]) : 0; inside && n > 0; --n) {
        inside = terminated(at);
        if (inside) at += static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(&r[at]))) + 1;
      }
      if (!inside)
        add(Rule::kRecordText, owner, where_in(c, field),
            "text list " + std::to_string(list) + " at offset " + std::to_string(offset) + " is not inside the record");
      else if (offset < kRecordFixedSize)
        add(Rule::kRecordOffset, owner, where_in(c, field),
            "text list " + std::to_string(list) + " at offset " + std::to_string(offset) + " lies in the fixed fields");
    }
  }

  std::string item_subject(int t, uint32_t i, const uint8_t* entry) const {
    std::string text = "setup type " + std::to_string(t) + ", item " + std::to_string(i);
    if (entry) text += " (" + setup_text(entry_string(entry, 0)) + ")";
    return text;
  }

  // The entries of a file list that lie whole inside it.
  void read_file_list(int t) {
    entries.emplace_back();
    declared.push_back(0);
    const Content& c = types[t].files;
    if (!c.present) return;
    const std::vector<uint8_t>& b = c.bytes;
    std::string owner = "setup type " + std::to_string(t);
    if (b.size() < 4) {
      add(Rule::kListRecords, owner, where_in(c, 0), "the file list has no room for its count");
      return;
    }
    uint32_t count = get_u32(b.data());
    declared.back() = count;
    uint32_t at = 4, length = static_cast<uint32_t>(b.size());
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = &b[0] + at;
      bool whole = length - at >= kEntryFixedSize;
      uint32_t size = whole ? get_u32(entry) : 0;
      whole = whole && size <= length - at && size >= entry_strings_offset(entry);
      for (uint32_t p = whole ? entry_strings_offset(entry) : 0, s = 0; whole && s < kEntryStringCount; ++s) {
        while (p < size && entry[p] != 0) ++p;
        whole = p < size;
        ++p;
      }
      if (!whole) {
        add(Rule::kListRecords, item_subject(t, i, nullptr), where_in(c, at),
            "the file list announces " + std::to_string(count) + " entries, and entry " + std::to_string(i) +
                " does not fit in it whole");
        return;
      }
      entries.back().push_back({at, entry});
      at += size;
    }
    if (at != length)
      add(Rule::kListTrailing, owner, where_in(c, at),
          std::to_string(length - at) + " bytes follow the last of the file list's " + std::to_string(count) +
              " entries");
  }

  // Arguments of the program run at the end, in the product details, go
  // with a program item: without one the setup never uses them.
  void check_program_arguments(int t) {
    const Content& d = types[t].details;
    if (!d.present) return;
    const char* arguments = list_text(d.bytes.data(), kDetailProgramArguments);
    if (!*arguments) return;
    for (const EntryPlace& place : entries[t])
      if (place.bytes[kEntryFinishRole] == kRoleProgram) return;
    scan->notes.push_back("setup type " + std::to_string(t) +
                          " gives arguments for the program run at the end, but none of its items is that program: "
                          "they are never used");
  }

  void check_entry(int t, uint32_t i) {
    const Content& c = types[t].files;
    const EntryPlace& place = entries[t][i];
    const uint8_t* e = place.bytes;
    std::string subject = item_subject(t, i, e);
    auto value = [&](uint32_t field, uint32_t highest, const char* what) {
      if (e[field] > highest)
        add(Rule::kEntryValue, subject, where_in(c, place.offset + field),
            std::string(what) + " " + std::to_string(e[field]) + " is not defined");
    };
    value(kEntryFinishRole, kRoleProgram, "finish role");
    value(kEntryShared, 1, "shared flag");
    value(kEntryKind, kKindFolder, "item kind");
    value(kEntryRegistration, kRegisterLibrary, "registration");
    if (e[kEntryFlags] & 0x80)
      add(Rule::kEntryValue, subject, where_in(c, place.offset + kEntryFlags), "flag bit 7 is not defined");
    if (e[kEntryFlags] & kItemSolid) {
      auto broken = [&](const std::string& why) {
        add(Rule::kSolidStream, subject, where_in(c, place.offset + kEntryFlags), why);
      };
      if (!types[t].solid.present) broken("flag bit 6 in a setup type without a solid stream");
      if ((e[kEntryFlags] & (kItemPatch | kItemFromSource)) || e[kEntryKind] > kKindRemovable)
        broken("flag bit 6 on an item that reads no stored data of its own");
      if (get_u32(e + kEntryDataPosition) != kSolidNoPosition)
        broken("an item of the solid stream has data position " + std::to_string(get_u32(e + kEntryDataPosition)) +
               " instead of 0xFFFFFFFF");
    }

    uint16_t type = get_u16(e + kEntrySetupType);
    int32_t index = static_cast<int32_t>(get_u32(e + kEntryIndex));
    if (type >= types.size() || index < 0 || static_cast<uint32_t>(index) >= declared[type]) {
      add(Rule::kEntrySource, subject, where_in(c, place.offset + kEntryIndex),
          "it names entry " + std::to_string(index) + " of setup type " + std::to_string(type) +
              ", which does not exist");
    } else if (!(e[kEntryFlags] & kItemPatch) && (type != t || static_cast<uint32_t>(index) != i) &&
               static_cast<uint32_t>(index) < entries[type].size()) {
      const uint8_t* named = entries[type][index].bytes;
      if (get_u32(named + kEntryDataPosition) != get_u32(e + kEntryDataPosition) ||
          get_u32(named + kEntryDataLength) != get_u32(e + kEntryDataLength))
        add(Rule::kEntryShares, subject, where_in(c, place.offset + kEntryIndex),
            "it names entry " + std::to_string(index) + " of setup type " + std::to_string(type) +
                ", whose data lies elsewhere");
      else
        scan->notes.push_back(subject + " names " + item_subject(type, static_cast<uint32_t>(index), named) +
                              " as the entry whose data it uses");
    }

    // Items of the source folder are never written; every other name lands
    // inside a destination folder.
    if (e[kEntryKind] == kKindInSource) return;
    const char* name = entry_string(e, 0);
    uint32_t name_at = place.offset + static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(name) - e);
    std::vector<std::string> parts;
    bool trailing = false;
    std::string why;
    if (!split_item_name(name, &parts, &trailing, &why))
      add(Rule::kItemName, subject, where_in(c, name_at), why);
    else if (trailing && e[kEntryKind] != kKindFolder)
      add(Rule::kItemName, subject, where_in(c, name_at), "a file's name ends in a folder separator");
    else if (std::strlen(name) > kMaxItemName)
      add(Rule::kItemName, subject, where_in(c, name_at), "the name is longer than 259 bytes");
  }

  void check_uninstallers(int t) {
    const Content& c = types[t].files;
    int seen = 0;
    for (uint32_t i = 0; i < entries[t].size(); ++i) {
      const uint8_t* e = entries[t][i].bytes;
      // Patches and copies from beside the setup are no uninstaller items.
      if (!(e[kEntryFlags] & kItemUninstaller) || (e[kEntryFlags] & (kItemPatch | kItemFromSource)) ||
          e[kEntryKind] == kKindInSource || e[kEntryKind] == kKindFolder)
        continue;
      std::string subject = item_subject(t, i, e);
      std::string where = where_in(c, entries[t][i].offset + kEntryFlags);
      if (++seen == 2) add(Rule::kUninstallerCount, subject, where, "a second uninstaller item");
      if (chain_cut) continue;
      if (!prefix.present || prefix.bytes.empty())
        add(Rule::kUninstallerPrefix, subject, where,
            "the archive carries no uninstaller program, so the uninstaller is installed empty");
      else if (get_u32(e + kEntrySize) < 8)
        add(Rule::kUninstallerSize, subject, where_in(c, entries[t][i].offset + kEntrySize),
            "the uninstaller is " + std::to_string(get_u32(e + kEntrySize)) + " bytes long");
    }
  }

  void check_settings(int t, int k) {
    const Content& c = types[t].lists[k];
    if (!c.present) return;
    const std::vector<uint8_t>& b = c.bytes;
    std::string owner = "setup type " + std::to_string(t);
    if (b.size() < 2) {
      add(Rule::kListRecords, owner, where_in(c, 0), std::string("the ") + kListNames[k] + " has no room for its count");
      return;
    }
    const uint8_t* start = b.data();
    const uint8_t* end = start + b.size();
    const uint8_t* p = start + 2;
    uint16_t count = get_u16(start);
    for (uint16_t n = 0; n < count; ++n) {
      const uint8_t* record = p;
      std::string subject = owner + ", " + kListNames[k] + " record " + std::to_string(n);
      IniEntry ini;
      RegistryEntry registry;
      StringPatchEntry patch;
      PathEntry path;
      uint32_t flags_at = 0;
      uint8_t flags = 0;
      switch (k) {
        case kIniList:
          p = parse_ini_entry(p, end, &ini);
          flags = ini.flags;
          break;
        case kRegistryList:
          p = parse_registry_entry(p, end, &registry);
          flags = registry.flags, flags_at = 4;
          break;
        case kPathList:
          if (p < end && *p >= kPathScopeCount) {
            // The setup refuses the list, so this is no tolerated value.
            add(Rule::kListRecords, subject, where_in(c, static_cast<uint32_t>(p - start)),
                "scope " + std::to_string(*p) + " names no search path (0 the user's, 1 the machine's)");
            return;
          }
          p = parse_path_entry(p, end, &path);
          break;
        default: p = parse_string_patch(p, end, &patch);
      }
      uint32_t at = static_cast<uint32_t>(record - start);
      if (!p) {
        add(Rule::kListRecords, subject, where_in(c, at),
            "the list announces " + std::to_string(count) + " records, and this one does not fit in it whole");
        return;
      }
      // INI entries know bits 0 and 1, registry entries bits 0 to 2.
      uint8_t known = k == kIniList ? (kEntryKeepExisting | kEntryDeleteAtUninstall)
                                    : (kEntryKeepExisting | kEntryDeleteAtUninstall | kEntryDeleteKeyIfEmpty);
      if ((k == kIniList || k == kRegistryList) && (flags & ~known))
        add(Rule::kSettingValue, subject, where_in(c, at + flags_at), "flag bits with no meaning are set");
      if (k == kStringPatchList && patch.offset < -1)
        add(Rule::kStringPatch, subject, where_in(c, at), "the offset " + std::to_string(patch.offset) + " is negative");
      if (k == kStringPatchList && patch.offset == -1 &&
          (patch.pattern_length == 0 || patch.pattern_length > kMaxPatternLength))
        add(Rule::kStringPatch, subject, where_in(c, at + 4),
            "a pattern of " + std::to_string(patch.pattern_length) + " bytes can never be found");
    }
    if (p != end)
      add(Rule::kListTrailing, owner, where_in(c, static_cast<uint32_t>(p - start)),
          std::to_string(end - p) + " bytes follow the last record of the " + kListNames[k]);
  }

  void check_templates() {
    const Content& c = templates;
    uint32_t container = (setup_flags & kSetupFullScreen) ? 1 : 0;
    const char* mode = container ? "full-screen" : "windowed";
    bool has_container = false;
    if (c.present) {
      const std::vector<uint8_t>& b = c.bytes;
      uint32_t length = static_cast<uint32_t>(b.size());
      uint32_t table = length >= 4 ? get_u32(b.data()) : 0;
      if (table == 0 || table % 4 != 0 || table > length) {
        add(Rule::kTemplateStore, "", where_in(c, 0),
            "the offsets table of " + std::to_string(table) + " bytes does not fit the store of " +
                std::to_string(length) + " bytes");
      } else {
        for (uint32_t k = 0; k < table / 4; ++k) {
          uint32_t offset = get_u32(&b[4 * k]);
          if (offset == 0) continue;  // an unused number
          if (offset < table || offset > length || length - offset < kTemplateHeaderSize) {
            add(Rule::kTemplateStore, "", where_in(c, 4 * k),
                "template " + std::to_string(k) + " at offset " + std::to_string(offset) + " is not inside the store");
            continue;
          }
          if (k == container) has_container = true;
        }
      }
    }
    if (!has_container)
      add(Rule::kContainerTemplate, "", c.present ? where_in(c, 0) : at_byte(stub_size),
          std::string("the ") + mode + " wizard's container template " + std::to_string(container) + " is missing");
  }

  void check_configuration() {
    if (type_records == 0)
      add(Rule::kTypeCount, "", at_byte(stub_size), "the archive holds no setup type record");
    if (type_records > kMaxSetupTypes)
      add(Rule::kTypeCount, "", at_byte(stub_size),
          "the archive holds " + std::to_string(type_records) + " setup type records");
    if (start_block.present) {
      if (start_page != 0xFFFF && start_page > kLastPage)
        add(Rule::kStartBlock, "", at_byte(start_block.header + kBlockHeaderSize),
            "start page " + std::to_string(start_page) + " is no page of the wizard");
      if (start_type >= types.size())
        add(Rule::kStartBlock, "", at_byte(start_block.header + kBlockHeaderSize + 2),
            "it names setup type " + std::to_string(start_type) + " of " + std::to_string(types.size()));
    }
    if (title.present && (title.bytes.empty() || title.bytes.back() != 0))
      add(Rule::kTitleText, "", where_in(title, title.bytes.size()), "the background title is not terminated");
    check_templates();
    for (size_t t = 0; t < types.size(); ++t) {
      check_record(static_cast<int>(t));
      read_file_list(static_cast<int>(t));
    }
    for (size_t t = 0; t < types.size(); ++t) {
      for (uint32_t i = 0; i < entries[t].size(); ++i) check_entry(static_cast<int>(t), i);
      check_program_arguments(static_cast<int>(t));
      check_uninstallers(static_cast<int>(t));
      for (int k = 0; k < kEntryListCount; ++k) check_settings(static_cast<int>(t), k);
    }
  }
};

}  // namespace

void scan_setup(const std::string& path, uint32_t stub_size, SetupScan* scan) {
  *scan = SetupScan{};
  Scanner s;
  s.path = path;
  s.stub_size = stub_size;
  s.scan = scan;
  s.file = std::fopen(path.c_str(), "rb");
  struct stat st;
  if (!s.file || fstat(fileno(s.file), &st) != 0) {
    if (s.file) std::fclose(s.file);
    s.add(Rule::kBlockHeader, "", byte_of(stub_size, path), "the setup file cannot be read");
    return;
  }
  s.file_size = static_cast<uint64_t>(st.st_size);
  // Windows reads the stub's resources (its manifest, icon and version)
  // before the setup runs.
  std::vector<uint8_t> stub(stub_size <= s.file_size ? stub_size : 0);
  std::string why;
  if (stub.empty() || std::fread(stub.data(), 1, stub.size(), s.file) != stub.size())
    s.add(Rule::kStubResources, "", byte_of(0, path), "the stub cannot be read");
  else if (!describe_setup_resources(stub.data(), stub.size(), &scan->resources, &why))
    s.add(Rule::kStubResources, "", byte_of(0, path), why);
  s.walk_chain();
  std::fclose(s.file);
  s.check_configuration();
}

const char* architecture_name(uint32_t code) {
  switch (code) {
    case kArchitectureX86: return "x86";
    case kArchitectureX64: return "x64";
    case kArchitectureArm64: return "arm64";
    case kArchitectureX64Compatible: return "x64compatible";
    default: return "unknown";
  }
}
