// kestrel preview PROJECT.toml [-o DIR] [--dpi LIST] [--lang CODE] [--timeout S]:
// the look at the wizard before shipping. Builds the setup, then for each
// DPI runs it in a throwaway Wine prefix of that DPI (on an Xvfb of its own
// when there is no display), walks its wizard through every page and saves
// a PNG of each page and of each box it shows under DIR/DPI/. Nothing
// stays behind but the pictures: the prefix, with what the walk installed
// there, is removed.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/trial_prefix.h"

namespace fs = std::filesystem;

namespace {

const char kHelp[] =
    "Usage: kestrel preview PROJECT.toml [-o DIR] [--dpi LIST] [--lang CODE] [--arch win32|win64]\n"
    "                       [--timeout S] [--stub FILE] [--uninstaller FILE]\n"
    "  build the setup of PROJECT.toml and save a PNG of every page of its wizard,\n"
    "  and of the boxes the pages show, as a user pressing Next sees them: under\n"
    "  Wine, in a throwaway prefix for each DPI that is removed again\n"
    "  -o DIR       where the pictures go, DIR/96/01-welcome.png ... (default: preview)\n"
    "  --dpi LIST   the screens' DPI, comma-separated, 72 to 480 (default: 96,144,192)\n"
    "  --lang CODE  the language the setup speaks (its /LANG=CODE)\n"
    "  --arch A     the prefixes: win32 (the default) or win64, a 64-bit Windows\n"
    "  --timeout S  give each walk through the wizard S seconds (default 300)\n"
    "  --stub FILE, --uninstaller FILE  build with these programs, as kestrel build does\n"
    "On the first page Cancel is pressed once and the question answered No; other\n"
    "questions are answered Yes, the restart dialog \"Don't restart\", and the\n"
    "finish page's program is not started.\n"
    "Exit status: 0 every picture saved; 1 a build or a walk failed; 2 Wine or a\n"
    "display is missing, or bad arguments. Needs Wine (32-bit) and, without DISPLAY, Xvfb.\n";

struct PreviewOptions {
  const char* project = nullptr;
  std::string output = "preview";
  std::vector<int> dpis = {96, 144, 192};
  std::string lang;
  int timeout = 300;
  bool win64 = false;
  std::vector<std::string> build_options;  // --stub, --uninstaller
};

void on_signal(int) { interrupt_trial(); }

bool parse_dpis(const char* text, std::vector<int>* dpis) {
  dpis->clear();
  for (const char* p = text;;) {
    char* end = nullptr;
    errno = 0;
    long v = strtol(p, &end, 10);
    if (end == p || errno || v < 72 || v > 480) return false;
    if (std::find(dpis->begin(), dpis->end(), static_cast<int>(v)) == dpis->end()) dpis->push_back(static_cast<int>(v));
    if (!*end) return true;
    if (*end != ',') return false;
    p = end + 1;
  }
}

// "de", "pt-BR": letters and one hyphen, as the translations are named.
bool language_code(const std::string& code) {
  if (code.empty() || code.size() > 10) return false;
  for (char c : code)
    if (!isalpha(static_cast<unsigned char>(c)) && c != '-') return false;
  return true;
}

int parse_options(int argc, char** argv, PreviewOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool has_value = i + 1 < argc;
    if (!strcmp(a, "-o") || !strcmp(a, "--output")) {
      if (!has_value || !*argv[i + 1]) return usage_error("preview", "-o needs a folder");
      o->output = argv[++i];
    } else if (!strcmp(a, "--dpi")) {
      if (!has_value || !parse_dpis(argv[i + 1], &o->dpis))
        return usage_error("preview", "--dpi takes DPI values from 72 to 480, such as 96,144,192");
      ++i;
    } else if (!strcmp(a, "--lang")) {
      if (!has_value || !language_code(argv[i + 1])) return usage_error("preview", "--lang takes a code such as de");
      o->lang = argv[++i];
    } else if (!strcmp(a, "--arch")) {
      const char* arch = has_value ? argv[++i] : "";
      if (strcmp(arch, "win32") && strcmp(arch, "win64")) return usage_error("preview", "--arch takes win32 or win64");
      o->win64 = !strcmp(arch, "win64");
    } else if (!strcmp(a, "--stub") || !strcmp(a, "--uninstaller")) {
      if (!has_value) return usage_error("preview", std::string(a) + " needs a file");
      o->build_options.push_back(a);
      o->build_options.push_back(argv[++i]);
    } else if (!strcmp(a, "--timeout")) {
      char* end = nullptr;
      long v = has_value ? strtol(argv[i + 1], &end, 10) : 0;
      if (!has_value || end == argv[i + 1] || *end || v < 1 || v > 86400)
        return usage_error("preview", "--timeout takes 1 to 86400 seconds");
      o->timeout = static_cast<int>(v);
      ++i;
    } else if (a[0] == '-' && a[1]) {
      return usage_error("preview", std::string("unknown option ") + a);
    } else if (o->project) {
      return usage_error("preview", "takes one project file");
    } else {
      o->project = a;
    }
  }
  if (!o->project) return usage_error("preview", "needs a project file");
  return kExitOk;
}

