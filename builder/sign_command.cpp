#include "builder/sign_command.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

const char kSignFilePlaceholder[] = "{file}";

namespace {

bool fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

}  // namespace

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool check_sign_command(const std::string& command, std::string* error) {
  if (command.find_first_not_of(" \t") == std::string::npos) return fail(error, "the sign command is empty");
  if (command.find(kSignFilePlaceholder) == std::string::npos)
    return fail(error, std::string("the sign command must name the setup file as ") + kSignFilePlaceholder);
  return true;
}

bool run_sign_command(const SignCommand& sign, const std::string& file, std::string* error) {
  if (!check_sign_command(sign.command, error)) return false;
  std::string line;
  const size_t placeholder = std::strlen(kSignFilePlaceholder);
  for (size_t at = 0;;) {
    size_t found = sign.command.find(kSignFilePlaceholder, at);
    line += sign.command.substr(at, found - at);
    if (found == std::string::npos) break;
    // Absolute: the command may run in another folder.
    line += shell_quoted(std::filesystem::absolute(file).string());
    at = found + placeholder;
  }
  pid_t child = fork();
  if (child < 0) return fail(error, std::string("cannot start the sign command: ") + std::strerror(errno));
  if (child == 0) {
    // The signer is ended by the signals that end a build, which the
    // build takes on a thread of its own and so blocks here.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The tool's own output stays one summary line on stdout.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (!sign.folder.empty() && chdir(sign.folder.c_str()) != 0) _exit(126);
    execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return fail(error, std::string("waiting for the sign command: ") + std::strerror(errno));
  if (WIFSIGNALED(status))
    return fail(error, "the sign command was ended by signal " + std::to_string(WTERMSIG(status)));
  if (WEXITSTATUS(status) != 0)
    return fail(error, "the sign command failed with exit status " + std::to_string(WEXITSTATUS(status)));
  return true;
}
