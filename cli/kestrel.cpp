// kestrel: the host tool. Commands are looked up in a table of names, so a
// new command is one routine and one table row.
#include <cstdio>
#include <cstring>

#include "cli/cli_support.h"

namespace {

const Command kCommands[] = {
    {"build", "PROJECT.toml [-o OUT] [--level N] [--volume-size SIZE] [--sign-command CMD]",
     "build a setup file from a project file", run_build},
    {"stream", "encode|decode ...", "compress or decode one stream of the archive's format", run_stream},
    {"list", "SETUP", "show the setup types, items and settings of a setup file", run_list},
    {"verify", "[--quiet] SETUP", "decode everything in a setup file and check every checksum", run_verify},
    {"extract", "SETUP -d DIR [--type N]", "write the items of a setup type under DIR", run_extract},
    {"try", "SETUP [--type N] [--dir D] [--keep] [--timeout S]",
     "install and uninstall SETUP silently in a throwaway Wine prefix and show what stays", run_try},
    {"preview", "PROJECT.toml [-o DIR] [--dpi 96,144,192] [--lang CODE]",
     "save a PNG of every page of the setup's wizard, under Wine, at each DPI", run_preview},
    {"winget", "SETUP --id ID --url URL [-o DIR]", "write the winget manifests of a setup file", run_winget},
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

void print_usage() {
  printf("Usage: kestrel COMMAND ...\n\nCommands:\n");
  print_commands("kestrel", kCommands, kCommandCount);
  printf("\nkestrel COMMAND --help tells more.\n");
}

}  // namespace
int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "kestrel: needs a command (see kestrel --help)\n");
    return kExitUsage;
  }
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    print_usage();
    return kExitOk;
  }
  const Command* command = find_command(kCommands, kCommandCount, argv[1]);
  if (!command) {
    fprintf(stderr, "kestrel: unknown command %s (see kestrel --help)\n", argv[1]);
    return kExitUsage;
  }
  return command->run(argc - 1, argv + 1);
}
