#include "cli/trial_prefix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "cli/cli_support.h"
#include "cli/setup_reader.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t Interrupted = 0;

// Making a prefix takes Wine a minute on a slow machine; these bound the
// steps that are Wine's own, not the setup's.
constexpr int kPrepareSeconds = 300;
constexpr int kDisplaySeconds = 10;
constexpr int kStopSeconds = 30;

// What every fresh Windows has and a fresh prefix lacks, and Managed=N:
// without a window manager Wine would wait whenever a window closes.
const char kPrepareRegistry[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n";

const char* const kOwnVariables[] = {
    "WINEPREFIX=", "WINEARCH=", "WINEDEBUG=", "WINEDLLOVERRIDES=", "WINESERVER=", "WINELOADER=", "DISPLAY=", "TMPDIR="};

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string find_on_path(const char* name) {
  const char* path = getenv("PATH");
  std::string list = path ? path : "";
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string folder = list.substr(start, end - start);
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

// Starts `args` in a process group of its own (so that a Ctrl-C reaches
// kestrel, which then ends it), stdin from /dev/null, output to `output`.
// `keep_fd`, when not -1, stays open in the program.
pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const std::string& folder, int output, int keep_fd = -1) {
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (in >= 0) dup2(in, 0);
    if (output >= 0) {
      dup2(output, 1);
      dup2(output, 2);
    }
    if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (in >= 0) close(in);
  if (pid > 0) setpgid(pid, pid);  // before anyone may signal the group
  return pid;
}

// Waits for `pid` until `deadline`; a program still running then, or when
// the trial is interrupted (unless it cleans up), is ended with its process
// group.
RunResult finish(pid_t pid, double deadline, int* status, bool interruptible = true) {
  if (pid < 0) return RunResult::kFailed;
  for (;;) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return RunResult::kEnded;
    if (r < 0 && errno != EINTR) return RunResult::kFailed;
    RunResult stop = Interrupted && interruptible ? RunResult::kInterrupted
                     : now() >= deadline          ? RunResult::kTimedOut
                                                  : RunResult::kEnded;
    if (stop != RunResult::kEnded) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
      }
      return stop;
    }
    usleep(50 * 1000);
  }
}

int open_log(const TrialPrefix& t) { return open(t.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644); }

// A host program with its output in the trial's log, until it ends or the
// deadline passes.
RunResult run_logged(const TrialPrefix& t, const std::vector<std::string>& args, const std::string& folder,
                     double deadline, int* status, bool interruptible = true) {
  int log = open_log(t);
  pid_t pid = start(args, t.environment, folder, log);
  if (log >= 0) close(log);
  return finish(pid, deadline, status, interruptible);
}

// Ends every Windows program of the prefix and its server.
void stop_wine(const TrialPrefix& t) {
  int status = 0;
  run_logged(t, {t.programs.wineserver, "-k"}, t.folder, now() + kStopSeconds, &status, false);
}

// Waits until every program of the prefix has ended and the server has
// saved the registry.
RunResult wait_for_server(const TrialPrefix& t, double deadline) {
  int status = 0;
  return run_logged(t, {t.programs.wineserver, "-w"}, t.folder, deadline, &status);
}

// Runs a program of Wine's own and waits for the prefix to be quiet again.
bool run_wine_tool(TrialPrefix* t, const std::vector<std::string>& args, const std::string& folder, const char* what,
                   std::string* why) {
  double deadline = now() + kPrepareSeconds;
  int status = 0;
  std::vector<std::string> full = {t->programs.wine};
  full.insert(full.end(), args.begin(), args.end());
  RunResult r = run_logged(*t, full, folder, deadline, &status);
  if (r == RunResult::kEnded && WIFEXITED(status) && WEXITSTATUS(status) == 0)
    r = wait_for_server(*t, deadline);
  else if (r == RunResult::kEnded)
    r = RunResult::kFailed;
  if (r == RunResult::kEnded) return true;
  stop_wine(*t);
  if (r == RunResult::kInterrupted)
    *why = std::string(what) + " was interrupted";
  else
    *why = std::string(what) +
           (r == RunResult::kTimedOut ? " did not end within " + std::to_string(kPrepareSeconds) + " s" : " failed") +
           "; Wine's last words:\n" + wine_log_tail(*t, 15);
  return false;
}

