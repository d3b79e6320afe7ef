// kestrel verify SETUP: decodes the whole configuration and every item's
// content (volumes and patches included) and checks every checksum, in a
// scratch folder that is removed afterwards.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "builder/setup_signature.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"

namespace {

bool verify_items(const std::string& work, bool quiet, uint32_t* checked, std::string* error) {
  for (int t = 0; t < SetupTypeCount; ++t) {
    for (uint32_t i = 0; i < file_entry_count(t); ++i) {
      const uint8_t* entry = file_entry_at(t, i);
      ItemContent content = item_content(entry);
      if (content == ItemContent::kNothing) continue;
      if (content == ItemContent::kBesideSetup) {
        if (!quiet) printf("not in the archive: %s\n", describe_item(t, i).c_str());
        continue;
      }
      std::string path = work + "/item";
      if (!write_item_content(entry, path, error)) {
        *error = describe_item(t, i) + ": " + *error;
        return false;
      }
      ::unlink(path.c_str());
      ++*checked;
      if (!quiet) printf("ok: %s\n", describe_item(t, i).c_str());
    }
  }
  return true;
}

std::string scratch_parent() {
  const char* tmp = getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

int run_verify(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    printf(
        "Usage: kestrel verify [--quiet] SETUP\n"
        "  decode every configuration block and every item of SETUP (volumes and\n"
        "  patches included) and check every checksum; report its Authenticode\n"
        "  signature, if any, and check that nothing but the certificate table that the\n"
        "  stub announces follows the archive; exit 0 only when all is sound\n");
    return kExitOk;
  }
  bool quiet = false;
  const char* setup = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--quiet") || !strcmp(argv[i], "-q")) quiet = true;
    else if (argv[i][0] == '-' && argv[i][1]) return usage_error("verify", std::string("unknown option ") + argv[i]);
    else if (setup) return usage_error("verify", "takes one SETUP");
    else setup = argv[i];
  }
  if (!setup) return usage_error("verify", "needs SETUP");

  std::string error;
  if (!open_setup(setup, &error)) return fail("verify", error);
  const SetupFacts& facts = setup_facts();
  if (facts.has_data_area && !facts.data_area_complete) {
    close_setup();
    return fail("verify", std::string(setup) + ": the data area is truncated");
  }
  // Signing may only append the certificate table that the stub's header
  // announces; the archive in front of it is checked whole below.
  SetupSignature signature;
  if (!read_setup_signature(setup, archive_end(), &signature, &error)) {
    close_setup();
    return fail("verify", std::string(setup) + ": " + error);
  }
  std::string work = make_work_folder(scratch_parent(), &error);
  uint32_t checked = 0;
  bool ok = !work.empty() && verify_items(work, quiet, &checked, &error);
  if (!work.empty()) ::rmdir(work.c_str());
  close_setup();
  if (!ok) return fail("verify", std::string(setup) + ": " + error);
  if (!quiet) {
    printf("signature: %s\n", describe_signature(signature).c_str());
    printf("%s: sound, %u item%s checked\n", printable(setup).c_str(), checked, checked == 1 ? "" : "s");
  }
  return kExitOk;
}
