// kestrel verify SETUP: checks every rule of the setup file format that a
// byte of the file can break, then reads the data area exactly as the
// installation does: each setup type's items in their order, forward only
// across the volumes, decoding every item (patches included) and checking
// its size and checksum in a scratch folder that is removed afterwards.
// Strict by default: --lenient only warns about what the installer
// tolerates.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "cli/cli_support.h"
#include "cli/format_rules.h"
#include "cli/setup_reader.h"
#include "cli/setup_scan.h"

namespace {

// Reads the items of setup type `t` in installation order, as its
// installation reads them; the first failure ends it, as it ends the
// installation.
void replay_type(int t, const std::string& work, bool quiet, uint32_t* checked, std::vector<Finding>* findings) {
  std::string error;
  bool reading = false;
  for (uint32_t i = 0; i < file_entry_count(t); ++i) {
    const uint8_t* entry = file_entry_at(t, i);
    ItemContent content = item_content(entry);
    if (content == ItemContent::kNothing) continue;
    bool passed_over = content == ItemContent::kBesideSetup && (entry[kEntryFlags] & kItemPatch);
    if (content == ItemContent::kBesideSetup && !passed_over) {
      if (!quiet) printf("not in the archive: %s\n", describe_item(t, i).c_str());
      continue;
    }
    std::string where = (entry[kEntryFlags] & kItemSolid)
                            ? "in the solid stream of setup type " + std::to_string(t)
                            : data_position_text(setup_volumes(), get_u32(entry + kEntryDataPosition));
    if (!reading && !begin_data_reading(&error)) {
      findings->push_back({Rule::kItemData, describe_item(t, i), where, error});
      return;
    }
    reading = true;
    ItemCheck check;
    bool ok = passed_over ? pass_over_patch(entry, &error, &check)
                          : write_item_content(entry, work + "/item", &error, DataReading::kContinued, &check);
    for (Finding& f : check.tolerated) {
      f.subject = describe_item(t, i);
      findings->push_back(f);
    }
    if (!ok) {
      findings->push_back({check.failed, describe_item(t, i), where, error});
      break;
    }
    std::string signature = passed_over ? "" : decoded_item_signature(work + "/item");
    ::unlink((work + "/item").c_str());
    if (passed_over) {
      if (!quiet) printf("patch read, its base lies beside the setup file: %s\n", describe_item(t, i).c_str());
      continue;
    }
    ++*checked;
    if (!quiet) printf("ok: %s (%s)\n", describe_item(t, i).c_str(), signature.c_str());
  }
  end_data_reading();
}

}  // namespace

int run_verify(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    printf(
        "Usage: kestrel verify [--quiet] [--lenient] SETUP\n"
        "  check every rule of the setup file format that a byte of SETUP can break,\n"
        "  then read its data area as the installation does (each setup type's items\n"
        "  in order, forward only across the volumes) and check every item's size and\n"
        "  checksum. Each broken rule is one line naming the rule, the setup type and\n"
        "  item, and the byte. Only the certificate table of a signed setup may follow\n"
        "  the data area; its signature is reported. Exit 0 only when all is sound.\n"
        "  --lenient  only warn about the rules that the installer tolerates\n"
        "  --quiet    print nothing but the broken rules\n");
    return kExitOk;
  }
  bool quiet = false, lenient = false;
  const char* setup = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--quiet") || !strcmp(argv[i], "-q")) quiet = true;
    else if (!strcmp(argv[i], "--lenient")) lenient = true;
    else if (argv[i][0] == '-' && argv[i][1]) return usage_error("verify", std::string("unknown option ") + argv[i]);
    else if (setup) return usage_error("verify", "takes one SETUP");
    else setup = argv[i];
  }
  if (!setup) return usage_error("verify", "needs SETUP");

  std::string error;
  bool loaded = open_setup(setup, &error);
  uint32_t stub_size = setup_facts().stub_size;
  if (stub_size == 0) return fail("verify", error);  // not a setup file at all
  SetupScan scan;
  scan_setup(setup, stub_size, &scan);
  std::vector<Finding> findings = scan.findings;

  uint32_t checked = 0;
  if (loaded) {
    std::string work = make_work_folder(scratch_parent(), &error);
    if (work.empty()) {
      close_setup();
      return fail("verify", error);
    }
    for (int t = 0; t < SetupTypeCount; ++t) replay_type(t, work, quiet, &checked, &findings);
    ::rmdir(work.c_str());
  }
  close_setup();

  bool failed = false;
  for (const Finding& f : findings) {
    bool error_line = rule_info(f.rule).installer_fails || !lenient;
    failed = failed || error_line;
    fprintf(stderr, "kestrel: verify: %s%s: %s\n", error_line ? "" : "warning: ", printable(setup).c_str(),
            describe_finding(f).c_str());
  }
  // The loader refused what the scan found no rule broken for.
  if (!loaded && !failed) return fail("verify", error);
  if (failed) return kExitFailed;
  if (!quiet) {
    for (const std::string& note : scan.notes) printf("note: %s\n", note.c_str());
    printf("signature: %s\n", describe_signature(scan.signature).c_str());
    print_stub_resources(scan.resources);
    printf("%s: sound, %u item%s checked\n", printable(setup).c_str(), checked, checked == 1 ? "" : "s");
  }
  return kExitOk;
}