bool start_display(TrialPrefix* t, std::string* why) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return fail(why, std::string("cannot make a pipe: ") + strerror(errno));
  int log = open_log(*t);
  int scale = t->dpi > 96 ? t->dpi : 96;
  std::string screen = std::to_string(1024 * scale / 96) + "x" + std::to_string(768 * scale / 96) + "x24";
  t->xvfb = start({t->programs.xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
                  t->environment, t->folder, log, fds[1]);
  if (log >= 0) close(log);
  close(fds[1]);
  std::string number;
  double deadline = now() + kDisplaySeconds;
  while (t->xvfb > 0 && now() < deadline && !Interrupted) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n <= 0 || c == '\n') break;
    if (c >= '0' && c <= '9' && number.size() < 10) number += c;
  }
  close(fds[0]);
  if (number.empty()) return fail(why, "Xvfb did not start:\n" + wine_log_tail(*t, 5));
  t->environment.push_back("DISPLAY=:" + number);
  return true;
}

// Wine links the user's Desktop, Documents... to the home folder; in the
// trial they are folders of the prefix, where shortcuts can be seen.
void own_shell_folders(const TrialPrefix& t) {
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(t.prefix + "/drive_c/users", ec)) {
    if (!user.is_directory(ec) || user.is_symlink(ec)) continue;
    for (const auto& entry : fs::directory_iterator(user.path(), ec))
      if (entry.is_symlink(ec) && fs::remove(entry.path(), ec)) fs::create_directory(entry.path(), ec);
  }
}

// The files on T: that are the trial's, not the setup's.
const char* const kTrialFiles[] = {"kestrel-try-runner.exe", "prepare.reg", "command.txt", "exit.txt", "setup.log"};

// Every drive Wine made but C: leads to the host (Z: to its root, others to
// its disks): all go, as "x:" links and "x::" devices alike.
bool map_drives(const TrialPrefix& t, std::string* why) {
  std::string devices = t.prefix + "/dosdevices";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(devices, ec)) {
    std::string name = entry.path().filename().string();
    bool drive = name.size() >= 2 && name[1] == ':' && name.find_first_not_of(':', 1) == std::string::npos;
    if (drive && name != "c:" && unlink(entry.path().c_str()) != 0)
      return fail(why, "cannot take drive " + name + " away: " + strerror(errno));
  }
  if (ec) return fail(why, devices + ": " + ec.message());
  if (symlink(t.source.c_str(), (devices + "/s:").c_str()) != 0 ||
      symlink(t.share.c_str(), (devices + "/t:").c_str()) != 0)
    return fail(why, std::string("cannot map drives S: and T:: ") + strerror(errno));
  return true;
}

// Drive S: is a copy: a setup that writes beside itself (into #SourceDir#)
// must change the trial, never the host's files.
bool copy_setup_files(const TrialPrefix& t, const std::vector<std::string>& files, std::string* why) {
  for (const std::string& name : files) {
    fs::path from = fs::path(t.setup_folder) / name, to = fs::path(t.source) / name;
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) continue;  // missing beside the setup as much as in the trial
    fs::create_directories(to.parent_path(), ec);
    if (ec || !fs::copy_file(from, to, ec))
      return fail(why, "cannot copy " + from.string() + " for drive S:: " + ec.message());
  }
  return true;
}

}  // namespace

void interrupt_trial() { Interrupted = 1; }

