// The version-resource reader on any file. The input is handed over in a
// buffer of exactly its size, so any read past the end is a finding. Rules:
// a refusal leaves the answer untouched; the same bytes give the same answer.
#include <cstring>

#include "builder/pe_version.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool same(const PeVersion& a, const PeVersion& b) {
  return a.version_ms == b.version_ms && a.version_ls == b.version_ls && a.has_language == b.has_language &&
         a.language == b.language;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PeVersion untouched{0x5A5A5A5A, 0xA5A5A5A5, true, 0x5A5A};
  PeVersion first = untouched, second = untouched;
  bool found = read_pe_version(data, size, &first);
  if (!found) FUZZ_RULE(same(first, untouched));
  else if (!first.has_language) FUZZ_RULE(first.language == 0);
  FUZZ_RULE(read_pe_version(data, size, &second) == found && same(first, second));
  return 0;
}
