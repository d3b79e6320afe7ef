// The publisher's sign command, run on a finished setup file before it is
// put in place: a shell command line in which {file} stands for the file.
#pragma once
#include <string>

struct SignCommand {
  std::string command;  // "" = the setup is not signed
  std::string folder;   // where the command runs; "" = the current folder
};

// The placeholder a sign command must hold.
extern const char kSignFilePlaceholder[];

// False with *error when the command cannot sign anything: empty, or
// without the placeholder.
bool check_sign_command(const std::string& command, std::string* error);

// Runs the command through /bin/sh with every {file} replaced by `file`,
// quoted for the shell; the command's own output goes to stderr. False
// with *error when it cannot be started or does not end with status 0.
bool run_sign_command(const SignCommand& sign, const std::string& file, std::string* error);

// 'text' for the shell, each ' in it written as '\''.
std::string shell_quoted(const std::string& text);
