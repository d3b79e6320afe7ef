// Temporary folders and whole-file helpers for the native tests.
#pragma once
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with its content when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_bytes(const std::string& path);

// The built kestrel tool run with `args` (shell words): its exit status
// (-1 when it did not end normally, as on an abort), and what it wrote to
// its standard output and error in *output.
int run_tool(const std::string& args, std::string* output);
// The same for any command line.
int run_command(const std::string& words, std::string* output);

// Address space for `extra` bytes beyond what the process holds now, while
// it lives: a request for more fails, as a large one does on a 32-bit
// system.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(uint64_t extra);
  ~AddressSpaceLimit();
  AddressSpaceLimit(const AddressSpaceLimit&) = delete;
  AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
  bool set() const { return set_; }

 private:
  rlimit before_{};
  bool set_ = false;
};