// Builds the setup into `folder`/Setup.exe (with its volumes, if any);
// unsigned, as nothing of it is shipped.
bool build_setup(const PreviewOptions& o, const std::string& folder) {
  std::string setup = folder + "/Setup.exe";
  std::vector<std::string> args = {"build", o.project, "-o", setup, "--no-sign"};
  args.insert(args.end(), o.build_options.begin(), o.build_options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return run_build(static_cast<int>(args.size()), argv.data()) == kExitOk;
}

std::vector<std::string> files_in(const std::string& folder, const char* extension) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec) && (!extension || entry.path().extension() == extension))
      names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// One walk through the wizard at `dpi`; the pictures go to out/DPI.
bool walk(const PreviewOptions& o, const TrialPrograms& programs, const std::string& runner, const std::string& built,
          int dpi) {
  std::string target = o.output + "/" + std::to_string(dpi);
  std::error_code ec;
  for (const std::string& old : files_in(target, ".png")) fs::remove(target + "/" + old, ec);
  fs::create_directories(target, ec);
  if (ec) return fail("preview", target + ": " + ec.message()), false;
  printf("At %d DPI: making a throwaway Wine prefix.\n", dpi);
  TrialPrefix t;
  t.dpi = dpi;
  t.win64 = o.win64;
  std::string why;
  bool ok = open_trial_prefix(programs, built, files_in(built, nullptr), &t, &why);
  std::vector<uint8_t> bytes;
  std::string shots = t.share + "/shots";
  ok = ok && (read_file(runner.c_str(), &bytes, &why) &&
              write_file((t.share + "/kestrel-preview-runner.exe").c_str(), bytes, &why));
  if (ok && mkdir(shots.c_str(), 0755) != 0) ok = fail(&why, shots + ": " + strerror(errno));
  long code = 0;
  if (ok) {
    std::string command = "\"T:\\kestrel-preview-runner.exe\" \"S:\\Setup.exe\" \"T:\\shots\"";
    if (!o.lang.empty()) command += " /LANG=" + o.lang;
    RunResult r = run_in_prefix(&t, command, o.timeout, &code, &why);
    ok = r == RunResult::kEnded;
    if (ok && code != 0) ok = fail(&why, "the walk through the wizard failed; Wine's last words:\n" + wine_log_tail(t, 8));
  }
  // What was saved before a failure is kept too: it shows where the walk stopped.
  for (const std::string& name : files_in(shots, ".png")) {
    fs::copy_file(shots + "/" + name, target + "/" + name, fs::copy_options::overwrite_existing, ec);
    if (ec) ok = fail(&why, target + "/" + name + ": " + ec.message());
    else printf("  %s/%s\n", target.c_str(), name.c_str());
  }
  close_trial_prefix(&t, false);
  if (!ok) fail("preview", "at " + std::to_string(dpi) + " DPI: " + why);
  return ok;
}

}  // namespace

int run_preview(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kHelp, stdout);
    return kExitOk;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);  // a walk takes a minute: the report comes line by line
  PreviewOptions o;
  if (int status = parse_options(argc, argv, &o)) return status;
  if (access(o.project, R_OK) != 0) return usage_error("preview", std::string(o.project) + ": " + strerror(errno));
  TrialPrograms programs;
  std::string why, runner = share_file("kestrel-preview-runner.exe"),
                   runner64 = share_file("x86-64/kestrel-preview-runner.exe");
  // A build for a machine without 32-bit x86 code has the helpers for x86-64 too.
  if (o.win64 && access(runner64.c_str(), R_OK) == 0) runner = runner64;
  if (!find_trial_programs(&programs, &why, o.win64)) return fprintf(stderr, "kestrel: preview: %s\n", why.c_str()), kExitUsage;
  if (access(runner.c_str(), R_OK) != 0)
    return fail("preview", runner + " is missing: it comes with kestrel (share/kestrel beside its bin folder)"),
           kExitUsage;

  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-preview-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  if (!mkdtemp(name.data())) return fail("preview", "cannot make a folder in " + pattern + ": " + strerror(errno));
  std::string built = name.data();
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  int result = kExitOk;
  if (!build_setup(o, built)) {
    result = kExitFailed;
  } else {
    for (int dpi : o.dpis)
      if (!walk(o, programs, runner, built, dpi)) result = kExitFailed;
  }
  std::error_code ec;
  fs::remove_all(built, ec);
  if (result == kExitOk) printf("The pictures are in %s/.\n", o.output.c_str());
  return result;
}
