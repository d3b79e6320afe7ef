// kestrel try SETUP [--type N] [--dir D] [--arch win32|win64] [--scope user|machine]
// [--keep] [--timeout S]: the test a
// publisher runs before shipping. Installs SETUP silently in a throwaway
// Wine prefix, shows what the installation changed, runs the uninstaller
// that it registered, silently too, and shows what remains. Exit 0 only
// when the installation succeeded and nothing of it remains.
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "builder/code_page.h"
#include "builder/item_name.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"
#include "cli/trial_prefix.h"
#include "cli/trial_snapshot.h"

namespace {

constexpr int kDefaultTimeout = 600;

// The exit codes of the silent-install contract.
enum : long { kSuccess = 0, kRestartNeeded = 3010, kCancelled = 1602, kFailed = 1603, kNotLoaded = -1 };

struct TryOptions {
  const char* setup = nullptr;
  int type = -1;
  const char* dir = nullptr;
  bool win64 = false;           // --arch win64: a 64-bit prefix
  const char* scope = nullptr;  // --scope: "/CURRENTUSER" or "/ALLUSERS"
  bool keep = false;
  int timeout = kDefaultTimeout;
  unsigned code_page = kDefaultCodePage;  // of the setup's texts, for its log
  std::vector<std::string> source_files;  // relative to the setup's folder: what drive S: holds
};

const char kHelp[] =
    "Usage: kestrel try SETUP [--type N] [--dir D] [--arch win32|win64] [--scope user|machine]\n"
    "                   [--keep] [--timeout S]\n"
    "  install SETUP silently in a throwaway Wine prefix, show what the installation\n"
    "  changed (files with sizes, registry values, INI entries, shortcuts with their\n"
    "  targets, the Add/Remove entry), run the uninstaller it registered silently and\n"
    "  show what remains\n"
    "  --type N     install setup type N (as kestrel list numbers them): /TYPE=N\n"
    "  --dir D      install into the Windows folder D: /DIR=\"D\"\n"
    "  --arch A     the prefix: win32 (the default) or win64, a 64-bit Windows, where\n"
    "               the registry's 32-bit view shows as HKLM\\Software\\Wow6432Node\n"
    "  --scope S    a setup with privileges = \"choice\" installs for the user (user:\n"
    "               /CURRENTUSER) or for all users (machine: /ALLUSERS)\n"
    "  --keep       keep the trial's folder (the prefix, the setup's log) and print its path\n"
    "  --timeout S  give the setup, and then the uninstaller, S seconds each (default 600)\n"
    "Exit status: 0 installed and nothing remains after uninstalling; 1 the installation\n"
    "failed or something remains; 2 Wine or a display is missing, or bad arguments.\n"
    "Needs Wine (32-bit) and, without DISPLAY, Xvfb.\n";

void on_signal(int) { interrupt_trial(); }

const char* meaning(long code) {
  switch (code) {
    case kSuccess: return "success";
    case kRestartNeeded: return "success, a restart is needed";
    case kCancelled: return "cancelled";
    case kFailed: return "failed";
    case kNotLoaded: return "the archive cannot be loaded";
    default: return "not an exit code of a silent installation";
  }
}

// A name that Windows can hold in a quoted command line.
bool fit_for_windows(const std::string& text, const char* refused, std::string* bad) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F || strchr(refused, c)) {
      *bad =
          c < 0x20 || c == 0x7F ? "a control character" : std::string("the character '") + static_cast<char>(c) + "'";
      return false;
    }
  return true;
}

