// kestrel list, verify and extract on a whole setup. Input: u8 setup type
// for extract (6 and above: the archive's own), u8 n: the setup's path is
// 240 + n % 24 bytes long (0: a short one), around the 260 that Windows
// paths hold; then the archive and its volumes (fuzz_support.h). Rules: the three commands agree on whether the
// setup can be read; none changes the setup or writes beside it; verify
// leaves no scratch file; extract writes only inside its folder, only
// folders and regular files, and every file it leaves is a whole item of
// the setup type, with the item's size and checksum.
#include <stdlib.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/native/test_files.h"

namespace {

int run(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int result = command(static_cast<int>(args.size()), argv.data());
  FUZZ_RULE(result == kExitOk || result == kExitFailed);
  return result;
}

// Size and checksum of every item of the type that has content.
std::set<std::pair<uint32_t, uint32_t>> item_contents(const std::string& setup, int type) {
  std::set<std::pair<uint32_t, uint32_t>> contents;
  std::string error;
  if (!open_setup(setup.c_str(), &error)) return contents;
  if (type < 0) type = CurrentSetupType;
  for (uint32_t i = 0; i < file_entry_count(type); ++i) {
    const uint8_t* entry = file_entry_at(type, i);
    contents.insert({get_u32(entry + kEntrySize), get_u32(entry + kEntryChecksum)});
  }
  close_setup();
  return contents;
}

void check_extracted(const std::string& out, const std::string& setup, int type) {
  std::set<std::pair<uint32_t, uint32_t>> contents = item_contents(setup, type);
  for (const std::string& name : folder_entries(out)) {
    FUZZ_RULE(name.back() != '@' && name.find(".kestrel-") == std::string::npos);
    if (name.back() == '/') continue;
    std::vector<uint8_t> bytes = read_bytes(out + "/" + name);
    uint32_t size = static_cast<uint32_t>(bytes.size());
    FUZZ_RULE(contents.count({size, checksum_block(bytes.data(), size, 0)}) == 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_standard_streams();
  // verify's scratch folder goes where it can be checked.
  setenv("TMPDIR", scratch_path("commands/tmp").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = scratch_path("commands");
  InputCursor in{data, size};
  uint8_t type = in.u8(), path_length = in.u8();
  fresh_folder(folder + "/in");
  fresh_folder(folder + "/tmp");
  fresh_folder(folder + "/out");
  std::string setup_folder = folder + "/in", out = folder + "/out";
  if (path_length != 0) {
    // A folder name that brings folder/NAME/setup.exe to the length wanted.
    size_t wanted = 240 + path_length % 24, used = setup_folder.size() + std::strlen("/x/setup.exe");
    setup_folder += "/" + std::string(wanted > used ? wanted - used + 1 : 1, 'p');
    fresh_folder(setup_folder);
  }
  std::string setup = write_setup_input(setup_folder, in.next, in.left);
  std::vector<std::string> before = folder_entries(folder);
  std::vector<std::vector<uint8_t>> setup_files;
  for (const std::string& name : before)
    if (name.back() != '/' && name.compare(0, 3, "in/") == 0) setup_files.push_back(read_bytes(folder + "/" + name));

  int listed = run(run_list, {"list", setup});
  int verified = run(run_verify, {"verify", "--quiet", setup});
  std::vector<std::string> extract = {"extract", setup, "-d", out};
  if (type < kMaxSetupTypes) extract.insert(extract.end(), {"--type", std::to_string(type)});
  int extracted = run(run_extract, extract);

  if (listed != kExitOk) FUZZ_RULE(verified != kExitOk && extracted != kExitOk);
  // What was there before is there still, unchanged; only the extract
  // folder gained.
  std::vector<std::string> after = folder_entries(folder), kept;
  for (const std::string& name : after)
    if (name.compare(0, 4, "out/") != 0 || name == "out/") kept.push_back(name);
  FUZZ_RULE(kept == before);
  size_t i = 0;
  for (const std::string& name : before)
    if (name.back() != '/' && name.compare(0, 3, "in/") == 0)
      FUZZ_RULE(read_bytes(folder + "/" + name) == setup_files[i++]);
  check_extracted(out, setup, type < kMaxSetupTypes ? type : -1);
  return 0;
}
