#include "cli/setup_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "archive/patch.h"
#include "archive/platform_host.h"
#include "archive/stub_size.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "archive/languages.h"
#include "archive/lzma_decoder.h"
#include "builder/code_page.h"
#include "builder/data_area_writer.h"
#include "builder/setup_signature.h"
#include "builder/stub_image.h"
#include "cli/cli_support.h"

namespace {

// Stubs are tens of kilobytes; the stamp is looked for this far at most.
const size_t kStubScanLimit = 16u << 20;

SetupFacts Facts;
std::vector<DataVolume> Volumes;
// The code page of the setup's texts: its block 0x1244, else 1252.
unsigned CodePage = kDefaultCodePage;

// The loader may show text 6/31; the tool reports the failure itself.
int keep_quiet(const char*, unsigned) { return kIdOk; }

std::string system_error(const std::string& path) { return path + ": " + std::strerror(errno); }

// The stamp of the stub, which is where the archive begins. The first
// marker in the file is the stub's own; the stamp it carries must then be
// the one unique stamp of that many leading bytes.
bool find_stub_size(const char* path, std::string* error) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return fail(error, system_error(path));
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return fail(error, std::string(path) + ": not a regular file");
  }
  Facts.file_size = static_cast<uint64_t>(st.st_size);
  std::vector<uint8_t> head(std::min<uint64_t>(Facts.file_size, kStubScanLimit));
  bool read = std::fread(head.data(), 1, head.size(), f) == head.size();
  std::fclose(f);
  if (!read) return fail(error, std::string(path) + ": read failed");

  static const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  auto at = std::search(head.begin(), head.end(), kMarker, kMarker + kStubSizeMarkerLength);
  size_t field = static_cast<size_t>(at - head.begin()) + kStubSizeMarkerLength;
  if (at == head.end() || head.size() - field < 4)
    return fail(error, std::string(path) + ": not a setup file (no stamped stub at its start)");
  uint32_t size = get_u32(&head[field]);
  if (size == 0) return fail(error, std::string(path) + ": the stub was never stamped, so no archive is attached");
  uint32_t confirmed = 0;
  if (size > head.size() || !read_stub_size(std::vector<uint8_t>(head.begin(), head.begin() + size), &confirmed) ||
      confirmed != size)
    return fail(error, std::string(path) + ": the stub's stamp (" + std::to_string(size) +
                           " bytes) does not fit the file");
  if (size == Facts.file_size) return fail(error, std::string(path) + ": no archive is attached to the stub");
  Facts.stub_size = size;
  return true;
}