int parse_options(int argc, char** argv, TryOptions* o) {
  for (int i = 1; i < argc; ++i) {
    std::string bad;
    if (!strcmp(argv[i], "--type")) {
      if (i + 1 >= argc || !parse_setup_type(argv[i + 1], &o->type)) return usage_error("try", "--type takes 0 to 5");
      ++i;
    } else if (!strcmp(argv[i], "--dir")) {
      if (i + 1 >= argc || !*argv[i + 1]) return usage_error("try", "--dir needs a folder");
      o->dir = argv[++i];
      if (!fit_for_windows(o->dir, "\"", &bad)) return usage_error("try", "--dir holds " + bad);
    } else if (!strcmp(argv[i], "--arch")) {
      const char* arch = i + 1 < argc ? argv[++i] : "";
      if (strcmp(arch, "win32") && strcmp(arch, "win64")) return usage_error("try", "--arch takes win32 or win64");
      o->win64 = !strcmp(arch, "win64");
    } else if (!strcmp(argv[i], "--scope")) {
      const char* scope = i + 1 < argc ? argv[++i] : "";
      if (strcmp(scope, "user") && strcmp(scope, "machine")) return usage_error("try", "--scope takes user or machine");
      o->scope = !strcmp(scope, "user") ? "/CURRENTUSER" : "/ALLUSERS";
    } else if (!strcmp(argv[i], "--keep")) {
      o->keep = true;
    } else if (!strcmp(argv[i], "--timeout")) {
      char* end = nullptr;
      long v = i + 1 < argc ? strtol(argv[i + 1], &end, 10) : 0;
      if (i + 1 >= argc || end == argv[i + 1] || *end || v < 1 || v > 86400)
        return usage_error("try", "--timeout takes 1 to 86400 seconds");
      o->timeout = static_cast<int>(v);
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      return usage_error("try", std::string("unknown option ") + argv[i]);
    } else if (o->setup) {
      return usage_error("try", "takes one SETUP");
    } else {
      o->setup = argv[i];
    }
  }
  if (!o->setup) return usage_error("try", "needs SETUP");
  return kExitOk;
}

const char* file_name(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// A name relative to the setup's folder, as the host keeps it (UTF-8, '/'),
// once; one that would leave the folder is none.
void add_beside(const char* name, std::vector<std::string>* files) {
  std::string host, why, joined;
  std::vector<std::string> parts;
  bool trailing = false;
  if (!host_name(name, &host) || !split_item_name(host.c_str(), &parts, &trailing, &why)) return;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "/") + part;
  if (std::find(files->begin(), files->end(), joined) == files->end()) files->push_back(joined);
}

// The rest of a settings file named "#SourceDir#\NAME", else null.
const char* in_source_dir(const char* file) {
  static const char kMacro[] = "#SourceDir#";
  size_t n = sizeof kMacro - 1;
  if (strncasecmp(file, kMacro, n) != 0 || (file[n] != '\\' && file[n] != '/')) return nullptr;
  return file + n + 1;
}

// What a Kestrel setup may read beside itself: its volume files, the items
// it takes from there and the INI files and patched files it names there.
void files_beside(std::vector<std::string>* files) {
  for (size_t v = 1; v < setup_volumes().size(); ++v) files->push_back(file_name(setup_volumes()[v].path.c_str()));
  for (int type = 0; type < SetupTypeCount; ++type) {
    for (uint32_t i = 0; i < file_entry_count(type); ++i) {
      const uint8_t* entry = file_entry_at(type, i);
      if (entry[kEntryKind] == kKindInSource || (entry[kEntryFlags] & kItemFromSource))
        add_beside(entry_string(entry, 0), files);
    }
    const SetupTypeSlot& slot = SetupTypeTable[type];
    for (int k : {kIniList, kStringPatchList}) {
      const uint8_t* list = slot.entry_lists[k];
      if (!list) continue;
      const uint8_t* p = list + 2;
      const uint8_t* end = list + slot.entry_list_lengths[k];
      for (uint16_t n = get_u16(list); n > 0 && p; --n) {
        IniEntry ini;
        StringPatchEntry patch;
        p = k == kIniList ? parse_ini_entry(p, end, &ini) : parse_string_patch(p, end, &patch);
        const char* rest = p ? in_source_dir(k == kIniList ? ini.file : patch.file) : nullptr;
        if (rest) add_beside(rest, files);
      }
    }
  }
}

// Says which setup type is tried when kestrel can read the setup; a
// setup of another make that takes the same switches is tried all the same.
// Notes the setup's code page and the files that drive S: is to hold: the
// setup's own file and what it may read beside it, which for a setup of
// another make is every file there.
int describe_setup(const std::string& folder, TryOptions* o) {
  std::string error;
  o->source_files = {file_name(o->setup)};
  if (!open_setup(o->setup, &error)) {
    printf("Note: kestrel cannot read %s as a Kestrel setup (%s); it is tried all the same.\n",
           printable(o->setup).c_str(), error.c_str());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
      if (entry.is_regular_file(ec) && entry.path().filename() != o->source_files[0])
        o->source_files.push_back(entry.path().filename().string());
    return kExitOk;
  }
  int type = o->type < 0 ? CurrentSetupType : o->type;
  int count = SetupTypeCount;
  std::string caption =
      type < count && SetupTypeTable[type].record.caption ? setup_text(SetupTypeTable[type].record.caption) : "";
  o->code_page = setup_code_page();
  files_beside(&o->source_files);
  close_setup();
  if (type >= count)
    return usage_error("try", std::string(o->setup) + " has no setup type " + std::to_string(type) + " (it has " +
                                  std::to_string(count) + ")");
  printf("Trying %s, setup type %d \"%s\"%s.\n", printable(o->setup).c_str(), type, caption.c_str(),
         o->type < 0 ? " (the setup's own choice)" : "");
  return kExitOk;
}

