// The compiled-resource reader on any file. Rules: a refusal says why in
// one line; the dialogs it finds are parts of the file, so together they
// are no longer than it.
#include <map>
#include <string>
#include <vector>

#include "builder/res_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<uint16_t, std::vector<uint8_t>> dialogs;
  std::string error;
  if (!read_res_dialogs(data, size, &dialogs, &error)) {
    FUZZ_RULE(!error.empty() && error.find('\n') == std::string::npos);
    return 0;
  }
  FUZZ_RULE(error.empty());
  size_t total = 0;
  for (const auto& [id, bytes] : dialogs) total += bytes.size();
  FUZZ_RULE(total <= size);
  return 0;
}
