#include "tests/native/test_files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "builder/translations.h"

// The tests build with the translations where the build puts them.
static const bool kTranslationsSet =
    (set_translations_folder(std::string(KESTREL_BINARY_DIR) + "/share/kestrel/translations"), true);

TempDir::TempDir() {
  char pattern[] = "/tmp/kestrel-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run_tool(const std::string& args, std::string* output) {
  return run_command(std::string(KESTREL_BINARY_DIR) + "/bin/kestrel " + args, output);
}

int run_command(const std::string& words, std::string* output) {
  std::string command = words + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  output->clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) output->append(buffer, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

AddressSpaceLimit::AddressSpaceLimit(uint64_t extra) {
  getrlimit(RLIMIT_AS, &before_);
  unsigned long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  rlimit r = before_;
  r.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + extra;
  set_ = pages != 0 && setrlimit(RLIMIT_AS, &r) == 0;
}

AddressSpaceLimit::~AddressSpaceLimit() {
  if (set_) setrlimit(RLIMIT_AS, &before_);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// Some tests ask for more memory than there is, to see the request fail
// cleanly: under ASan it must then answer null, as the system does,
// instead of stopping the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
#endif
