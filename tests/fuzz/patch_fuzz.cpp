// The patch applier. Input: u8 mode, then
//   mode bit 0 clear: u32 new size, u32 checksum, u16 n, n bytes of the old
//     file, the rest patch data (the entry's size and checksum as given);
//   mode bit 0 set: u16 n, n bytes of the old file, the rest the new file;
//     the patch is made by the generator, blocks compressed at level
//     (mode >> 1) % 13 (0: never), and must rebuild the new file exactly.
// Rules: success leaves a file of the entry's checksum and at most its
// size; failure leaves the old file as it was; neither leaves a temporary
// file; progress stays between its bounds and never goes back.
#include <vector>

#include "archive/checksum.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/patch.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "builder/patch_generator.h"
#include "tests/data_area_reader.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/native/test_files.h"

namespace {

enum : uint32_t { kMaxNewSize = 1u << 20, kProgressFrom = 40, kProgressTo = 60 };

uint32_t LastProgress;
void check_progress(uint32_t percent) {
  FUZZ_RULE(percent >= LastProgress && percent <= kProgressTo);
  LastProgress = percent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = scratch_path("patch");
  InputCursor in{data, size};
  uint8_t mode = in.u8();
  bool round_trip = mode & 1;
  std::vector<uint8_t> entry(kEntryFixedSize + kEntryStringCount, 0);
  std::vector<uint8_t> patch, wanted;
  if (!round_trip) {
    put_u32(&entry[kEntrySize], in.u32() % (kMaxNewSize + 1));
    put_u32(&entry[kEntryChecksum], in.u32());
  }
  std::vector<uint8_t> old = in.bytes(in.u16());
  std::vector<uint8_t> rest = in.bytes(in.left);
  if (round_trip) {
    wanted = rest;
    PatchBlocks blocks = make_patch(old.data(), old.size(), wanted.data(), wanted.size());
    FUZZ_RULE(encode_patch(blocks, (mode >> 1) % 13, &patch));
    put_u32(&entry[kEntrySize], static_cast<uint32_t>(wanted.size()));
    put_u32(&entry[kEntryChecksum], checksum_block(wanted.data(), static_cast<uint32_t>(wanted.size()), 0));
  } else {
    patch = rest;
  }
  put_u32(&entry[kEntryDataLength], static_cast<uint32_t>(patch.size()));

  fresh_folder(folder);
  std::string setup = folder + "/setup.exe", old_path = folder + "/app.$$A";
  write_data_area_file(setup, patch.data(), patch.size());
  write_bytes(old_path, old);
  std::vector<std::string> before = folder_entries(folder);
  FUZZ_RULE(open_data_area(setup, 0));
  copy_string(DestPath, "C:\\Apps\\app.bin", sizeof DestPath);
  LastProgress = kProgressFrom;
  PatchProgressReport = check_progress;
  uint32_t error = apply_patch(entry.data(), old_path.c_str(), kProgressFrom, kProgressTo);
  close_data_area();

  FUZZ_RULE(folder_entries(folder) == before);
  std::vector<uint8_t> after = read_bytes(old_path);
  if (error == 0) {
    FUZZ_RULE(after.size() <= get_u32(&entry[kEntrySize]));
    FUZZ_RULE(checksum_block(after.data(), static_cast<uint32_t>(after.size()), 0) == get_u32(&entry[kEntryChecksum]));
  } else {
    FUZZ_RULE(error == 12 || (error >= 16 && error <= 22));
    FUZZ_RULE(after == old);
  }
  if (round_trip) FUZZ_RULE(error == 0 && after == wanted);
  return 0;
}