// The code page of block 0x1244, read from the block chain's headers up to
// the data area; the loader passes the block over.
unsigned read_code_page(const char* path) {
  FILE* f = std::fopen(path, "rb");
  unsigned code_page = kDefaultCodePage;
  for (uint64_t at = Facts.stub_size; f && at + kBlockHeaderSize <= Facts.file_size;) {
    uint8_t raw[kBlockHeaderSize + 4];
    if (std::fseek(f, static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(raw, 1, kBlockHeaderSize, f) != kBlockHeaderSize)
      break;
    uint16_t id = get_u16(raw);
    uint32_t stored = get_u32(raw + 4);
    if (id == kBlockDataArea) break;
    if (id == kBlockCodePage && stored == 4 && !(get_u16(raw + 2) & kBlockCompressed) &&
        std::fread(raw + kBlockHeaderSize, 1, 4, f) == 4)
      code_page = get_u32(raw + kBlockHeaderSize);
    at += kBlockHeaderSize + stored;
  }
  if (f) std::fclose(f);
  return code_page;
}

// Puts the data-area reader back on volume 0, as the installation's
// preparation step leaves it.
bool rewind_data_area(std::string* error) {
  close_data_file();
  if (!Facts.has_data_area) return fail(error, "the setup file has no data area");
  volume_number = 0;
  copy_string(ArchivePath, SourcePath, kPathSize);
  volumes_before = 0;
  volume_length = volume_left = Facts.data_length;
  data_file = open_file(ArchivePath, 0);
  if (data_file == INVALID_FILE_HANDLE) return fail(error, system_error(ArchivePath));
  return true;
}

// The data of a volume whose name does not fit the reader's path buffer
// (the setup program's too) cannot be had; the reader then names the
// file it stood in, which is not where the fault lies.
std::string unreadable_data_text() {
  std::string argument = MessageArgument;
  if (volume_number > 0 && argument == ArchivePath) {
    std::string volume = volume_path(SourcePath, volume_number);
    if (volume.size() >= kPathSize)
      return "the setup program cannot open volume file " + volume + ": its name would be " +
             std::to_string(volume.size()) + " bytes, and a path has at most " + std::to_string(kPathSize - 1);
  }
  return "the data cannot be read from " + argument;
}

std::string error_text(uint32_t code) {
  std::string argument = MessageArgument;
  switch (code) {
    case 12: return "out of memory";
    case 16: return "cannot open " + argument;
    case 17: return "cannot create " + argument;
    case 18: return unreadable_data_text();
    case 19: return "writing " + argument + " failed";
    case 20: return "the disk is full";
    case 21: return "checksum mismatch";
    case 22: return "cannot replace " + argument;
  }
  return "failed with code " + std::to_string(code);
}

// Keeps at most `limit` bytes: a damaged stream must not fill the disk
// with more than the item can be.
class CheckedFileSink : public OutputSink {
 public:
  CheckedFileSink(FileHandle file, uint32_t limit) : file_(file), limit_(limit) {}
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    if (count > limit_ - written_) {
      too_long_ = true;
      return false;
    }
    if (write_all(file_, data, count) != 0) {
      write_failed_ = true;
      return false;
    }
    written_ += count;
    return true;
  }
  bool too_long() const { return too_long_; }
  bool write_failed() const { return write_failed_; }

 private:
  FileHandle file_;
  uint32_t limit_;
  uint32_t written_ = 0;
  bool too_long_ = false;
  bool write_failed_ = false;
};

// One item's reading: how the data area is reached and the rules broken.
struct ItemRun {
  const uint8_t* entry;
  DataReading reading;
  ItemCheck* check;
  std::string* error;

  bool fail(Rule rule, const std::string& what) {
    if (check) check->failed = rule;
    *error = what;
    return false;
  }
};

// The data-area position the reader stands at.
uint64_t reader_position() { return static_cast<uint64_t>(volumes_before) + volume_length - volume_left; }

// Positions the reader for a read at `position`: from the first volume
// again, or on from where it stands, which never goes back to a volume it
// has left.
bool reach(ItemRun& run, uint32_t position, const char* what) {
  if (run.reading == DataReading::kAfresh && !rewind_data_area(run.error)) return run.fail(Rule::kItemData, *run.error);
  if (run.reading == DataReading::kContinued && position < volumes_before)
    return run.fail(Rule::kReadOrder, std::string(what) +
                                          " lies in an earlier volume than the installation has reached (" +
                                          printable(ArchivePath) + "), and it never goes back");
  if (uint32_t e = seek_data(position)) return run.fail(Rule::kItemData, error_text(e));
  return true;
}

// The stored data ran from `start` to where the reader stands; it should
// end exactly at its data length.
void note_extent(ItemRun& run, uint32_t start, uint32_t length, const char* what) {
  if (!run.check || run.reading != DataReading::kContinued) return;
  uint64_t end = reader_position();
  if (end == static_cast<uint64_t>(start) + length) return;
  run.check->tolerated.push_back(
      {Rule::kItemDataExtent, "", data_position_text(Volumes, start),
       std::string(what) + " of " + std::to_string(length) + " bytes ends after " + std::to_string(end - start) +
           " bytes"});
}

// Bytes of the data area read straight from the volume files, without
// moving the reader.
bool data_bytes(uint64_t position, uint8_t* out, uint32_t count) {
  for (const DataVolume& v : Volumes) {
    while (count > 0 && position >= v.first_position && position < v.first_position + v.length) {
      FILE* f = std::fopen(v.path.c_str(), "rb");
      if (!f) return false;
      uint64_t offset = v.data_offset + (position - v.first_position);
      uint64_t here = std::min<uint64_t>(count, v.first_position + v.length - position);
      bool read = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
                  std::fread(out, 1, static_cast<size_t>(here), f) == here;
      std::fclose(f);
      if (!read) return false;
      out += here;
      position += here;
      count -= static_cast<uint32_t>(here);
    }
  }
  return count == 0;
}