bool find_trial_programs(TrialPrograms* p, std::string* why, bool win64) {
  p->wine = find_on_path("wine");
  p->wineserver = find_on_path("wineserver");
  if (p->wine.empty() || p->wineserver.empty())
    return fail(why, "needs Wine (wine and wineserver on PATH); on Debian: apt-get install wine wine32");
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.push_back(*e);
  auto runs = [&](const std::string& wine) {
    int status = 0;
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    RunResult r = finish(start({wine, "--version"}, environment, "", null), now() + kStopSeconds, &status);
    if (null >= 0) close(null);
    return r == RunResult::kEnded && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  const char kWine64[] = "/usr/lib/wine/wine64";
  bool ok = runs(p->wine);
  if (!ok && win64 && access(kWine64, X_OK) == 0 && runs(kWine64)) {
    p->wine = kWine64;
    ok = true;
  }
  if (!ok)
    return fail(why, "Wine does not run on this machine (" + p->wine +
                  " --version failed); 32-bit setups need Wine's 32-bit loader");
  const char* display = getenv("DISPLAY");
  if (!display || !*display) {
    p->xvfb = find_on_path("Xvfb");
    if (p->xvfb.empty()) return fail(why, "needs a display: set DISPLAY or install Xvfb (apt-get install xvfb)");
  }
  p->runner = share_file(win64 && access(share_file("x86-64/kestrel-try-runner.exe").c_str(), R_OK) == 0
                             ? "x86-64/kestrel-try-runner.exe"
                             : "kestrel-try-runner.exe");
  if (access(p->runner.c_str(), R_OK) != 0)
    return fail(why, p->runner + " is missing: it comes with kestrel (share/kestrel beside its bin folder)");
  return true;
}

bool open_trial_prefix(const TrialPrograms& programs, const std::string& setup_folder,
                       const std::vector<std::string>& files, TrialPrefix* t, std::string* why) {
  t->programs = programs;
  t->setup_folder = setup_folder;
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-try-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  if (!mkdtemp(name.data())) return fail(why, "cannot make a folder in " + pattern + ": " + strerror(errno));
  t->folder = name.data();
  t->prefix = t->folder + "/prefix";
  t->share = t->folder + "/share";
  t->log = t->folder + "/wine.log";
  t->source = t->folder + "/source";
  std::string wine_tmp = t->folder + "/tmp";
  if (mkdir(t->share.c_str(), 0755) != 0 || mkdir(t->source.c_str(), 0755) != 0 || mkdir(wine_tmp.c_str(), 0700) != 0)
    return fail(why, "cannot make folders in " + t->folder + ": " + strerror(errno));
  if (!copy_setup_files(*t, files, why)) return false;

  for (char** e = environ; *e; ++e) {
    bool ours = false;
    for (const char* v : kOwnVariables) ours = ours || !strncmp(*e, v, strlen(v));
    if (!ours) t->environment.push_back(*e);
  }
  t->environment.push_back("WINEPREFIX=" + t->prefix);
  t->environment.push_back(t->win64 ? "WINEARCH=win64" : "WINEARCH=win32");
  // Wine's server keeps its socket and a lock file there, and leaves them.
  t->environment.push_back("TMPDIR=" + wine_tmp);
  t->environment.push_back("WINEDEBUG=-all");
  // No Mono or Gecko to install, and no menu entries for the host.
  t->environment.push_back("WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d");
  if (!programs.xvfb.empty()) {
    if (!start_display(t, why)) return false;
  } else {
    t->environment.push_back(std::string("DISPLAY=") + getenv("DISPLAY"));
  }

  std::vector<uint8_t> runner;
  std::string error, registry = kPrepareRegistry;
  if (t->dpi) {
    char value[128];
    snprintf(value, sizeof value, "\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"LogPixels\"=dword:%08x\r\n",
             static_cast<unsigned>(t->dpi));
    registry += value;
  }
  if (!read_file(programs.runner.c_str(), &runner, &error) ||
      !write_file((t->share + "/kestrel-try-runner.exe").c_str(), runner, &error) ||
      !write_file((t->share + "/prepare.reg").c_str(), std::vector<uint8_t>(registry.begin(), registry.end()), &error))
    return fail(why, error);
  if (!run_wine_tool(t, {"wineboot", "-i"}, t->folder, "making the Wine prefix", why)) return false;
  own_shell_folders(*t);
  if (!map_drives(*t, why)) return false;
  return run_wine_tool(t, {"regedit", "/S", "T:\\prepare.reg"}, t->share, "preparing the Wine prefix", why);
}

RunResult run_in_prefix(TrialPrefix* t, const std::string& command, int timeout_seconds, long* exit_code,
                        std::string* why) {
  std::string error;
  std::string exit_file = t->share + "/exit.txt";
  unlink(exit_file.c_str());
  if (!write_file((t->share + "/command.txt").c_str(), std::vector<uint8_t>(command.begin(), command.end()), &error)) {
    *why = error;
    return RunResult::kFailed;
  }
  double deadline = now() + timeout_seconds;
  int status = 0;
  RunResult r = run_logged(*t, {t->programs.wine, "T:\\kestrel-try-runner.exe", "T:\\command.txt", "T:\\exit.txt"},
                           t->source, deadline, &status);
  if (r == RunResult::kEnded) r = wait_for_server(*t, deadline);
  if (r != RunResult::kEnded) {
    stop_wine(*t);
    *why = r == RunResult::kTimedOut ? "it, or a program it started, was still running after " +
                                           std::to_string(timeout_seconds) + " s (waiting for an answer?)"
           : r == RunResult::kInterrupted ? "interrupted"
                                          : "Wine failed";
    return r;
  }
  std::vector<uint8_t> text;
  if (!read_file(exit_file.c_str(), &text, &error)) {
    *why = "Wine could not start it:\n" + wine_log_tail(*t, 5);
    return RunResult::kFailed;
  }
  std::string digits(text.begin(), text.end());
  char* end = nullptr;
  *exit_code = strtol(digits.c_str(), &end, 10);
  if (digits.empty() || *end) {
    *why = "its exit code could not be read";
    return RunResult::kFailed;
  }
  return RunResult::kEnded;
}

RunResult restart_prefix(TrialPrefix* t, int timeout_seconds, std::string* why) {
  double deadline = now() + timeout_seconds;
  int status = 0;
  RunResult r = run_logged(*t, {t->programs.wine, "wineboot", "-r"}, t->share, deadline, &status);
  if (r == RunResult::kEnded) r = wait_for_server(*t, deadline);
  if (r != RunResult::kEnded) {
    stop_wine(*t);
    *why = "the restart did not complete";
  }
  return r;
}

std::vector<SnapshotDrive> trial_drives(const TrialPrefix& t) {
  return {{"S:", t.source, {}},
          {"T:", t.share, std::vector<std::string>(std::begin(kTrialFiles), std::end(kTrialFiles))}};
}

void close_trial_prefix(TrialPrefix* t, bool keep) {
  if (t->folder.empty()) return;
  if (access(t->prefix.c_str(), F_OK) == 0) stop_wine(*t);
  if (t->xvfb > 0) {
    kill(t->xvfb, SIGTERM);
    int status = 0;
    finish(t->xvfb, now() + 5, &status, false);
    t->xvfb = -1;
  }
  if (!keep) {
    // remove_all takes symbolic links away without following them.
    std::error_code ec;
    fs::remove_all(t->folder, ec);
    if (ec) fprintf(stderr, "kestrel: try: %s could not be removed: %s\n", t->folder.c_str(), ec.message().c_str());
  }
}

std::vector<std::string> last_lines(const std::string& path, size_t count) {
  std::vector<uint8_t> bytes;
  std::string error;
  std::vector<std::string> lines;
  if (!read_file(path.c_str(), &bytes, &error)) return lines;
  std::string text(bytes.begin(), bytes.end());
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    start = end + 1;
  }
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
  return lines;
}

std::string wine_log_tail(const TrialPrefix& t, size_t count) {
  std::string out;
  for (const std::string& line : last_lines(t.log, count)) out += "  " + printable(line.c_str()) + "\n";
  return out.empty() ? "  (no output)\n" : out;
}
