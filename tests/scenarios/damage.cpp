// kestrel-damage SETUP KIND [ARGS]: damages a built setup file in place the
// way a broken download, a bad disk or a careless tool would, so that the
// end-to-end tests can watch the setup refuse it instead of faulting.
//
//   truncate-config        cut the file inside the first block's payload
//   truncate-data          cut the last byte of the data area
//   flip-size              flip the top byte of the first block's stored size
//   template-past-end N    point dialog template N past the store's end
//   zero-templates         overwrite the whole template store with zeros
//   cut-text-list T L      end setup type T's record inside text list L
//   text-count T L N       make text list L of setup type T hold N texts
//   foreign-details T      add another writer's block 0x1243, which holds
//                          no text list, behind setup type T's blocks
//   flip-solid N           invert 4 bytes in the middle of the N-th solid
//                          LZMA stream (block 0x124d) of a one-file setup
//
// Blocks whose content changes are written back uncompressed; all others,
// and the data area, keep their bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "archive/format.h"
#include "base/platform.h"
#include "builder/block_writer.h"
#include "builder/stub_image.h"

namespace {

struct Block {
  BlockHeader header;
  uint32_t at = 0;               // file offset of the header
  std::vector<uint8_t> content;  // decoded
  bool changed = false;
};

struct Setup {
  std::vector<uint8_t> bytes;
  uint32_t stub_size = 0;
  std::vector<Block> blocks;  // the configuration, up to the data area
  uint32_t data_area_at = 0;  // header of the data area block
};

int fail(const std::string& message) {
  std::fprintf(stderr, "kestrel-damage: %s\n", message.c_str());
  return 1;
}

bool read_whole(const char* path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool write_whole(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// Walks the chain as the loader does, decoding every configuration block.
bool read_setup(const char* path, Setup* setup, std::string* error) {
  if (!read_whole(path, &setup->bytes)) return *error = std::string(path) + ": cannot be read", false;
  if (!read_stub_size(setup->bytes, &setup->stub_size) || setup->stub_size >= setup->bytes.size())
    return *error = std::string(path) + ": not a setup file", false;
  FileHandle file = open_file(path, 0);
  if (file == INVALID_FILE_HANDLE) return *error = std::string(path) + ": cannot be opened", false;
  const uint64_t end = setup->bytes.size();
  uint64_t at = setup->stub_size;
  bool ok = false;
  while (at + kBlockHeaderSize <= end) {
    const uint8_t* raw = setup->bytes.data() + at;
    Block block;
    block.header = {get_u16(raw), get_u16(raw + 2), get_u32(raw + 4)};
    block.at = static_cast<uint32_t>(at);
    if (block.header.id == kBlockDataArea) {
      setup->data_area_at = block.at;
      ok = true;
      break;
    }
    uint64_t payload = at + kBlockHeaderSize;
    if (payload + block.header.stored_size > end) break;
    if (block.header.flags & kBlockCompressed) {
      if (block.header.stored_size < 4) break;
      uint32_t length = get_u32(setup->bytes.data() + payload);
      block.content.resize(length);
      uint32_t produced = 0;
      seek_to(file, static_cast<uint32_t>(payload + 4));
      if (!decode_to_memory(block.content.data(), length, file, 0, &produced) || produced != length) break;
    } else {
      block.content.assign(setup->bytes.begin() + payload, setup->bytes.begin() + payload + block.header.stored_size);
    }
    setup->blocks.push_back(std::move(block));
    at = payload + setup->blocks.back().header.stored_size;
  }
  close_file(file);
  if (!ok) *error = std::string(path) + ": the block chain is not intact";
  return ok;
}

// The stub, every block (changed ones stored, the rest as they were), and
// the data area with whatever follows it.
std::vector<uint8_t> rebuild(const Setup& setup) {
  std::vector<uint8_t> out(setup.bytes.begin(), setup.bytes.begin() + setup.stub_size);
  std::string error;
  for (const Block& block : setup.blocks) {
    if (block.changed) {
      append_stored_block(&out, block.header.id, block.content, &error);
    } else {
      auto from = setup.bytes.begin() + block.at;
      out.insert(out.end(), from, from + kBlockHeaderSize + block.header.stored_size);
    }
  }
  out.insert(out.end(), setup.bytes.begin() + setup.data_area_at, setup.bytes.end());
  return out;
}

Block* find_block(Setup& setup, uint16_t id, int occurrence = 0) {
  for (Block& block : setup.blocks)
    if (block.header.id == id && occurrence-- == 0) return &block;
  return nullptr;
}

bool number_argument(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  *value = std::strtol(text, &end, 10);
  return end != text && *end == 0 && *value >= low && *value <= high;
}

// Offset of text list `list` inside a setup type record, 0 when absent.
uint32_t text_list_offset(const Block& record, long list) {
  if (record.content.size() < kRecordFixedSize) return 0;
  return get_u32(record.content.data() + kRecordTextLists + 4 * list);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return fail("usage: kestrel-damage SETUP KIND [ARGS]");
  const char* path = argv[1];
  std::string kind = argv[2];
  std::vector<const char*> args(argv + 3, argv + argc);
  Setup setup;
  std::string error;
  if (!read_setup(path, &setup, &error)) return fail(error);
  if (setup.blocks.empty()) return fail("the setup has no configuration blocks");
  std::vector<uint8_t> out;

  if (kind == "truncate-config" && args.empty()) {
    const Block& first = setup.blocks.front();
    out.assign(setup.bytes.begin(), setup.bytes.begin() + first.at + kBlockHeaderSize + first.header.stored_size / 2);
  } else if (kind == "truncate-data" && args.empty()) {
    out.assign(setup.bytes.begin(), setup.bytes.end() - 1);
  } else if (kind == "flip-size" && args.empty()) {
    out = setup.bytes;
    out[setup.blocks.front().at + 7] ^= 0xFF;
  } else if (kind == "template-past-end" && args.size() == 1) {
    long number;
    Block* store = find_block(setup, kBlockDialogTemplates);
    if (!store) return fail("the setup has no dialog templates");
    uint32_t length = static_cast<uint32_t>(store->content.size());
    if (length < 4 || !number_argument(args[0], 0, get_u32(store->content.data()) / 4 - 1, &number))
      return fail("no such template");
    put_u32(store->content.data() + 4 * number, length + 16);
    store->changed = true;
    out = rebuild(setup);
  } else if (kind == "zero-templates" && args.empty()) {
    Block* store = find_block(setup, kBlockDialogTemplates);
    if (!store) return fail("the setup has no dialog templates");
    std::fill(store->content.begin(), store->content.end(), 0);
    store->changed = true;
    out = rebuild(setup);
  } else if ((kind == "cut-text-list" && args.size() == 2) || (kind == "text-count" && args.size() == 3)) {
    long type, list;
    if (!number_argument(args[0], 0, kMaxSetupTypes - 1, &type) ||
        !number_argument(args[1], 0, kTextListCount - 1, &list))
      return fail("setup type 0-5 and text list 0-10 expected");
    Block* record = find_block(setup, kBlockSetupType, static_cast<int>(type));
    uint32_t offset = record ? text_list_offset(*record, list) : 0;
    if (!offset || offset + 4 > record->content.size()) return fail("the setup type has no such text list");
    if (kind == "cut-text-list") {
      // The count stays, the strings stop a byte into the list's first one.
      record->content.resize(offset + 3);
      record->content[offset + 2] = 'x';
    } else {
      long count;
      if (!number_argument(args[2], 0, 0xFFFF, &count)) return fail("a count of 0-65535 expected");
      put_u16(record->content.data() + offset, static_cast<uint16_t>(count));
    }
    record->changed = true;
    out = rebuild(setup);
  } else if (kind == "foreign-details" && args.size() == 1) {
    long type;
    if (!number_argument(args[0], 0, kMaxSetupTypes - 1, &type)) return fail("setup type 0-5 expected");
    Block* record = find_block(setup, kBlockSetupType, static_cast<int>(type));
    if (!record) return fail("the setup has no such setup type");
    // Behind the blocks of the type's own: its file list and its lists.
    auto own = [](uint16_t id) { return id == kBlockFileList || (id >= kBlockIniEntries && id <= kBlockProductDetails); };
    size_t at = static_cast<size_t>(record - setup.blocks.data()) + 1;
    while (at < setup.blocks.size() && own(setup.blocks[at].header.id)) ++at;
    // Its first two bytes read as a count of 21,583 texts, none of them there.
    const char other[] = "OTHER WRITER";
    Block block;
    block.header = {kBlockProductDetails, 0, static_cast<uint32_t>(sizeof other - 1)};
    block.content.assign(other, other + sizeof other - 1);
    block.changed = true;
    setup.blocks.insert(setup.blocks.begin() + static_cast<long>(at), std::move(block));
    out = rebuild(setup);
  } else if (kind == "flip-solid" && args.size() == 1) {
    long number;
    if (!number_argument(args[0], 0, kMaxSetupTypes - 1, &number)) return fail("a stream 0-5 expected");
    const Block* solid = find_block(setup, kBlockSolidStream, static_cast<int>(number));
    if (!solid || solid->content.size() < kSolidBlockSize) return fail("the setup has no such solid stream");
    uint32_t length = get_u32(solid->content.data() + kSolidLength);
    uint64_t at = static_cast<uint64_t>(setup.data_area_at) + kBlockHeaderSize + 4 +
                  get_u32(solid->content.data() + kSolidPosition) + length / 2;
    if (length < 16 || at + 4 > setup.bytes.size()) return fail("the solid stream is not in the setup file");
    out = setup.bytes;
    for (int i = 0; i < 4; ++i) out[at - 2 + i] ^= 0xFF;
  } else {
    return fail("unknown damage " + kind + " or wrong arguments");
  }
  if (!write_whole(path, out)) return fail(std::string(path) + ": cannot be written");
  return 0;
}