// The headers of a patch's two blocks use bits 0 to 2 only.
void check_patch_headers(ItemRun& run, uint32_t position) {
  if (!run.check) return;
  uint64_t at = position;
  for (int k = 0; k < 2; ++k) {
    uint8_t header;
    uint8_t field[4];
    if (!data_bytes(at, &header, 1)) return;
    if (header & ~(kPatchCompressed | kPatchLongSize | kPatchLongCompressedSize) & 0xFF)
      run.check->tolerated.push_back({Rule::kPatchBlock, "", data_position_text(Volumes, at),
                                      "patch block " + std::to_string(k) + " has header bits 3 to 7 set"});
    uint32_t wide = (header & kPatchLongSize) ? 4 : 2;
    if (!data_bytes(at + 1, field, wide)) return;
    uint32_t size = wide == 4 ? get_u32(field) : get_u16(field);
    at += 1 + wide;
    if (size == 0) continue;
    if (!(header & kPatchCompressed)) {
      at += size;
      continue;
    }
    wide = (header & kPatchLongCompressedSize) ? 4 : 2;
    if (!data_bytes(at, field, wide)) return;
    at += wide + (wide == 4 ? get_u32(field) : get_u16(field));
  }
}

// Where the solid stream stands: its setup type and how many of its bytes
// were read.
int SolidType = -1;
uint64_t SolidRead = 0;

// The setup type whose file list holds `entry`, and the bytes of that
// type's solid stream that come before it.
bool solid_place(const uint8_t* entry, int* type, uint64_t* offset) {
  for (int t = 0; t < SetupTypeCount; ++t) {
    uint64_t before = 0;
    for (uint32_t i = 0, n = file_entry_count(t); i < n; ++i) {
      const uint8_t* e = file_entry_at(t, i);
      if (e == entry) {
        *type = t;
        *offset = before;
        return true;
      }
      if (e[kEntryFlags] & kItemSolid) before += get_u32(e + kEntryDataLength);
    }
  }
  return false;
}

// Why decoding an item's data into `sink` stopped; `damaged` when the
// data itself is at fault.
bool decode_failure(ItemRun& run, const CheckedFileSink& sink, uint32_t limit, const char* damaged) {
  if (sink.too_long())
    return run.fail(Rule::kItemSize, "its data decodes to more than its " + std::to_string(limit) + " bytes");
  if (sink.write_failed()) return run.fail(Rule::kItemData, "writing the decoded data failed");
  // The reader drops its file when the next volume cannot be opened.
  if (data_file == INVALID_FILE_HANDLE) {
    copy_string(MessageArgument, ArchivePath, kPathSize);
    return run.fail(Rule::kItemData, error_text(kErrorDataUnreadable));
  }
  return run.fail(Rule::kItemData, damaged);
}

