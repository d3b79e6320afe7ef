// kestrel build: a setup file (and its volumes) from a project file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "builder/project_reader.h"
#include "builder/setup_build.h"
#include "builder/signal_cleanup.h"
#include "builder/stream_encoder.h"
#include "cli/cli_support.h"
#include "cli/default_dialogs.h"
#include "cli/sbom.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: kestrel build PROJECT.toml [-o OUT] [--level N|max] [--compression kestrel|lzma]\n"
    "                     [--volume-size SIZE]\n"
    "                     [--sign-command CMD | --no-sign] [--stub FILE] [--uninstaller FILE]\n"
    "                     [--sbom FILE]\n\n"
    "Writes the setup file OUT (default: the project's name with .exe, beside it)\n"
    "and, with --volume-size, its volumes OUT.D01, OUT.D02, ... beside it; the\n"
    "folder of OUT is made when missing.\n"
    "  --level N          compression level 1-12 (default 12) or max (slower, smaller)\n"
    "  --compression M    the project's setup.compression instead: kestrel, or lzma\n"
    "                     (each setup type one solid LZMA stream; --level is unused)\n"
    "  --volume-size SIZE largest volume file, in bytes or with K, M or G (1024-based)\n"
    "  --sign-command CMD sign the finished setup file with the shell command CMD, in\n"
    "                     which {file} stands for the file (instead of the project's\n"
    "                     [signing] command); the build fails when CMD fails\n"
    "  --no-sign          leave the setup unsigned, whatever the project says\n"
    "  --sbom FILE        also write an SPDX 2.3 document (JSON) of the setup: its\n"
    "                     digests, the Kestrel programs in it and every item it\n"
    "                     installs, with its digests and signature state\n"
    "  --stub, --uninstaller  the Windows programs to use instead of those installed\n"
    "                     with kestrel (share/kestrel beside its bin folder)\n\n"
    "With SOURCE_DATE_EPOCH set (seconds since 1970), no file time stored in the\n"
    "setup is later than it, so the same sources give the same bytes.\n";

// The latest year a FILETIME of the setup may name.
const uint64_t kLatestEpoch = 253402300799ull;  // 9999-12-31 23:59:59

// SOURCE_DATE_EPOCH: decimal seconds since 1970, as reproducible builds set it.
bool read_source_date_epoch(std::optional<uint64_t>* newest, std::string* error) {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (!text) return true;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = *text >= '0' && *text <= '9' ? strtoull(text, &end, 10) : 0;
  if (!end || *end || errno || n > kLatestEpoch) {
    *error = std::string("SOURCE_DATE_EPOCH must be a whole number of seconds since 1970, not \"") + text + "\"";
    return false;
  }
  *newest = n;
  return true;
}

// "650M", "1440K", "1474560".
bool parse_size(const char* text, uint64_t* size) {
  char* end = nullptr;
  errno = 0;
  unsigned long long n = strtoull(text, &end, 10);
  if (errno || end == text) return false;
  uint64_t unit = 1;
  if (*end == 'K' || *end == 'k') unit = 1024, ++end;
  else if (*end == 'M' || *end == 'm') unit = 1024 * 1024, ++end;
  else if (*end == 'G' || *end == 'g') unit = 1024ull * 1024 * 1024, ++end;
  if (*end || n == 0 || n > (1ull << 31) / unit) return false;
  *size = n * unit;
  return true;
}

}  // namespace