void print_changes(const std::vector<Change>& changes) {
  for (int g = 0; g < kChangeGroupCount; ++g) {
    ChangeGroup group = static_cast<ChangeGroup>(g);
    size_t count = 0;
    for (const Change& c : changes) count += c.group == group;
    if (!count) continue;
    printf("  %s (%zu)\n", change_group_title(group), count);
    for (const Change& c : changes) {
      if (c.group != group) continue;
      printf("    %c %s\n", c.mark, printable(c.text.c_str()).c_str());
      for (const std::string& d : c.details) printf("        %s\n", printable(d.c_str()).c_str());
    }
  }
}

// The setup writes its log in its own code page.
void print_setup_log(const TrialPrefix& trial, unsigned code_page) {
  std::vector<std::string> lines = last_lines(trial.share + "/setup.log", 15);
  fputs(lines.empty() ? "The setup wrote no log.\n" : "The setup's log ends:\n", stdout);
  for (std::string& line : lines) {
    std::replace(line.begin(), line.end(), '\t', ' ');  // the log's columns
    std::string text;
    from_code_page(line, code_page, &text);
    printf("  %s\n", printable(text.c_str()).c_str());
  }
}

// Runs one command of the trial; answers whether it ended by itself, with
// its exit code in *code. A restart that it asks for is carried out.
bool run_step(TrialPrefix* trial, const char* who, const std::string& command, int timeout, long* code) {
  std::string why;
  RunResult r = run_in_prefix(trial, command, timeout, code, &why);
  if (r != RunResult::kEnded) {
    printf("The %s did not end as it should: %s\n\nResult: FAILED: the %s did not end as it should.\n", who,
           why.c_str(), who);
    return false;
  }
  printf("The %s ended with %ld: %s.\n", who, *code, meaning(*code));
  if (*code == kRestartNeeded) {
    printf("Restarting Windows in the prefix, so that what waits for the restart happens.\n");
    if (restart_prefix(trial, timeout, &why) != RunResult::kEnded) {
      printf("\nResult: FAILED: %s.\n", why.c_str());
      return false;
    }
  }
  return true;
}

bool snapshot(const TrialPrefix& trial, const PrefixSnapshot* reference, PrefixSnapshot* out) {
  std::string why;
  if (take_snapshot(trial.prefix, reference, out, &why, trial_drives(trial))) return true;
  fail("try", "cannot read the prefix: " + why);
  return false;
}