// An item of its setup type's solid stream, onto the end of `out`: the
// stream is started (again) where it does not stand at or before the
// item, and what lies before the item is decoded and passed over, so one
// item alone costs the items before it, and a whole type in order nothing.
bool decode_solid_data(ItemRun& run, const uint8_t* entry, FileHandle out, uint32_t limit) {
  int type = -1;
  uint64_t offset = 0;
  if (!solid_place(entry, &type, &offset)) return run.fail(Rule::kItemData, "it is in no file list");
  if (!SolidStream || SolidType != type || SolidRead > offset) {
    if (run.reading == DataReading::kContinued && SolidStream && SolidType == type)
      return run.fail(Rule::kReadOrder, "its bytes lie before what the solid stream has reached");
    if (!rewind_data_area(run.error)) return run.fail(Rule::kItemData, *run.error);
    const SetupTypeSlot& slot = SetupTypeTable[type];
    const uint8_t* s = slot.solid;
    if (!s || slot.solid_length < kSolidBlockSize || s[kSolidMethod] != kSolidLzma)
      return run.fail(Rule::kSolidStream, "its setup type has no solid stream the setup program can read");
    if (uint32_t e = seek_data(get_u32(s + kSolidPosition))) return run.fail(Rule::kItemData, error_text(e));
    int begun = lzma_begin(&SolidStream, s[kSolidProperties], get_u32(s + kSolidDictionary), data_file,
                           get_u32(s + kSolidLength));
    if (begun == kStreamNoMemory) return run.fail(Rule::kItemData, "no memory for the solid stream's dictionary");
    if (begun != 0) return run.fail(Rule::kSolidStream, "the solid stream's settings or first bytes are not LZMA's");
    SolidType = type;
    SolidRead = 0;
  }
  for (uint64_t left; (left = offset - SolidRead) > 0; SolidRead += std::min<uint64_t>(left, 1u << 30))
    if (!lzma_read(SolidStream, nullptr, static_cast<uint32_t>(std::min<uint64_t>(left, 1u << 30))))
      return run.fail(Rule::kItemData, "the solid stream is damaged before this item");
  uint32_t length = get_u32(entry + kEntryDataLength);
  CheckedFileSink sink(out, limit);
  bool ok = lzma_read(SolidStream, &sink, length);
  SolidRead += length;
  if (ok) return true;
  return decode_failure(run, sink, limit, "its data in the solid stream is damaged");
}

// Decodes the stored data of `entry` onto the end of `out`, at most `limit`
// bytes. Stored data of length 0 is an empty file: handing the decoder a
// length of 0 would let it read the setup file without bound.
bool decode_entry_data(ItemRun& run, const uint8_t* entry, FileHandle out, uint32_t limit) {
  if (entry[kEntryFlags] & kItemSolid) return decode_solid_data(run, entry, out, limit);
  uint32_t length = get_u32(entry + kEntryDataLength);
  uint32_t position = get_u32(entry + kEntryDataPosition);
  // The installer positions the reader even for no data.
  if (!reach(run, position, "its data")) return false;
  if (length == 0) return true;
  CheckedFileSink sink(out, limit);
  if (decode_to_sink(sink, data_file, length)) {
    note_extent(run, position, length, "its stream");
    return true;
  }
  return decode_failure(run, sink, limit, "its stored data is damaged");
}

// The file's length and checksum must be the entry's.
bool check_written(ItemRun& run, const uint8_t* entry, const std::string& path, const char* what) {
  FileHandle check = open_file(path.c_str(), 0);
  if (check == INVALID_FILE_HANDLE) return run.fail(Rule::kItemData, system_error(path));
  uint32_t length = file_length(check);
  uint32_t sum = checksum_file(check);
  close_file(check);
  uint32_t size = get_u32(entry + kEntrySize);
  if (length != size)
    return run.fail(Rule::kItemSize, std::string(what) + " is " + std::to_string(length) + " bytes instead of " +
                                         std::to_string(size));
  if (sum != get_u32(entry + kEntryChecksum))
    return run.fail(Rule::kItemChecksum, std::string(what) + ": checksum mismatch");
  return true;
}

// The rule an apply_patch error code breaks.
Rule patch_error_rule(uint32_t code) {
  switch (code) {
    case 19: return Rule::kPatchCommands;
    case 21: return Rule::kItemChecksum;
  }
  return Rule::kItemData;
}