int run_build(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  BuildOptions options;
  std::string project_path, stub = share_file("kestrel-stub.exe"), uninstaller = share_file("kestrel-uninstall.exe");
  std::optional<std::string> sign_command;
  std::string sbom;
  bool no_sign = false;
  int compression = -1;  // the project's
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool has_value = i + 1 < argc;
    if (!strcmp(a, "-o") || !strcmp(a, "--output")) {
      if (!has_value) return usage_error("build", "-o needs a file name");
      options.output = argv[++i];
    } else if (!strcmp(a, "--level")) {
      if (!has_value || !parse_level(argv[i + 1], &options.level))
        return usage_error("build", "--level takes 1 to 12 or max");
      ++i;
    } else if (!strcmp(a, "--compression")) {
      if (!has_value || (strcmp(argv[i + 1], "kestrel") && strcmp(argv[i + 1], "lzma")))
        return usage_error("build", "--compression takes kestrel or lzma");
      compression = !strcmp(argv[++i], "lzma");
    } else if (!strcmp(a, "--volume-size")) {
      if (!has_value || !parse_size(argv[i + 1], &options.volume_size))
        return usage_error("build", "--volume-size takes a size such as 1440K or 650M, below 2 GiB");
      ++i;
    } else if (!strcmp(a, "--sign-command")) {
      std::string why;
      if (!has_value || !check_sign_command(argv[i + 1], &why))
        return usage_error("build", has_value ? why : "--sign-command needs a command such as 'signer {file}'");
      sign_command = argv[++i];
    } else if (!strcmp(a, "--sbom")) {
      if (!has_value) return usage_error("build", "--sbom needs a file name");
      sbom = argv[++i];
    } else if (!strcmp(a, "--no-sign")) {
      no_sign = true;
    } else if (!strcmp(a, "--stub")) {
      if (!has_value) return usage_error("build", "--stub needs a file");
      stub = argv[++i];
    } else if (!strcmp(a, "--uninstaller")) {
      if (!has_value) return usage_error("build", "--uninstaller needs a file");
      uninstaller = argv[++i];
    } else if (a[0] == '-' && a[1]) {
      return usage_error("build", std::string("unknown option ") + a);
    } else if (project_path.empty()) {
      project_path = a;
    } else {
      return usage_error("build", "takes one project file");
    }
  }
  if (project_path.empty()) return usage_error("build", "needs a project file");
  if (no_sign && sign_command) return usage_error("build", "takes --sign-command or --no-sign, not both");
  Project project;
  std::string error;
  if (!read_source_date_epoch(&options.newest_time, &error)) return fail("build", error);
  if (!read_project(project_path, &project, &error)) return fail("build", error);
  if (compression >= 0) project.lzma = compression == 1;
  if (sign_command) options.sign = SignCommand{*sign_command, ""};
  else if (!no_sign && !project.sign_command.empty())
    options.sign = SignCommand{project.sign_command, fs::absolute(project_path).parent_path().string()};
  if (options.output.empty()) options.output = fs::path(project_path).replace_extension(".exe").string();
  if (!read_file(stub.c_str(), &options.stub, &error)) return fail("build", "the stub: " + error);
  if (!project.uninstaller_name.empty() && !read_file(uninstaller.c_str(), &options.uninstaller, &error))
    return fail("build", "the uninstaller: " + error);
  options.default_dialogs.assign(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize);
  options.show_progress = isatty(STDERR_FILENO);
  BuildReport report;
  end_cleanly_on_signals();
  if (!build_setup(project, options, &report, &error)) return fail("build", error);
  for (const std::string& warning : report.warnings) fprintf(stderr, "kestrel: build: warning: %s\n", warning.c_str());
  // Read back from the finished (and signed) setup, as it will be installed.
  if (!sbom.empty() && !write_sbom(options.output, sbom, options.newest_time, &error))
    return fail("build", error + " (the setup itself was written)");
  double ratio = report.input_bytes ? 100.0 * static_cast<double>(report.stored_bytes) / report.input_bytes : 100.0;
  printf("%s: %llu bytes, %u items (%u stored, %llu bytes to %llu, %.1f %%)", options.output.c_str(),
         static_cast<unsigned long long>(report.setup_size), report.items, report.stored_items,
         static_cast<unsigned long long>(report.input_bytes), static_cast<unsigned long long>(report.stored_bytes),
         ratio);
  if (report.volumes) printf(", %u volume files", report.volumes);
  if (report.signed_setup) printf(", signed");
  printf("\n");
  return kExitOk;
}