int trial(const TryOptions& o, TrialPrefix* t) {
  PrefixSnapshot before, installed, removed;
  if (!snapshot(*t, nullptr, &before)) return kExitFailed;
  std::string command = std::string("\"S:\\") + file_name(o.setup) + "\" /VERYSILENT /NORESTART /LOG=\"T:\\setup.log\"";
  if (o.type >= 0) command += " /TYPE=" + std::to_string(o.type);
  if (o.dir) command += std::string(" /DIR=\"") + o.dir + "\"";
  if (o.scope) command += std::string(" ") + o.scope;
  printf("Installing: %s\n", printable(command.c_str()).c_str());
  // Where the snapshots look: every file of C:, S: and T:, and both hives,
  // which in a 64-bit prefix hold both registry views.
  printf("Looking in: drive C:, S: and T:; HKLM (system.reg) and HKCU (user.reg)%s\n",
         o.win64 ? "; a 64-bit prefix: HKLM\\Software is the 64-bit view, HKLM\\Software\\Wow6432Node the 32-bit "
                   "one, C:\\Program Files and C:\\windows\\system32 the native folders, C:\\Program Files (x86) "
                   "and C:\\windows\\syswow64 the 32-bit ones"
                 : "; a 32-bit prefix: one registry view");
  long code = 0;
  bool ended = run_step(t, "setup", command, o.timeout, &code);
  if (!ended) return kExitFailed;
  bool installed_ok = code == kSuccess || code == kRestartNeeded;
  if (!snapshot(*t, &before, &installed)) return kExitFailed;
  std::vector<Change> changes = compare_snapshots(before, installed);
  printf("\n%s\n", installed_ok ? "What the installation changed:" : "What the failed installation left:");
  if (changes.empty()) printf("  nothing\n");
  print_changes(changes);
  if (!installed_ok) {
    printf("\n");
    print_setup_log(*t, o.code_page);
    printf("\nResult: FAILED: the setup ended with %ld (%s).\n", code, meaning(code));
    return kExitFailed;
  }

  std::vector<UninstallEntry> entries = new_uninstall_entries(before, installed);
  bool uninstalled_ok = !entries.empty();
  if (entries.empty()) printf("\nThe installation registered no Add/Remove entry: there is no uninstaller to run.\n");
  for (const UninstallEntry& entry : entries) {
    std::string name = entry.display_name.empty() ? entry.key : entry.display_name;
    if (entry.quiet_command.empty()) {
      printf("\nThe Add/Remove entry %s names no uninstaller.\n", printable(name.c_str()).c_str());
      uninstalled_ok = false;
      continue;
    }
    printf("\nUninstalling %s: %s\n", printable(name.c_str()).c_str(), printable(entry.quiet_command.c_str()).c_str());
    if (!run_step(t, "uninstaller", entry.quiet_command, o.timeout, &code)) return kExitFailed;
    uninstalled_ok = uninstalled_ok && (code == kSuccess || code == kRestartNeeded);
  }
  if (!snapshot(*t, &installed, &removed)) return kExitFailed;
  std::vector<Change> remains = compare_snapshots(before, removed);
  printf("\nWhat remains after uninstalling:%s\n", remains.empty() ? " nothing" : "");
  print_changes(remains);
  if (!remains.empty() || !uninstalled_ok) {
    std::string why =
        remains.empty() ? ""
                        : std::to_string(remains.size()) + (remains.size() == 1 ? " thing remains" : " things remain");
    if (!uninstalled_ok)
      why += std::string(why.empty() ? "" : "; ") +
             (entries.empty() ? "the installation registered no uninstaller" : "the uninstall did not succeed");
    printf("\nResult: FAILED: %s.\n", why.c_str());
    return kExitFailed;
  }
  printf("\nResult: installed, and uninstalled without a trace.\n");
  return kExitOk;
}

}  // namespace

int run_try(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kHelp, stdout);
    return kExitOk;
  }
  // A trial takes minutes: its report reaches a build log line by line.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  TryOptions o;
  if (int status = parse_options(argc, argv, &o)) return status;
  struct stat st;
  if (stat(o.setup, &st) != 0 || access(o.setup, R_OK) != 0)
    return usage_error("try", std::string(o.setup) + ": " + strerror(errno));
  if (!S_ISREG(st.st_mode)) return usage_error("try", std::string(o.setup) + ": not a file");
  const char* slash = strrchr(o.setup, '/');
  std::string bad;
  if (!fit_for_windows(file_name(o.setup), "\\:*?\"<>|", &bad))
    return usage_error("try", std::string("the setup's file name holds ") + bad + ", which Windows does not allow");
  char folder[PATH_MAX];
  std::string setup_folder = slash ? std::string(o.setup, static_cast<size_t>(slash - o.setup + 1)) : ".";
  if (!realpath(setup_folder.c_str(), folder)) return usage_error("try", setup_folder + ": " + strerror(errno));

  TrialPrograms programs;
  std::string why;
  if (!find_trial_programs(&programs, &why)) {
    fprintf(stderr, "kestrel: try: %s\n", why.c_str());
    return kExitUsage;
  }
  if (int status = describe_setup(folder, &o)) return status;
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  printf("Making a throwaway %s Wine prefix (a copy of the setup's files is its drive S:, the trial's own files T:).\n",
         o.win64 ? "64-bit" : "32-bit");
  TrialPrefix t;
  t.win64 = o.win64;
  int result = open_trial_prefix(programs, folder, o.source_files, &t, &why) ? trial(o, &t) : fail("try", why);
  close_trial_prefix(&t, o.keep);
  if (o.keep && !t.folder.empty())
    printf("The trial's folder stays: %s (the prefix is %s/prefix; the setup's log is %s/share/setup.log)\n",
           t.folder.c_str(), t.folder.c_str(), t.folder.c_str());
  return result;
}