bool write_content(ItemRun& run, const std::string& path) {
  const uint8_t* entry = run.entry;
  ItemContent content = item_content(entry);
  if (content != ItemContent::kStored && content != ItemContent::kPatch && content != ItemContent::kUninstaller)
    return run.fail(Rule::kItemData, "its content is not in the archive");
  const uint8_t* source = entry;
  if (content == ItemContent::kPatch) {
    source = patch_base(entry);
    if (!source) return run.fail(Rule::kPatchBase, "it is a patch without a base entry");
    if (source[kEntryFlags] & kItemPatch) return run.fail(Rule::kPatchBase, "it is a patch of another patch");
  }
  FileHandle out = create_file(path.c_str());
  if (out == INVALID_FILE_HANDLE) return run.fail(Rule::kItemData, system_error(path));
  // Without the uninstaller program the installer leaves the file empty
  // and reads nothing; it does not check what it wrote either.
  if (content == ItemContent::kUninstaller && !carries_uninstaller_program()) {
    close_file(out);
    return true;
  }
  uint32_t limit = get_u32(source + kEntrySize);
  bool ok = true;
  if (content == ItemContent::kUninstaller) {
    if (ItemPrefixBlobLength > limit) ok = run.fail(Rule::kItemSize, "its prefix is longer than the item");
    else if (write_all(out, ItemPrefixBlob, ItemPrefixBlobLength) != 0) ok = run.fail(Rule::kItemData, "writing failed");
    limit -= ok ? ItemPrefixBlobLength : 0;
  }
  ok = ok && decode_entry_data(run, source, out, limit);
  uint8_t flags = source[kEntryFlags];
  if (ok && content != ItemContent::kPatch && (flags & kItemHasTimes)) set_file_times(out, entry_file_times(source));
  close_file(out);
  if (!ok) return false;
  if (content != ItemContent::kPatch) return check_written(run, entry, path, "the decoded file");

  if (!check_written(run, source, path, "its base file")) {
    if (run.check) run.check->failed = Rule::kPatchBase;
    *run.error = "the file it patches: " + *run.error;
    return false;
  }
  uint32_t position = get_u32(entry + kEntryDataPosition);
  if (run.reading == DataReading::kAfresh && !rewind_data_area(run.error)) return run.fail(Rule::kItemData, *run.error);
  if (run.reading == DataReading::kContinued && position < volumes_before)
    return reach(run, position, "its patch");
  check_patch_headers(run, position);
  if (path.size() >= kPathSize) return run.fail(Rule::kItemData, path + ": path too long for patching");
  copy_string(DestPath, entry_string(entry, 0), sizeof DestPath);
  if (uint32_t e = apply_patch(entry, path.c_str(), 0, 0))
    return run.fail(patch_error_rule(e), "patching: " + error_text(e));
  note_extent(run, position, get_u32(entry + kEntryDataLength), "its patch");
  // The patch is checked against the checksum alone; the size must agree too.
  return check_written(run, entry, path, "the patched file");
}

}  // namespace

bool open_setup(const char* path, std::string* error) {
  close_setup();
  Facts = SetupFacts{};
  if (std::strlen(path) >= kPathSize) return fail(error, std::string(path) + ": path too long");
  if (!find_stub_size(path, error)) return false;
  CodePage = read_code_page(path);
  copy_string(SourcePath, path, kPathSize);
  StubSize = Facts.stub_size;
  set_message_box_handler(keep_quiet);
  LoadedArchitecture = 0;
  bool loaded = load_archive();
  set_message_box_handler(nullptr);
  if (!loaded) return fail(error, std::string(path) + ": the archive is damaged or truncated");
  Facts.has_data_area = data_start != 0;
  Facts.data_length = volume_length;
  Facts.data_offset = Facts.has_data_area ? static_cast<uint64_t>(data_start) + 4 : 0;
  Facts.data_area_complete =
      Facts.has_data_area && Facts.data_offset + Facts.data_length <= Facts.file_size;
  if (Facts.has_data_area) Volumes = find_data_volumes(path, data_start);
  return true;
}

bool use_setup_language(const std::string& code) {
  for (int i = 0; i < language_count(); ++i) {
    const uint8_t* entry = language_entry(i);
    if (code == reinterpret_cast<const char*>(entry + kLanguageCode)) {
      use_language(i);
      CodePage = get_u16(entry + kLanguageCodePage);
      return true;
    }
  }
  return false;
}

void close_setup() {
  Volumes.clear();
  CodePage = kDefaultCodePage;
  close_data_file();
  volume_number = 0;
  free_archive();
}

const SetupFacts& setup_facts() { return Facts; }

