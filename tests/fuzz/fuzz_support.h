// What the fuzz targets and their seed tool share: the check that turns a
// broken rule into a finding, a scratch folder per process, the layout of
// a whole-setup input, and a cursor that takes fields from the front of an
// input (the seed tool writes them in the same order).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A rule of the code under test that the input broke. It aborts, so
// libFuzzer reports it like a crash and keeps the input.
#define FUZZ_RULE(condition) ((condition) ? (void)0 : fuzz_rule_broken(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzz_rule_broken(const char* condition, const char* file, int line);

// The process's private folder (removed at exit), and a path inside it.
std::string scratch_path(const std::string& name);
// Removes `folder` with everything in it and makes it again, empty.
void fresh_folder(const std::string& folder);
void write_input(const std::string& path, const uint8_t* data, size_t size);
// Every path below `folder`, relative and sorted; folders end in '/',
// anything neither a regular file nor a folder in '@'.
std::vector<std::string> folder_entries(const std::string& folder);
// A file whose data area holds `data`: block header (not read), length word
// and data, as tests/data_area_reader.h opens it with a prefix of 0.
void write_data_area_file(const std::string& path, const uint8_t* data, size_t size);
// Both exist as regular files with the same bytes.
bool same_content(const std::string& a, const std::string& b);

// The code under test reports on stdout and stderr; a fuzz run would drown
// in it. Findings still reach file descriptor 2.
void quiet_standard_streams();

// A whole-setup input: the archive that follows the stub, then, after each
// separator, the content of the next volume file (.D01, .D02, ...).
extern const uint8_t kVolumeSeparator[8];
// The smallest stub a setup file can start with: the stub-size marker and
// its stamp, which is the stub's own length.
std::vector<uint8_t> minimal_stub();
// Writes folder/setup.exe (minimal stub and archive) and its volume files;
// answers the setup file's path.
std::string write_setup_input(const std::string& folder, const uint8_t* data, size_t size);

// Fields from the front of an input; past its end they read as zero.
struct InputCursor {
  const uint8_t* next;
  size_t left;
  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  // At most `count` bytes, fewer where the input ends.
  std::vector<uint8_t> bytes(size_t count);
};
