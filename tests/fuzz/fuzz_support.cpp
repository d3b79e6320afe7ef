#include "tests/fuzz/fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "archive/format.h"
#include "archive/stub_size.h"
#include "builder/data_area_writer.h"
#include "tests/native/test_files.h"

namespace fs = std::filesystem;

void fuzz_rule_broken(const char* condition, const char* file, int line) {
  // Straight to the descriptor: the target may have silenced stderr.
  dprintf(2, "\n==fuzz== rule broken at %s:%d: %s\n", file, line, condition);
  abort();
}

std::string scratch_path(const std::string& name) {
  static TempDir scratch;
  return scratch.file(name);
}

void fresh_folder(const std::string& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
}

void write_input(const std::string& path, const uint8_t* data, size_t size) {
  write_bytes(path, std::vector<uint8_t>(data, data + size));
}

void write_data_area_file(const std::string& path, const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(kBlockHeaderSize + 4);
  put_u32(file.data() + kBlockHeaderSize, static_cast<uint32_t>(size));
  file.insert(file.end(), data, data + size);
  write_bytes(path, file);
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> out;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(e.path(), folder).string();
    if (e.is_symlink() || (!e.is_regular_file() && !e.is_directory())) name += "@";
    else if (e.is_directory()) name += "/";
    out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool same_content(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (!fs::is_regular_file(a, ec) || !fs::is_regular_file(b, ec)) return false;
  return read_bytes(a) == read_bytes(b);
}

void quiet_standard_streams() {
  if (!std::freopen("/dev/null", "w", stdout)) abort();
  // Only the stream: descriptor 2 stays for the sanitizers and libFuzzer.
  stderr = std::fopen("/dev/null", "w");
  if (!stderr) abort();
}

const uint8_t kVolumeSeparator[8] = {'~', 'V', 'O', 'L', 'U', 'M', 'E', '~'};

std::vector<uint8_t> minimal_stub() {
  static const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::vector<uint8_t> stub(kMarker, kMarker + kStubSizeMarkerLength);
  stub.resize(sizeof(StubSizeRecord));
  put_u32(stub.data() + kStubSizeMarkerLength, static_cast<uint32_t>(stub.size()));
  return stub;
}

// More volumes find nothing new; the rest goes into the last one.
enum : int { kMaxVolumes = 16 };

std::string write_setup_input(const std::string& folder, const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  std::vector<uint8_t> piece = minimal_stub();
  for (int volume = 0;; ++volume) {
    const uint8_t* cut = volume == kMaxVolumes ? end
                                               : std::search(data, end, kVolumeSeparator,
                                                             kVolumeSeparator + sizeof kVolumeSeparator);
    piece.insert(piece.end(), data, cut);
    std::string setup = folder + "/setup.exe";
    write_bytes(volume == 0 ? setup : volume_path(setup, volume), piece);
    if (cut == end) break;
    data = cut + sizeof kVolumeSeparator;
    piece.clear();
  }
  return folder + "/setup.exe";
}

uint8_t InputCursor::u8() {
  if (left == 0) return 0;
  --left;
  return *next++;
}

uint16_t InputCursor::u16() {
  uint16_t low = u8();
  return static_cast<uint16_t>(low | (u8() << 8));
}

uint32_t InputCursor::u32() {
  uint32_t low = u16();
  return low | (static_cast<uint32_t>(u16()) << 16);
}

std::vector<uint8_t> InputCursor::bytes(size_t count) {
  count = std::min(count, left);
  std::vector<uint8_t> out(next, next + count);
  next += count;
  left -= count;
  return out;
}