std::optional<uint64_t> archive_end() {
  if (!Facts.has_data_area) return std::nullopt;
  return Facts.data_offset + Facts.data_length;
}

uint32_t file_entry_count(int type) {
  if (type < 0 || type >= SetupTypeCount || !SetupTypeTable[type].file_list) return 0;
  return get_u32(SetupTypeTable[type].file_list);
}

// The loader has checked that the list's entries lie inside it.
const uint8_t* file_entry_at(int type, uint32_t index) {
  if (index >= file_entry_count(type)) return nullptr;
  const uint8_t* entry = SetupTypeTable[type].file_list + 4;
  for (; index > 0; --index) entry = next_entry(entry);
  return entry;
}

const uint8_t* patch_base(const uint8_t* entry) {
  int32_t index = static_cast<int32_t>(get_u32(entry + kEntryIndex));
  if (index < 0) return nullptr;
  return file_entry_at(get_u16(entry + kEntrySetupType), static_cast<uint32_t>(index));
}

// The installer's order of cases: kinds without content, the source
// folder, a patch, the uninstaller, an ordinary file.
ItemContent item_content(const uint8_t* entry) {
  uint8_t kind = entry[kEntryKind];
  uint8_t flags = entry[kEntryFlags];
  if (kind == kKindInSource || kind == kKindFolder) return ItemContent::kNothing;
  if (flags & kItemFromSource) return ItemContent::kBesideSetup;
  if (flags & kItemPatch) {
    const uint8_t* base = patch_base(entry);
    if (base && (base[kEntryFlags] & kItemFromSource)) return ItemContent::kBesideSetup;
    return ItemContent::kPatch;
  }
  if (flags & kItemUninstaller) return ItemContent::kUninstaller;
  return ItemContent::kStored;
}

bool carries_uninstaller_program() { return ItemPrefixBlob && ItemPrefixBlobLength != 0; }

bool write_item_content(const uint8_t* entry, const std::string& path, std::string* error, DataReading reading,
                        ItemCheck* check) {
  ItemRun run{entry, reading, check, error};
  bool ok = write_content(run, path);
  // A solid stream stays open for the next item, which is most often the
  // next one of the stream; anything else starts from the first volume.
  if (reading == DataReading::kAfresh && (!SolidStream || !ok)) end_data_reading();
  if (!ok) ::unlink(path.c_str());
  return ok;
}

bool pass_over_patch(const uint8_t* entry, std::string* error, ItemCheck* check) {
  ItemRun run{entry, DataReading::kContinued, check, error};
  uint32_t position = get_u32(entry + kEntryDataPosition);
  if (!reach(run, position, "its patch")) return false;
  check_patch_headers(run, position);
  uint8_t* block = nullptr;
  uint32_t size = 0, left = get_u32(entry + kEntryDataLength);
  for (int k = 0; k < 2; ++k) {
    uint32_t e = read_patch_block(&block, &size, &left);
    free_block(&block);
    if (e) return run.fail(Rule::kItemData, "its patch: " + error_text(e));
  }
  note_extent(run, position, get_u32(entry + kEntryDataLength), "its patch");
  return true;
}

bool begin_data_reading(std::string* error) { return rewind_data_area(error); }

void end_data_reading() { close_data_file(); }

std::vector<DataVolume> find_data_volumes(const std::string& setup_path, uint64_t data_start) {
  std::vector<DataVolume> volumes;
  uint64_t position = 0;
  for (uint32_t k = 0;; ++k) {
    DataVolume v;
    v.path = k == 0 ? setup_path : volume_path(setup_path, k);
    FILE* f = std::fopen(v.path.c_str(), "rb");
    if (!f) break;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fclose(f);
      break;
    }
    v.file_size = static_cast<uint64_t>(st.st_size);
    uint64_t word = k == 0 ? data_start : 0;
    uint8_t bytes[4];
    v.length_readable = std::fseek(f, static_cast<long>(word), SEEK_SET) == 0 && std::fread(bytes, 1, 4, f) == 4;
    std::fclose(f);
    v.length = v.length_readable ? get_u32(bytes) : 0;
    v.data_offset = word + 4;
    v.first_position = position;
    position += v.length;
    volumes.push_back(v);
  }
  return volumes;
}

std::string data_position_text(const std::vector<DataVolume>& volumes, uint64_t position) {
  std::string text = "data-area position " + std::to_string(position);
  for (const DataVolume& v : volumes)
    if (position >= v.first_position && position < v.first_position + v.length)
      return text + ", " + byte_of(v.data_offset + (position - v.first_position), v.path);
  return text + ", behind the last volume";
}

const std::vector<DataVolume>& setup_volumes() { return Volumes; }

std::string item_destination(const uint8_t* entry) {
  std::string name = setup_text(entry_string(entry, 0));
  if (entry[kEntryKind] == kKindInSource) return "#SourceDir#\\" + name;
  switch (entry[kEntryFolderCode]) {
    case kFolderWindows: return "#Windows#\\" + name;
    // The system keeps shared files where it finds them, by file name.
    case kFolderShared: return "#System#\\" + name.substr(name.find_last_of('\\') + 1);
    case kFolderFonts: return "#Fonts#\\" + name;
  }
  return "#InstallDir#\\" + name;
}

std::string describe_item(int type, uint32_t index) {
  const uint8_t* entry = file_entry_at(type, index);
  std::string text = "setup type " + std::to_string(type) + ", item " + std::to_string(index);
  if (entry) text += " (" + setup_text(entry_string(entry, 0)) + ")";
  return text;
}

namespace {

// The length of the UTF-8 sequence at `p` (at most `left` bytes), 0 when it
// is none: overlong forms, surrogates and code points past U+10FFFF are not.
size_t utf8_length(const unsigned char* p, size_t left, uint32_t* code_point) {
  size_t n = p[0] < 0xC2 ? 0 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : p[0] < 0xF5 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  uint32_t c = p[0] & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code_point = c;
  return n;
}

void append_code(std::string* out, unsigned char byte) {
  char code[8];
  std::snprintf(code, sizeof code, "\\x%02X", byte);
  *out += code;
}

}  // namespace

std::string printable(const char* text) {
  std::string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (size_t left = std::strlen(text); left > 0;) {
    uint32_t c = p[0];
    size_t n = c < 0x80 ? 1 : utf8_length(p, left, &c);
    bool shown = n != 0 && c >= 0x20 && (c < 0x7F || c >= 0xA0);
    if (n == 0) n = 1;  // a byte that is no UTF-8
    if (shown) out.append(reinterpret_cast<const char*>(p), n);
    else for (size_t i = 0; i < n; ++i) append_code(&out, p[i]);  // a control character: each byte
    p += n;
    left -= n;
  }
  return out;
}

std::string byte_of(uint64_t offset, const std::string& file) {
  return "byte " + std::to_string(offset) + " of " + printable(file.c_str());
}

unsigned setup_code_page() { return CodePage; }

std::string setup_text(const char* text) {
  std::string utf8;
  from_code_page(text, CodePage, &utf8);
  return printable(utf8.c_str());
}

bool host_name(const char* name, std::string* out) { return from_code_page(name, CodePage, out); }

std::string make_work_folder(const std::string& parent, std::string* error) {
  std::string pattern = parent + "/.kestrel-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    *error = system_error(parent);
    return std::string();
  }
  return buffer.data();
}

std::string scratch_parent() {
  const char* tmp = getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::string decoded_item_signature(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!read_file(path.c_str(), &bytes, &error)) return "unreadable";
  return item_signature_text(item_signature(bytes.data(), bytes.size()));
}

void print_stub_resources(const SetupResourceSummary& resources) {
  if (resources.has_version) {
    printf("version resource:");
    for (const auto& [key, value] : resources.strings) printf(" %s %s;", key.c_str(), ("\"" + value + "\"").c_str());
    printf("\n");
  } else {
    printf("version resource: none\n");
  }
  std::string sizes;
  for (const std::string& size : resources.icon_sizes) sizes += (sizes.empty() ? "" : "; ") + size;
  printf("icon: %s\n", sizes.empty() ? "none" : sizes.c_str());
}
